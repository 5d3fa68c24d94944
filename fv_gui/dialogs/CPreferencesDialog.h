// The preferences dialog: shows the persisted settings, stores them all on "Apply" and nothing
// on "Cancel" (except a log folder, which is stored the moment it is chosen).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fv_gui/dialogs/ModalRun.h"
#include "fv_gui/dialogs/PreferencesEffects.h"
#include "fv_gui/notify/SkinnedDialog.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace fv {
class CBitmapSlider;
class CFlatButton;
class CFlatComboBox;
class Settings;
}  // namespace fv

namespace fv::dialogs {

inline constexpr char kChooseFolderTitle[] = "Select the directory where to write the log file";

struct PreferencesHooks {
    // Runs a folder picker with the title; the chosen folder, or nothing on cancel.
    std::function<std::optional<std::string>(const std::string& title)> pickFolder;
    // Asks a yes/no question; true for yes.
    std::function<bool(const std::string& question)> askYesNo;
    // Told once the dialog is on screen.
    DialogShown shown;
};

class CPreferencesDialog : public notify::CSkinnedDialog {
    Q_OBJECT

public:
    // `applied` becomes true on "Apply" and false on "Cancel". Hooks left empty use the
    // desktop's folder picker and message box.
    CPreferencesDialog(Settings& settings, bool& applied, QWidget* parent = nullptr,
                       PreferencesHooks hooks = {});

    // Fills every control from the settings object.
    void LoadPreferences();
    // Stores every control into the settings object and closes with "Apply".
    void ApplyPreferences();
    void ChooseLogFolder();

    void reject() override;

private:
    void createNotifications(QGridLayout* grid);
    void createLogging(QGridLayout* grid);
    void createGeneral(QGridLayout* grid);
    void createButtons(QGridLayout* grid);
    QCheckBox* createCheckBox(int id, const char* text);

    Settings& settings_;
    bool& applied_;
    PreferencesHooks hooks_;

    CFlatComboBox* notifyList_ = nullptr;
    QLineEdit* waitSeconds_ = nullptr;
    QCheckBox* grantedToVideo_ = nullptr;
    QCheckBox* blockedToVideo_ = nullptr;
    QLabel* logFolder_ = nullptr;
    QPushButton* chooseFolder_ = nullptr;
    QCheckBox* grantedToFile_ = nullptr;
    QCheckBox* blockedToFile_ = nullptr;
    QCheckBox* autoStart_ = nullptr;
    QCheckBox* startWithSession_ = nullptr;
    CBitmapSlider* collectorSlider_ = nullptr;
    QCheckBox* loadMinimized_ = nullptr;
    QCheckBox* trayAlwaysVisible_ = nullptr;
    QCheckBox* trayBlinking_ = nullptr;
    QCheckBox* autoUpdate_ = nullptr;
    CFlatButton* apply_ = nullptr;
    CFlatButton* cancel_ = nullptr;
    CFlatButton* lastSaved_ = nullptr;
};

// Runs the dialog modally over `settings`; true when it was applied.
[[nodiscard]] bool RunPreferencesDialog(Settings& settings, QWidget* parent, PreferencesHooks hooks = {});

// The main window's preferences command with the real dialog, owned by `parent`.
bool ShowPreferences(PreferencesTarget& target, Settings& settings, QWidget* parent, PreferencesHooks hooks = {});

}  // namespace fv::dialogs
