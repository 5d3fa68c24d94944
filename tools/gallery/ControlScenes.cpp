// Scenes of the custom controls, the status lamp, the hover tip and the artwork.
#include <QApplication>
#include <QCursor>
#include <QGridLayout>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "fv_gui/controls/CBitmapSlider.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CFlatComboBox.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/notify/CControlTip.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

const QColor kDialogFace(230, 230, 230);
const QPoint kWindowAt(40, 40);
constexpr int kSettleMs = 300;  // lets the window map before the cursor is moved onto it

QWidget* NewWindow(const QString& title) {
    auto* window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, kDialogFace);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->move(kWindowAt);
    return window;
}

// Puts the cursor on a widget once it is on screen, so that hover states show as a user sees them.
void HoverLater(QWidget* target) {
    QTimer::singleShot(kSettleMs, target, [target] {
        QCursor::setPos(target->mapToGlobal(target->rect().center()));
    });
}

void ShowLamp(int state) {
    QWidget* window = NewWindow(QStringLiteral("Status lamp"));
    window->resize(96, 96);
    auto* lamp = new CStatusLamp(window);
    lamp->move(16, 16);
    lamp->Initialise();
    lamp->SetLampState(state);
    window->show();
}

void ShowSlider() {
    QWidget* window = NewWindow(QStringLiteral("Bitmap slider"));
    auto* grid = new QGridLayout(window);
    grid->addWidget(new QLabel(QStringLiteral("Zov-O-Diriz (connections caching):")), 0, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Small log file\n(less conns)")), 1, 0);
    auto* slider = new CBitmapSlider;
    (void)slider->SetBitmaps(res::kBitmapSliderChannel, res::kBitmapSliderThumb, true,
                             CBitmapSlider::kColourOfPixel, 0, 0);
    slider->SetRange(100, 2000, false);
    slider->SetPageSize(20);
    slider->SetPos(1600);
    grid->addWidget(slider, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Big logfile\n(more conns)")), 1, 2);
    window->show();
    slider->setFocus();
}

void ShowTip() {
    QWidget* window = NewWindow(QStringLiteral("Hover tip"));
    auto* grid = new QGridLayout(window);
    auto* reset = new CFlatButton(QStringLiteral("Reset"));
    auto* log = new CFlatButton(QStringLiteral("View log..."));
    grid->addWidget(new QLabel(QStringLiteral("Blocked packets")), 0, 0);
    grid->addWidget(reset, 0, 1);
    grid->addWidget(log, 1, 1);
    grid->setContentsMargins(40, 120, 300, 40);
    auto* tip = new CControlTip;
    (void)tip->Create(window);
    tip->AddControlTip(reset, QStringLiteral("Reset the total number of packet\n"
                                             "that has been blocked until now."));
    tip->AddControlTip(log, QStringLiteral("Open the log file in notepad."));
    tip->SetOptions({true, true, true, true});
    qApp->installEventFilter(tip);
    window->show();
    HoverLater(reset);
}

void ShowFlatControls() {
    QWidget* window = NewWindow(QStringLiteral("Flat controls"));
    auto* grid = new QGridLayout(window);
    grid->setSpacing(10);
    auto* normal = new CFlatButton(QStringLiteral("&Start"));
    auto* hover = new CFlatButton(QStringLiteral("Hover"));
    auto* pressed = new CFlatButton(QStringLiteral("Pressed"));
    pressed->setDown(true);
    auto* disabled = new CFlatButton(QStringLiteral("Disabled"));
    disabled->setEnabled(false);
    grid->addWidget(normal, 0, 0);
    grid->addWidget(hover, 0, 1);
    grid->addWidget(pressed, 0, 2);
    grid->addWidget(disabled, 0, 3);

    auto* flat = new CFlatComboBox;
    flat->addItems({QStringLiteral("Intel(R) PRO/1000 MT Network Connection"),
                    QStringLiteral("<not selected>")});
    auto* focused = new CFlatComboBox;
    focused->addItem(QStringLiteral("Realtek PCIe GbE Family Controller"));
    grid->addWidget(flat, 1, 0, 1, 2);
    grid->addWidget(focused, 1, 2, 1, 2);

    auto* counter = new CLabel(QStringLiteral("1234 / 56789"));
    auto* loaded = new CLabel;
    loaded->SetText(QStringLiteral("Loaded."));
    loaded->SetTextColor(QColor(0, 160, 0));
    loaded->SetFontBold(true);
    auto* notLoaded = new CLabel;
    notLoaded->SetText(QStringLiteral("Not loaded."));
    notLoaded->SetTextColor(QColor(230, 0, 0));
    notLoaded->SetFontBold(true);
    grid->addWidget(counter, 2, 0);
    grid->addWidget(loaded, 2, 1);
    grid->addWidget(notLoaded, 2, 2);
    window->show();
    focused->setFocus();
    HoverLater(hover);
}

void ShowArtwork() {
    QWidget* window = NewWindow(QStringLiteral("Artwork"));
    auto* grid = new QGridLayout(window);
    int column = 0;
    int row = 0;
    auto add = [&](const QPixmap& picture, int id) {
        auto* image = new QLabel;
        image->setPixmap(picture);
        image->setAlignment(Qt::AlignCenter);
        auto* caption = new QLabel(QString::number(id));
        caption->setAlignment(Qt::AlignCenter);
        grid->addWidget(image, row * 2, column);
        grid->addWidget(caption, row * 2 + 1, column);
        if (++column == 7) {
            column = 0;
            ++row;
        }
    };
    for (int id : {res::kBitmapLampGrey, res::kBitmapLampGreyGreen, res::kBitmapLampGreen,
                   res::kBitmapLampRed}) {
        add(res::WithoutKeyColour(res::Bitmap(id)), id);
    }
    add(res::WithoutKeyColour(res::Bitmap(res::kBitmapSliderChannel)), res::kBitmapSliderChannel);
    add(res::WithoutKeyColour(res::Bitmap(res::kBitmapSliderThumb)), res::kBitmapSliderThumb);
    add(res::Bitmap(res::kBitmapAboutPicture), res::kBitmapAboutPicture);
    for (int id : {res::kIconApplication, res::kIconTrayStopped, res::kIconTrayActive,
                   res::kIconTrayAlert, res::kIconNotifications, res::kIconLogging,
                   res::kIconGeneral, res::kIconLogFolder}) {
        add(res::Icon(id).pixmap(32, 32), id);
    }
    for (int id : {res::kIconLogInformation, res::kIconLogError, res::kIconLogWarning,
                   res::kIconLogSuccess}) {
        add(res::Bitmap(id), id);
    }
    for (int id : {res::kIconTrayStopped, res::kIconTrayActive, res::kIconTrayAlert}) {
        add(res::Icon(id).pixmap(16, 16), id);
    }
    window->show();
}

}  // namespace

std::vector<Scene> ControlScenes() {
    return {
        {"lamp-0-not-ready", [] { ShowLamp(0); }},
        {"lamp-1-ready", [] { ShowLamp(1); }},
        {"lamp-2-filtering", [] { ShowLamp(2); }},
        {"lamp-3-blocked", [] { ShowLamp(3); }},
        {"slider", ShowSlider},
        {"tip", ShowTip},
        {"flat-controls", ShowFlatControls},
        {"artwork", ShowArtwork},
    };
}

}  // namespace fv::gallery
