// What follows the mouse across the program's windows: the hover tip and the flat combo box.
#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "fv_gui/controls/CFlatComboBox.h"
#include "fv_gui/notify/CControlTip.h"
#include "tests/fv_gui/desktop/EventWait.h"

namespace fv {
namespace {

using fv::test::WaitFor;

void Leave(QWidget* widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

TEST(HoverTipTest, HidesWhenThePointerLeavesTheProgramsWindows) {
    QWidget window;
    window.setGeometry(100, 100, 300, 120);
    auto* control = new QPushButton(QStringLiteral("Reset"), &window);
    control->setGeometry(20, 60, 80, 24);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    CControlTip tip;
    tip.Create(&window);
    tip.AddControlTip(control, QStringLiteral("Reset the total"));
    tip.SetOptions({true, true, true, true});
    qApp->installEventFilter(&tip);

    QTest::mouseMove(control, QPoint(40, 12));
    ASSERT_TRUE(WaitFor([&] { return tip.isVisible(); }));

    // Out of the program: no more moves arrive, only the window's leave.
    QCursor::setPos(900, 700);
    Leave(&window);
    EXPECT_FALSE(tip.isVisible());
    EXPECT_FALSE(tip.Tracker().Visible());

    // Back on the control, the tip comes again.
    QTest::mouseMove(control, QPoint(41, 12));
    EXPECT_TRUE(WaitFor([&] { return tip.isVisible(); }));
    qApp->removeEventFilter(&tip);
}

class TimerCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) ++timers;
        return false;
    }
    int timers = 0;
};

TEST(FlatComboBoxTest, BorderFollowsEnterLeaveAndFocusWithoutPolling) {
    QWidget window;
    window.resize(200, 80);
    auto* combo = new CFlatComboBox(&window);
    combo->setGeometry(10, 10, 150, 22);
    combo->addItem(QStringLiteral("eth0"));
    auto* other = new QPushButton(&window);
    other->setGeometry(10, 40, 60, 22);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    combo->setFocus();
    QTest::mouseMove(combo, QPoint(20, 10));
    EXPECT_EQ(combo->LastDrawState(), CFlatComboBox::kRaised);
    TimerCounter counter;
    combo->installEventFilter(&counter);
    QTest::qWait(200);
    EXPECT_EQ(counter.timers, 0) << "the focused box polls the mouse";

    // Leaving keeps the border up while the box has the focus; losing it then lowers it.
    QCursor::setPos(window.mapToGlobal(QPoint(190, 70)));
    Leave(combo);
    EXPECT_EQ(combo->LastDrawState(), CFlatComboBox::kRaised);
    other->setFocus();
    EXPECT_EQ(combo->LastDrawState(), CFlatComboBox::kFlat);

    // Without the focus, enter raises and leave lowers.
    QCursor::setPos(combo->mapToGlobal(QPoint(20, 10)));
    QEnterEvent enter(QPointF(20, 10), QPointF(20, 10), QPointF(combo->mapToGlobal(QPoint(20, 10))));
    QApplication::sendEvent(combo, &enter);
    EXPECT_EQ(combo->LastDrawState(), CFlatComboBox::kRaised);
    QCursor::setPos(window.mapToGlobal(QPoint(190, 70)));
    Leave(combo);
    EXPECT_EQ(combo->LastDrawState(), CFlatComboBox::kFlat);
    EXPECT_EQ(counter.timers, 0);
    combo->removeEventFilter(&counter);
}

}  // namespace
}  // namespace fv
