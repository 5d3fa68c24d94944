// A list of time-stamped one-line entries with an icon each: the log windows' list and the main
// window's status list. It clears itself once it grows past a hundred rows.
#pragma once

#include <QIcon>
#include <QString>
#include <QTreeWidget>

#include <array>
#include <cstdint>

namespace fv {

class CLogListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    // Icon indices.
    static constexpr int kIconInformation = 0;  // also granted packets
    static constexpr int kIconError = 1;
    static constexpr int kIconWarning = 2;      // also blocked packets
    static constexpr int kIconSuccess = 3;
    static constexpr int kIconCount = 4;

    static constexpr int kColumnIcon = 0;
    static constexpr int kColumnTime = 1;
    static constexpr int kColumnText = 2;

    // A list holding more rows than this is emptied before the next row goes in.
    static constexpr int kMaxRowsBeforeClear = 100;

    explicit CLogListCtrl(QWidget* parent = nullptr);

    // Font, icons, the three columns and full-row selection.
    void InitColumns();

    // Thread-safe: from a worker thread the row is posted to the list's thread. An icon outside
    // 0..kIconCount-1 leaves the row without one.
    void AddRow(int icon, const QString& text, std::uint32_t data);
    // A follow-up line: no icon, no time stamp, data 0. Thread-safe like AddRow.
    void AddPlainRow(const QString& text);
    void DeleteAllRows();
    int RowCount() const;

    // The row's data word (a log window's packet address, host order); 0 for no such row.
    std::uint32_t RowData(int row) const;
    QString RowText(int row, int column) const;

    // The data word of an item of this list.
    static std::uint32_t ItemData(const QTreeWidgetItem* item);

private:
    void InsertRow(int icon, const QString& time, const QString& text, std::uint32_t data);
    bool PostedToOwnThread(int icon, const QString& text, std::uint32_t data, bool plain);

    std::array<QIcon, kIconCount> icons_;
};

// Local time as the list stamps its rows: "2024/05/01  13:07:42".
QString RowTimeStamp();

}  // namespace fv
