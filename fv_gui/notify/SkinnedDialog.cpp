#include "fv_gui/notify/SkinnedDialog.h"

#include <QMouseEvent>
#include <QPainter>

#include "fv_gui/notify/WindowCommands.h"

namespace fv::notify {
namespace {

// Events on which a held caption button lets go without acting.
bool LosesCapture(const QEvent* e) {
    return e->type() == QEvent::WindowDeactivate || e->type() == QEvent::Hide;
}

}  // namespace

// --- CSkinnedDialog

CSkinnedDialog::CSkinnedDialog(bool thickFrame, int templateId, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      templateId_(templateId),
      frame_(this, thickFrame ? kResizeBorder : 0,
             {[this](QPoint p) { return ProposeMove(p); }, [this](WindowCommand c) { OnWindowCommand(c); },
              [this](int c) { OnMenuCommand(c); }, [this] { CaptionPressed(); }, [this] { DragEnded(); }}) {}

bool CSkinnedDialog::InitSkinnedFrame(QWidget* systemMenuWindow, QMenu* iconMenu, bool hasMaximize,
                                      bool hasMinimize) {
    frame_.Init(systemMenuWindow, iconMenu, hasMaximize, hasMinimize);
    return true;
}

void CSkinnedDialog::OnWindowCommand(WindowCommand command) { ApplyWindowCommand(this, command); }

bool CSkinnedDialog::event(QEvent* e) {
    if (LosesCapture(e)) frame_.CaptureLost();
    if (e->type() == QEvent::Leave) frame_.MouseLeft();
    if (e->type() == QEvent::WindowTitleChange) update();
    return QDialog::event(e);
}

void CSkinnedDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    frame_.Paint(painter);
}

void CSkinnedDialog::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    frame_.Resized();
}

void CSkinnedDialog::mousePressEvent(QMouseEvent* e) {
    if (!frame_.MousePress(e)) QDialog::mousePressEvent(e);
}

void CSkinnedDialog::mouseMoveEvent(QMouseEvent* e) {
    if (!frame_.MouseMove(e)) QDialog::mouseMoveEvent(e);
}

void CSkinnedDialog::mouseReleaseEvent(QMouseEvent* e) {
    if (!frame_.MouseRelease(e)) QDialog::mouseReleaseEvent(e);
}

void CSkinnedDialog::mouseDoubleClickEvent(QMouseEvent* e) {
    if (!frame_.MouseDoubleClick(e)) QDialog::mouseDoubleClickEvent(e);
}

// --- CSkinnedTrayDialog

CSkinnedTrayDialog::CSkinnedTrayDialog(int templateId, QWidget* parent, TrayServices services)
    : CTrayIconDialog(templateId, parent, std::move(services)),
      frame_(this, 0,
             {[this](QPoint p) { return ProposeMove(p); }, [this](WindowCommand c) { OnWindowCommand(c); },
              [this](int c) { OnMenuCommand(c); }, [this] { CaptionPressed(); }, [this] { DragEnded(); }}) {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

bool CSkinnedTrayDialog::InitSkinnedFrame(QWidget* systemMenuWindow, QMenu* iconMenu, bool hasMaximize,
                                          bool hasMinimize) {
    frame_.Init(systemMenuWindow, iconMenu, hasMaximize, hasMinimize);
    return true;
}

bool CSkinnedTrayDialog::event(QEvent* e) {
    if (LosesCapture(e)) frame_.CaptureLost();
    if (e->type() == QEvent::Leave) frame_.MouseLeft();
    if (e->type() == QEvent::WindowTitleChange) update();
    return CTrayIconDialog::event(e);
}

void CSkinnedTrayDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    frame_.Paint(painter);
}

void CSkinnedTrayDialog::resizeEvent(QResizeEvent* e) {
    CTrayIconDialog::resizeEvent(e);
    frame_.Resized();
}

void CSkinnedTrayDialog::mousePressEvent(QMouseEvent* e) {
    if (!frame_.MousePress(e)) CTrayIconDialog::mousePressEvent(e);
}

void CSkinnedTrayDialog::mouseMoveEvent(QMouseEvent* e) {
    if (!frame_.MouseMove(e)) CTrayIconDialog::mouseMoveEvent(e);
}

void CSkinnedTrayDialog::mouseReleaseEvent(QMouseEvent* e) {
    if (!frame_.MouseRelease(e)) CTrayIconDialog::mouseReleaseEvent(e);
}

void CSkinnedTrayDialog::mouseDoubleClickEvent(QMouseEvent* e) {
    if (!frame_.MouseDoubleClick(e)) CTrayIconDialog::mouseDoubleClickEvent(e);
}

}  // namespace fv::notify
