#include "fv_gui/dialogs/CPreferencesDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "fv_gui/controls/CBitmapSlider.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CFlatComboBox.h"
#include "fv_gui/dialogs/CFolderPicker.h"
#include "fv_gui/dialogs/DialogIds.h"
#include "fv_gui/dialogs/DialogText.h"
#include "fv_gui/dialogs/PreferencesRules.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "fv_gui/settings/Settings.h"

namespace fv::dialogs {
namespace {

constexpr int kGroupIconSize = 32;
constexpr int kSpacing = 6;
constexpr int kIndent = 18;          // check boxes under their "Log to ..." heading
constexpr int kWaitEditWidth = 40;
constexpr int kFolderMinWidth = 300;

struct NotifyEntry {
    const char* text;
    std::uint32_t value;
};
constexpr NotifyEntry kNotifyEntries[] = {
    {"Don't notify me", 0},
    {"Notify me using a balloon tips", 1},
    {"Notify me using an VezEdo", 2},
};

QLabel* IconLabel(int id, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(res::Icon(id).pixmap(kGroupIconSize, kGroupIconSize));
    label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    return label;
}

QLabel* Note(const char* text, QWidget* parent) {
    auto* label = new QLabel(DisplayText(text), parent);
    label->setWordWrap(true);
    return label;
}

bool Checked(const QCheckBox* box) { return box->isChecked(); }
std::uint32_t Flag(const QCheckBox* box) { return box->isChecked() ? 1u : 0u; }

}  // namespace

CPreferencesDialog::CPreferencesDialog(Settings& settings, bool& applied, QWidget* parent,
                                       PreferencesHooks hooks)
    : CSkinnedDialog(false, kTemplatePreferences, parent),
      settings_(settings),
      applied_(applied),
      hooks_(std::move(hooks)) {
    setWindowTitle(QStringLiteral("Preferences"));
    auto* grid = new QGridLayout(ClientArea());
    grid->setContentsMargins(kSpacing * 2, kSpacing * 2, kSpacing * 2, kSpacing * 2);
    grid->setSpacing(kSpacing);
    createNotifications(grid);
    createLogging(grid);
    createGeneral(grid);
    createButtons(grid);

    InitSkinnedFrame(nullptr, nullptr, false, false);
    collectorSlider_->SetBitmaps(res::kBitmapSliderChannel, res::kBitmapSliderThumb, true,
                                 CBitmapSlider::kColourOfPixel, 0, 0);
    collectorSlider_->SetRange(kCollectorSliderMin, kCollectorSliderMax, false);
    collectorSlider_->SetPageSize(kCollectorSliderPage);
    LoadPreferences();

    const QSize client = grid->sizeHint();
    SetClientSize(client.width(), client.height());
    notifyList_->setFocus();
}

void CPreferencesDialog::createNotifications(QGridLayout* grid) {
    auto* box = new QGroupBox(QStringLiteral("Notifications"), ClientArea());
    auto* layout = new QGridLayout(box);
    layout->addWidget(IconLabel(res::kIconNotifications, box), 0, 0, 3, 1);

    notifyList_ = new CFlatComboBox(box);
    SetControlId(notifyList_, kIdNotifyList);
    layout->addWidget(notifyList_, 0, 1, 1, 3);

    layout->addWidget(new QLabel(QStringLiteral("Wait"), box), 1, 1);
    waitSeconds_ = new QLineEdit(box);
    SetControlId(waitSeconds_, kIdWaitSeconds);
    // The validator limits typing without cutting a longer stored value short.
    waitSeconds_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kWaitDigits)), waitSeconds_));
    waitSeconds_->setFixedWidth(kWaitEditWidth);
    layout->addWidget(waitSeconds_, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("second(s) before notify me again."), box), 1, 3);
    layout->addWidget(
        Note("Note: notifications works as long as Ferrovane is logging BLOCKED packets to video!", box),
        2, 1, 1, 3);
    layout->setColumnStretch(3, 1);
    grid->addWidget(box, 0, 0);
}

QCheckBox* CPreferencesDialog::createCheckBox(int id, const char* text) {
    auto* box = new QCheckBox(DisplayText(text), ClientArea());
    SetControlId(box, id);
    return box;
}

void CPreferencesDialog::createLogging(QGridLayout* grid) {
    auto* box = new QGroupBox(QStringLiteral("Logging"), ClientArea());
    auto* layout = new QGridLayout(box);
    layout->addWidget(IconLabel(res::kIconLogging, box), 0, 0, 6, 1);
    int row = 0;
    const auto indented = [&](QWidget* w) {
        w->setParent(box);
        layout->addWidget(w, row++, 1, 1, 3, Qt::AlignLeft);
        w->setContentsMargins(kIndent, 0, 0, 0);
    };
    layout->addWidget(new QLabel(QStringLiteral("Log to video..."), box), row++, 1, 1, 3);
    blockedToVideo_ = createCheckBox(kIdBlockedToVideo, "whenever a packet is BLOCKED");
    grantedToVideo_ = createCheckBox(kIdGrantedToVideo, "whenever a packet is GRANTED");
    indented(blockedToVideo_);
    indented(grantedToVideo_);
    layout->addWidget(Note("Must have logging to disk enabled for log to video to work!", box), row++, 1, 1, 3);
    layout->addWidget(new QLabel(DisplayText("Log to disk (\"fvconns.log\")..."), box), row++, 1, 1, 3);
    blockedToFile_ = createCheckBox(kIdBlockedToFile, "whenever a packet is BLOCKED (recommended)");
    grantedToFile_ = createCheckBox(kIdGrantedToFile, "whenever a packet is GRANTED");
    indented(blockedToFile_);
    indented(grantedToFile_);

    layout->addWidget(IconLabel(res::kIconLogFolder, box), row, 0, 2, 1);
    layout->addWidget(new QLabel(QStringLiteral("Log File Location:"), box), row++, 1, 1, 3);
    logFolder_ = new QLabel(box);
    SetControlId(logFolder_, kIdLogFolder);
    logFolder_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    logFolder_->setMinimumWidth(kFolderMinWidth);
    logFolder_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(logFolder_, row, 1, 1, 2);
    chooseFolder_ = new QPushButton(QStringLiteral("..."), box);
    SetControlId(chooseFolder_, kIdChooseFolder);
    chooseFolder_->setAutoDefault(false);
    chooseFolder_->setFixedWidth(chooseFolder_->sizeHint().height() + kSpacing);
    layout->addWidget(chooseFolder_, row++, 3);
    connect(chooseFolder_, &QPushButton::clicked, this, &CPreferencesDialog::ChooseLogFolder);

    layout->addWidget(new QLabel(QStringLiteral("Zov-O-Diriz (connections caching):"), box), row++, 1, 1, 3);
    layout->addWidget(Note("Small log file\r\n(less conns)", box), row, 1);
    collectorSlider_ = new CBitmapSlider(box);
    SetControlId(collectorSlider_, kIdCollectorSlider);
    layout->addWidget(collectorSlider_, row, 2);
    layout->addWidget(Note("Big logfile\r\n(more conns)", box), row++, 3);
    layout->addWidget(Note("(note that *blocked* connections are always logged)", box), row++, 1, 1, 3);
    layout->setColumnStretch(2, 1);
    grid->addWidget(box, 0, 1, 2, 1);
}

void CPreferencesDialog::createGeneral(QGridLayout* grid) {
    auto* box = new QGroupBox(QStringLiteral("General"), ClientArea());
    auto* layout = new QGridLayout(box);
    layout->addWidget(IconLabel(res::kIconGeneral, box), 0, 0, 3, 1);
    layout->addWidget(IconLabel(res::kIconTrayActive, box), 3, 0, 3, 1);
    autoStart_ = createCheckBox(kIdAutoStart, "Automatically start filtering when the program is loaded");
    startWithSession_ = createCheckBox(kIdStartWithSession, "Auto load the program when Windows start");
    autoUpdate_ = createCheckBox(kIdAutoUpdate, "Automatically check for a new IP database every 12hrs");
    autoUpdate_->setEnabled(false);
    loadMinimized_ = createCheckBox(kIdLoadMinimized, "Load minimized");
    trayAlwaysVisible_ = createCheckBox(kIdTrayAlwaysVisible, "Always show the tray icon");
    trayBlinking_ = createCheckBox(kIdTrayBlinking, "Enable tray icon blinking if a packet has been blocked");
    int row = 0;
    for (QCheckBox* check : {autoStart_, startWithSession_, autoUpdate_, loadMinimized_, trayAlwaysVisible_,
                             trayBlinking_}) {
        check->setParent(box);
        layout->addWidget(check, row++, 1, 1, 3);
    }

    // Shown for completeness; it has no behaviour.
    auto* restartLabel = new QLabel(QStringLiteral("Time before automatic restart"), box);
    auto* restartTime = new QLineEdit(box);
    SetControlId(restartTime, kIdRestartTime);
    restartTime->setFixedWidth(kWaitEditWidth);
    auto* restartNote = new QLabel(QStringLiteral("(Enter 0 to disable)"), box);
    for (QWidget* w : {static_cast<QWidget*>(restartLabel), static_cast<QWidget*>(restartTime),
                       static_cast<QWidget*>(restartNote)}) {
        w->setEnabled(false);
    }
    layout->addWidget(restartLabel, row, 1);
    layout->addWidget(restartTime, row, 2);
    layout->addWidget(restartNote, row, 3);
    layout->setColumnStretch(3, 1);
    grid->addWidget(box, 1, 0);
}

void CPreferencesDialog::createButtons(QGridLayout* grid) {
    lastSaved_ = new CFlatButton(QStringLiteral("Last saved"), ClientArea());
    SetControlId(lastSaved_, kIdLastSaved);
    apply_ = new CFlatButton(QStringLiteral("Apply"), ClientArea());
    SetControlId(apply_, kIdOk);
    apply_->setDefault(true);
    cancel_ = new CFlatButton(QStringLiteral("Cancel"), ClientArea());
    SetControlId(cancel_, kIdCancel);
    lastSaved_->setAutoDefault(false);
    cancel_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lastSaved_);
    buttons->addStretch(1);
    buttons->addWidget(apply_);
    buttons->addWidget(cancel_);
    grid->addLayout(buttons, 2, 0, 1, 2);
    connect(lastSaved_, &QPushButton::clicked, this, &CPreferencesDialog::LoadPreferences);
    connect(apply_, &QPushButton::clicked, this, &CPreferencesDialog::ApplyPreferences);
    connect(cancel_, &QPushButton::clicked, this, &CPreferencesDialog::reject);
}

void CPreferencesDialog::LoadPreferences() {
    notifyList_->clear();
    for (const NotifyEntry& entry : kNotifyEntries) {
        notifyList_->addItem(QString::fromLatin1(entry.text), QVariant::fromValue(entry.value));
    }
    notifyList_->setCurrentIndex(notifyList_->findData(QVariant::fromValue<std::uint32_t>(settings_.Popup.value)));

    waitSeconds_->setText(QString::fromStdString(WaitSecondsText(settings_.PopupTimeout.value)));
    blockedToVideo_->setChecked(settings_.LogBlockedToVideo.value != 0);
    grantedToVideo_->setChecked(settings_.LogGrantedToVideo.value != 0);
    blockedToFile_->setChecked(settings_.LogBlockedToFile.value != 0);
    grantedToFile_->setChecked(settings_.LogGrantedToFile.value != 0);
    logFolder_->setText(QString::fromStdString(settings_.LogPath.Value()));
    autoStart_->setChecked(settings_.AutoStart.value != 0);

    auto [on, question] = settings_.CheckAutostartEntry();
    if (!on && !question.empty()) {
        const std::string asked = DisplayText(question).toStdString();
        const bool yes = hooks_.askYesNo
                             ? hooks_.askYesNo(asked)
                             : QMessageBox::question(this, windowTitle(), QString::fromStdString(asked),
                                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        if (yes) {
            settings_.SetAutostartEntry(true);
            on = true;
        }
    }
    startWithSession_->setChecked(on);

    collectorSlider_->SetPos(CollectorSliderPosition(settings_.LogCollectorLimit.value));
    loadMinimized_->setChecked(settings_.LoadMinimized.value != 0);
    trayAlwaysVisible_->setChecked(settings_.TrayAlwaysVisible.value != 0);
    trayBlinking_->setChecked(settings_.TrayBlinkingEnabled.value != 0);
    autoUpdate_->setChecked(settings_.AutoUpdateEnabled.value != 0);
}

void CPreferencesDialog::ApplyPreferences() {
    // A value outside the list leaves nothing selected; keep it rather than store garbage.
    const QVariant popup = notifyList_->currentData();
    if (popup.isValid()) settings_.Popup.Set(popup.value<std::uint32_t>());
    settings_.PopupTimeout.Set(WaitTimeout(waitSeconds_->text().toStdString()));
    settings_.LogBlockedToVideo.Set(Flag(blockedToVideo_));
    settings_.LogGrantedToVideo.Set(Flag(grantedToVideo_));
    settings_.LogBlockedToFile.Set(Flag(blockedToFile_));
    settings_.LogGrantedToFile.Set(Flag(grantedToFile_));
    settings_.AutoStart.Set(Flag(autoStart_));
    settings_.SetAutostartEntry(Checked(startWithSession_));
    settings_.LogCollectorLimit.Set(CollectorLimit(collectorSlider_->GetPos()));
    settings_.LoadMinimized.Set(Flag(loadMinimized_));
    settings_.TrayAlwaysVisible.Set(Flag(trayAlwaysVisible_));
    settings_.TrayBlinkingEnabled.Set(Flag(trayBlinking_));
    settings_.AutoUpdateEnabled.Set(Flag(autoUpdate_));
    applied_ = true;
    accept();
}

void CPreferencesDialog::reject() {
    applied_ = false;
    CSkinnedDialog::reject();
}

void CPreferencesDialog::ChooseLogFolder() {
    std::optional<std::string> folder;
    if (hooks_.pickFolder) {
        folder = hooks_.pickFolder(kChooseFolderTitle);
    } else {
        CFolderPicker picker(kChooseFolderTitle, settings_.LogPath.Value());
        if (picker.Browse(this)) folder = picker.Path();
    }
    if (!folder || folder->empty()) return;
    const std::string path = FolderWithSeparator(*folder);
    settings_.LogPath.Set(path);
    logFolder_->setText(QString::fromStdString(path));
}

bool RunPreferencesDialog(Settings& settings, QWidget* parent, PreferencesHooks hooks) {
    bool applied = false;
    const DialogShown shown = hooks.shown;
    CPreferencesDialog dialog(settings, applied, parent, std::move(hooks));
    ExecModal(dialog, shown);
    return applied;
}

bool ShowPreferences(PreferencesTarget& target, Settings& settings, QWidget* parent, PreferencesHooks hooks) {
    return ShowPreferences(target, settings,
                           [&] { return RunPreferencesDialog(settings, parent, std::move(hooks)); });
}

}  // namespace fv::dialogs
