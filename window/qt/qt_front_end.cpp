// The Qt window. The canvas bytes are wrapped, not copied, in an indexed QImage at
// paint time, so a paint always shows the newest canvas however many changes were
// announced since the last one; Qt merges the announced rectangles into one paint.
#include "window/qt/qt_front_end.h"

#include "window/window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStringDecoder>
#include <QWidget>

#include <algorithm>

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
    }

    void set_canvas(const Canvas* canvas) { m_canvas = canvas; }

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
    }

    void keyPressEvent(QKeyEvent* event) override { m_owner.key_pressed(*event); }

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
    QtFrontEnd& m_owner;
    const Canvas* m_canvas = nullptr;
    QList<QRgb> m_colors;
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

    // Everything else by the text it types, so Shift and the keyboard layout count.
    // Characters beyond Latin-1 cannot be shown in the window and are dropped.
    std::vector<int> codes;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u != 0 && u <= 0xFF) codes.push_back(static_cast<int>(u));
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
        // Names typed in the window are Latin-1, as every text of the program.
        entries << QString::fromLatin1(f.description) + QStringLiteral(" (") +
                       QString::fromLatin1(box_pattern(f.pattern)) + QStringLiteral(")");
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

void QtFrontEnd::key_pressed(const QKeyEvent& event) {
    if (event.key() == Qt::Key_Q && (event.modifiers() & Qt::ControlModifier)) {
        if (!event.isAutoRepeat()) close_requested();
        return;
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
    if (code == close_code) throw CloseRequested{};
    return code;
}

std::optional<std::string> QtFrontEnd::open_file_box(const std::vector<FileFilter>& filters) {
    if (m_closed) throw RunEnded{0};
    // A close given before the box was asked for still counts as one at the box.
    if (std::find(m_keys.begin(), m_keys.end(), close_code) != m_keys.end()) {
        m_keys.clear();
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
    m_keys.clear();
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

void QtFrontEnd::close() {
    m_closed = true;
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
        m_keys.clear(); // the program has stopped; keys mean nothing now
    }
    m_widget->set_canvas(nullptr);
}

} // namespace korax
