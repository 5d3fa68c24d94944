// The credits view: renders its markup once into two tall pages and scrolls them up one pixel
// per period in an endless loop. Links change their look under the mouse and open on a click;
// the text can also be dragged up and down.
#pragma once

#include <QCursor>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "fv_gui/richtext/RichTextPages.h"

namespace fv {

class CRichTextView : public QWidget {
    Q_OBJECT

public:
    using BackgroundPainter = std::function<void(QPainter& painter, const QRect& client, bool fullPaint,
                                                 std::uint32_t parameter)>;
    using CommandCallback = std::function<void(const std::optional<std::string>& argument)>;
    using LinkOpener = std::function<void(const QUrl& url)>;

    static constexpr int kDefaultScrollPeriod = 40;  // milliseconds
    static constexpr int kFirstStepPeriods = 10;     // the first step waits this many periods
    static constexpr QRgb kDefaultKeyColour = 0xFFFF00FFu;

    explicit CRichTextView(QWidget* parent = nullptr);

    // Set before Create.
    void SetDragToScroll(bool on) { dragToScroll_ = on; }
    void SetScrollPeriod(int milliseconds) { scrollPeriod_ = milliseconds; }
    void SetBackgroundPainter(BackgroundPainter painter) { backgroundPainter_ = std::move(painter); }
    void SetPainterParameter(std::uint32_t parameter) { painterParameter_ = parameter; }
    void SetKeyColour(QRgb key) { keyColour_ = key; }
    void SetCursors(const QCursor& normal, const QCursor& link);

    // Places the view at `rect` of its parent, shows it, lays the markup out and starts scrolling.
    bool Create(const QRect& rect);
    // The same over a placeholder child of the parent, which keeps its place.
    bool CreateOverItem(const QWidget* placeholder);

    void SetMarkup(std::string markup);

    // "#n" and "#n#argument" link targets call the callback registered under n.
    void RegisterCommand(int number, CommandCallback callback);
    // Web and mail targets go here; the desktop's default handler unless replaced.
    void SetLinkOpener(LinkOpener opener) { linkOpener_ = std::move(opener); }

    // One scroll step, as the timer runs it.
    void ScrollStep();

    int ContentHeight() const { return pages_.contentHeight; }
    int ScrollOffset() const { return scrollOffset_; }
    bool IsDragging() const { return dragging_; }
    const richtext::PageRect& HoveredLink() const { return hoveredLink_; }
    const richtext::RichTextPages& Pages() const { return pages_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Render();
    void UpdateHover(const QPoint& client);
    void OpenLink(const std::string& target);
    void DrawContent(QPainter& painter, const QImage& page) const;
    void DrawRows(QPainter& painter, const QImage& page, int viewTop, int contentTop, int rows) const;

    bool dragToScroll_ = true;
    int scrollOffset_ = 0;
    int scrollPeriod_ = kDefaultScrollPeriod;
    BackgroundPainter backgroundPainter_;
    std::string markup_;
    std::uint32_t painterParameter_;
    QRgb keyColour_ = kDefaultKeyColour;
    QCursor normalCursor_{Qt::ArrowCursor};
    QCursor linkCursor_{Qt::PointingHandCursor};
    richtext::PageRect hoveredLink_;
    bool dragging_ = false;
    int dragAnchor_ = 0;
    richtext::RichTextPages pages_;
    bool created_ = false;
    QTimer scrollTimer_;
    std::map<int, CommandCallback> commands_;
    LinkOpener linkOpener_;
};

}  // namespace fv
