// A small frameless window listing blocked or granted packets. It sits under the main window
// and snaps to it and to the other log window; a right-click on a row copies its address or
// its text, or clears the list.
#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/logview/SnapGlue.h"
#include "fv_gui/notify/SkinnedDialog.h"

class QMenu;

namespace fv {

inline constexpr int kLogWindowTemplate = 178;
inline constexpr int kLogListId = 1072;
inline constexpr int kLogMenu = 191;
inline constexpr int kCommandCopyIp = 32795;
inline constexpr int kCommandCopyWholeLine = 32797;
inline constexpr int kCommandResetList = 32798;

// The log windows' context menu: Copy IP, Copy whole line, a separator, Reset list; each
// action carries its command id as data.
[[nodiscard]] std::unique_ptr<QMenu> LoadLogMenu();

// The snapper must outlive the window: an owner that keeps the snapper as a member deletes
// its log windows before that member goes.
class CLogWindow : public notify::CSkinnedDialog {
    Q_OBJECT
public:
    enum Kind { kBlocked = 0, kGranted = 1 };

    // Shows the menu at a screen point and returns the chosen command (0: none).
    using MenuTracker = std::function<int(QMenu*, QPoint)>;

    CLogWindow(WindowSnapper& snapper, int kind, QWidget* owner);
    ~CLogWindow() override;

    int Kind() const { return kind_; }
    // Thread-safe: from a worker thread the row is posted to the window's thread.
    void AddEntry(int icon, const QString& text, std::uint32_t data);
    CLogListCtrl& List() { return *list_; }

    // While off, the window's own drags are not snapped.
    void SetSnapping(bool on) { snapping_ = on; }
    bool Snapping() const { return snapping_; }
    SnapWindow& SnapHandle() { return snapWindow_; }

    // What a right-click on a row remembered (empty until then).
    const QString& AddressText() const { return addressText_; }
    const QString& LineText() const { return lineText_; }

    void SetMenuTracker(MenuTracker tracker) { tracker_ = std::move(tracker); }
    void OnMenuCommand(int command) override;

    static QString CaptionFor(int kind);

signals:
    void Closed(int kind);

protected:
    QPoint ProposeMove(QPoint proposed) override;
    void CaptionPressed() override { snapping_ = true; }
    void closeEvent(QCloseEvent* e) override;

private:
    void createList();
    void createMenu();
    void OnListRightClick(QPoint viewportPos);
    void CopyToClipboard(const QString& text);

    WindowSnapper& snapper_;
    const int kind_;
    WidgetSnapWindow snapWindow_;
    CLogListCtrl* list_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    MenuTracker tracker_;
    QString addressText_;
    QString lineText_;
    bool snapping_ = true;
    bool unregistered_ = false;
};

}  // namespace fv
