#include "fv_gui/logview/CLogWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QVBoxLayout>

#include "fv_gui/blocklist/IpTable.h"
#include "fv_gui/notify/WindowCommands.h"

namespace fv {
namespace {

// The window's client size in dialog units, and the base units of the dialog font.
constexpr int kClientWidthDu = 188;
constexpr int kClientHeightDu = 97;
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

constexpr const char kBlockedCaption[] = "Blocked packets log";
constexpr const char kGrantedCaption[] = "Granted packets log";
constexpr const char kTemplateCaption[] = "Log";

QAction* AddCommand(QMenu* menu, const char* label, int command) {
    QAction* action = menu->addAction(QString::fromLatin1(label));
    action->setData(command);
    return action;
}

}  // namespace

std::unique_ptr<QMenu> LoadLogMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("LogMenu"));
    AddCommand(menu.get(), "Copy IP", kCommandCopyIp);
    AddCommand(menu.get(), "Copy whole line", kCommandCopyWholeLine);
    menu->addSeparator();
    AddCommand(menu.get(), "Reset list", kCommandResetList);
    return menu;
}

QString CLogWindow::CaptionFor(int kind) {
    return QString::fromLatin1(kind == kBlocked ? kBlockedCaption : kGrantedCaption);
}

CLogWindow::CLogWindow(WindowSnapper& snapper, int kind, QWidget* owner)
    : CSkinnedDialog(true, kLogWindowTemplate, owner),
      snapper_(snapper),
      kind_(kind),
      snapWindow_(this),
      tracker_(notify::TrackMenuBottomAligned) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromLatin1(kTemplateCaption));
    createList();
    createMenu();
    InitSkinnedFrame(this, nullptr, false, false);
    SetClientSize(kClientWidthDu * kBaseUnitX / 4, kClientHeightDu * kBaseUnitY / 8);
    setWindowTitle(CaptionFor(kind_));
    list_->setAccessibleName(windowTitle());  // the list is all the window holds
    list_->InitColumns();
    snapper_.Register(&snapWindow_, false);
}

CLogWindow::~CLogWindow() {
    if (!unregistered_) snapper_.Unregister(&snapWindow_);
}

void CLogWindow::createList() {
    list_ = new CLogListCtrl(ClientArea());
    list_->setObjectName(QString::number(kLogListId));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* layout = new QVBoxLayout(ClientArea());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    connect(list_, &QWidget::customContextMenuRequested, this, &CLogWindow::OnListRightClick);
}

void CLogWindow::createMenu() {
    menu_ = LoadLogMenu();
}

void CLogWindow::AddEntry(int icon, const QString& text, std::uint32_t data) {
    list_->AddRow(icon, text, data);
}

QPoint CLogWindow::ProposeMove(QPoint proposed) {
    if (!snapping_) return proposed;
    return SnapMove(snapper_, snapWindow_, this, proposed);
}

void CLogWindow::OnListRightClick(QPoint viewportPos) {
    const QTreeWidgetItem* item = list_->itemAt(viewportPos);
    if (item == nullptr) return;
    addressText_ = QString::fromStdString(FormatDottedAddress(CLogListCtrl::ItemData(item)));
    lineText_ = item->text(CLogListCtrl::kColumnText);
    if (addressText_.isEmpty() || lineText_.isEmpty()) return;
    raise();
    activateWindow();
    // The menu runs its own event loop, in which the window may be closed.
    QPointer<CLogWindow> self(this);
    const int command = tracker_(menu_.get(), list_->viewport()->mapToGlobal(viewportPos));
    if (self && command != 0) OnMenuCommand(command);
}

void CLogWindow::OnMenuCommand(int command) {
    switch (command) {
        case kCommandCopyIp:
            CopyToClipboard(addressText_);
            break;
        case kCommandCopyWholeLine:
            CopyToClipboard(lineText_);
            break;
        case kCommandResetList:
            if (!lineText_.isEmpty()) list_->DeleteAllRows();
            break;
        default:
            break;
    }
}

void CLogWindow::CopyToClipboard(const QString& text) {
    if (text.isEmpty()) return;
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
}

void CLogWindow::closeEvent(QCloseEvent* e) {
    if (!unregistered_) {
        snapper_.Unregister(&snapWindow_);
        unregistered_ = true;
    }
    CSkinnedDialog::closeEvent(e);
    emit Closed(kind_);
}

}  // namespace fv
