#include "fv_gui/notify/SkinnedDialog.h"

#include <QCoreApplication>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QtMath>

#include <gtest/gtest.h>

#include <vector>

#include "fv_gui/notify/FrameGeometry.h"
#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/Resources.h"
#include "tests/fv_gui/desktop/ScaledArt.h"

namespace fv::notify {
namespace {

constexpr int kW = 300, kH = 200;

// Records the commands instead of carrying them out; snaps drags to a 10-pixel grid.
class Probe : public CSkinnedDialog {
public:
    Probe() : CSkinnedDialog(false, 100, nullptr) {
        InitSkinnedFrame(this, nullptr, true, true);
        resize(kW, kH);
        move(100, 100);
        show();
    }
    void OnWindowCommand(WindowCommand command) override { commands.push_back(command); }
    QPoint ProposeMove(QPoint proposed) override {
        proposals.push_back(proposed);
        return {proposed.x() / 10 * 10, proposed.y() / 10 * 10};
    }
    std::vector<WindowCommand> commands;
    std::vector<QPoint> proposals;
};

void Send(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}
void Press(QWidget* w, QPoint p) { Send(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }
void Release(QWidget* w, QPoint p) { Send(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }

const QPoint kClose(kW - 10, 10), kMaximize(kW - 30, 10), kMinimize(kW - 50, 10), kCaption(150, 10);

TEST(SkinnedDialogTest, ReleaseActsOnlyOverThePressedButton) {
    Probe d;
    Press(&d, kClose);
    EXPECT_EQ(d.Frame().Pressed(), CaptionButton::Close);
    Release(&d, kMaximize);
    EXPECT_EQ(d.Frame().Pressed(), CaptionButton::None);
    EXPECT_TRUE(d.commands.empty());

    Press(&d, kClose);
    Release(&d, kClose);
    Press(&d, kMinimize);
    Release(&d, kMinimize);
    EXPECT_EQ(d.commands, (std::vector<WindowCommand>{WindowCommand::Close, WindowCommand::Minimize}));
}

TEST(SkinnedDialogTest, CaptureLossUnpressesWithoutAction) {
    Probe d;
    Press(&d, kMinimize);
    ASSERT_EQ(d.Frame().Pressed(), CaptionButton::Minimize);
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&d, &deactivate);
    EXPECT_EQ(d.Frame().Pressed(), CaptionButton::None);
    Release(&d, kMinimize);
    EXPECT_TRUE(d.commands.empty());
}

TEST(SkinnedDialogTest, MaximizedWindowsMiddleButtonRestores) {
    Probe d;
    Press(&d, kMaximize);
    Release(&d, kMaximize);
    d.setWindowState(Qt::WindowMaximized);
    Press(&d, QPoint(d.width() - 30, 10));
    Release(&d, QPoint(d.width() - 30, 10));
    EXPECT_EQ(d.commands, (std::vector<WindowCommand>{WindowCommand::Maximize, WindowCommand::Restore}));
}

TEST(SkinnedDialogTest, CaptionDragGoesThroughTheMoveHook) {
    Probe d;
    const QPoint start = d.pos();
    Press(&d, kCaption);
    Send(&d, QEvent::MouseMove, kCaption + QPoint(37, 24), Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(d.proposals.size(), 1u);
    EXPECT_EQ(d.proposals[0], start + QPoint(37, 24));
    EXPECT_EQ(d.pos(), QPoint((start.x() + 37) / 10 * 10, (start.y() + 24) / 10 * 10));
    Release(&d, kCaption);

    // A press on a caption button starts no drag.
    const QPoint before = d.pos();
    Press(&d, kClose);
    Send(&d, QEvent::MouseMove, kClose + QPoint(-40, 30), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(d.pos(), before);
    EXPECT_EQ(d.proposals.size(), 1u);
}

TEST(SkinnedDialogTest, ClientAreaInsideTheFrame) {
    Probe d;
    EXPECT_EQ(d.ClientArea()->geometry(), QRect(6, 20, kW - 13, kH - 27));
    d.SetClientSize(100, 50);
    EXPECT_EQ(d.size(), QSize(113, 77));
    EXPECT_EQ(d.ClientArea()->geometry(), QRect(6, 20, 100, 50));
}

// Whether a right-click released at `local` (in `target`, a child or the window) opens a menu.
bool RightClickOpensMenu(QWidget* target, QPoint local) {
    bool opened = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            opened = true;
            popup->close();
        }
    });
    closer.start(10);
    Send(target, QEvent::MouseButtonRelease, local, Qt::RightButton, Qt::NoButton);
    QCoreApplication::processEvents();
    return opened;
}

TEST(SkinnedDialogTest, TheWindowMenuOpensOnTheFrameOnly) {
    Probe d;
    EXPECT_TRUE(RightClickOpensMenu(&d, kCaption));
    EXPECT_TRUE(RightClickOpensMenu(&d, QPoint(2, kH / 2)));       // the left border
    EXPECT_TRUE(RightClickOpensMenu(&d, QPoint(kW / 2, kH - 3)));  // the bottom border
    EXPECT_FALSE(RightClickOpensMenu(d.ClientArea(), QPoint(40, 40)));
    EXPECT_FALSE(RightClickOpensMenu(&d, QPoint(kW / 2, kH / 2)));
}

// Right-clicks the caption and chooses the system menu's item `label` with the keyboard.
void ChooseFromSystemMenu(Probe& d, const QString& label) {
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        chooser.stop();
        for (QAction* action : menu->actions()) {
            if (action->text() == label) menu->setActiveAction(action);
        }
        QTest::keyClick(menu, Qt::Key_Return);
        if (menu->isVisible()) menu->close();
    });
    chooser.start(10);
    Send(&d, QEvent::MouseButtonRelease, kCaption, Qt::RightButton, Qt::NoButton);
}

TEST(SkinnedDialogTest, SystemMenuItemsArriveAsTheCommandsTheyName) {
    Probe d;
    QAction own(QStringLiteral("Own item"));
    bool ownTriggered = false;
    QObject::connect(&own, &QAction::triggered, [&] { ownTriggered = true; });
    d.addAction(&own);
    for (const char* label : {"Mi&nimize", "Ma&ximize", "&Close", "Own item"})
        ChooseFromSystemMenu(d, QString::fromLatin1(label));
    d.setWindowState(Qt::WindowMaximized);
    ChooseFromSystemMenu(d, QStringLiteral("&Restore"));
    // The window's own item acts by itself and is no window command.
    EXPECT_TRUE(ownTriggered);
    EXPECT_EQ(d.commands, (std::vector<WindowCommand>{WindowCommand::Minimize, WindowCommand::Maximize,
                                                      WindowCommand::Close, WindowCommand::Restore}));

    EXPECT_EQ(WindowCommandOf(SC_MINIMIZE | 0x2), WindowCommand::Minimize);  // the low bits do not matter
    EXPECT_EQ(WindowCommandOf(0), std::nullopt);
    EXPECT_EQ(WindowCommandOf(0x10), std::nullopt);
}

TEST(SkinnedDialogTest, IconHoverFollowsTheMouseAndLeavesWithIt) {
    Probe d;
    Send(&d, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(d.Frame().IconHover());
    Send(&d, QEvent::MouseMove, QPoint(10, 25), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(d.Frame().IconHover());
    Send(&d, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::NoButton);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&d, &leave);
    EXPECT_FALSE(d.Frame().IconHover());
}

// On a scaled screen every piece of the frame is drawn with the screen's pixels rather than blown
// up from its own, in the place it has at scale 1.
TEST(SkinnedFrameScaleTest, FramePiecesAreDrawnWithTheScreensPixels) {
    Probe d;
    d.setWindowTitle(QString());
    const qreal ratio = d.devicePixelRatioF();
    const QImage shot = d.grab().toImage();
    ASSERT_EQ(shot.size(), d.size() * ratio);
    FrameState state;
    state.buttons = d.Frame().Buttons();
    const std::vector<FramePiece> pieces = FrameLayout(d.width(), d.height(), state);
    const QRegion shape = d.mask();
    for (std::size_t n = 0; n < pieces.size(); ++n) {
        const FramePiece& piece = pieces[n];
        if (piece.kind != FramePiece::Bitmap) continue;
        // What the window's shape cuts away or a later piece covers.
        const auto hidden = [&](QPoint device) {
            const QPoint at(qFloor(device.x() / ratio), qFloor(device.y() / ratio));
            if (!shape.isEmpty() && !shape.contains(at)) return true;
            for (std::size_t m = n + 1; m < pieces.size(); ++m) {
                if (QRect(pieces[m].x, pieces[m].y, pieces[m].w, pieces[m].h).contains(at)) return true;
            }
            return false;
        };
        const QPixmap art = res::Bitmap(piece.id, ratio);
        ASSERT_FALSE(art.isNull()) << piece.id;
        const QRect part = QRect(0, 0, qRound(piece.w * ratio), qRound(piece.h * ratio)) & art.rect();
        EXPECT_EQ(fv::test::DifferingPixels(shot, QPoint(piece.x, piece.y) * ratio, art, part, qRgb(255, 0, 255), hidden), 0)
            << "piece " << n << ", bitmap " << piece.id;
    }
}

}  // namespace
}  // namespace fv::notify
