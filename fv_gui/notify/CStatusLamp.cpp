#include "fv_gui/notify/CStatusLamp.h"

#include <QMetaObject>
#include <QPainter>
#include <QThread>

#include <algorithm>

#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"

namespace fv {

CStatusLamp::CStatusLamp(QWidget* parent) : QWidget(parent) {}

void CStatusLamp::Initialise() {
    current_ = 0;
    frameCount_ = 4;
    const int ids[] = {res::kBitmapLampGrey, res::kBitmapLampGreyGreen, res::kBitmapLampGreen,
                       res::kBitmapLampRed};
    for (int i = 0; i < frameCount_; ++i) images_[i] = res::WithoutKeyColour(res::Bitmap(ids[i], devicePixelRatioF()));
    resize(kSize, kSize);
    drawRect_ = QRect(0, 0, kSize, kSize);
    update(drawRect_);
}

void CStatusLamp::SetLampState(int index) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, index] { SetLampState(index); },
                                  Qt::QueuedConnection);
        return;
    }
    current_ = std::clamp(index, 0, std::max(frameCount_ - 1, 0));
    update(drawRect_);
}

void CStatusLamp::paintEvent(QPaintEvent*) {
    // Not opaque: Qt paints the parent's background first, so the cut-away corners show it.
    if (frameCount_ == 0) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, images_[current_]);
}

}  // namespace fv
