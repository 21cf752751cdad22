// The tab-separated catalogue table. Lines are streamed as they are read, so a
// catalogue of millions of lines needs no more memory than one block of it.
#include "catalog/catalog_table.h"

#include "catalog/catalog.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace korax {

std::string table_number(double v) {
    char text[64];
    // Wider values have no decimals to keep; the shortest form is shorter there.
    if (std::abs(v) < 1e15) {
        std::snprintf(text, sizeof text, "%.4f", v);
        if (std::strtod(text, nullptr) == v) return text;
    }
    auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc{} ? std::string(text, end) : std::string("nan");
}

std::string table_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (byte < 0x20 || byte == 0x7f) {
            static constexpr char HEX[] = "0123456789abcdef";
            out += "\\x";
            out += HEX[byte >> 4];
            out += HEX[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

// The quantum numbers of one state as coded, joined by commas; undecodable
// fields as given.
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
            text += table_text(std::string_view(&r.qn_text[at], 2));
    }
    return text;
}

// The table itself; std::bad_alloc outside a row goes to the caller.
int table(const std::string& path, double from, double to, std::ostream& out, std::ostream& err) {
    std::size_t read = 0, skipped = 0, blank = 0, unshown = 0;
    bool header = false;
    std::string row;
    CatalogScan scan = for_each_catalog_line(path, [&](std::string_view text) {
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
        // A row that cannot be built for want of memory is counted, and the
        // table goes on with the next line.
        try {
            if (!header) {
                out << "frequency\tuncertainty\tlog10_intensity\tdegrees_of_freedom"
                       "\tlower_energy\tupper_degeneracy\ttag\tqn_format\tupper_state"
                       "\tlower_state\tlabel\n";
                header = true;
            }
            if (!(r->freq >= from && r->freq <= to)) return;
            row.clear();
            row += table_number(r->freq) + '\t' + table_number(r->unc) + '\t' +
                   table_number(r->lgint) + '\t' + std::to_string(r->dof) + '\t' +
                   table_number(r->elower) + '\t' + std::to_string(r->gup) + '\t' +
                   std::to_string(r->tag) + '\t' + std::to_string(r->qnfmt) + '\t' +
                   state_text(*r, 0) + '\t' + state_text(*r, 1) + '\t' + table_text(r->label) +
                   '\n';
            out << row;
        } catch (const std::bad_alloc&) {
            ++unshown;
        }
    });
    std::string& error = scan.error;
    if (error.empty() && read == 0)
        error = skipped == 0 ? "holds no catalogue lines"
                             : "is not a line catalogue: none of its " + std::to_string(skipped) +
                                   " lines could be read";
    if (!error.empty()) {
        err << path << ": " << error << '\n';
        return 1;
    }
    CatalogLoad counts;
    counts.skipped = skipped;
    counts.cut = scan.cut;
    err << path << ": " << load_summary(read, counts);
    if (unshown > 0) err << ", " << unshown << " not shown: " << std::strerror(ENOMEM);
    // A full disk or a closed pipe: the table is not all there, and the
    // status must say so.
    out.flush();
    if (!out) err << "; the table could not be written";
    err << '\n';
    return unshown > 0 || !out ? 1 : 0;
}

} // namespace

int write_catalog_table(const std::string& path, double from, double to, std::ostream& out,
                        std::ostream& err) {
    try {
        return table(path, from, to, out, err);
    } catch (const std::bad_alloc&) {
        // Written piece by piece: nothing here needs memory of its own.
        err << path << ": " << std::strerror(ENOMEM) << '\n';
        return 1;
    }
}

} // namespace korax
