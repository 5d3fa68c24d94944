#include "fv_gui/app/QtMessageSink.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <atomic>
#include <cstdio>

namespace fv {
namespace {

std::atomic<bool> g_windowless{false};

}  // namespace

void QtMessageSink::SetWindowless() { g_windowless = true; }

void QtMessageSink::ShowMessage(const std::string& text, const std::string& caption, MessageKind kind) {
    // Headless, nobody could close the box (and without a display it could not even open): the
    // text goes to the standard error instead.
    if (g_windowless || QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
    case MessageKind::Plain: break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
    }
    // A hidden owner would keep the box off screen; the program's window may still be hidden.
    QWidget* owner = parent_ && parent_->isVisible() ? parent_ : nullptr;
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace fv
