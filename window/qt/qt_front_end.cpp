// The Qt window. The canvas is read at paint time, only the part the paint needs,
// so a paint always shows the newest canvas however many changes were announced
// since the last one; Qt merges the announced rectangles into one paint.
#include "window/qt/qt_front_end.h"

#include "window/qt/placement.h"
#include "window/window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QStringDecoder>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace korax {

class CanvasWidget final : public QWidget {
  public:
    explicit CanvasWidget(QtFrontEnd& owner)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowMaximizeButtonHint),
          m_owner(owner) {
        setWindowTitle(QStringLiteral("KORAX"));
        // Every pixel is painted from the canvas; no background fill first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::StrongFocus);
        setAcceptDrops(true);
        for (const Rgb& c : korax::palette())
            m_colors.push_back(qRgb(c.r, c.g, c.b));
        m_blink.callOnTimeout(this, [this] { blink(); });
    }

    void set_canvas(const Canvas* canvas) { m_canvas = canvas; }
    void set_canvas_size(int width, int height) {
        m_canvas_width = width;
        m_canvas_height = height;
    }
    int canvas_width() const { return m_canvas_width; }
    int canvas_height() const { return m_canvas_height; }

    double ratio() const { return devicePixelRatioF(); }
    // The picture's place in device pixels for the widget's present size.
    Placement placement() const {
        const double r = ratio();
        return place_canvas(static_cast<int>(std::lround(width() * r)),
                            static_cast<int>(std::lround(height() * r)), m_canvas_width,
                            m_canvas_height);
    }
    // Canvas pixels of `changed` as a widget rectangle, rounded outwards.
    QRect widget_rect(const Rect& changed) const {
        const Placement p = placement();
        const double r = ratio();
        const double x1 = (p.x + changed.x1 * p.scale) / r;
        const double y1 = (p.y + changed.y1 * p.scale) / r;
        const double x2 = (p.x + (changed.x2 + 1) * p.scale) / r;
        const double y2 = (p.y + (changed.y2 + 1) * p.scale) / r;
        const int left = static_cast<int>(std::floor(x1)), top = static_cast<int>(std::floor(y1));
        return QRect(left, top, static_cast<int>(std::ceil(x2)) - left,
                     static_cast<int>(std::ceil(y2)) - top);
    }

    // The text cursor in the canvas blinks: every half period its pixels are
    // shown without it, then with it again. It starts visible so that a key
    // pressed at once always meets a visible cursor.
    void set_text_cursor(const Rect& bar, std::uint8_t mask) {
        repaint_bar();
        m_bar = bar;
        m_mask = mask;
        m_bar_hidden = false;
        m_blink.stop();
        const int period = QApplication::cursorFlashTime(); // 0: the desktop wants no blinking
        if (!bar.empty() && period > 0) m_blink.start(period / 2);
    }

    void blink() {
        if (m_bar.empty()) return;
        m_bar_hidden = !m_bar_hidden;
        repaint_bar();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        const QRect wanted = event->rect();
        const QColor black(m_colors[0]);
        if (!m_canvas || m_canvas->width() <= 0 || m_canvas->height() <= 0 ||
            m_canvas->width() != m_canvas_width || m_canvas->height() != m_canvas_height) {
            painter.fillRect(wanted, black);
            return;
        }
        const int cw = m_canvas->width();
        const int ch = m_canvas->height();
        const Placement p = placement();
        const double r = ratio();
        const QRectF picture(p.x / r, p.y / r, cw * p.scale / r, ch * p.scale / r);
        // The bands beside the picture are black; the picture is painted over
        // wherever the two meet.
        const QRegion bands = QRegion(wanted) - QRegion(picture.toRect().adjusted(1, 1, -1, -1));
        for (const QRect& band : bands)
            painter.fillRect(band, black);

        // Only the canvas pixels the paint needs, each scaled by the whole number:
        // the default transformation of the painter samples the nearest pixel, so
        // they stay sharp.
        const int sx1 =
            std::max(0, static_cast<int>(std::floor((wanted.left() * r - p.x) / p.scale)));
        const int sy1 =
            std::max(0, static_cast<int>(std::floor((wanted.top() * r - p.y) / p.scale)));
        const int sx2 = std::min(
            cw - 1, static_cast<int>(std::floor(((wanted.right() + 1) * r - p.x) / p.scale)));
        const int sy2 = std::min(
            ch - 1, static_cast<int>(std::floor(((wanted.bottom() + 1) * r - p.y) / p.scale)));
        if (sx2 < sx1 || sy2 < sy1) return;
        QImage image = device_pixels(sx1, sy1, sx2, sy2, p.scale);
        // Device pixels, drawn one to one at the picture's place.
        image.setDevicePixelRatio(r);
        painter.drawImage(QPointF((p.x + sx1 * p.scale) / r, (p.y + sy1 * p.scale) / r), image);
    }

    // The canvas pixels of a rectangle in their colours, each already a square of
    // `scale` x `scale` device pixels. Done here rather than by the painter from an
    // indexed image, which converts the whole canvas on every paint, spreads that
    // over threads a busy machine does not have, and then scales pixel by pixel;
    // here a scaled row is built once and copied for the rows below it.
    QImage device_pixels(int x1, int y1, int x2, int y2, int scale) {
        const int w = (x2 - x1 + 1) * scale, h = (y2 - y1 + 1) * scale;
        if (m_colour_buffer.width() < w || m_colour_buffer.height() < h)
            m_colour_buffer =
                QImage(m_canvas_width * scale, m_canvas_height * scale, QImage::Format_RGB32);
        const auto row_bytes = static_cast<std::size_t>(w) * sizeof(QRgb);
        for (int y = y1; y <= y2; ++y) {
            const std::uint8_t* in = m_canvas->row(y) + x1;
            // In the hidden phase of the blinking text cursor the bar, drawn
            // into the canvas by exclusive-or, is shown taken off again.
            const bool bar_row = m_bar_hidden && !m_bar.empty() && y >= m_bar.y1 && y <= m_bar.y2;
            const auto colour = [&](int i) {
                const int x = x1 + i;
                const bool off = bar_row && x >= m_bar.x1 && x <= m_bar.x2;
                return m_colors[(off ? in[i] ^ m_mask : in[i]) & 0x0F];
            };
            const int top = (y - y1) * scale;
            auto* out = reinterpret_cast<QRgb*>(m_colour_buffer.scanLine(top));
            if (scale == 1 && !bar_row) {
                for (int i = 0; i <= x2 - x1; ++i)
                    out[i] = m_colors[in[i] & 0x0F];
            } else {
                for (int x = 0, i = 0; i <= x2 - x1; ++i) {
                    const QRgb c = colour(i);
                    for (int k = 0; k < scale; ++k)
                        out[x++] = c;
                }
            }
            for (int k = 1; k < scale; ++k)
                std::memcpy(m_colour_buffer.scanLine(top + k), out, row_bytes);
        }
        // A view of the buffer's top-left part, without a copy.
        return QImage(m_colour_buffer.constBits(), w, h, m_colour_buffer.bytesPerLine(),
                      QImage::Format_RGB32);
    }

    void resizeEvent(QResizeEvent*) override { update(); }

    void keyPressEvent(QKeyEvent* event) override { m_owner.key_pressed(*event); }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        const double r = ratio();
        const QPointF at = event->position();
        if (auto pixel = canvas_pixel_at(placement(), m_canvas_width, m_canvas_height, at.x() * r,
                                         at.y() * r))
            m_owner.clicked(CanvasPoint{pixel->x, pixel->y});
    }

    void wheelEvent(QWheelEvent* event) override {
        // A notch is 120; fine-grained wheels and touchpads add up to whole notches.
        m_wheel += event->angleDelta().y();
        const double r = ratio();
        const QPointF at = event->position();
        std::optional<CanvasPoint> where;
        if (auto pixel = canvas_pixel_at(placement(), m_canvas_width, m_canvas_height, at.x() * r,
                                         at.y() * r))
            where = CanvasPoint{pixel->x, pixel->y};
        while (m_wheel >= 120) {
            m_owner.wheel(KEY_WHEEL_UP, where);
            m_wheel -= 120;
        }
        while (m_wheel <= -120) {
            m_owner.wheel(KEY_WHEEL_DOWN, where);
            m_wheel += 120;
        }
        event->accept();
    }

    void dragEnterEvent(QDragEnterEvent* event) override {
        if (!dropped_file(event->mimeData()).isEmpty()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (!dropped_file(event->mimeData()).isEmpty()) event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override {
        const QString path = dropped_file(event->mimeData());
        if (path.isEmpty()) return;
        event->acceptProposedAction();
        m_owner.dropped(QFile::encodeName(path).toStdString());
    }

    void closeEvent(QCloseEvent* event) override {
        // The program decides what a close means; the window stays until it has.
        if (m_owner.close_requested())
            event->accept();
        else
            event->ignore();
    }

    // Tab belongs to the program, not to focus changes between widgets.
    bool focusNextPrevChild(bool) override { return false; }

  private:
    QRect bar_rect() const {
        // The bar's canvas pixels as the widget shows them, scaled and placed.
        const Placement p = placement();
        const double r = ratio();
        return QRectF((p.x + m_bar.x1 * p.scale) / r, (p.y + m_bar.y1 * p.scale) / r,
                      (m_bar.x2 - m_bar.x1 + 1) * p.scale / r,
                      (m_bar.y2 - m_bar.y1 + 1) * p.scale / r)
            .toAlignedRect();
    }

    void repaint_bar() {
        if (!m_bar.empty()) update(bar_rect());
    }

    // The first local file of a drag; only a file can be opened.
    static QString dropped_file(const QMimeData* data) {
        if (!data || !data->hasUrls()) return {};
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile() && !url.toLocalFile().isEmpty()) return url.toLocalFile();
        }
        return {};
    }

    QtFrontEnd& m_owner;
    const Canvas* m_canvas = nullptr;
    int m_canvas_width = 0, m_canvas_height = 0;
    int m_wheel = 0;
    QList<QRgb> m_colors;
    Rect m_bar{};
    std::uint8_t m_mask = 0;
    bool m_bar_hidden = false;
    QTimer m_blink;
    QImage m_colour_buffer; // reused by device_pixels
};

std::vector<int> key_codes(int qt_key, const QString& text) {
    // Keys without a character: their keyboard codes, delivered after a 0.
    switch (qt_key) {
    case Qt::Key_Home:
        return {0, 71};
    case Qt::Key_End:
        return {0, 79};
    case Qt::Key_Up:
        return {0, 72};
    case Qt::Key_Down:
        return {0, 80};
    case Qt::Key_Left:
        return {0, 75};
    case Qt::Key_Right:
        return {0, 77};
    case Qt::Key_PageUp:
        return {0, 73};
    case Qt::Key_PageDown:
        return {0, 81};
    case Qt::Key_Insert:
        return {0, 82};
    case Qt::Key_Delete:
        return {0, 83};
    case Qt::Key_Backtab:
        return {0, 15};
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return {13};
    case Qt::Key_Backspace:
        return {8};
    case Qt::Key_Escape:
        return {27};
    case Qt::Key_Tab:
        return {9};
    default:
        break;
    }
    if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F10) return {0, 59 + (qt_key - Qt::Key_F1)};
    if (qt_key >= Qt::Key_F11 && qt_key <= Qt::Key_F35) return {};

    // Everything else by the text it types, so Shift and the keyboard layout count:
    // every character, so that a name can be typed in any script.
    std::vector<int> codes;
    for (const char32_t c : text.toUcs4()) {
        if (c != 0) codes.push_back(text_key(c));
    }
    return codes;
}

QString text_of(std::string_view text) {
    // Typed names are Latin-1, chosen ones UTF-8; valid UTF-8 is taken as such.
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    if (!utf8.hasError()) return decoded;
    return QString::fromLatin1(bytes);
}

std::string box_pattern(std::string_view pattern) {
    constexpr std::string_view any_extension = ".*";
    if (pattern.size() < any_extension.size() ||
        pattern.substr(pattern.size() - any_extension.size()) != any_extension)
        return std::string(pattern);
    const std::string_view stem = pattern.substr(0, pattern.size() - any_extension.size());
    if (stem.empty()) return std::string(pattern);
    if (stem.back() == '*') return std::string(stem);
    // "abc.*" matched "abc" itself where the patterns come from.
    return std::string(stem) + " " + std::string(pattern);
}

QString box_name_filters(const std::vector<FileFilter>& filters) {
    QStringList entries;
    for (const FileFilter& f : filters) {
        // Names typed in the window are UTF-8, as every text of the program.
        entries << QString::fromUtf8(f.description) + QStringLiteral(" (") +
                       QString::fromUtf8(box_pattern(f.pattern)) + QStringLiteral(")");
    }
    if (entries.isEmpty()) entries << QStringLiteral("All Files (*)");
    return entries.join(QStringLiteral(";;"));
}

QtFrontEnd::QtFrontEnd() : m_widget(std::make_unique<CanvasWidget>(*this)) {}

QtFrontEnd::~QtFrontEnd() = default;

QWidget* QtFrontEnd::widget() {
    return m_widget.get();
}

bool QtFrontEnd::close_requested() {
    if (m_closed || m_holding) {
        m_closed = true;
        return true;
    }
    if (m_box_open) {
        m_box_closed = true;
        return false;
    }
    // One close waiting is enough; more clicks on the close button say nothing new.
    if (std::find(m_keys.begin(), m_keys.end(), close_code) == m_keys.end())
        m_keys.push_back(close_code);
    return false;
}

void QtFrontEnd::set_title(std::string_view title) {
    m_widget->setWindowTitle(text_of(title));
}

void QtFrontEnd::copy_to_clipboard(std::string_view text) {
    QGuiApplication::clipboard()->setText(text_of(text));
}

void QtFrontEnd::clear_queue() {
    m_keys.clear();
    m_clicks.clear();
    m_drops.clear();
    m_wheel_points.clear();
    m_wheels_waiting = 0;
}

void QtFrontEnd::clicked(CanvasPoint where) {
    m_keys.push_back(0);
    m_keys.push_back(KEY_CLICK);
    m_clicks.push_back(where);
}

void QtFrontEnd::wheel(int code, std::optional<CanvasPoint> where) {
    // A spun wheel sends notches faster than a long spectrum redraws; those that
    // come while three still wait are dropped, so the zoom stops with the wheel.
    if (m_wheels_waiting >= 3) return;
    ++m_wheels_waiting;
    m_wheel_points.push_back(where);
    m_keys.push_back(0);
    m_keys.push_back(code);
}

void QtFrontEnd::dropped(std::string path) {
    m_keys.push_back(0);
    m_keys.push_back(KEY_DROP);
    m_drops.push_back(std::move(path));
}

void QtFrontEnd::key_pressed(const QKeyEvent& event) {
    if (event.modifiers() & Qt::ControlModifier) {
        // The window's own shortcuts, whatever text the platform gives them.
        switch (event.key()) {
        case Qt::Key_Q:
            if (!event.isAutoRepeat()) close_requested();
            return;
        case Qt::Key_C:
            if (!event.isAutoRepeat()) m_keys.push_back(3);
            return;
        case Qt::Key_P:
            if (!event.isAutoRepeat()) m_keys.push_back(16);
            return;
        default:
            break;
        }
    }
    // A held key repeats faster than a slow redraw can follow; repeats that arrive
    // while earlier keys still wait are dropped, so the display stops moving as
    // soon as the key is let go.
    if (event.isAutoRepeat() && !m_keys.empty()) return;
    for (int code : key_codes(event.key(), event.text()))
        m_keys.push_back(code);
}

int QtFrontEnd::wait_key() {
    // A window that was never sized (nothing drawn yet) is shown anyway, so that
    // the operator is never asked for a key by an invisible program.
    if (!m_closed && !m_widget->isVisible()) m_widget->show();
    while (true) {
        if (m_closed) throw RunEnded{0};
        if (!m_keys.empty()) break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const int code = m_keys.front();
    m_keys.pop_front();
    if (code == close_code) {
        m_after_zero = false;
        throw CloseRequested{};
    }
    // The details of an event go with its second code; a character 0xF3 typed
    // on the keyboard comes without the 0 and is no click.
    if (m_after_zero && code == KEY_CLICK && !m_clicks.empty()) {
        m_click = m_clicks.front();
        m_clicks.pop_front();
    } else if (m_after_zero && code == KEY_DROP && !m_drops.empty()) {
        m_drop = std::move(m_drops.front());
        m_drops.pop_front();
    } else if (m_after_zero && (code == KEY_WHEEL_UP || code == KEY_WHEEL_DOWN) &&
               m_wheels_waiting > 0) {
        --m_wheels_waiting;
        m_wheel_at = m_wheel_points.front();
        m_wheel_points.pop_front();
    }
    m_after_zero = !m_after_zero && (code == 0 || code == 224);
    return code;
}

std::optional<std::string> QtFrontEnd::open_file_box(const std::vector<FileFilter>& filters) {
    if (m_closed) throw RunEnded{0};
    // A close given before the box was asked for still counts as one at the box.
    if (std::find(m_keys.begin(), m_keys.end(), close_code) != m_keys.end()) {
        clear_queue();
        throw CloseRequested{};
    }
    // The descriptions already name their patterns; the box shows them unchanged and
    // matches the patterns adapted to this file system. The box is not modal: a
    // modal one would block the main window's close, and the operator could then
    // leave only by choosing a file.
    QFileDialog box(m_widget.get(), QStringLiteral("Select File"), QString(),
                    box_name_filters(filters));
    box.setOption(QFileDialog::HideNameFilterDetails);
    box.setFileMode(QFileDialog::ExistingFile);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setWindowModality(Qt::NonModal);
    // Sized for its columns, not by the main window: at Qt's own widths
    // names, sizes, types and dates are cut in a window of 1024 pixels.
    const QFontMetrics metrics(box.font());
    const int em = metrics.averageCharWidth();
    const int columns[] = {
        FILE_BOX_NAME_CHARACTERS * em,
        metrics.horizontalAdvance(QStringLiteral("1023.99 KiB")) + 2 * em,
        metrics.horizontalAdvance(QStringLiteral("plain text document")) + 2 * em,
        metrics.horizontalAdvance(QLocale().toString(QDateTime(QDate(2026, 12, 31), QTime(23, 59)),
                                                     QLocale::ShortFormat)) +
            4 * em,
    };
    int list_width = 0;
    if (auto* list = box.findChild<QTreeView*>()) {
        for (int c = 0; c < 4; ++c) {
            list->header()->resizeSection(c, columns[c]);
            list->header()->setSectionResizeMode(c, QHeaderView::Interactive);
        }
        list->header()->setStretchLastSection(false);
    }
    for (int w : columns)
        list_width += w;
    const QScreen* screen =
        m_widget->screen() ? m_widget->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : QSize();
    const QSize least = box.minimumSizeHint();
    // The side bar, the frames and the scroll bar: about 24 characters.
    const BoxSize size =
        file_box_size({list_width + 24 * em, FILE_BOX_LINES * metrics.lineSpacing()},
                      {room.width(), room.height()}, {least.width(), least.height()});
    box.resize(size.width, size.height);
    m_box_open = true;
    m_box_closed = false;
    struct BoxDown {
        bool& open;
        ~BoxDown() { open = false; }
    } box_down{m_box_open};
    box.show();
    box.raise();
    box.activateWindow();
    while (box.isVisible() && !m_box_closed && !m_closed)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Keys given to the main window while the box was up answered nothing.
    clear_queue();
    if (m_closed) throw RunEnded{0};
    if (m_box_closed) {
        box.hide();
        throw CloseRequested{};
    }
    m_widget->activateWindow();
    m_widget->setFocus();
    const QStringList chosen = box.selectedFiles();
    if (box.result() != QDialog::Accepted || chosen.isEmpty() || chosen.front().isEmpty())
        return std::nullopt;
    return QFile::encodeName(chosen.front()).toStdString();
}

void QtFrontEnd::show(const Canvas& canvas, const Rect& changed) {
    m_widget->set_canvas(&canvas);
    if (canvas.width() != m_widget->canvas_width() || canvas.height() != m_widget->canvas_height())
        m_widget->set_canvas_size(canvas.width(), canvas.height());
    if (changed.empty()) return;
    m_widget->update(m_widget->widget_rect(changed));
    // Long work (loading, PEAKFINDER) asks for no key while it runs; paint now so
    // that its progress lines appear while it works, not after it.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtFrontEnd::resized(int width, int height) {
    CanvasWidget& w = *m_widget;
    const QScreen* screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
    const double ratio = screen ? screen->devicePixelRatio() : 1.0;
    // The first picture opens at the screen's own scale; later sizes (the height
    // toggle) keep the scale the operator has made the window show.
    int scale = m_sized ? w.placement().scale : opening_scale(ratio);
    m_sized = true;
    w.set_canvas_size(width, height);
    w.setMinimumSize(static_cast<int>(std::ceil(width / ratio)),
                     static_cast<int>(std::ceil(height / ratio)));
    if (!(w.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        const QSize room = screen ? screen->availableGeometry().size() : QSize();
        auto logical = [&](int s) {
            return QSize(static_cast<int>(std::ceil(width * s / ratio)),
                         static_cast<int>(std::ceil(height * s / ratio)));
        };
        while (scale > 1 && room.isValid() &&
               (logical(scale).width() > room.width() || logical(scale).height() > room.height()))
            --scale;
        w.resize(logical(scale));
    }
    if (!m_closed && !w.isVisible()) {
        w.show();
        w.activateWindow();
    }
    w.update();
}

void QtFrontEnd::text_cursor(const Rect& bar, std::uint8_t mask) {
    m_widget->set_text_cursor(bar, mask);
}

void QtFrontEnd::blink_text_cursor() {
    m_widget->blink();
}

void QtFrontEnd::close() {
    m_closed = true;
    m_widget->set_text_cursor(Rect{}, 0);
    m_widget->set_canvas(nullptr);
    m_widget->hide();
}

void QtFrontEnd::hold() {
    if (m_closed) return;
    m_holding = true;
    if (!m_widget->isVisible()) m_widget->show();
    m_widget->update();
    while (!m_closed && m_widget->isVisible()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        clear_queue(); // the program has stopped; keys mean nothing now
    }
    m_widget->set_canvas(nullptr);
}

} // namespace korax
