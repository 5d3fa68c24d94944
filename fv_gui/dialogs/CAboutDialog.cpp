#include "fv_gui/dialogs/CAboutDialog.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/dialogs/AboutGuard.h"
#include "fv_gui/dialogs/AboutTexts.h"
#include "fv_gui/dialogs/DialogIds.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "fv_gui/richtext/CRichTextView.h"

namespace fv::dialogs {
namespace {

// The template's layout, in client pixels.
constexpr QSize kClientSize{432, 286};
constexpr QRect kPictureFrame{6, 7, 100, 100};  // resized to the picture plus its border below
constexpr int kFrameBorder = 1;
constexpr QRect kCreditsPlace{219, 8, 205, 149};
constexpr int kLineLeft = 8;
constexpr int kValueLeft = 64;
constexpr int kLineWidth = 416;
constexpr int kLineHeight = 16;
constexpr int kFirstLineTop = 168;
constexpr int kLineStep = 18;
constexpr QRect kSeparator{8, 244, 416, 2};
constexpr QRect kNotice{8, 250, 320, 32};
constexpr QRect kCloseButton{344, 254, 80, 24};

constexpr char kNotice1[] = "Ferrovane blocks the address ranges of the loaded list only;";
constexpr char kNotice2[] = "keep your regular firewall and updates running beside it.";

QColor FromRgb(std::uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); }

// Pixels per ripple cell each way on a screen of `pixelRatio`: enough that the picture is not
// blown up.
int PictureScale(qreal pixelRatio) {
    constexpr qreal kSlack = 1e-3;  // a ratio a rounding error above a whole number is that number
    return std::clamp(qCeil(pixelRatio - kSlack), 1, Ripple::kMaxScale);
}

// The picture as the ripple wants it: 32-bit pixels, bottom row first, `scale` × `scale` per cell.
std::vector<std::uint32_t> PicturePixels(int cellsWide, int cellsHigh, int scale) {
    QImage image = res::Bitmap(res::kBitmapAboutPicture, scale).toImage();
    if (image.isNull()) return {};
    const int width = cellsWide * scale;
    const int height = cellsHigh * scale;
    if (image.size() != QSize(width, height)) {
        image = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        std::memcpy(&pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width)],
                    image.constScanLine(height - 1 - row), static_cast<std::size_t>(width) * sizeof(std::uint32_t));
    }
    return pixels;
}

// Draws the display picture and hands mouse input over it to the dialog in client coordinates.
class RipplePicture : public QWidget {
public:
    RipplePicture(CAboutDialog* dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(CAboutDialog::PictureRect());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int scale = dialog_->Animation().Scale();
        // Only a screen whose ratio is not the picture's (a fractional one) resizes it.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, scale != devicePixelRatioF());
        dialog_->Animation().ReadDisplay([&](std::span<const std::uint32_t> pixels, int width, int height) {
            QImage image(reinterpret_cast<const uchar*>(pixels.data()), width, height,
                         static_cast<qsizetype>(width) * 4, QImage::Format_RGB32);
            image.setDevicePixelRatio(scale);
            // Rows are stored bottom-up.
            painter.translate(0, height / scale);
            painter.scale(1, -1);
            painter.drawImage(0, 0, image);
        });
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        dialog_->OnMouseMove(ToClient(e));
        QWidget::mouseMoveEvent(e);
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) dialog_->OnLeftButtonDown(ToClient(e));
        QWidget::mousePressEvent(e);
    }

private:
    QPoint ToClient(const QMouseEvent* e) const { return e->position().toPoint() + pos(); }
    CAboutDialog* dialog_;
};

}  // namespace

CAboutDialog::CAboutDialog(const DriverVersionInfo& info, bool driverReady, QWidget* parent)
    : CSkinnedDialog(false, kTemplateAbout, parent), info_(info), driverReady_(driverReady) {
    setWindowTitle(QStringLiteral("About Ferrovane"));
    InitSkinnedFrame(this, nullptr, false, false);
    SetClientSize(kClientSize.width(), kClientSize.height());
    createLabels();
    createPicture();
    createCredits();
    createFooter();
}

CAboutDialog::~CAboutDialog() { animator_->Stop(); }

QRect CAboutDialog::PictureRect() { return {kPictureLeft, kPictureTop, Ripple::kWidth, Ripple::kHeight}; }

void CAboutDialog::createLabels() {
    const auto line = [this](int index, const char* caption, int id) {
        const int top = kFirstLineTop + index * kLineStep;
        if (caption != nullptr) {
            auto* label = new QLabel(QString::fromLatin1(caption), ClientArea());
            label->setGeometry(kLineLeft, top, kValueLeft - kLineLeft, kLineHeight);
        }
        auto* value = new CLabel(ClientArea());
        SetControlId(value, id);
        const int left = caption != nullptr ? kValueLeft : kLineLeft;
        value->setGeometry(left, top, kLineWidth + kLineLeft - left, kLineHeight);
        value->SetTextColor(Qt::black);
        return value;
    };
    programVersion_ = line(0, nullptr, kIdProgramVersion);
    programVersion_->SetText(QString::fromStdString(ProgramVersionLine()));
    driverFile_ = line(1, "Driver:", kIdDriverFile);
    driverFile_->SetText(QString::fromLatin1(kDriverFileName));
    driverVersion_ = line(2, "Version:", kIdDriverVersion);
    driverVersion_->SetText(QString::fromLatin1(DriverVersionLine(info_)));
    driverState_ = line(3, "Status:", kIdDriverState);
    driverState_->SetText(QString::fromLatin1(driverReady_ ? kDriverLoaded : kDriverNotLoaded));
    driverState_->SetTextColor(FromRgb(driverReady_ ? kLoadedColour : kNotLoadedColour));
    driverState_->SetFontBold(true);
}

void CAboutDialog::createPicture() {
    auto* frame = new QFrame(ClientArea());
    SetControlId(frame, kIdPictureFrame);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setLineWidth(kFrameBorder);
    frame->setGeometry(kPictureFrame);
    frame->resize(Ripple::kWidth + 2 * kFrameBorder, Ripple::kHeight + 2 * kFrameBorder);

    const int scale = PictureScale(devicePixelRatioF());
    animator_ = std::make_unique<RippleAnimator>(PicturePixels(Ripple::kWidth, Ripple::kHeight, scale), Ripple::kWidth,
                                                 Ripple::kHeight, scale);
    picture_ = new RipplePicture(this, ClientArea());
    animator_->Start([this] { PostFrame(); });
}

void CAboutDialog::PostFrame() {
    // At most one repaint waits in the queue: a slow window thread skips frames instead of
    // piling them up.
    if (framePending_.exchange(true)) return;
    QMetaObject::invokeMethod(
        picture_,
        [this] {
            framePending_ = false;
            picture_->update();
        },
        Qt::QueuedConnection);
}

void CAboutDialog::createCredits() {
    auto* place = new QWidget(ClientArea());
    SetControlId(place, kIdCreditsPlace);
    place->setGeometry(kCreditsPlace);
    place->hide();

    auto* edge = new QFrame(ClientArea());
    edge->setFrameStyle(QFrame::Box | QFrame::Sunken);
    edge->setLineWidth(kFrameBorder);
    edge->setGeometry(kCreditsPlace.adjusted(-kFrameBorder, -kFrameBorder, kFrameBorder, kFrameBorder));

    credits_ = new CRichTextView(ClientArea());
    credits_->setAccessibleName(QStringLiteral("Credits"));
    credits_->SetMarkup(CreditsMarkup());
    credits_->SetBackgroundPainter(
        [](QPainter& painter, const QRect& client, bool, std::uint32_t) { painter.fillRect(client, Qt::white); });
    credits_->SetPainterParameter(1);
    credits_->SetKeyColour(qRgb(255, 255, 255));
    credits_->SetScrollPeriod(kCreditsPeriodMs);
    credits_->SetDragToScroll(false);
    (void)credits_->CreateOverItem(place);
}

void CAboutDialog::createFooter() {
    auto* separator = new QFrame(ClientArea());
    separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separator->setGeometry(kSeparator);

    auto* notice = new QLabel(QStringLiteral("%1\n%2").arg(QLatin1String(kNotice1), QLatin1String(kNotice2)),
                              ClientArea());
    QFont small = notice->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    notice->setFont(small);
    notice->setGeometry(kNotice);

    auto* close = new CFlatButton(QStringLiteral("Close"), ClientArea());
    SetControlId(close, kIdOk);
    close->setGeometry(kCloseButton);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDialog::OnMouseMove(QPoint client) {
    if (!PictureRect().contains(client)) return;
    animator_->Disturb(client.x() - kPictureLeft, kPictureTop + Ripple::kHeight - client.y(), Ripple::kMoveRadius,
                       Ripple::kMoveDepth);
}

void CAboutDialog::OnLeftButtonDown(QPoint client) {
    if (!PictureRect().contains(client)) return;
    animator_->Disturb(client.x() - kPictureLeft, kPictureTop + Ripple::kHeight - client.y(), Ripple::kClickRadius,
                       Ripple::kClickDepth);
}

void CAboutDialog::done(int result) {
    animator_->Stop();
    CSkinnedDialog::done(result);
}

void RunAboutBox(const DriverVersionInfo& info, bool driverReady, QWidget* parent, const DialogShown& shown) {
    CAboutDialog about(info, driverReady, parent);
    ExecModal(about, shown);
}

bool RunAboutBoxGuarded(const DriverVersionInfo& info, bool driverReady, QWidget* parent,
                        const DialogShown& shown) {
    return RunGuarded(kAboutGuardName, [&] { RunAboutBox(info, driverReady, parent, shown); });
}

}  // namespace fv::dialogs
