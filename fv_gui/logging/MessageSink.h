// Where the core asks for a message box; the desktop program supplies the real one.
#pragma once

#include <string>

namespace fv {

enum class MessageKind { Plain, Information, Warning, Error };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageKind kind) = 0;
};

}  // namespace fv
