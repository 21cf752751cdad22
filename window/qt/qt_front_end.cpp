// The Qt window. The canvas bytes are wrapped, not copied, in an indexed QImage at
// paint time, so a paint always shows the newest canvas however many changes were
// announced since the last one; Qt merges the announced rectangles into one paint.
#include "window/qt/qt_front_end.h"

#include "window/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace korax {

class CanvasWidget final : public QWidget {
  public:
    explicit CanvasWidget(QtFrontEnd& owner)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
          m_owner(owner) {
        setWindowTitle(QStringLiteral("KORAX"));
        // Every pixel is painted from the canvas; no background fill first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::StrongFocus);
        for (const Rgb& c : korax::palette())
            m_colors.push_back(qRgb(c.r, c.g, c.b));
        m_blink.callOnTimeout(this, [this] { blink(); });
    }

    void set_canvas(const Canvas* canvas) { m_canvas = canvas; }

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
        if (!m_canvas || m_canvas->width() <= 0 || m_canvas->height() <= 0) {
            painter.fillRect(wanted, QColor(m_colors[0]));
            return;
        }
        const int width = m_canvas->width();
        const int height = m_canvas->height();
        QImage image(m_canvas->pixels().data(), width, height, width, QImage::Format_Indexed8);
        image.setColorTable(m_colors);
        const QRect source = wanted & image.rect();
        if (!source.isEmpty()) painter.drawImage(source.topLeft(), image, source);
        // A widget briefly larger than the canvas (between a resize and the next
        // picture) shows black beyond it.
        const QRegion rest = QRegion(wanted) - QRegion(image.rect());
        for (const QRect& r : rest)
            painter.fillRect(r, QColor(m_colors[0]));
        if (m_bar_hidden) paint_without_bar(painter, wanted);
    }

    void keyPressEvent(QKeyEvent* event) override { m_owner.key_pressed(*event); }

    void closeEvent(QCloseEvent* event) override {
        m_owner.close_requested();
        event->accept();
    }

    // Tab belongs to the program, not to focus changes between widgets.
    bool focusNextPrevChild(bool) override { return false; }

  private:
    QRect bar_rect() const {
        return QRect(m_bar.x1, m_bar.y1, m_bar.x2 - m_bar.x1 + 1, m_bar.y2 - m_bar.y1 + 1);
    }

    void repaint_bar() {
        if (!m_bar.empty()) update(bar_rect());
    }

    void paint_without_bar(QPainter& painter, const QRect& wanted) {
        const QRect area = bar_rect() & wanted & QRect(0, 0, m_canvas->width(), m_canvas->height());
        if (area.isEmpty()) return;
        QImage off(area.size(), QImage::Format_Indexed8);
        off.setColorTable(m_colors);
        for (int y = 0; y < area.height(); ++y) {
            uchar* line = off.scanLine(y);
            for (int x = 0; x < area.width(); ++x)
                line[x] = static_cast<uchar>(
                    (m_canvas->pixel(area.x() + x, area.y() + y) ^ m_mask) & 15);
        }
        painter.drawImage(area.topLeft(), off);
    }

    QtFrontEnd& m_owner;
    const Canvas* m_canvas = nullptr;
    QList<QRgb> m_colors;
    Rect m_bar{};
    std::uint8_t m_mask = 0;
    bool m_bar_hidden = false;
    QTimer m_blink;
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

void QtFrontEnd::key_pressed(const QKeyEvent& event) {
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
    return code;
}

std::optional<std::string> QtFrontEnd::open_file_box(const std::vector<FileFilter>& filters) {
    if (m_closed) throw RunEnded{0};
    // The descriptions already name their patterns; the box shows them unchanged and
    // matches the patterns adapted to this file system.
    const QString chosen = QFileDialog::getOpenFileName(
        m_widget.get(), QStringLiteral("Select File"), QString(), box_name_filters(filters),
        nullptr, QFileDialog::HideNameFilterDetails);
    if (m_closed) throw RunEnded{0};
    m_widget->activateWindow();
    m_widget->setFocus();
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen).toStdString();
}

void QtFrontEnd::show(const Canvas& canvas, const Rect& changed) {
    m_widget->set_canvas(&canvas);
    if (changed.empty()) return;
    m_widget->update(
        QRect(changed.x1, changed.y1, changed.x2 - changed.x1 + 1, changed.y2 - changed.y1 + 1));
    // Long work (loading, PEAKFINDER) asks for no key while it runs; paint now so
    // that its progress lines appear while it works, not after it.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtFrontEnd::resized(int width, int height) {
    m_widget->setFixedSize(width, height);
    if (!m_closed && !m_widget->isVisible()) {
        m_widget->show();
        m_widget->activateWindow();
    }
    m_widget->update();
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
    if (!m_widget->isVisible()) m_widget->show();
    m_widget->update();
    while (!m_closed && m_widget->isVisible()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_keys.clear(); // the program has stopped; keys mean nothing now
    }
    m_widget->set_canvas(nullptr);
}

} // namespace korax
