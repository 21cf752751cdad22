// The tab-separated catalogue table. Lines are streamed as they are read, so a
// catalogue of millions of lines needs no more memory than one block of it.
#include "catalog/catalog_table.h"

#include "catalog/catalog.h"

#include <cstdio>
#include <string_view>

namespace korax {

namespace {

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// The quantum numbers of one state, joined by commas; undecodable fields as given.
std::string state_text(const CatalogRecord& r, int state) {
    std::string text;
    const int n = qn_count(r.qnfmt);
    for (int i = 0; i < n; ++i) {
        auto at = static_cast<std::size_t>(12 * state + 2 * i);
        char tens = r.qn_text[at], ones = r.qn_text[at + 1];
        if (i > 0) text += ',';
        if (auto v = decode_qn(tens, ones))
            text += std::to_string(*v);
        else
            text += std::string{tens, ones};
    }
    return text;
}

} // namespace

int write_catalog_table(const std::string& path, double from, double to, std::ostream& out,
                        std::ostream& err) {
    std::size_t read = 0, skipped = 0, blank = 0;
    bool header = false;
    std::string row;
    std::string error = for_each_catalog_line(path, [&](std::string_view text) {
        if (text.find_first_not_of(" \t") == std::string_view::npos) {
            ++blank;
            return;
        }
        auto r = parse_catalog_line(text);
        if (!r) {
            ++skipped;
            return;
        }
        ++read;
        if (!header) {
            out << "frequency\tuncertainty\tlog10_intensity\tdegrees_of_freedom\tlower_energy"
                   "\tupper_degeneracy\ttag\tqn_format\tupper_state\tlower_state\tlabel\n";
            header = true;
        }
        if (!(r->freq >= from && r->freq <= to)) return;
        row.clear();
        row += fixed(r->freq, 4) + '\t' + fixed(r->unc, 4) + '\t' + fixed(r->lgint, 4) + '\t' +
               std::to_string(r->dof) + '\t' + fixed(r->elower, 4) + '\t' + std::to_string(r->gup) +
               '\t' + std::to_string(r->tag) + '\t' + std::to_string(r->qnfmt) + '\t' +
               state_text(*r, 0) + '\t' + state_text(*r, 1) + '\t' + std::string(r->label) + '\n';
        out << row;
    });
    if (error.empty() && read == 0)
        error = skipped == 0 ? "holds no catalogue lines"
                             : "is not a line catalogue: none of its " + std::to_string(skipped) +
                                   " lines could be read";
    if (!error.empty()) {
        err << path << ": " << error << '\n';
        return 1;
    }
    err << path << ": " << read << " lines read, " << skipped << " skipped\n";
    return 0;
}

} // namespace korax
