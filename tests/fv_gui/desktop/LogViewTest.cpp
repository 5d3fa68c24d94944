#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/logview/SnapGlue.h"

namespace fv {
namespace {

// --- the list

TEST(LogListTest, ClearsOnceItHoldsMoreThanAHundredRows) {
    CLogListCtrl list;
    list.InitColumns();
    for (int i = 0; i < 101; ++i) list.AddRow(CLogListCtrl::kIconInformation, QString::number(i), 0);
    ASSERT_EQ(list.RowCount(), 101);
    list.AddRow(CLogListCtrl::kIconError, QStringLiteral("after"), 7);
    ASSERT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.RowText(0, CLogListCtrl::kColumnText), QStringLiteral("after"));
    EXPECT_EQ(list.RowData(0), 7u);
}

TEST(LogListTest, StampedAndPlainRows) {
    CLogListCtrl list;
    list.InitColumns();
    list.AddRow(CLogListCtrl::kIconWarning, QStringLiteral("first"), 0x0A000001);
    list.AddPlainRow(QStringLiteral("more"));
    list.AddRow(99, QStringLiteral("odd icon"), 1);  // out of range: a row without an icon
    ASSERT_EQ(list.RowCount(), 3);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{2}:\\d{2}:\\d{2}$"));
    EXPECT_TRUE(stamp.match(list.RowText(0, CLogListCtrl::kColumnTime)).hasMatch())
        << list.RowText(0, CLogListCtrl::kColumnTime).toStdString();
    EXPECT_TRUE(list.RowText(1, CLogListCtrl::kColumnTime).isEmpty());
    EXPECT_EQ(list.RowData(1), 0u);
    EXPECT_TRUE(list.topLevelItem(1)->icon(CLogListCtrl::kColumnIcon).isNull());
    EXPECT_TRUE(list.topLevelItem(2)->icon(CLogListCtrl::kColumnIcon).isNull());
    EXPECT_FALSE(list.topLevelItem(0)->icon(CLogListCtrl::kColumnIcon).isNull());
}

TEST(LogListTest, RowsFromAWorkerThreadArriveThroughTheEventLoop) {
    CLogListCtrl list;
    list.InitColumns();
    std::thread worker([&] {
        list.AddRow(CLogListCtrl::kIconWarning, QStringLiteral("posted"), 5);
        list.AddPlainRow(QStringLiteral("plain"));
    });
    worker.join();
    EXPECT_EQ(list.RowCount(), 0);
    QCoreApplication::processEvents();
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.RowData(0), 5u);
    EXPECT_EQ(list.RowText(1, CLogListCtrl::kColumnText), QStringLiteral("plain"));
}

// --- windows on the snapper

void Send(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// Drags a skinned window by its caption by (dx, dy) in a few steps.
void DragCaption(QWidget* w, int dx, int dy) {
    const QPoint grip(w->width() / 2, 10);
    const QPoint start = w->mapToGlobal(grip);
    Send(w, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step) {
        const QPoint global = start + QPoint(dx * step / 4, dy * step / 4);
        QMouseEvent e(QEvent::MouseMove, QPointF(w->mapFromGlobal(global)), QPointF(global), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
    Send(w, QEvent::MouseButtonRelease, w->mapFromGlobal(start + QPoint(dx, dy)), Qt::LeftButton, Qt::NoButton);
}

// The main window as the snapper knows it: its drags go through the snapper, and the windows
// its group touched are attached when the drag ends.
class MainStandIn : public notify::CSkinnedDialog {
public:
    explicit MainStandIn(WindowSnapper& snapper) : CSkinnedDialog(false, 102, nullptr), snapper_(snapper), handle_(this) {
        InitSkinnedFrame(this, nullptr, false, false);
        resize(300, 200);
        move(200, 100);
        show();
        snapper_.Register(&handle_, true);
    }
    ~MainStandIn() override { snapper_.Unregister(&handle_); }
    QPoint ProposeMove(QPoint proposed) override { return SnapMove(snapper_, handle_, this, proposed); }
    void DragEnded() override { snapper_.ApplyPendingAttach(); }

private:
    WindowSnapper& snapper_;
    WidgetSnapWindow handle_;
};

class LogWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        snapper.SetSnapDistance(8);
        log = new CLogWindow(snapper, CLogWindow::kBlocked, &main);
        log->setGeometry(200, 300, 300, 100);  // directly below the main window, as wide
        log->show();
    }
    void TearDown() override { delete log; }

    ScreenSnapDesktop desktop;
    WindowSnapper snapper{desktop};
    MainStandIn main{snapper};
    QPointer<CLogWindow> log;
};

TEST_F(LogWindowTest, AttachedWindowMovesWithTheMainWindowUntilDraggedAway) {
    EXPECT_EQ(log->windowTitle(), QStringLiteral("Blocked packets log"));
    DragCaption(&main, 40, 30);
    EXPECT_EQ(main.pos(), QPoint(240, 130));
    EXPECT_EQ(log->pos(), QPoint(240, 330));

    DragCaption(log, 0, 60);  // 60 pixels below the main window: detached
    EXPECT_EQ(log->pos(), QPoint(240, 390));
    EXPECT_FALSE(snapper.IsAttached(&log->SnapHandle()));
    DragCaption(&main, 10, 0);
    EXPECT_EQ(log->pos(), QPoint(240, 390));

    // Brought back within the snap distance it touches the main window again and is attached.
    DragCaption(log, 3, -54);  // top 6 below the main window's bottom, left 3 off
    EXPECT_EQ(log->pos(), QPoint(250, 330));
    EXPECT_TRUE(snapper.IsAttached(&log->SnapHandle()));
    DragCaption(&main, -20, 0);
    EXPECT_EQ(log->pos(), QPoint(230, 330));
}

TEST_F(LogWindowTest, ClosingUnregistersAndTellsTheOwner) {
    QSignalSpy closed(log.data(), &CLogWindow::Closed);
    log->close();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(0).toInt(), CLogWindow::kBlocked);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(log.isNull());
    DragCaption(&main, 10, 10);  // the snapper no longer reaches the window that is gone
    EXPECT_EQ(main.pos(), QPoint(210, 110));
}

// --- the context menu

class LogMenuTest : public LogWindowTest {
protected:
    void SetUp() override {
        LogWindowTest::SetUp();
        log->AddEntry(CLogListCtrl::kIconWarning, QStringLiteral("Packet to  \"Example\""), 0x0A000001);
        log->AddEntry(CLogListCtrl::kIconWarning, QStringLiteral("second"), 0xC0A80102);
        log->SetMenuTracker([this](QMenu* menu, QPoint) {
            shown.push_back(menu);
            return command;
        });
    }
    void RightClick(QPoint viewportPos) {
        QWidget* viewport = log->List().viewport();
        QContextMenuEvent e(QContextMenuEvent::Mouse, viewportPos, viewport->mapToGlobal(viewportPos));
        QCoreApplication::sendEvent(viewport, &e);
    }
    QPoint RowCentre(int row) { return log->List().visualItemRect(log->List().topLevelItem(row)).center(); }

    int command = 0;
    std::vector<QMenu*> shown;
};

TEST_F(LogMenuTest, CopiesTheRowsAddressOrItsTextColumn) {
    command = kCommandCopyIp;
    RightClick(RowCentre(1));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192.168.1.2"));

    command = kCommandCopyWholeLine;
    RightClick(RowCentre(0));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Packet to  \"Example\""));

    const QList<QAction*> actions = shown.front()->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Copy IP"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Copy whole line"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), QStringLiteral("Reset list"));
}

TEST_F(LogMenuTest, NoMenuBelowTheLastRowAndResetEmptiesTheList) {
    RightClick(QPoint(5, log->List().viewport()->height() - 2));
    EXPECT_TRUE(shown.empty());
    log->OnMenuCommand(kCommandResetList);  // nothing right-clicked yet: nothing to reset
    EXPECT_EQ(log->List().RowCount(), 2);

    command = kCommandResetList;
    RightClick(RowCentre(0));
    EXPECT_EQ(log->List().RowCount(), 0);
}

}  // namespace
}  // namespace fv
