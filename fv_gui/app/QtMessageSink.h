// Message boxes of the program: modal, with an OK button, over the main window.
#pragma once

#include "fv_gui/logging/MessageSink.h"

class QWidget;

namespace fv {

class QtMessageSink final : public MessageSink {
public:
    explicit QtMessageSink(QWidget* parent) : parent_(parent) {}
    void ShowMessage(const std::string& text, const std::string& caption, MessageKind kind) override;
    // From now on every message goes to the standard error: the window system is gone.
    static void SetWindowless();

private:
    QWidget* parent_;
};

}  // namespace fv
