#include "fv_gui/notify/ShellIcon.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>

#include "fv_gui/notify/StatusNotifier.h"

namespace fv::notify {

const QEvent::Type ShellCallbackEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type TaskbarCreatedEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

QString CutText(const QString& text, qsizetype maxChars) {
    if (text.size() <= maxChars) return text;
    QString cut = text.left(maxChars);
    if (!cut.isEmpty() && cut.back().isHighSurrogate()) cut.chop(1);
    return cut;
}

namespace {

std::uint32_t InfoFlagsOf(BalloonIcon kind) {
    switch (kind) {
    case BalloonIcon::Info: return NIIF_INFO;
    case BalloonIcon::Warning: return NIIF_WARNING;
    case BalloonIcon::Error: return NIIF_ERROR;
    case BalloonIcon::None: break;
    }
    return NIIF_NONE;
}

QSystemTrayIcon::MessageIcon MessageIconOf(std::uint32_t infoFlags) {
    switch (infoFlags & 0x0F) {
    case NIIF_INFO: return QSystemTrayIcon::Information;
    case NIIF_WARNING: return QSystemTrayIcon::Warning;
    case NIIF_ERROR: return QSystemTrayIcon::Critical;
    default: return QSystemTrayIcon::NoIcon;
    }
}

}  // namespace

void NotifyIconData::SetBalloon(const QString& title, const QString& text, BalloonIcon kind, std::uint32_t timeout) {
    infoTitle = CutText(title, kInfoTitleChars);
    info = CutText(text, kInfoChars);
    infoFlags = InfoFlagsOf(kind);
    timeoutMs = timeout;
    flags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
}

std::optional<TrayMouse> TrayMouseOf(std::uint32_t mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONDOWN: return TrayMouse::LeftDown;
    case WM_LBUTTONUP: return TrayMouse::LeftUp;
    case WM_LBUTTONDBLCLK: return TrayMouse::LeftDoubleClick;
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU: return TrayMouse::RightDown;
    case WM_RBUTTONDBLCLK: return TrayMouse::RightDoubleClick;
    case WM_MOUSEMOVE: return TrayMouse::Move;
    default: return std::nullopt;
    }
}

std::vector<std::uint32_t> TrayMouseMessages(QSystemTrayIcon::ActivationReason reason, bool statusNotifier) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        // A StatusNotifier host has no double click: its activation (a left click) restores.
        if (statusNotifier) return {WM_LBUTTONDBLCLK, WM_LBUTTONUP};
        return {WM_LBUTTONDOWN, WM_LBUTTONUP};
    case QSystemTrayIcon::DoubleClick: return {WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    case QSystemTrayIcon::Context: return {WM_RBUTTONDOWN};
    case QSystemTrayIcon::MiddleClick: return {WM_MBUTTONDOWN};
    default: return {};
    }
}

SystemTrayShell::SystemTrayShell(QObject* parent) : QObject(parent) {
    trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
    // Qt chose its kind of tray for the life of the process on the question just asked.
    statusNotifier_ = StatusNotifierHostPresent();
    poll_.setInterval(kTrayPollMs);
    connect(&poll_, &QTimer::timeout, this, &SystemTrayShell::CheckTrayHost);
}

SystemTrayShell::~SystemTrayShell() { DropAllIcons(); }

SystemTrayShell& SystemTrayShell::Instance() {
    static auto* shell = new SystemTrayShell(QCoreApplication::instance());
    return *shell;
}

bool SystemTrayShell::NotifyIcon(ShellMessage message, const NotifyIconData& data) {
    if (!data.window) return false;
    RememberWindow(data.window);
    const Key key{data.window, data.id};
    auto it = icons_.find(key);
    switch (message) {
    case ShellMessage::Add: {
        if (it != icons_.end() || !QSystemTrayIcon::isSystemTrayAvailable()) return false;
        Icon icon;
        icon.tray = new QSystemTrayIcon();
        icon.window = data.window;
        const std::uint32_t id = data.id;
        QSystemTrayIcon* tray = icon.tray;
        connect(tray, &QSystemTrayIcon::activated, this, [this, key, id](QSystemTrayIcon::ActivationReason r) {
            auto found = icons_.find(key);
            if (found == icons_.end() || !found->second.hasCallback || !found->second.window) return;
            for (std::uint32_t mouse : TrayMouseMessages(r, statusNotifier_)) {
                QCoreApplication::postEvent(found->second.window,
                                            new ShellCallbackEvent(found->second.callbackMessage, id, mouse));
            }
        });
        Icon& stored = icons_.emplace(key, icon).first->second;
        Apply(stored, data);
        tray->show();
        if ((data.flags & NIF_INFO) && !data.info.isEmpty())
            tray->showMessage(data.infoTitle, data.info, MessageIconOf(data.infoFlags), static_cast<int>(data.timeoutMs));
        return true;
    }
    case ShellMessage::Modify:
        if (it == icons_.end()) return false;
        Apply(it->second, data);
        if ((data.flags & NIF_INFO) && !data.info.isEmpty()) {
            it->second.tray->showMessage(data.infoTitle, data.info, MessageIconOf(data.infoFlags),
                                         static_cast<int>(data.timeoutMs));
        }
        return true;
    case ShellMessage::Delete:
        if (it == icons_.end()) return false;
        delete it->second.tray;
        icons_.erase(it);
        return true;
    }
    return false;
}

void SystemTrayShell::Apply(Icon& icon, const NotifyIconData& data) {
    if (data.flags & NIF_MESSAGE) {
        icon.callbackMessage = data.callbackMessage;
        icon.hasCallback = true;
    }
    if (data.flags & NIF_ICON) icon.tray->setIcon(data.icon);
    if (data.flags & NIF_TIP) icon.tray->setToolTip(data.tip);
}

void SystemTrayShell::RememberWindow(QWidget* window) {
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const QPointer<QWidget>& w) { return !w; }),
                   windows_.end());
    if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) windows_.emplace_back(window);
    if (!poll_.isActive()) poll_.start();
}

void SystemTrayShell::CheckTrayHost() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    const bool cameBack = available && !trayAvailable_;
    trayAvailable_ = available;
    if (!cameBack) return;
    // A new tray host knows none of the old icons; their owners add them again if they want.
    DropAllIcons();
    for (const auto& window : windows_) {
        if (window) QCoreApplication::postEvent(window, new TaskbarCreatedEvent());
    }
}

void SystemTrayShell::DropAllIcons() {
    for (auto& [key, icon] : icons_) delete icon.tray;
    icons_.clear();
}

}  // namespace fv::notify
