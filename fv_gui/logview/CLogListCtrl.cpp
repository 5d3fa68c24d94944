#include "fv_gui/logview/CLogListCtrl.h"

#include <QHeaderView>
#include <QMetaObject>
#include <QThread>

#include <ctime>

#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"

namespace fv {
namespace {

constexpr int kDataRole = Qt::UserRole;
constexpr int kColumnCount = 3;
constexpr int kIconPixels = 16;
constexpr const char kFontFamily[] = "Tahoma";
constexpr int kFontPoints = 7;
constexpr const char kTimeFormat[] = "%Y/%m/%d  %H:%M:%S";

// Resource ids of the icons by index.
constexpr std::array<int, CLogListCtrl::kIconCount> kIconIds = {
    res::kIconLogInformation, res::kIconLogError, res::kIconLogWarning, res::kIconLogSuccess};

}  // namespace

QString RowTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, kTimeFormat, &local) == 0)
        return {};
    return QString::fromLatin1(text);
}

CLogListCtrl::CLogListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setColumnCount(kColumnCount);
}

void CLogListCtrl::InitColumns() {
    setFont(QFont(QString::fromLatin1(kFontFamily), kFontPoints, QFont::Normal));
    setIconSize(QSize(kIconPixels, kIconPixels));
    for (int i = 0; i < kIconCount; ++i) icons_[i] = res::Icon(kIconIds[i]);
    setColumnCount(kColumnCount);
    header()->setStretchLastSection(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
}

bool CLogListCtrl::PostedToOwnThread(int icon, const QString& text, std::uint32_t data, bool plain) {
    if (QThread::currentThread() == thread()) return false;
    // The queued call dies with the list if the list goes first.
    QMetaObject::invokeMethod(
        this,
        [this, icon, text, data, plain] {
            if (plain) {
                AddPlainRow(text);
            } else {
                AddRow(icon, text, data);
            }
        },
        Qt::QueuedConnection);
    return true;
}

void CLogListCtrl::AddRow(int icon, const QString& text, std::uint32_t data) {
    if (PostedToOwnThread(icon, text, data, false)) return;
    InsertRow(icon, RowTimeStamp(), text, data);
}

void CLogListCtrl::AddPlainRow(const QString& text) {
    if (PostedToOwnThread(-1, text, 0, true)) return;
    InsertRow(-1, QString(), text, 0);
}

void CLogListCtrl::InsertRow(int icon, const QString& time, const QString& text, std::uint32_t data) {
    if (RowCount() > kMaxRowsBeforeClear) DeleteAllRows();
    auto* item = new QTreeWidgetItem(this);
    if (icon >= 0 && icon < kIconCount) item->setIcon(kColumnIcon, icons_[icon]);
    item->setData(kColumnIcon, kDataRole, QVariant::fromValue<quint32>(data));
    item->setText(kColumnTime, time);
    item->setText(kColumnText, text);
    for (int column = 0; column < kColumnCount; ++column) resizeColumnToContents(column);
    scrollToItem(item);
}

void CLogListCtrl::DeleteAllRows() { clear(); }

int CLogListCtrl::RowCount() const { return topLevelItemCount(); }

std::uint32_t CLogListCtrl::ItemData(const QTreeWidgetItem* item) {
    return item != nullptr ? item->data(kColumnIcon, kDataRole).value<quint32>() : 0;
}

std::uint32_t CLogListCtrl::RowData(int row) const { return ItemData(topLevelItem(row)); }

QString CLogListCtrl::RowText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? item->text(column) : QString();
}

}  // namespace fv
