// The assignment file against a new fit's predictions in the viewer: the
// catalogues read again (; or C with an open catalogue's name), every record
// compared with its transition, the overlay's bars coloured by how many errors
// each assigned line lies from its prediction, and ' stepping from the worst.
#include "viewer/catalog_keys.h"

#include "base/file_name.h"
#include "catalog/lin_compare.h"
#include "spectrum/store.h"
#include "viewer/assignment_keys.h"
#include "viewer/catalog_screens.h"
#include "viewer/display.h"
#include "viewer/lin_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korax {

namespace {

struct Review {
    bool made = false;
    AssignmentComparison comparison; // catalogue indices of the session's
    std::size_t next = 0;            // the record ' shows next
};

Review& review() {
    static Review r;
    return r;
}

std::string fixed(double v, int decimals) {
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// The number of quantum numbers per state of the open catalogues' lines, for
// a record none of them holds.
int usual_qn_count() {
    for (const Catalog& c : catalog_session().catalogs)
        if (c.size() > 0) return qn_count(c.lines().front().qnfmt);
    return 3;
}

} // namespace

void forget_comparison() {
    review() = Review{};
    catalog_session().agreement.clear();
}

ComparisonNote compare_with_assignments(const std::vector<std::size_t>& first) {
    CatalogSession& s = catalog_session();
    forget_comparison();
    const std::string& lin = s.settings.lin_path;
    if (lin.empty()) return {false, "No assignment file to compare with: D names one"};
    std::vector<std::size_t> order = first;
    for (std::size_t i = 0; i < s.catalogs.size(); ++i)
        if (std::find(first.begin(), first.end(), i) == first.end()) order.push_back(i);
    std::vector<const Catalog*> list;
    for (std::size_t i : order)
        list.push_back(&s.catalogs[i]);
    AssignmentComparison c = compare_assignments(lin, list);
    if (!c.error.empty()) return {false, "Not compared: " + lin + " " + c.error};
    std::vector<LineAgreement> agreement;
    for (ComparedRecord& r : c.records) {
        if (!r.catalog) continue;
        r.catalog = order[*r.catalog];
        agreement.push_back({LineRef{*r.catalog, *r.catalog_line}, agreement_of(r.ratio)});
    }
    // A line that two records match shows the worse of them.
    std::sort(agreement.begin(), agreement.end(),
              [](const LineAgreement& a, const LineAgreement& b) {
                  return a.line < b.line || (a.line == b.line && a.agreement > b.agreement);
              });
    agreement.erase(std::unique(agreement.begin(), agreement.end(),
                                [](const LineAgreement& a, const LineAgreement& b) {
                                    return a.line == b.line;
                                }),
                    agreement.end());
    s.agreement = std::move(agreement);
    Review& r = review();
    r.comparison = std::move(c);
    r.made = true;
    return {true, comparison_summary(r.comparison)};
}

void key_reload_catalogs(ViewerState& v) {
    CatalogSession& s = catalog_session();
    std::vector<std::size_t> read;
    std::string failed;
    for (std::size_t i = 0; i < s.catalogs.size(); ++i) {
        Catalog c;
        const CatalogLoad load = read_catalog(s.catalogs[i].path, c);
        if (!load.error.empty()) {
            failed += "; " + std::string(file_part(s.catalogs[i].path)) + " " + load.error;
            continue;
        }
        c.color = s.catalogs[i].color;
        s.catalogs[i] = std::move(c);
        s.assigned[i].clear();
        read.push_back(i);
    }
    if (!s.settings.lin_path.empty()) mark_from_file(s.settings.lin_path);
    const ComparisonNote said = compare_with_assignments(read);
    plot_redraw(v);
    std::string row1 = " ";
    row1 += std::to_string(read.size());
    row1 += " of ";
    row1 += std::to_string(s.catalogs.size());
    row1 += " catalogues read again";
    if (said.compared) {
        row1 += "; ";
        row1 += file_part(s.settings.lin_path);
        row1 += " compared with them (' to the worst)";
    }
    row1 += failed;
    catalog_message(v, row1, " " + said.text);
}

void key_worst_assignment(ViewerState& v) {
    Review& r = review();
    if (!r.made) {
        catalog_message(v, " Nothing compared yet: ; reads the catalogues again, compares the "
                           "assignments");
        return;
    }
    const auto& records = r.comparison.records;
    if (records.empty()) {
        catalog_message(v, " The assignment file holds no records to compare");
        return;
    }
    const std::size_t at = r.next % records.size();
    r.next = at + 1;
    const ComparedRecord& c = records[at];
    const CatalogSession& s = catalog_session();
    const std::string unit = c.wavenumbers ? " cm-1" : " MHz";
    const int d = decimals_for_error(c.error);
    const std::string place = std::to_string(at + 1) + " of " + std::to_string(records.size());
    std::string row1, row2 = " observed " + fixed(c.observed, d) + " +- " + fixed(c.error, d);
    if (c.catalog) {
        const LineRef line{*c.catalog, *c.catalog_line};
        row1 = " " + place + " by |o-c|/error: " + quantum_number_text(s.line(line)) + "   o-c " +
               fixed(c.o_c, d) + " = " + fixed(c.ratio, 1) + " errors";
        row2 += ", predicted " + fixed(c.predicted, d) + unit + " (" +
                std::to_string(line.catalog + 1) + ": " +
                std::string(file_part(s.catalogs[line.catalog].path)) + ")";
    } else {
        row1 = " " + place + ": " + record_qn_text(c, usual_qn_count()) +
               " is in none of the open catalogues";
        row2 += unit + " (line " + std::to_string(c.line) + " of " +
                std::string(file_part(s.settings.lin_path)) + ")";
    }
    const SpectrumStore& st = store();
    const double f = c.observed * (c.wavenumbers ? MHZ_PER_WAVENUMBER : 1.0) / s.mhz_per_unit();
    if (f >= st.FREQ[1] && f <= st.FREQ[static_cast<std::size_t>(st.NPTS)])
        move_cursor_to(v, f);
    else
        row2 += "; outside this spectrum";
    catalog_message(v, row1, row2);
}

} // namespace korax
