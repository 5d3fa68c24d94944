// Dialogs drawn with the program's own frame: a rounded light-grey window with a 20-pixel
// caption, an icon button that opens a menu and minimize, maximize and close buttons.
// CSkinnedTrayDialog is the same frame on a dialog that also owns the tray icon.
#pragma once

#include <QDialog>
#include <QPoint>

#include "fv_gui/notify/SkinnedFrame.h"
#include "fv_gui/notify/TrayIconDialog.h"

class QMenu;

namespace fv::notify {

class CSkinnedDialog : public QDialog {
    Q_OBJECT
public:
    // A thick-frame dialog can be resized by its border.
    CSkinnedDialog(bool thickFrame, int templateId, QWidget* parent);

    // Call once the dialog's controls exist. `iconMenu`'s first submenu is what the icon
    // button opens (none when null or empty); the caller keeps ownership of the menus.
    virtual bool InitSkinnedFrame(QWidget* systemMenuWindow, QMenu* iconMenu, bool hasMaximize, bool hasMinimize);

    // Where the dialog's controls go; (0,0) is the client area's top-left.
    QWidget* ClientArea() const { return frame_.ClientArea(); }
    void SetClientSize(int width, int height) { frame_.SetClientSize(width, height); }
    int TemplateId() const { return templateId_; }
    const SkinnedFrame& Frame() const { return frame_; }

    // Every position the caption drag proposes passes here; the result is where the window goes.
    virtual QPoint ProposeMove(QPoint proposed) { return proposed; }
    // A caption drag begins, and ends (released, or the mouse went elsewhere).
    virtual void CaptionPressed() {}
    virtual void DragEnded() {}
    // A caption button or the system menu asked for `command`; by default it is carried out.
    virtual void OnWindowCommand(WindowCommand command);
    virtual void OnMenuCommand(int) {}

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    const int templateId_;
    SkinnedFrame frame_;
};

class CSkinnedTrayDialog : public CTrayIconDialog {
    Q_OBJECT
public:
    CSkinnedTrayDialog(int templateId, QWidget* parent, TrayServices services = {});

    virtual bool InitSkinnedFrame(QWidget* systemMenuWindow, QMenu* iconMenu, bool hasMaximize, bool hasMinimize);

    QWidget* ClientArea() const { return frame_.ClientArea(); }
    void SetClientSize(int width, int height) { frame_.SetClientSize(width, height); }
    const SkinnedFrame& Frame() const { return frame_; }

    virtual QPoint ProposeMove(QPoint proposed) { return proposed; }
    virtual void CaptionPressed() {}
    virtual void DragEnded() {}

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    SkinnedFrame frame_;
};

}  // namespace fv::notify
