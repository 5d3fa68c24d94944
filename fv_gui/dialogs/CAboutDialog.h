// The about box: program and driver versions, the driver's state, a picture that ripples like
// water under the mouse, and scrolling credits.
#pragma once

#include <QPoint>
#include <QRect>

#include <atomic>
#include <memory>

#include "fv_contract/ControlCodes.h"
#include "fv_gui/dialogs/ModalRun.h"
#include "fv_gui/dialogs/RippleAnimator.h"
#include "fv_gui/notify/SkinnedDialog.h"

namespace fv {
class CLabel;
class CRichTextView;
}  // namespace fv

namespace fv::dialogs {

class CAboutDialog : public notify::CSkinnedDialog {
    Q_OBJECT

public:
    // The picture's place in the client area.
    static constexpr int kPictureLeft = 7;
    static constexpr int kPictureTop = 8;
    static constexpr int kCreditsPeriodMs = 65;

    CAboutDialog(const DriverVersionInfo& info, bool driverReady, QWidget* parent = nullptr);
    ~CAboutDialog() override;

    // Mouse input at a client-area point; only points over the picture disturb the water.
    void OnMouseMove(QPoint client);
    void OnLeftButtonDown(QPoint client);

    [[nodiscard]] static QRect PictureRect();
    RippleAnimator& Animation() { return *animator_; }
    CRichTextView* Credits() const { return credits_; }

    void done(int result) override;

private:
    void createPicture();
    void createLabels();
    void createCredits();
    void createFooter();
    void PostFrame();

    DriverVersionInfo info_;
    bool driverReady_;
    std::unique_ptr<RippleAnimator> animator_;
    std::atomic<bool> framePending_{false};
    QWidget* picture_ = nullptr;
    CLabel* programVersion_ = nullptr;
    CLabel* driverFile_ = nullptr;
    CLabel* driverVersion_ = nullptr;
    CLabel* driverState_ = nullptr;
    CRichTextView* credits_ = nullptr;
};

// The about box, modal. The guarded form opens nothing while another guarded box is open, in
// this or another process of the user; it returns whether it opened one. `shown` is told once
// the box is on screen.
void RunAboutBox(const DriverVersionInfo& info, bool driverReady, QWidget* parent, const DialogShown& shown = {});
bool RunAboutBoxGuarded(const DriverVersionInfo& info, bool driverReady, QWidget* parent,
                        const DialogShown& shown = {});

}  // namespace fv::dialogs
