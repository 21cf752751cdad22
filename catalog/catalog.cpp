// Reading line catalogues by their fixed columns, and the frequency index and
// intensity maxima that let the overlay and the cursor keys work on millions of
// predictions without visiting them all.
#include "catalog/catalog.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

constexpr std::size_t BLOCK = 64;

// Column ranges, counted from 0.
constexpr std::size_t FREQ_AT = 0, FREQ_W = 13, UNC_AT = 13, UNC_W = 8, LGINT_AT = 21, LGINT_W = 8,
                      DOF_AT = 29, DOF_W = 2, ELO_AT = 31, ELO_W = 10, GUP_AT = 41, GUP_W = 3,
                      TAG_AT = 44, TAG_W = 7, FMT_AT = 51, FMT_W = 4, QN_AT = 55, LOWER_AT = 67,
                      LABEL_AT = 79;

std::string_view field(std::string_view line, std::size_t at, std::size_t width) {
    if (at >= line.size()) return {};
    std::string_view f = line.substr(at, width);
    while (!f.empty() && f.front() == ' ')
        f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ')
        f.remove_suffix(1);
    return f;
}

constexpr double POWERS_OF_TEN[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A blank field reads as 0, as a fixed-column reader of the writing programs
// would read it. The fixed-point numbers of catalogues (at most 15 digits) are
// read directly: both the digits and the power of ten are exact doubles, so
// their quotient is the correctly rounded value, as from_chars gives it, at a
// fraction of the cost. Anything else goes to from_chars.
std::optional<double> real_field(std::string_view f) {
    if (f.empty()) return 0.0;
    if (f.front() == '+') f.remove_prefix(1);
    const char* p = f.data();
    const char* const end = p + f.size();
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    std::uint64_t mantissa = 0;
    int digits = 0, decimals = 0;
    bool dot = false, plain = p < end;
    for (; p < end && plain; ++p) {
        if (*p >= '0' && *p <= '9') {
            mantissa = 10 * mantissa + static_cast<std::uint64_t>(*p - '0');
            ++digits;
            decimals += dot;
            plain = digits <= 15;
        } else if (*p == '.' && !dot) {
            dot = true;
        } else {
            plain = false;
        }
    }
    if (plain && digits > 0) {
        double v = static_cast<double>(mantissa) / POWERS_OF_TEN[decimals];
        return negative ? -v : v;
    }
    double v = 0;
    auto [stop, ec] = std::from_chars(f.data(), f.data() + f.size(), v);
    if (ec != std::errc{} || stop != f.data() + f.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<int> int_field(std::string_view f) {
    if (f.empty()) return 0;
    if (f.front() == '+') f.remove_prefix(1);
    const bool negative = !f.empty() && f.front() == '-';
    if (negative) f.remove_prefix(1);
    // At most 9 digits: the widest integer field has 7 columns.
    if (f.empty() || f.size() > 9) return std::nullopt;
    int v = 0;
    for (char c : f) {
        if (c < '0' || c > '9') return std::nullopt;
        v = 10 * v + (c - '0');
    }
    return negative ? -v : v;
}

// Filling tens of megabytes of fresh memory costs one page fault per 4 KB,
// more than the reading itself; huge pages cut the faults 512-fold. Only a hint:
// where the system does not give them, nothing changes.
void prefer_huge_pages(void* data, std::size_t bytes) {
    constexpr std::uintptr_t HUGE = std::uintptr_t(1) << 21;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t low = (start + HUGE - 1) & ~(HUGE - 1),
                         high = (start + bytes) & ~(HUGE - 1);
    if (high > low) ::madvise(reinterpret_cast<void*>(low), high - low, MADV_HUGEPAGE);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A byte of a field shown as given: a control byte would not take one cell.
char printable(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
}

// Uncertainties and intensities are kept as floats for memory; a value beyond
// a float's range (only a damaged line holds one) is kept at the range's end.
float to_float(double v) {
    constexpr double most = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(v, -most, most));
}

} // namespace

std::optional<int> decode_qn(char tens, char ones) {
    if (ones == ' ' && tens == ' ') return 0;
    if (!is_digit(ones)) return std::nullopt;
    int unit = ones - '0';
    if (tens == ' ') return unit;
    if (tens == '-') return unit == 0 ? std::nullopt : std::optional<int>(-unit);
    if (is_digit(tens)) return 10 * (tens - '0') + unit;
    if (tens >= 'A' && tens <= 'Z') return 10 * (10 + tens - 'A') + unit;
    if (tens >= 'a' && tens <= 'z') return -(10 * (1 + tens - 'a') + unit);
    return std::nullopt;
}

int qn_count(int qnfmt) {
    int n = std::abs(qnfmt % 10);
    return n >= 1 && n <= MAX_QN ? n : MAX_QN;
}

bool qn_half_integer(int qnfmt, int index) {
    const int h = std::abs(qnfmt / 10 % 10);
    const int from_last = qn_count(qnfmt) - 1 - index;
    return from_last >= 0 && from_last < 4 && (h >> from_last & 1) != 0;
}

std::optional<int> decode_gup(std::string_view f) {
    if (f.size() == 3 && f[0] >= 'A' && f[0] <= 'Z' && is_digit(f[1]) && is_digit(f[2]))
        return 100 * (10 + f[0] - 'A') + 10 * (f[1] - '0') + (f[2] - '0');
    while (!f.empty() && f.front() == ' ')
        f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ')
        f.remove_suffix(1);
    return int_field(f);
}

std::optional<CatalogRecord> parse_catalog_line(std::string_view line) {
    if (line.size() < QN_AT) return std::nullopt;
    CatalogRecord r;
    auto fmt = int_field(field(line, FMT_AT, FMT_W));
    if (!fmt) return std::nullopt;
    r.qnfmt = *fmt;
    if (line.size() < LOWER_AT + 2 * static_cast<std::size_t>(qn_count(r.qnfmt)))
        return std::nullopt;

    std::string_view freq_text = field(line, FREQ_AT, FREQ_W);
    if (freq_text.empty()) return std::nullopt;
    auto freq = real_field(freq_text);
    auto unc = real_field(field(line, UNC_AT, UNC_W));
    auto lgint = real_field(field(line, LGINT_AT, LGINT_W));
    auto dof = int_field(field(line, DOF_AT, DOF_W));
    auto elower = real_field(field(line, ELO_AT, ELO_W));
    auto gup = decode_gup(line.substr(GUP_AT, GUP_W));
    auto tag = int_field(field(line, TAG_AT, TAG_W));
    if (!freq || !unc || !lgint || !dof || !elower || !gup || !tag) return std::nullopt;
    if (!(*freq > 0)) return std::nullopt;
    r.freq = *freq;
    r.unc = *unc;
    r.lgint = *lgint;
    r.dof = *dof;
    r.elower = *elower;
    r.gup = *gup;
    r.tag = *tag;

    r.qn_text.fill(' ');
    std::string_view qn =
        line.substr(QN_AT, std::min<std::size_t>(r.qn_text.size(), line.size() - QN_AT));
    std::copy(qn.begin(), qn.end(), r.qn_text.begin());
    if (line.size() > LABEL_AT) r.label = field(line, LABEL_AT, std::string_view::npos);
    return r;
}

QuantumNumbers quantum_numbers(const PredictedLine& line) {
    QuantumNumbers q;
    q.n = qn_count(line.qnfmt);
    for (int state = 0; state < 2; ++state) {
        for (int i = 0; i < q.n; ++i) {
            auto at = static_cast<std::size_t>(12 * state + 2 * i);
            auto v = decode_qn(line.qn_text[at], line.qn_text[at + 1]);
            if (!v) q.ok = false;
            q.values[static_cast<std::size_t>(state * q.n + i)] = v.value_or(0);
        }
    }
    return q;
}

std::string quantum_number_text(const PredictedLine& line) {
    const int n = qn_count(line.qnfmt);
    std::string text;
    for (int state = 0; state < 2; ++state) {
        if (state == 1) text += " <-";
        for (int i = 0; i < n; ++i) {
            auto at = static_cast<std::size_t>(12 * state + 2 * i);
            char tens = line.qn_text[at], ones = line.qn_text[at + 1];
            if (!text.empty()) text += ' ';
            auto v = decode_qn(tens, ones);
            if (!v)
                text += std::string{printable(tens), printable(ones)};
            else if (qn_half_integer(line.qnfmt, i))
                text += std::to_string(2 * *v - 1) + "/2"; // coded rounded up
            else
                text += std::to_string(*v);
        }
    }
    return text;
}

// ---- the index ---------------------------------------------------------------------

void Catalog::set_lines(std::vector<PredictedLine> lines, std::vector<std::string> labels) {
    auto by_frequency = [](const PredictedLine& a, const PredictedLine& b) {
        return a.freq < b.freq;
    };
    // Catalogues are written in frequency order; sorting is for those that are not.
    if (!std::is_sorted(lines.begin(), lines.end(), by_frequency))
        std::stable_sort(lines.begin(), lines.end(), by_frequency);
    m_lines = std::move(lines);
    m_labels = std::move(labels);
    m_freq.resize(m_lines.size());
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        m_freq[i] = m_lines[i].freq;
    m_block_freq.clear();
    for (std::size_t i = 0; i < m_lines.size(); i += BLOCK)
        m_block_freq.push_back(m_freq[i]);
    m_max.clear();
    std::vector<float> level(m_lines.size());
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        level[i] = m_lines[i].lgint;
    m_max.push_back(std::move(level));
    while (m_max.back().size() > 1) {
        const auto& below = m_max.back();
        std::vector<float> up((below.size() + BLOCK - 1) / BLOCK);
        for (std::size_t b = 0; b < up.size(); ++b) {
            auto first = below.begin() + static_cast<std::ptrdiff_t>(b * BLOCK);
            auto last = below.begin() +
                        static_cast<std::ptrdiff_t>(std::min(below.size(), (b + 1) * BLOCK));
            up[b] = *std::max_element(first, last);
        }
        m_max.push_back(std::move(up));
    }
}

std::size_t Catalog::lower_bound(double f, std::size_t from) const {
    // The block starts first (a small array that stays in cache), galloping
    // from the block of `from` so that a walk across the view is short, then the
    // one block of lines that holds the answer: two or three cache misses
    // instead of twenty over a catalogue of millions.
    const std::size_t blocks = m_block_freq.size();
    std::size_t low = std::min(from / BLOCK, blocks), high = low;
    if (low < blocks && m_block_freq[low] < f) {
        std::size_t step = 1;
        high = low + 1;
        while (high < blocks && m_block_freq[high] < f) {
            low = high;
            step *= 2;
            high = std::min(blocks, low + step);
        }
        high = static_cast<std::size_t>(
            std::lower_bound(m_block_freq.begin() + static_cast<std::ptrdiff_t>(low + 1),
                             m_block_freq.begin() + static_cast<std::ptrdiff_t>(high), f) -
            m_block_freq.begin());
    }
    // Block `high` is the first whose start is at or above f (or none is).
    const std::size_t first = high == 0 ? 0 : (high - 1) * BLOCK;
    const std::size_t last = std::min(m_lines.size(), high * BLOCK);
    const auto found = static_cast<std::size_t>(
        std::lower_bound(m_freq.begin() + static_cast<std::ptrdiff_t>(first),
                         m_freq.begin() + static_cast<std::ptrdiff_t>(last), f) -
        m_freq.begin());
    return std::max(found, std::min(from, m_lines.size()));
}

float Catalog::max_lgint(std::size_t first, std::size_t last) const {
    float best = -std::numeric_limits<float>::infinity();
    last = std::min(last, m_lines.size());
    for (std::size_t level = 0; first < last && level < m_max.size(); ++level) {
        const auto& v = m_max[level];
        // The ragged ends of the range at this level, then the whole blocks above.
        while (first < last && first % BLOCK != 0)
            best = std::max(best, v[first++]);
        while (first < last && last % BLOCK != 0)
            best = std::max(best, v[--last]);
        if (first >= last) break;
        if (level + 1 == m_max.size()) {
            while (first < last)
                best = std::max(best, v[first++]);
            break;
        }
        first /= BLOCK;
        last /= BLOCK;
    }
    return best;
}

std::optional<std::size_t> Catalog::next_at_least(std::size_t from, float threshold) const {
    std::size_t i = from;
    std::size_t level = 0;
    // Climb while the rest of the current block holds nothing strong enough,
    // then descend into the first block that does.
    for (;;) {
        const auto& v = m_max[level];
        if (i >= v.size()) return std::nullopt;
        std::size_t end = std::min(v.size(), (i / BLOCK + 1) * BLOCK);
        std::size_t j = i;
        while (j < end && v[j] < threshold)
            ++j;
        if (j < end) {
            i = j;
            break;
        }
        if (level + 1 == m_max.size()) return std::nullopt;
        i = i / BLOCK + 1;
        ++level;
    }
    while (level > 0) {
        --level;
        const auto& v = m_max[level];
        std::size_t j = i * BLOCK;
        while (v[j] < threshold)
            ++j; // the block's maximum guarantees a hit
        i = j;
    }
    return i;
}

std::optional<std::size_t> Catalog::previous_at_least(std::size_t from, float threshold) const {
    if (m_lines.empty()) return std::nullopt;
    std::size_t i = std::min(from, m_lines.size() - 1);
    std::size_t level = 0;
    for (;;) {
        const auto& v = m_max[level];
        std::size_t begin = i / BLOCK * BLOCK;
        std::size_t j = i + 1;
        while (j > begin && v[j - 1] < threshold)
            --j;
        if (j > begin) {
            i = j - 1;
            break;
        }
        if (level + 1 == m_max.size() || begin == 0) return std::nullopt;
        i = begin / BLOCK - 1;
        ++level;
    }
    while (level > 0) {
        --level;
        const auto& v = m_max[level];
        std::size_t j = std::min(v.size(), (i + 1) * BLOCK);
        while (v[j - 1] < threshold)
            --j;
        i = j - 1;
    }
    return i;
}

void Catalog::column_maxima(std::size_t first, std::size_t last, double from, double per_column,
                            std::vector<float>& out) const {
    const float none = -std::numeric_limits<float>::infinity();
    std::fill(out.begin(), out.end(), none);
    last = std::min(last, m_lines.size());
    if (out.empty() || first >= last || !(per_column > 0)) return;
    const auto width = static_cast<std::ptrdiff_t>(out.size());
    auto column = [&](double f) {
        const double c = std::floor((f - from) / per_column);
        return static_cast<std::size_t>(std::clamp<double>(c, 0.0, static_cast<double>(width - 1)));
    };
    const std::vector<float>& lg = m_max[0];
    if (last - first <= 4 * BLOCK * out.size() || m_max.size() < 2) {
        // Sparse: the exact line range of every column, by search.
        std::size_t i = first;
        for (std::size_t c = 0; c < out.size() && i < last; ++c) {
            const double upper = from + static_cast<double>(c + 1) * per_column;
            const std::size_t stop = std::min(last, lower_bound(upper, i));
            if (stop > i) out[c] = max_lgint(i, stop);
            i = stop;
        }
        if (i < last) out.back() = std::max(out.back(), max_lgint(i, last));
        return;
    }
    std::size_t i = first;
    for (; i < last && i % BLOCK != 0; ++i)
        out[column(m_freq[i])] = std::max(out[column(m_freq[i])], lg[i]);
    const std::vector<float>& blocks = m_max[1];
    for (; i + BLOCK <= last; i += BLOCK) {
        const std::size_t c = column(m_block_freq[i / BLOCK]);
        out[c] = std::max(out[c], blocks[i / BLOCK]);
    }
    for (; i < last; ++i)
        out[column(m_freq[i])] = std::max(out[column(m_freq[i])], lg[i]);
}

// ---- reading -------------------------------------------------------------------------

CatalogScan scan_catalog_file(const std::string& path,
                              void (*line)(void* context, std::string_view text), void* context) {
    CatalogScan scan;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        scan.error = std::string("cannot be opened: ") + std::strerror(errno);
        return scan;
    }
    if (S_ISDIR(st.st_mode)) {
        scan.error = "is a folder, not a line catalogue";
        return scan;
    }
    if (!S_ISREG(st.st_mode)) {
        scan.error = "is not a regular file";
        return scan;
    }
    // O_NONBLOCK: a FIFO put in the file's place since the check must not hang the viewer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        scan.error = std::string("cannot be opened: ") + std::strerror(errno);
        return scan;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        scan.error = "is not a regular file";
        return scan;
    }
    if (st.st_size == 0) {
        scan.error = "is empty";
        return scan;
    }

    auto hand_over = [&](std::string_view text) {
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (text.size() > MAX_CATALOG_LINE) {
            text = text.substr(0, MAX_CATALOG_LINE);
            ++scan.cut;
        }
        line(context, text);
    };
    constexpr std::size_t CHUNK = std::size_t(1) << 22;
    static_assert(CHUNK > MAX_CATALOG_LINE + 1, "a block holds the longest line kept");
    std::vector<char> buffer(CHUNK);
    std::size_t kept = 0;  // bytes of an unfinished line at the start of the buffer
    bool skipping = false; // inside the rest of a line already handed over cut
    for (;;) {
        ssize_t got = ::read(fd, buffer.data() + kept, buffer.size() - kept);
        if (got < 0) {
            if (errno == EINTR) continue;
            scan.error = std::string("cannot be read: ") + std::strerror(errno);
            return scan;
        }
        std::size_t size = kept + static_cast<std::size_t>(got);
        std::size_t start = 0;
        const char* base = buffer.data();
        while (start < size) {
            const void* nl = std::memchr(base + start, '\n', size - start);
            if (!nl) break;
            auto end = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
            if (skipping)
                skipping = false; // the cut line ends here
            else
                hand_over(std::string_view(base + start, end - start));
            start = end + 1;
        }
        if (got == 0) {
            if (start < size && !skipping) hand_over(std::string_view(base + start, size - start));
            return scan;
        }
        kept = size - start;
        if (skipping) {
            kept = 0;
        } else if (kept > MAX_CATALOG_LINE + 1) {
            // Longer than a kept line even with a CR before its LF: the line
            // goes now, cut, and the rest of it is passed over as it is read,
            // so that a line of any length costs no more than one block.
            line(context, std::string_view(base + start, MAX_CATALOG_LINE));
            ++scan.cut;
            skipping = true;
            kept = 0;
        }
        std::memmove(buffer.data(), base + start, kept);
    }
}

std::string load_summary(std::size_t lines_read, const CatalogLoad& load) {
    std::string text =
        std::to_string(lines_read) + " lines read, " + std::to_string(load.skipped) + " skipped";
    if (load.cut > 0)
        text += ", " + std::to_string(load.cut) + " cut at " + std::to_string(MAX_CATALOG_LINE) +
                " bytes";
    return text;
}

namespace {

CatalogLoad load_catalog(const std::string& path, Catalog& into) {
    CatalogLoad result;
    std::vector<PredictedLine> lines;
    // Room for every line at once: growing a vector of millions by doubling
    // costs more in copies and fresh pages than the reading itself. Only a
    // guess from the file's size, so a file of one huge line must not fail
    // for it: without the room the lines still fit as they come.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        try {
            lines.reserve(static_cast<std::size_t>(st.st_size) / 80 + 16);
            prefer_huge_pages(lines.data(), lines.capacity() * sizeof(PredictedLine));
        } catch (const std::bad_alloc&) {
        }
    }
    std::vector<std::string> labels{std::string()};
    std::size_t blank = 0;
    const CatalogScan scan = for_each_catalog_line(path, [&](std::string_view text) {
        if (text.find_first_not_of(" \t") == std::string_view::npos) {
            ++blank;
            return;
        }
        auto r = parse_catalog_line(text);
        // Wavenumbers become MHz here, so that one frequency order and one
        // index serve catalogues that mix both units.
        const double scale = r && r->in_wavenumbers() ? MHZ_PER_WAVENUMBER : 1.0;
        if (!r || !std::isfinite(r->freq * scale)) {
            ++result.skipped;
            return;
        }
        PredictedLine l;
        l.freq = r->freq * scale;
        // Narrowed to floats for memory: uncertainties and intensities are
        // written with 4 decimals, well inside a float's 7 digits.
        l.unc = to_float(std::abs(r->unc) * scale);
        l.lgint = to_float(r->lgint);
        l.qn_text = r->qn_text;
        l.qnfmt = static_cast<std::int16_t>(std::clamp(r->qnfmt, -32768, 32767));
        l.given_in_wavenumbers = r->in_wavenumbers();
        l.experimental = r->experimental();
        if (!r->label.empty()) {
            // Consecutive lines of one species share their label.
            if (labels.back() != r->label) labels.emplace_back(r->label);
            l.label = static_cast<std::uint32_t>(labels.size() - 1);
        }
        lines.push_back(l);
    });
    result.cut = scan.cut;
    result.error = scan.error;
    if (!result.error.empty()) return result;
    if (lines.empty()) {
        result.error = blank > 0 && result.skipped == 0
                           ? std::string("holds no catalogue lines")
                           : "is not a line catalogue: none of its " +
                                 std::to_string(result.skipped) + " lines could be read";
        return result;
    }
    // Built aside and moved in (which cannot fail), so that running out of
    // memory half-way leaves `into` as it was.
    Catalog fresh;
    fresh.path = path;
    fresh.color = into.color;
    fresh.set_lines(std::move(lines), std::move(labels));
    into = std::move(fresh);
    return result;
}

} // namespace

CatalogLoad read_catalog(const std::string& path, Catalog& into) {
    try {
        return load_catalog(path, into);
    } catch (const std::bad_alloc&) {
        CatalogLoad failed;
        failed.error = std::string("cannot be read: ") + std::strerror(ENOMEM);
        return failed;
    }
}

FrequencyUnit spectrum_unit(const std::vector<Catalog>& catalogs, double first, double last) {
    if (first > last) std::swap(first, last);
    const double inf = std::numeric_limits<double>::infinity();
    std::size_t as_mhz = 0, as_wavenumbers = 0;
    for (const auto& c : catalogs) {
        auto within = [&](double low, double high) {
            return c.lower_bound(std::nextafter(high, inf)) - c.lower_bound(low);
        };
        as_mhz += within(first, last);
        as_wavenumbers += within(first * MHZ_PER_WAVENUMBER, last * MHZ_PER_WAVENUMBER);
    }
    return as_wavenumbers > as_mhz ? FrequencyUnit::Wavenumber : FrequencyUnit::MHz;
}

} // namespace korax
