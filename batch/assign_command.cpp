// `korax assign`: the profile fit at the predictions of a series, or of every
// prediction in the spectrum, with the review that the series view's A shows,
// as a table; --write adds the members taken to the assignment file as the
// view's Y does, in one write.
#include "batch/commands.h"
#include "batch/runner.h"

#include "base/format.h"
#include "catalog/assignments.h"
#include "series/engine.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

namespace korax {

namespace {

const std::string COMMAND = "korax assign";

// The quantum numbers as typed: 2n whole numbers separated by blanks or
// commas, "<-" between the states allowed; nullopt for anything else.
std::optional<std::pair<QnFields, int>> typed_transition(const std::string& text) {
    std::vector<int> values;
    bool arrow = false;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == ',' || text[at] == '\t') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != ',' && text[end] != '\t')
            ++end;
        const std::string word = text.substr(at, end - at);
        at = end;
        if (word == "<-") {
            if (arrow) return std::nullopt;
            arrow = true;
            continue;
        }
        int v = 0;
        const auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
        if (ec != std::errc() || p != word.data() + word.size() || v < -999 || v > 999)
            return std::nullopt;
        values.push_back(v);
    }
    if (values.empty() || values.size() % 2 != 0 || values.size() > 2 * MAX_QN) return std::nullopt;
    QnFields f{};
    for (std::size_t k = 0; k < values.size(); ++k)
        f[k] = values[k];
    return std::pair{f, static_cast<int>(values.size() / 2)};
}

std::string fixed(double v, int decimals) {
    if (!std::isfinite(v)) return "";
    char text[400];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return std::string(text, static_cast<std::size_t>(n));
}

struct Reviewed {
    const Series* series;
    std::vector<MemberFit> fits;
};

// The frequency and error as the record holds them (what the fitting program
// will read), or from the fit when it makes no record.
std::pair<std::string, std::string> record_numbers_text(const std::string& record) {
    const auto numbers = record.substr(std::min<std::size_t>(36, record.size()));
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < numbers.size() && words.size() < 2) {
        const auto begin = numbers.find_first_not_of(' ', at);
        if (begin == std::string::npos) break;
        const auto end = std::min(numbers.find(' ', begin), numbers.size());
        words.push_back(numbers.substr(begin, end - begin));
        at = end;
    }
    words.resize(2);
    // The written uncertainty of a frequency in cm-1 is negative: the table
    // shows the error itself.
    if (!words[1].empty() && words[1][0] == '-') words[1].erase(0, 1);
    return {words[0], words[1]};
}

} // namespace

int run_assign(const AssignCommand& cmd) {
    if (same_file(cmd.lin, cmd.spectrum) || same_file(cmd.lin, cmd.catalog)) {
        std::cerr << COMMAND << ": " << cmd.lin
                  << " is one of the files read, not an assignment file\n";
        return EXIT_USAGE;
    }
    std::optional<std::pair<QnFields, int>> through;
    std::optional<SeriesStep> step;
    if (!cmd.all) {
        through = typed_transition(cmd.series);
        if (!through) {
            std::cerr << COMMAND
                      << ": --series must be the quantum numbers of a transition, "
                         "upper state first (e.g. \"11 0 <- 10 0\"), not "
                      << cmd.series << "\n";
            return EXIT_USAGE;
        }
        if (!cmd.increment.empty()) {
            step = parse_step(cmd.increment, through->second);
            if (!step) {
                std::cerr << COMMAND << ": --increment must be " << 2 * through->second
                          << " steps of -1, 0 or +1, upper state first (e.g. \"+1 0 <- +1 0\"), "
                             "not "
                          << cmd.increment << "\n";
                return EXIT_USAGE;
            }
        }
    }

    Spectrum spectrum;
    if (const std::string why = load_spectrum(cmd.spectrum, spectrum); !why.empty()) {
        std::cerr << COMMAND << ": " << cmd.spectrum << ": " << why << "\n";
        return EXIT_FAILED;
    }
    std::vector<Catalog> catalogs(1);
    if (const CatalogLoad load = read_catalog(cmd.catalog, catalogs[0]); !load.error.empty()) {
        std::cerr << COMMAND << ": " << cmd.catalog << ": " << load.error << "\n";
        return EXIT_FAILED;
    }
    const Catalog& catalog = catalogs[0];
    const LinFrequencies lin = lin_frequencies(cmd.lin);
    if (!lin.error.empty()) {
        std::cerr << COMMAND << ": " << cmd.lin << ": " << lin.error << "\n";
        return EXIT_FAILED;
    }
    const auto npts = static_cast<std::size_t>(spectrum.npts);
    const FrequencyUnit unit = spectrum_unit(catalogs, spectrum.freq[1], spectrum.freq[npts]);
    SeriesFitSettings settings;
    settings.fit = cmd.fit;
    settings.tolerance = cmd.tolerance;
    settings.mhz_per_unit = unit == FrequencyUnit::Wavenumber ? MHZ_PER_WAVENUMBER : 1.0;
    settings.threshold = cmd.threshold;
    settings.threads = cmd.jobs;
    const SpectrumPoints points{spectrum.freq, spectrum.intens, spectrum.npts};
    const SeriesIndex index(catalog);

    // The series to fit: the one asked for, or the series of every prediction
    // in the spectrum, each prediction in the first series that holds it.
    std::vector<std::unique_ptr<Series>> series;
    std::vector<std::vector<bool>> wanted;
    if (!cmd.all) {
        const auto lines = index.lines_of(through->first, through->second);
        if (lines.empty()) {
            std::cerr << COMMAND << ": " << cmd.catalog << " holds no transition " << cmd.series
                      << "\n";
            return EXIT_FAILED;
        }
        if (!step) {
            const auto choices = candidate_steps(index, lines.front());
            if (choices.empty()) {
                std::cerr << COMMAND << ": no other transition of " << cmd.catalog
                          << " is a step of +-1 from " << cmd.series << "\n";
                return EXIT_FAILED;
            }
            step = choices.front().step;
        }
        series.push_back(std::make_unique<Series>(find_series(index, lines.front(), *step)));
        wanted.emplace_back();
    } else {
        const double mpu = settings.mhz_per_unit;
        std::vector<bool> taken(catalog.size(), false);
        for (std::size_t k = catalog.lower_bound(spectrum.freq[1] * mpu);
             k < catalog.size() && catalog.lines()[k].freq <= spectrum.freq[npts] * mpu; ++k) {
            if (taken[k] || catalog.lines()[k].lgint < cmd.threshold) continue;
            const auto choices = candidate_steps(index, k);
            auto s = std::make_unique<Series>(choices.empty()
                                                  ? Series{{}, {{k, 0}}, 0, 0, 0}
                                                  : find_series(index, k, choices.front().step));
            std::vector<bool> mine(s->members.size());
            for (std::size_t m = 0; m < s->members.size(); ++m)
                if (!taken[s->members[m].line]) mine[m] = taken[s->members[m].line] = true;
            series.push_back(std::move(s));
            wanted.push_back(std::move(mine));
            if (stop_requested()) break;
        }
    }

    RecordSettings rs;
    rs.fixed_unc = cmd.fixed_unc;
    rs.weight = cmd.weight;
    rs.equal_weights = cmd.equal_weights;
    rs.comment = cmd.spectrum;
    rs.unit = unit;
    std::string table = cmd.tsv
                            ? "series\torder\ttransition\tprediction\treference\tfrequency\terror\t"
                              "o-c\tflags\tdecision\treason\n"
                            : "";
    std::vector<Assignment> records;
    std::size_t fitted = 0, taken_count = 0;
    for (std::size_t s = 0; s < series.size(); ++s) {
        if (stop_requested()) {
            std::cerr << COMMAND << ": stopped; nothing written\n";
            std::cout << table;
            return EXIT_INTERRUPTED;
        }
        const Series& ser = *series[s];
        const auto measured = measured_members(ser, catalog, lin, settings.mhz_per_unit);
        const std::vector<MemberFit> fits =
            fit_series(ser, catalogs, 0, points, settings, measured, wanted[s]);
        const SeriesRecords made = taken_records(ser, catalog, fits, rs);
        if (!made.error.empty()) {
            std::cerr << COMMAND << ": " << made.error << "\n";
            return EXIT_FAILED;
        }
        std::vector<std::string> record_of(fits.size());
        for (const SeriesRecord& r : made.records)
            record_of[r.fit] = r.assignment.record;
        for (std::size_t i = 0; i < fits.size(); ++i) {
            const MemberFit& f = fits[i];
            const PredictedLine& line = catalog.lines()[ser.members[f.member].line];
            fitted += f.fit.fitted ? 1 : 0;
            taken_count += f.take ? 1 : 0;
            auto [freq, err] = record_numbers_text(record_of[i]);
            const int decimals = unit == FrequencyUnit::Wavenumber ? 6 : 4;
            if (freq.empty() && f.fit.fitted) {
                freq = fixed(f.fit.centre, decimals + 1);
                err = fixed(f.fit.error, decimals + 1);
            }
            const std::string oc = f.fit.fitted ? fixed(f.fit.centre - f.prediction, decimals) : "";
            const std::string qn = quantum_number_text(line);
            const std::string flags = f.fit.fitted ? flags_text(f.fit) : "";
            const std::string decision = f.take ? "take" : "skip";
            if (cmd.tsv) {
                table += std::to_string(s + 1) + "\t" +
                         std::to_string(ser.members[f.member].order) + "\t" + qn + "\t" +
                         fixed(f.prediction, decimals) + "\t" + fixed(f.reference, decimals) +
                         "\t" + freq + "\t" + err + "\t" + oc + "\t" + flags + "\t" + decision +
                         "\t" + f.decision.reason + "\n";
            } else {
                table += fmt_int(static_cast<long long>(s + 1), 4) +
                         fmt_int(ser.members[f.member].order, 4) + "  " + pad(qn, 22) +
                         pad(fixed(f.prediction, decimals), 15) + pad(freq, 17) + pad(err, 10) +
                         pad(oc, 10) + pad(flags, 14) + decision +
                         (f.decision.reason.empty() || f.decision.reason == "flagged"
                              ? ""
                              : "  " + f.decision.reason) +
                         "\n";
            }
        }
        for (const SeriesRecord& r : made.records)
            records.push_back(r.assignment);
    }
    std::cout << table << std::flush;
    std::cerr << COMMAND << ": " << series.size()
              << (series.size() == 1 ? " series, " : " series, ") << fitted << " fitted, "
              << taken_count << " taken\n";
    if (!cmd.write || records.empty()) return 0;
    const AssignOutcome done = write_assignments(cmd.lin, records, false);
    if (done.status == AssignStatus::AssignedAlready) {
        std::cerr << COMMAND << ": " << cmd.lin
                  << " holds a transition of these already, nothing written: " << done.line << "\n";
        return EXIT_FAILED;
    }
    if (done.status != AssignStatus::Written) {
        std::cerr << COMMAND << ": " << cmd.lin << ": " << done.text << "; nothing written\n";
        return EXIT_FAILED;
    }
    std::cerr << COMMAND << ": " << records.size() << " records written to " << cmd.lin << "\n";
    if (!done.text.empty()) {
        std::cerr << COMMAND << ": " << cmd.lin << ": " << done.text << "\n";
        return EXIT_FAILED;
    }
    return 0;
}

} // namespace korax
