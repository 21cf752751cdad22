// The line-catalogue reader on arbitrary bytes: every line through the column
// reader, the whole file through the loader, the identification row in both
// units and the table writer (11 columns a row, no raw control bytes), and
// every readable prediction through the assignment record and back.
#include "catalog/assignments.h"
#include "catalog/catalog.h"
#include "catalog/catalog_table.h"
#include "catalog/overlay.h"
#include "fuzz/fuzz_common.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

using korax::fuzz::require;

const std::string& scratch_path() {
    static const std::string path = korax::fuzz::scratch_file("korax_fuzz_catalog_", ".cat");
    return path;
}

void check_line(std::string_view line) {
    const auto r = korax::parse_catalog_line(line);
    if (!r) return;
    require(std::isfinite(r->freq) && r->freq > 0, "a frequency that is not finite and positive");
    require(std::isfinite(r->unc) && std::isfinite(r->lgint) && std::isfinite(r->elower),
            "a field that is not finite");
    require(r->label.size() <= line.size(), "a label longer than its line");
    korax::PredictedLine p;
    p.freq = r->freq;
    p.qn_text = r->qn_text;
    p.qnfmt = static_cast<std::int16_t>(r->qnfmt);
    const korax::QuantumNumbers q = korax::quantum_numbers(p);
    require(q.n >= 1 && q.n <= korax::MAX_QN, "a quantum-number count outside 1..6");
    const std::string shown = korax::quantum_number_text(p);
    require(shown.find(" <- ") != std::string::npos, "quantum numbers without both states");
    if (!q.ok) return;
    for (int k = 0; k < 2 * q.n; ++k) {
        const int v = q.values[static_cast<std::size_t>(k)];
        require(v >= -269 && v <= 359, "a decoded quantum number outside -269..359");
    }
    const double unc = std::abs(r->unc);
    const auto unit =
        r->in_wavenumbers() ? korax::FrequencyUnit::Wavenumber : korax::FrequencyUnit::MHz;
    const auto record = korax::lin_line(q, r->freq, unc, 1.0, "x", unit);
    if (!record) return;
    require(record->size() >= 36, "an assignment record shorter than its quantum numbers");
    require(korax::same_transition(*record, q), "an assignment record that does not read back");
    // Free-format from column 37, as the fitting program reads it.
    const char* at = record->c_str() + 36;
    char* end = nullptr;
    const double freq = std::strtod(at, &end);
    require(end != at, "an assignment record without its frequency");
    at = end;
    const double err = std::strtod(at, &end);
    require(end != at, "an assignment record without its uncertainty");
    require(std::abs(freq - r->freq) <= 5e-5 + 1e-15 * r->freq,
            "an assignment record's frequency off by more than its last decimal");
    require((err < 0) == (unit == korax::FrequencyUnit::Wavenumber),
            "an assignment record's unit lost");
    require(err != 0 && std::abs(std::abs(err) - unc) <= 0.05 * unc,
            "an assignment record's uncertainty not within its two digits");
}

void check_file(const std::uint8_t* data, std::size_t size) {
    const korax::fuzz::RemoveAfterRead cleanup{scratch_path()};
    {
        std::FILE* f = std::fopen(scratch_path().c_str(), "wb");
        require(f != nullptr, "the scratch file could not be created");
        require(std::fwrite(data, 1, size, f) == size, "the scratch file could not be written");
        std::fclose(f);
    }
    korax::Catalog c;
    const korax::CatalogLoad load = korax::read_catalog(scratch_path(), c);
    std::size_t newlines = 0;
    for (std::size_t i = 0; i < size; ++i)
        newlines += data[i] == '\n';
    if (load.error.empty()) {
        require(c.size() > 0, "a catalogue read without lines");
        require(c.size() + load.skipped <= newlines + 1, "more lines than the file holds");
        for (std::size_t i = 0; i < c.size(); ++i) {
            require(std::isfinite(c.lines()[i].freq) && c.lines()[i].freq > 0,
                    "a loaded frequency that is not finite and positive");
            require(i == 0 || c.lines()[i - 1].freq <= c.lines()[i].freq,
                    "loaded lines out of frequency order");
        }
        float top = c.lines()[0].lgint;
        for (const auto& l : c.lines())
            top = std::max(top, l.lgint);
        require(c.max_lgint(0, c.size()) == top, "the strongest line missed");
        const auto first = c.next_at_least(0, top);
        require(first && c.lines()[*first].lgint == top, "the strongest line not found");
        for (const auto& label : c.labels())
            require(label.size() <= korax::MAX_CATALOG_LINE, "a label beyond the line bound");
        korax::CatalogSession s;
        s.add(c);
        for (auto unit : {korax::FrequencyUnit::MHz, korax::FrequencyUnit::Wavenumber}) {
            s.unit = unit;
            for (std::size_t i : {std::size_t(0), c.size() / 2, c.size() - 1}) {
                const std::string row = korax::identification_row(s, {0, i}, s.frequency({0, i}));
                require(row.size() >= 80, "an identification row shorter than 80 columns");
                for (char ch : row)
                    require(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f,
                            "a control byte on the identification row");
            }
        }
        s.choose_unit(c.lines().front().freq, c.lines().back().freq);
    } else {
        require(c.size() == 0 && c.path.empty(), "a refused catalogue changed the catalogue");
    }
    std::ostringstream out, err;
    const int status = korax::write_catalog_table(scratch_path(), -INFINITY, INFINITY, out, err);
    require((status == 0) == load.error.empty(), "the table and the loader disagree");
    std::size_t rows = 0;
    std::size_t tabs = 0;
    for (char ch : out.str()) {
        if (ch == '\n') {
            require(tabs == 10, "a table row without its 11 columns");
            ++rows;
            tabs = 0;
        } else if (ch == '\t') {
            ++tabs;
        } else {
            require(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f,
                    "a control byte in the table");
        }
    }
    require(tabs == 0, "a table row without its line end");
    if (status == 0) require(rows == c.size() + 1, "a table that is not the header and every line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        check_line(text.substr(start, end - start));
        start = end + 1;
    }
    check_file(data, size);
    return 0;
}
