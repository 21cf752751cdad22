// The line-catalogue reader on arbitrary bytes: every line through the column
// reader, the whole file through the loader and the table writer, and every
// readable prediction through the assignment record and back.
#include "catalog/assignments.h"
#include "catalog/catalog.h"
#include "catalog/catalog_table.h"
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
    const auto record = korax::lin_line(q, r->freq, r->unc, 1.0, "x");
    if (!record) return;
    require(record->size() >= 36, "an assignment record shorter than its quantum numbers");
    require(korax::same_transition(*record, q), "an assignment record that does not read back");
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
    } else {
        require(c.size() == 0 && c.path.empty(), "a refused catalogue changed the catalogue");
    }
    std::ostringstream out, err;
    const int status = korax::write_catalog_table(scratch_path(), -INFINITY, INFINITY, out, err);
    require((status == 0) == load.error.empty(), "the table and the loader disagree");
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
