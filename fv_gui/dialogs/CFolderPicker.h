// The desktop's folder picker: file-system folders only, opened at an initial folder.
#pragma once

#include <string>

class QWidget;

namespace fv::dialogs {

class CFolderPicker {
public:
    // An empty title shows "Open".
    explicit CFolderPicker(std::string title = {}, std::string initialFolder = {})
        : title_(std::move(title)), initialFolder_(std::move(initialFolder)) {}

    // Shows the picker; false when it was cancelled or gave no local folder.
    [[nodiscard]] bool Browse(QWidget* owner = nullptr);

    // The chosen folder's full path and its short name, after a successful Browse.
    const std::string& Path() const { return path_; }
    const std::string& DisplayName() const { return displayName_; }

private:
    std::string title_;
    std::string initialFolder_;
    std::string path_;
    std::string displayName_;
};

}  // namespace fv::dialogs
