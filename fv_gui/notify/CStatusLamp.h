// The round status light: one of four lamp pictures, with the key colour cut away so that the
// window's own background shows around it.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <array>

namespace fv {

class CStatusLamp : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSize = 64;

    explicit CStatusLamp(QWidget* parent = nullptr);

    // Loads the four pictures, shows the first and takes the lamp's size without moving.
    void Initialise();
    // Out-of-range indexes show the nearest frame. Safe from any thread: a call from another
    // thread is carried out on the lamp's own.
    void SetLampState(int index);
    [[nodiscard]] int LampState() const { return current_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int current_ = 0;
    int frameCount_ = 0;
    std::array<QPixmap, 5> images_;
    QRect drawRect_;
};

}  // namespace fv
