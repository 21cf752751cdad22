// Line catalogues: the predictions of a spectroscopic model, one transition per
// 80-column line (frequency, uncertainty, log10 intensity, lower-state energy,
// degeneracy, species tag, quantum-number format, quantum numbers). A catalogue
// is read once, kept sorted by frequency, and answers range and threshold
// questions without walking all of its lines. In memory every frequency is in
// MHz, also those of lines the file gives in wavenumbers.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace korax {

inline constexpr int MAX_QN = 6; // quantum numbers per state
// The longest catalogue line read; the rest of a longer one is skipped. A line
// needs 80 columns and a database label a few dozen more.
inline constexpr std::size_t MAX_CATALOG_LINE = 4096;
// MHz in one wavenumber (cm-1): the speed of light in cm/s over 10^6.
inline constexpr double MHZ_PER_WAVENUMBER = 29979.2458;

// The unit of a frequency: catalogues are in MHz unless a line's uncertainty is
// negative, which gives that line's frequency and uncertainty in cm-1.
enum class FrequencyUnit { MHz, Wavenumber };

// One 2-column quantum-number field. Plain integers -9..99, and the letter
// encoding of the tens place beyond: "A0" = 100 .. "Z9" = 359, "a0" = -10,
// "a9" = -19, "b0" = -20 .. "z9" = -269. Blanks read as 0.
std::optional<int> decode_qn(char tens, char ones);
// The number of quantum numbers per state from the format code's last digit;
// a digit outside 1..6 reads all six fields.
int qn_count(int qnfmt);
// Whether quantum number `index` (0-based, of qn_count per state) is a
// half-integer: the format code's tens digit is a binary code whose lowest bit
// stands for the last quantum number, the next bit for the one before it, and
// so on. A half-integer J is coded rounded up, J + 1/2.
bool qn_half_integer(int qnfmt, int index);
// The 3-column upper-state degeneracy. Plain integers, and beyond 999 a letter
// in the hundreds place: "A00" = 1000 .. "Z99" = 3599. Blanks read as 0.
std::optional<int> decode_gup(std::string_view field);

// A catalogue line read in full.
struct CatalogRecord {
    double freq = 0, unc = 0, lgint = 0;
    int dof = 0;
    double elower = 0;
    int gup = 0, tag = 0, qnfmt = 0;
    std::array<char, 4 * MAX_QN> qn_text{}; // columns 56..79 as given
    std::string_view label;                 // text after column 80, trimmed

    // A negative uncertainty (also -0.0000) puts the line in wavenumbers.
    bool in_wavenumbers() const { return std::signbit(unc); }
    // A negative tag marks a frequency measured in the laboratory.
    bool experimental() const { return tag < 0; }
};

// Reads one line by its columns (fields abut; blanks do not separate them).
// nullopt when a numeric field cannot be read, when the line is too short to
// hold its quantum numbers, or when the frequency is not finite and positive.
std::optional<CatalogRecord> parse_catalog_line(std::string_view line);

// A prediction as kept in memory: frequency and uncertainty in MHz.
struct PredictedLine {
    double freq = 0;
    float unc = 0, lgint = 0;
    std::array<char, 4 * MAX_QN> qn_text{};
    std::uint32_t label = 0; // index into Catalog::labels(); 0: none
    std::int16_t qnfmt = 0;
    bool given_in_wavenumbers = false; // converted from cm-1 when read
    bool experimental = false;         // a laboratory frequency (negative tag)
};

// Quantum numbers of a prediction: upper state in values[0..n), lower state in
// values[n..2n). ok is false when a field cannot be decoded.
struct QuantumNumbers {
    std::array<int, 2 * MAX_QN> values{};
    int n = 0;
    bool ok = true;
};
QuantumNumbers quantum_numbers(const PredictedLine& line);
// Upper and lower quantum numbers as the operator reads them, "3 1 3 <- 2 1 2",
// half-integers as "5/2"; a field that cannot be decoded is shown as given,
// with '?' for a control byte.
std::string quantum_number_text(const PredictedLine& line);

class Catalog {
  public:
    std::string path;
    int color = 10;

    // Lines sorted by frequency; `lines` are handed over and sorted here.
    void set_lines(std::vector<PredictedLine> lines, std::vector<std::string> labels);
    const std::vector<PredictedLine>& lines() const { return m_lines; }
    const std::vector<std::string>& labels() const { return m_labels; }
    std::size_t size() const { return m_lines.size(); }

    // First line at index >= from with freq >= f (size() when none).
    std::size_t lower_bound(double f, std::size_t from = 0) const;
    // Largest log intensity of lines [first, last); -inf for an empty range.
    // Costs O(log n) block steps, not O(last - first).
    float max_lgint(std::size_t first, std::size_t last) const;
    // The first line at index >= from (the last at index <= from) whose log
    // intensity is at least `threshold`; nullopt when there is none.
    std::optional<std::size_t> next_at_least(std::size_t from, float threshold) const;
    std::optional<std::size_t> previous_at_least(std::size_t from, float threshold) const;
    // The largest log intensity per pixel column of lines [first, last), column
    // c taking frequencies [from + c * per_column, from + (c + 1) * per_column);
    // columns without lines get -inf. Where the lines are dense (more than four
    // blocks a column on average) whole blocks go to the column of their first
    // line, so that the cost follows the blocks in view and not their lines: a
    // block then reaches at most a quarter column into its neighbour, below
    // what the eye can tell apart at that density.
    void column_maxima(std::size_t first, std::size_t last, double from, double per_column,
                       std::vector<float>& out) const;

  private:
    std::vector<PredictedLine> m_lines;
    std::vector<std::string> m_labels;
    // m_max[0] holds every line's log intensity, m_max[k + 1] the maxima of
    // blocks of BLOCK entries of m_max[k].
    std::vector<std::vector<float>> m_max;
    // The frequencies again, packed: a search within a block then reads one or
    // two cache lines instead of one per step. And the frequency of every
    // BLOCK-th line, for the first step of a search.
    std::vector<double> m_freq, m_block_freq;
};

// The unit of a spectrum from its frequency range [first, last]: the file does
// not say it. Wavenumbers when more predicted lines of `catalogs` fall into
// the range read as cm-1 than read as MHz; otherwise (no lines either way
// included) MHz, the unit of the catalogue format and of the spectrometers.
// Costs a few searches per catalogue.
FrequencyUnit spectrum_unit(const std::vector<Catalog>& catalogs, double first, double last);

struct CatalogLoad {
    std::size_t skipped = 0; // lines that could not be read
    std::size_t cut = 0;     // lines longer than MAX_CATALOG_LINE, read up to it
    std::string error;       // empty: the catalogue was read
};

// Reads a catalogue file. A file that is not a regular file, is empty, or has
// no readable line is refused with a reason in `error` and `into` unchanged;
// so is one that does not fit into memory (nothing is thrown).
CatalogLoad read_catalog(const std::string& path, Catalog& into);

// What a load found, for the operator: "50 lines read, 0 skipped", and the
// lines cut when there were any.
std::string load_summary(std::size_t lines_read, const CatalogLoad& load);

struct CatalogScan {
    std::string error;   // empty: every line was handed over
    std::size_t cut = 0; // lines handed over cut at MAX_CATALOG_LINE
};

// The raw lines of a catalogue file, read in blocks, handed to `line` one by
// one without their line ends (LF or CR LF; a last line without LF counts), a
// line longer than MAX_CATALOG_LINE as its first MAX_CATALOG_LINE bytes. The
// memory used is one block, whatever the lines. `error` says why the file
// cannot be read as a catalogue (a folder, a FIFO, an empty file, a read
// error). Throws only what `line` throws, and std::bad_alloc for the block.
CatalogScan scan_catalog_file(const std::string& path,
                              void (*line)(void* context, std::string_view text), void* context);

// The same with any callable taking a std::string_view.
template <class F> CatalogScan for_each_catalog_line(const std::string& path, F&& each) {
    return scan_catalog_file(
        path,
        [](void* context, std::string_view text) {
            (*static_cast<std::remove_reference_t<F>*>(context))(text);
        },
        &each);
}

} // namespace korax
