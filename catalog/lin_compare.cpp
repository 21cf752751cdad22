// The assignment file against new predictions. The records are indexed by
// transition and every catalogue line looked up among them once, so a
// catalogue of 100,000 lines against a file of thousands of records costs
// little more than reading the two.
#include "catalog/lin_compare.h"

#include "catalog/assignments.h"
#include "catalog/catalog_table.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

namespace korax {

namespace {

struct FieldsHash {
    std::size_t operator()(const std::array<int, 12>& fields) const {
        // FNV-1a over the fields' values.
        std::uint64_t h = 1469598103934665603ull;
        for (int v : fields) {
            h ^= static_cast<std::uint32_t>(v);
            h *= 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};

// The ratio of a record; a record without an error that differs is infinitely
// far off, one that agrees exactly is not.
double ratio_of(double o_c, double error) {
    if (error > 0) return o_c / error;
    return o_c == 0 ? 0.0 : std::copysign(std::numeric_limits<double>::infinity(), o_c);
}

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string joined(const std::array<int, 12>& fields, int from, int n, char between) {
    std::string text;
    for (int i = 0; i < n; ++i) {
        if (i > 0) text += between;
        text += std::to_string(fields[static_cast<std::size_t>(from + i)]);
    }
    return text;
}

// The number of quantum numbers per state most lines of the catalogue have:
// what a record without a prediction is taken to hold.
int usual_qn_count(const Catalog& c) {
    std::array<std::size_t, MAX_QN + 1> seen{};
    for (const PredictedLine& line : c.lines())
        ++seen[static_cast<std::size_t>(qn_count(line.qnfmt))];
    return static_cast<int>(std::max_element(seen.begin() + 1, seen.end()) - seen.begin());
}

} // namespace

int decimals_for_error(double error) {
    if (!(error > 0) || !std::isfinite(error)) return 4;
    const int d = 1 - static_cast<int>(std::floor(std::log10(error)));
    return std::clamp(d, 4, 12);
}

Agreement agreement_of(double ratio) {
    const double a = std::abs(ratio);
    if (a <= 1) return Agreement::Within1;
    if (a <= 3) return Agreement::Within3;
    return Agreement::Beyond3;
}

AssignmentComparison compare_assignments(const std::string& lin_path,
                                         std::span<const Catalog* const> catalogs) {
    AssignmentComparison out;
    // The records first, indexed by transition: a few thousand of them make
    // a small table, and each catalogue line is then one look-up in it, so
    // that no index of a catalogue's hundred thousand lines is built.
    std::vector<ComparedRecord> records;
    std::size_t line_number = 0;
    const AssignmentScan scan =
        scan_assignments(lin_path, [&](std::string_view line, std::string_view) {
            ++line_number;
            const std::optional<RecordNumbers> numbers = record_numbers(line);
            if (!numbers) return true; // a comment or a blank line
            ComparedRecord r;
            r.line = line_number;
            r.fields = numbers->fields;
            r.observed = numbers->freq;
            r.wavenumbers = std::signbit(numbers->unc);
            r.error = std::abs(numbers->unc);
            records.push_back(r);
            return true;
        });
    if (!scan.error.empty()) {
        out.error = scan.error;
        return out;
    }
    if (!scan.exists) {
        out.error = std::string("cannot be opened: ") + std::strerror(ENOENT);
        return out;
    }
    std::unordered_multimap<std::array<int, 12>, std::size_t, FieldsHash> wanted;
    wanted.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        wanted.emplace(records[i].fields, i);
    std::vector<double> observed_mhz(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        observed_mhz[i] = records[i].observed * (records[i].wavenumbers ? MHZ_PER_WAVENUMBER : 1.0);

    // Catalogue by catalogue, the first that holds a transition gives its
    // prediction; of several lines of it there, the nearest.
    for (std::size_t ci = 0; ci < catalogs.size(); ++ci) {
        const auto& lines = catalogs[ci]->lines();
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const QuantumNumbers q = quantum_numbers(lines[k]);
            if (!q.ok) continue;
            const auto [from, to] = wanted.equal_range(transition_fields(q));
            for (auto it = from; it != to; ++it) {
                ComparedRecord& r = records[it->second];
                if (r.catalog && *r.catalog != ci) continue; // an earlier catalogue's
                const double d = std::abs(lines[k].freq - observed_mhz[it->second]);
                if (r.catalog &&
                    d >= std::abs(lines[*r.catalog_line].freq - observed_mhz[it->second]))
                    continue;
                r.catalog = ci;
                r.catalog_line = k;
            }
        }
    }

    std::vector<ComparedRecord> missing;
    for (ComparedRecord& r : records) {
        if (!r.catalog) {
            missing.push_back(r);
            continue;
        }
        const double per_unit = r.wavenumbers ? MHZ_PER_WAVENUMBER : 1.0;
        r.predicted = catalogs[*r.catalog]->lines()[*r.catalog_line].freq / per_unit;
        r.o_c = r.observed - r.predicted;
        r.ratio = ratio_of(r.o_c, r.error);
        out.records.push_back(r);
    }
    std::stable_sort(out.records.begin(), out.records.end(),
                     [](const ComparedRecord& a, const ComparedRecord& b) {
                         return std::abs(a.ratio) > std::abs(b.ratio);
                     });
    out.catalogs = catalogs.size();
    out.matched = out.records.size();
    out.missing = missing.size();
    for (const ComparedRecord& r : out.records) {
        switch (agreement_of(r.ratio)) {
        case Agreement::Within1:
            ++out.within1;
            break;
        case Agreement::Within3:
            ++out.within3;
            break;
        case Agreement::Beyond3:
            ++out.beyond3;
            break;
        }
    }
    out.records.insert(out.records.end(), missing.begin(), missing.end());
    return out;
}

std::string comparison_summary(const AssignmentComparison& c) {
    const std::size_t total = c.matched + c.missing;
    std::string text = std::to_string(total) + (total == 1 ? " record: " : " records: ") +
                       std::to_string(c.within1) + " within 1 error, " + std::to_string(c.within3) +
                       " within 3, " + std::to_string(c.beyond3) + " beyond 3";
    if (c.missing > 0)
        text += "; " + std::to_string(c.missing) + " not in the catalogue" +
                (c.catalogs == 1 ? "" : "s");
    return text;
}

std::string record_qn_text(const ComparedRecord& r, int n) {
    n = std::clamp(n, 1, MAX_QN);
    return joined(r.fields, 0, n, ' ') + " <- " + joined(r.fields, n, n, ' ');
}

namespace {

int table(const std::string& lin_path, const std::string& catalog_path, std::ostream& out,
          std::ostream& err) {
    Catalog catalog;
    const CatalogLoad load = read_catalog(catalog_path, catalog);
    if (!load.error.empty()) {
        err << catalog_path << ": " << load.error << '\n';
        return 1;
    }
    const Catalog* const list[] = {&catalog};
    const AssignmentComparison c = compare_assignments(lin_path, list);
    if (!c.error.empty()) {
        err << lin_path << ": " << c.error << '\n';
        return 1;
    }
    const int usual = usual_qn_count(catalog);
    out << "upper_state\tlower_state\tobserved\terror\tpredicted\to-c\to-c/error\tunit\tline\n";
    std::string row;
    for (const ComparedRecord& r : c.records) {
        const int n = r.catalog ? qn_count(catalog.lines()[*r.catalog_line].qnfmt) : usual;
        row = joined(r.fields, 0, n, ',') + '\t' + joined(r.fields, n, n, ',') + '\t' +
              table_number(r.observed) + '\t' + table_number(r.error) + '\t';
        if (r.catalog) {
            const int d = decimals_for_error(r.error);
            row += fixed(r.predicted, d) + '\t' + fixed(r.o_c, d) + '\t' +
                   (std::isinf(r.ratio) ? std::string(r.ratio > 0 ? "inf" : "-inf")
                                        : fixed(r.ratio, 2));
        } else {
            row += "-\t-\t-";
        }
        row += std::string(r.wavenumbers ? "\tcm-1\t" : "\tMHz\t") + std::to_string(r.line) + '\n';
        out << row;
    }
    err << catalog_path << ": " << load_summary(catalog.size(), load) << '\n';
    err << lin_path << ": " << comparison_summary(c) << '\n';
    out.flush();
    if (!out) {
        err << "the table could not be written\n";
        return 1;
    }
    return 0;
}

} // namespace

int write_comparison_table(const std::string& lin_path, const std::string& catalog_path,
                           std::ostream& out, std::ostream& err) {
    try {
        return table(lin_path, catalog_path, out, err);
    } catch (const std::bad_alloc&) {
        err << std::strerror(ENOMEM) << '\n';
        return 1;
    }
}

} // namespace korax
