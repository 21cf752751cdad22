// The two-column ASCII reader: a comment line, then frequency-intensity pairs,
// rescaled to integers between -10000 and 10000. The file is read once, in
// blocks, and only as far as the pairs taken; the intensities wait as float bit patterns in INTENS
// until the extremes of all pairs are known, which gives exactly the result of a counting pass
// followed by a conversion pass.
#include "input/ascii.h"

#include "base/format.h"
#include "input/header_line.h"
#include "input/pairs.h"
#include "spectrum/store.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <type_traits>

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

// Character classes by table: one load instead of a chain of comparisons, on
// every character between the numbers.
enum : unsigned char { GAP = 1, ENDS_TOKEN = 2 };
constexpr std::array<unsigned char, 256> CLASSES = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned char c : {' ', '\t', '\r'})
        t[c] = GAP | ENDS_TOKEN;
    for (unsigned char c : {',', '\n'})
        t[c] = ENDS_TOKEN;
    return t;
}();
bool is_gap(char c) {
    return CLASSES[static_cast<unsigned char>(c)] & GAP;
}
bool ends_token(char c) {
    return CLASSES[static_cast<unsigned char>(c)] & ENDS_TOKEN;
}
bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// A number token taken apart in one scan: mantissa times ten to the power.
// The mantissa is exact while there are at most 19 significant digits.
struct Decimal {
    bool negative = false;
    std::uint64_t mantissa = 0;
    long long significant = 0;
    long long power = 0;
    const char* exponent_letter = nullptr; // E, e, D or d when there is one
};

// Scans the form [sign] digits [. digits] [exponent letter [sign] digits] with
// at least one mantissa digit, starting at p; p is left after what was scanned.
// The caller checks that a delimiter follows.
[[gnu::always_inline]] inline bool scan_number(const char*& p, const char* end, Decimal& d) {
    if (p != end) {
        // Without a branch: the signs of intensities follow no pattern.
        d.negative = *p == '-';
        p += d.negative | (*p == '+');
    }
    const char* first = p;
    while (p != end && *p == '0')
        ++p;
    const char* significant_start = p;
    std::uint64_t m = 0;
    while (p != end && is_digit(*p))
        m = m * 10 + static_cast<std::uint64_t>(*p++ - '0');
    long long significant = p - significant_start;
    bool any = p != first;
    if (p != end && *p == '.') {
        const char* fraction = ++p;
        if (significant == 0)
            while (p != end && *p == '0')
                ++p;
        const char* digits = p;
        while (p != end && is_digit(*p))
            m = m * 10 + static_cast<std::uint64_t>(*p++ - '0');
        significant += p - digits;
        d.power = -(p - fraction);
        any = any || p != fraction;
    }
    if (!any) return false;
    d.mantissa = m;
    d.significant = significant;
    // Lower case by one bit: e, E, d and D.
    if (p == end || ((*p | 0x20) != 'e' && (*p | 0x20) != 'd')) return true;
    d.exponent_letter = p++;
    bool negative_exponent = false;
    if (p != end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    const char* digits = p;
    long long e = 0;
    while (p != end && is_digit(*p))
        e = std::min(e * 10 + (*p++ - '0'), 1000000LL);
    if (p == digits) return false;
    d.power += negative_exponent ? -e : e;
    return true;
}

constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of a token outside the fast path below, through from_chars. Kept
// out of line: it is rare, and its frame would otherwise weigh on every token.
template <class T>
[[gnu::noinline]] bool value_by_from_chars(const Decimal& d, std::string_view token, T& out) {
    std::string_view digits = token[0] == '+' ? token.substr(1) : token;
    // from_chars knows no D exponent: such a token is read from a copy with E.
    std::string with_e;
    if (d.exponent_letter && (*d.exponent_letter == 'd' || *d.exponent_letter == 'D')) {
        with_e.assign(digits);
        with_e[static_cast<std::size_t>(d.exponent_letter - digits.data())] = 'e';
        digits = with_e;
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    if (ec == std::errc::result_out_of_range) {
        // The value is about 0.1 to 1 times ten to (significant + power).
        if (d.significant + d.power > 0) return false;
        out = d.negative ? -T(0) : T(0);
        return true;
    }
    return ec == std::errc() && end == digits.data() + digits.size();
}

// The value of mantissa m times ten to the power into `out`, when both are
// exact as doubles (m up to 2^53, |power| up to 22): one correctly rounded
// multiplication or division then gives the correctly rounded double, as
// from_chars would. Rounding that double again to a float gives the correctly
// rounded float too, except when it lies exactly halfway between two floats
// (the decimal may lie just beside that point). false: not done, from_chars
// must decide.
template <class T>
[[gnu::always_inline]] inline bool exact_value(bool negative, std::uint64_t m, long long power,
                                               T& out) {
    if (m > (std::uint64_t(1) << 53) || power > 22 || power < -22) return false;
    const double mantissa = static_cast<double>(m);
    const double scale = POW10[static_cast<std::size_t>(power < 0 ? -power : power)];
    const double q = power < 0 ? mantissa / scale : mantissa * scale;
    if constexpr (std::is_same_v<T, double>) {
        out = negative ? -q : q;
    } else {
        // q lies between 1e-22 and 9e37, in the normal range of floats, whose
        // rounding drops the low 29 bits of the double's fraction.
        constexpr std::uint64_t dropped = (std::uint64_t(1) << 29) - 1;
        if ((std::bit_cast<std::uint64_t>(q) & dropped) == dropped / 2 + 1) return false;
        const auto f = static_cast<float>(q);
        out = negative ? -f : f;
    }
    return true;
}

// The value of a scanned token into `out`; too small for the type reads as 0,
// too large is false. (A result through std::optional cost a store-forwarding
// stall per number.)
template <class T>
[[gnu::always_inline]] inline bool value_of(const Decimal& d, std::string_view token, T& out) {
    if (d.mantissa == 0 && d.significant == 0) {
        out = d.negative ? -T(0) : T(0);
        return true;
    }
    if (d.significant <= 19 && exact_value(d.negative, d.mantissa, d.power, out)) return true;
    return value_by_from_chars<T>(d, token, out);
}

// The frequency must also be readable as a 32-bit float, as the intensity is:
// from 2^128 - 2^103 on, a decimal rounds to infinity there.
bool fits_float(double v) {
    return std::fabs(v) < 0x1p128 - 0x1p103;
}

// The common pair alone: two numbers of at most 19 digits with exponents of at
// most 3 digits (as most spectra are written), blanks or tabs and at most one
// comma between them, the second on the same line. The text must end with a
// line end: every loop here stops at one, and every step past a character is
// past one that is not, so nothing needs to look for the end of the text. The
// value is that of value_of, through exact_value.
// Anything else returns nullptr, and the pair is read again the general way
// from its start, which gives the same result where both apply.
constexpr std::ptrdiff_t FAST_DIGITS = 19;

template <class T> [[gnu::always_inline]] inline const char* fast_number(const char* p, T& out) {
    const bool negative = *p == '-';
    p += negative | (*p == '+');
    std::uint64_t m = 0; // wraps past 19 digits, when it is not used
    const char* const start = p;
    while (is_digit(*p))
        m = m * 10 + static_cast<std::uint64_t>(*p++ - '0');
    std::ptrdiff_t digits = p - start;
    int power = 0;
    if (*p == '.') {
        const char* const fraction = ++p;
        while (is_digit(*p))
            m = m * 10 + static_cast<std::uint64_t>(*p++ - '0');
        power = -static_cast<int>(std::min<std::ptrdiff_t>(p - fraction, 1000));
        digits += p - fraction;
    }
    if (digits == 0 || digits > FAST_DIGITS) return nullptr;
    if ((*p | 0x20) == 'e' || (*p | 0x20) == 'd') {
        ++p;
        const bool negative_exponent = *p == '-';
        p += negative_exponent | (*p == '+');
        unsigned e = 0; // wraps past 3 digits, when it is not used
        const char* const exponent = p;
        while (is_digit(*p))
            e = e * 10 + static_cast<unsigned>(*p++ - '0');
        if (p == exponent || p - exponent > 3) return nullptr;
        power += negative_exponent ? -static_cast<int>(e) : static_cast<int>(e);
    }
    if (!ends_token(*p)) return nullptr;
    if (m == 0) {
        out = negative ? -T(0) : T(0);
        return p;
    }
    if (!exact_value(negative, m, power, out)) return nullptr;
    return p;
}

[[gnu::always_inline]] inline const char* fast_gaps(const char* p) {
    while (is_gap(*p))
        ++p;
    return p;
}

// The pair at p (which is neither a blank nor a line end) up to the end of its
// second number, or nullptr.
[[gnu::always_inline]] inline const char* fast_pair(const char* p, NumberPair& pair) {
    p = fast_number(p, pair.x);
    if (!p || !fits_float(pair.x)) return nullptr;
    p = fast_gaps(p);
    if (*p == ',') p = fast_gaps(p + 1);
    if (*p == '\n') return nullptr;
    return fast_number(p, pair.y);
}

template <class T> std::optional<T> parse_token(std::string_view token) {
    const char* p = token.data();
    const char* end = p + token.size();
    Decimal d;
    T value{};
    if (!scan_number(p, end, d) || p != end || !value_of<T>(d, token, value)) return std::nullopt;
    return value;
}

} // namespace

std::optional<double> parse_real(std::string_view token) {
    const auto v = parse_token<double>(token);
    if (!v || !fits_float(*v)) return std::nullopt;
    return v;
}

std::optional<float> parse_real32(std::string_view token) {
    return parse_token<float>(token);
}

inline void PairScanner::skip_line() {
    while (m_p != m_end && *m_p != '\n')
        ++m_p;
    if (m_p != m_end) ++m_p;
}

inline void PairScanner::skip_blanks() {
    while (m_p != m_end && is_gap(*m_p))
        ++m_p;
}

template <class T> [[gnu::always_inline]] inline bool PairScanner::number(T& out) {
    const char* start = m_p;
    Decimal d;
    if (!scan_number(m_p, m_end, d) || (m_p != m_end && !ends_token(*m_p))) return false;
    return value_of<T>(d, {start, static_cast<std::size_t>(m_p - start)}, out);
}

bool PairScanner::read(NumberPair& pair) {
    for (;;) {
        skip_blanks();
        m_resume = m_end;
        if (m_p == m_end) return false;
        if (*m_p == '\n') {
            ++m_p;
            continue;
        }
        const char* pair_start = m_p;
        if (m_ends_line) {
            if (const char* after = fast_pair(m_p, pair)) {
                m_p = after;
                if (*m_p == '\n') {
                    ++m_p;
                } else if (m_p[0] == '\r' && m_p[1] == '\n') {
                    m_p += 2;
                } else {
                    skip_line();
                }
                return true;
            }
        }
        if (!number(pair.x) || !fits_float(pair.x)) {
            skip_line();
            continue;
        }
        skip_blanks();
        if (m_p != m_end && *m_p == ',') {
            ++m_p;
            skip_blanks();
        }
        // The second number may stand on a later line.
        while (m_p != m_end && *m_p == '\n') {
            ++m_p;
            skip_blanks();
        }
        if (m_p == m_end) {
            m_resume = pair_start;
            return false;
        }
        const bool y = number(pair.y);
        // An unreadable second number costs the whole pair, and the line it
        // stands on; the next pair starts on the line after it.
        skip_line();
        if (y) return true;
    }
}

std::optional<NumberPair> PairScanner::next() {
    NumberPair pair;
    if (read(pair)) return pair;
    return std::nullopt;
}

namespace {

// A regular file read in blocks and offered as whole lines: reading stops where
// the reader stops, and a file that shrinks meanwhile merely ends early (a
// mapping would raise SIGBUS on the lost pages).
class LineBlocks {
  public:
    enum class Fill { Lines, End, Overlong, Failed };

    explicit LineBlocks(int fd) : m_fd(fd), m_buffer(kept_buffer()) {
        if (m_buffer.size() < first_size(fd)) m_buffer.resize(first_size(fd));
    }
    ~LineBlocks() {
        if (m_fd >= 0) ::close(m_fd);
        // What an overlong line grew it to is not kept for the next file.
        if (m_buffer.size() > FIRST_SIZE) {
            m_buffer.resize(FIRST_SIZE);
            m_buffer.shrink_to_fit();
        }
    }
    LineBlocks(const LineBlocks&) = delete;
    LineBlocks& operator=(const LineBlocks&) = delete;

    // What is buffered and not yet taken, up to and including its last line end
    // (all of it once the file has ended).
    std::string_view lines() const { return {m_buffer.data() + m_begin, m_lines_end - m_begin}; }
    // Everything buffered and not yet taken, a partial last line included.
    std::string_view buffered() const { return {m_buffer.data() + m_begin, m_end - m_begin}; }
    // Takes the first `count` bytes of lines().
    void take(std::size_t count) { m_begin += count; }

    // Reads until lines() holds a line end more, or the rest of the file. End:
    // nothing more to offer. Overlong: what is left untaken fills MAX_SIZE
    // without a line end after it (see skip_first_line).
    Fill fill() {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_lines_end -= m_begin;
        m_begin = 0;
        for (std::size_t search = m_lines_end;;) {
            // The last line end read, so that one fill offers a whole block.
            if (const void* nl = ::memrchr(m_buffer.data() + search, '\n', m_end - search)) {
                m_lines_end =
                    static_cast<std::size_t>(static_cast<const char*>(nl) - m_buffer.data()) + 1;
                return Fill::Lines;
            }
            search = m_end;
            if (m_at_end) {
                if (m_lines_end == m_end) return Fill::End;
                m_lines_end = m_end;
                return Fill::Lines;
            }
            if (m_end == m_buffer.size()) {
                if (m_buffer.size() >= MAX_SIZE) return Fill::Overlong;
                m_buffer.resize(m_buffer.size() * 2);
            }
            if (!read_some()) return Fill::Failed;
        }
    }

    // Drops the first line of what is left, reading past its end when that is
    // not buffered. false: a read failed.
    bool skip_first_line() {
        for (;;) {
            if (const void* nl = std::memchr(m_buffer.data() + m_begin, '\n', m_end - m_begin)) {
                m_begin =
                    static_cast<std::size_t>(static_cast<const char*>(nl) - m_buffer.data()) + 1;
                m_lines_end = std::max(m_lines_end, m_begin);
                return true;
            }
            m_begin = m_end = m_lines_end = 0;
            if (m_at_end) return true;
            if (!read_some()) return false;
        }
    }

  private:
    // A few milliseconds of scanning per block; lines longer than MAX_SIZE (or
    // a pair whose numbers stand further apart) are skipped like unreadable ones.
    static constexpr std::size_t FIRST_SIZE = std::size_t(4) << 20;
    static constexpr std::size_t MAX_SIZE = std::size_t(64) << 20;

    // A small file needs no more than its size (and one byte to see its end).
    static std::size_t first_size(int fd) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size < 0) return FIRST_SIZE;
        return std::clamp(static_cast<std::size_t>(st.st_size) + 1, std::size_t(4096), FIRST_SIZE);
    }

    bool read_some() {
        for (;;) {
            const ssize_t got = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
            if (got > 0) {
                m_end += static_cast<std::size_t>(got);
                return true;
            }
            if (got == 0) {
                m_at_end = true;
                return true;
            }
            if (errno != EINTR) return false;
        }
    }

    // The buffer is kept from one file to the next: a fresh one of a few
    // megabytes costs a page fault every 4 KiB, as much time as the reading
    // of a file of a few hundred thousand points.
    static std::vector<char>& kept_buffer() {
        thread_local std::vector<char> buffer;
        return buffer;
    }

    int m_fd;
    std::vector<char>& m_buffer;
    std::size_t m_begin = 0, m_lines_end = 0, m_end = 0;
    bool m_at_end = false;
};

} // namespace

namespace {

// Whether every intensity (float bit patterns, as they wait in INTENS) is a
// whole number within 16 bits.
bool whole_16_bit(std::span<const std::int32_t> bits) {
    for (const std::int32_t b : bits) {
        const float y = std::bit_cast<float>(b);
        if (!(y >= -32768.0f && y <= 32767.0f) || y != std::trunc(y)) return false;
    }
    return true;
}

} // namespace

AsciiSpectrum decode_ascii_spectrum(int fd, std::span<double> freq_out,
                                    std::span<std::int32_t> intens_out, SpectrumHeader& h) {
    AsciiSpectrum r;
    LineBlocks file(fd);
    std::optional<CarriedHeader> carried;

    // Whatever the PELMO attempt decoded from the first bytes of a text file
    // is not a recording parameter.
    h.clear();
    LineBlocks::Fill fill = file.fill();
    if (fill == LineBlocks::Fill::Failed) {
        r.failure = "The file could not be read";
        return r;
    }
    if (fill == LineBlocks::Fill::End) {
        r.failure = "Problem with the comment";
        return r;
    }
    if (fill == LineBlocks::Fill::Overlong) {
        set_field(h.COMENT, file.buffered().substr(0, 72));
        if (!file.skip_first_line()) {
            r.failure = "The file could not be read";
            return r;
        }
    } else {
        const std::string_view text = file.lines();
        const std::size_t eol = text.find('\n');
        std::string_view comment = text.substr(0, eol);
        if (!comment.empty() && comment.back() == '\r') comment.remove_suffix(1);
        set_field(h.COMENT, comment.substr(0, 72));
        carried = carried_header(comment);
        file.take(eol == std::string_view::npos ? text.size() : eol + 1);
    }

    assert(freq_out.size() == intens_out.size() && freq_out.size() >= 2);
    const auto capacity =
        static_cast<std::int32_t>(std::min<std::size_t>(MAXPTS, freq_out.size() - 1));
    float ymin = 1.0e20f, ymax = -1.0e20f;
    std::int32_t n = 0;
    double* freq = freq_out.data();
    std::int32_t* intens = intens_out.data();
    while (n < capacity) {
        const std::string_view text = file.lines();
        PairScanner pairs(text);
        while (n < capacity) {
            NumberPair p;
            if (!pairs.read(p)) {
                file.take(static_cast<std::size_t>(pairs.resume_point() - text.data()));
                break;
            }
            ++n;
            freq[n] = p.x;
            intens[n] = std::bit_cast<std::int32_t>(p.y);
            if (p.y > ymax) ymax = p.y;
            if (p.y < ymin) ymin = p.y;
        }
        if (n == capacity) break;
        fill = file.fill();
        if (fill == LineBlocks::Fill::End) break;
        if (fill == LineBlocks::Fill::Failed ||
            (fill == LineBlocks::Fill::Overlong && !file.skip_first_line())) {
            r.failure = "The file could not be read";
            return r;
        }
    }
    r.counter = n + 1; // the pair counter as the report shows it
    r.npts = n;
    r.ymin = ymin;
    r.ymax = ymax;
    // Checked for files of every size: with equal intensities the scale below
    // would be infinite.
    if (ymax == ymin) {
        r.failure = "Zero range of Y-values";
        return r;
    }
    if (n < MAXPTS && n <= 3) {
        r.failure = "Too few X,Y pairs";
        return r;
    }

    // A text that carries a PELMO header and holds that file's own 16-bit
    // intensities keeps them: rescaling would lose the values the header
    // belongs with. Every other text is rescaled to -10000..10000.
    if (carried && whole_16_bit(std::span<const std::int32_t>(intens + 1, std::size_t(n)))) {
        r.rescaled = false;
        r.iymin = static_cast<std::int32_t>(ymin);
        r.iymax = static_cast<std::int32_t>(ymax);
    }
    // Two plain loops rather than one with every check: the compiler turns
    // them into vector instructions.
    const float scale = r.rescaled ? 20000.0f / (ymax - ymin) : 1.0f;
    const float offset = r.rescaled ? ymin : 0.0f, shift = r.rescaled ? -10000.0f : 0.0f;
    const float low = static_cast<float>(r.iymin), high = static_cast<float>(r.iymax);
    for (std::int32_t i = 1; i <= n; ++i) {
        float t = (std::bit_cast<float>(intens[i]) - offset) * scale + shift;
        // Only a range that overflows the float type can leave these bounds
        // (NaN goes to the lower one); keep the conversion to an integer
        // defined even then.
        t = t >= low ? t : low;
        t = t <= high ? t : high;
        intens[i] = static_cast<std::int32_t>(t);
    }
    bool decreasing = false;
    for (std::int32_t i = 2; i <= n; ++i)
        decreasing |= freq[i] < freq[i - 1];
    if (decreasing) {
        r.failure = "Frequencies not continuously increasing";
        return r;
    }

    r.fstart = freq[1];
    r.fend = freq[n];
    r.fstep = (r.fend - r.fstart) / static_cast<double>(n - 1);
    r.axis_known = true;
    if (r.fstart == r.fend) {
        r.failure = "Zero frequency range";
        return r;
    }

    if (carried) {
        // The recording parameters are the file's own; the axis too, when the
        // points lie on it as the PELMO reader builds it (end and step as
        // stored, which the first and last frequency alone need not give back).
        h = carried->header;
        r.header_carried = true;
        const CarriedHeader& c = *carried;
        const bool axis_usable =
            std::isfinite(c.fend) && std::isfinite(c.fstep) && c.fstep > 0.0 && c.fend > c.fstart;
        if (axis_usable && c.points == n && c.fstart == r.fstart &&
            c.fstart + static_cast<double>(n - 1) * c.fstep == r.fend) {
            r.fend = c.fend;
            r.fstep = c.fstep;
            r.axis_carried = true;
        }
        return r;
    }
    h.PTSSEC = 51.0f;
    h.IDAY = 1;
    h.IMONTH = 1;
    h.IYEAR = 2000;
    set_field(h.SAMPLE, fmt_exp(static_cast<double>(ymax), 10, 3) + blanks(10));
    return r;
}

} // namespace korax
