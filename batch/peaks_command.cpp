// `korax peaks`: PEAKFINDER over many spectra, one results file each, written
// as the interactive PEAKFINDER writes it, and optionally one table of every
// line on standard output.
#include "batch/commands.h"
#include "batch/runner.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include <sys/stat.h>

#include <unistd.h>

namespace korax {

namespace {

const std::string COMMAND = "korax peaks";

// Shortest text that reads back to the same double.
std::string number(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// With at least the 5 decimals of the results file, and as many more as two
// significant digits of the error ask for; a value that is not a number is an
// empty cell.
void append_decimal(std::string& t, double v, int decimals = 5) {
    if (!std::isfinite(v)) return;
    char text[400]; // the widest double in fixed form has 309 integer digits
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, v);
    t.append(text, static_cast<std::size_t>(n));
}

// An error with its two significant digits, however small: in exponent form
// where fixed decimals would run past those a double holds.
void append_error(std::string& t, double error) {
    const int decimals = std::max(5, error_decimals(error));
    if (decimals <= 17 || !std::isfinite(error)) {
        append_decimal(t, error, decimals);
        return;
    }
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.1e", error);
    t.append(text, static_cast<std::size_t>(n));
}

// The frequency and its error, and the decimals the row's other frequencies
// (the FWHH) take from them.
int append_frequency(std::string& t, double frequency, double error) {
    const int decimals = value_decimals(frequency, error, 5);
    append_decimal(t, frequency, decimals);
    t += '\t';
    append_error(t, error);
    return decimals;
}

// A width and its error, or the width with the row's decimals when its error
// is not known.
void append_width(std::string& t, double width, double error, int row_decimals) {
    append_decimal(t, width, std::isfinite(error) ? value_decimals(width, error, 5) : row_decimals);
    t += '\t';
    append_error(t, error);
}

std::string tsv_rows(const std::string& file, const std::vector<FoundLine>& lines) {
    std::string t;
    for (const FoundLine& l : lines) {
        t += file;
        t += '\t';
        int decimals = 5;
        if (l.fitted) {
            decimals = append_frequency(t, l.frequency, l.error);
            t += '\t';
            t += std::to_string(l.intensity);
        } else {
            append_decimal(t, l.frequency);
            t += "\t\t";
        }
        t += '\t';
        if (l.fwhh) append_decimal(t, *l.fwhh, decimals);
        t += '\n';
    }
    return t;
}

// With the profile: the five columns as above from the fit, then the width
// parameters with their errors (empty where the profile has none), the
// reduced chi-square, the number of lines the fit had and the line's flags
// ("-" for none, so that one test of the last field keeps the sound lines);
// a refused fit has only its frequency, 0 lines and "refused".
std::string profile_tsv_rows(const std::string& file, const std::vector<ProfileLine>& lines,
                             const ProfileFitSettings& settings) {
    std::string t;
    const bool gauss = uses_gauss_width(settings.shape.profile);
    const bool lorentz = uses_lorentz_width(settings.shape.profile);
    for (const ProfileLine& p : lines) {
        t += file;
        t += '\t';
        if (p.refusal) {
            // Where PEAKFINDER put the line, to the digits of its error there.
            append_decimal(t, p.line.frequency, value_decimals(p.line.frequency, p.line.error, 5));
            t += "\t\t\t\t\t\t\t\t\t0\trefused\n";
            continue;
        }
        const int decimals = append_frequency(t, p.line.frequency, p.line.error);
        t += '\t';
        t += std::to_string(p.line.intensity);
        t += '\t';
        append_decimal(t, *p.line.fwhh, decimals);
        for (const auto& [used, value, error] :
             {std::tuple{gauss, p.widths.gauss, p.width_errors.gauss},
              std::tuple{lorentz, p.widths.lorentz, p.width_errors.lorentz}}) {
            t += '\t';
            if (used)
                append_width(t, value, error, decimals);
            else
                t += '\t';
        }
        t += '\t';
        t += number(p.reduced_chi_square);
        t += '\t';
        t += std::to_string(p.components);
        t += '\t';
        t += flags_text(p.flags);
        t += '\n';
    }
    return t;
}

// ", 12 flagged (3 saturated, 2 edge, 7 blend?)": the measured lines with a
// flag and how many carry each; nothing when none has one.
std::string flag_counts(const std::vector<ProfileLine>& lines) {
    std::map<std::string_view, int> count;
    int flagged = 0;
    for (const ProfileLine& p : lines) {
        if (p.refusal || !p.flags.any()) continue;
        ++flagged;
        for (std::string_view name : flag_names(p.flags))
            ++count[name];
    }
    if (flagged == 0) return {};
    std::string t = ", " + std::to_string(flagged) + " flagged (";
    bool first = true;
    for (std::string_view name : {"saturated", "edge", "blend?", "shape", "low"}) {
        if (!count.contains(name)) continue;
        if (!first) t += ", ";
        first = false;
        t += std::to_string(count[name]) + " " + std::string(name);
    }
    return t + ")";
}

// A folder that can take new files: it exists, is a folder, and we may write
// and enter it. Empty when it can; else why not.
std::string folder_problem(const std::string& dir) {
    std::error_code ec;
    const auto status = std::filesystem::status(dir, ec);
    if (!std::filesystem::exists(status)) return "does not exist";
    if (!std::filesystem::is_directory(status)) return "is not a folder";
    if (::access(dir.c_str(), W_OK | X_OK) != 0) return "cannot be written";
    return {};
}

FileOutcome one_spectrum(const PeaksCommand& cmd, const std::string& file, int threads) {
    FileOutcome o;
    auto fail = [&](const std::string& why) {
        o.ok = false;
        o.err = COMMAND + ": " + file + ": " + why + "\n";
        return o;
    };
    const std::string target = results_path(file, cmd.output_dir);
    std::error_code ec;
    if (!cmd.force && std::filesystem::exists(std::filesystem::symlink_status(target, ec)))
        return fail(target + " exists already (--force replaces it)");
    if (cmd.output_dir.empty()) {
        const std::string dir = directory_part(file).empty() ? "." : directory_part(file);
        if (const auto why = folder_problem(dir); !why.empty())
            return fail("the folder " + dir + " " + why);
    }

    // Kept per worker thread, so that the files of a campaign reuse its arrays.
    thread_local Spectrum sp;
    if (const std::string why = load_spectrum(file, sp); !why.empty()) return fail(why);
    if (sp.iymin == sp.iymax) return fail("zero dynamic range in data");

    PeaksSettings st = cmd.settings;
    st.threads = threads;
    std::optional<double> noise;
    if (st.cutoff_sigma) noise = noise_deviation(sp.intens, sp.npts, st.smooth);
    const auto levels = process_spectrum(sp, st, &stop_requested());
    if (!levels || stop_requested().load()) return fail("stopped; no results written");
    // The profile fits of a large file take long: the bar counts them, and a
    // stop keeps the lines measured, whole, with the file saying where it ended.
    RefineControl control;
    control.stop = &stop_requested();
    control.progress = [](std::size_t done, std::size_t total) { report_lines(done, total); };
    const PeakResults res = find_peaks(sp, *levels, st, noise, control);

    SafeFile out;
    const auto status = out.open(target, cmd.force ? OpenMode::Unknown : OpenMode::New);
    if (status == SafeFile::Status::Exists)
        return fail(target + " exists already (--force replaces it)");
    if (status == SafeFile::Status::Error) return fail(target + ": " + out.error_text());
    out.write(res.text);
    if (stop_requested().load() && !res.interrupted && !st.profile) {
        out.abandon();
        return fail("stopped; no results written");
    }
    if (!out.commit()) return fail(target + ": " + out.error_text());
    // In place, but not as it should be (the folder not synced, a temporary
    // left): said after the summary, and the run's status is 1.
    const std::string note = out.error_text();

    std::string summary = file + ": " + std::to_string(res.totals.count) + " lines";
    if (st.profile) summary += " fitted as " + shape_name(st.profile->shape);
    if (res.totals.failed > 0) {
        summary += ", " + std::to_string(res.totals.failed) +
                   (st.profile ? " refused profile fits" : " failed fits");
        const auto at_end =
            std::count_if(res.profile_lines.begin(), res.profile_lines.end(),
                          [](const ProfileLine& p) { return p.refusal == FitRefusal::AtEnd; });
        if (at_end > 0) summary += " (" + std::to_string(at_end) + " at the ends)";
    }
    if (st.profile) summary += flag_counts(res.profile_lines);
    if (res.below_cutoff > 0)
        summary += ", " + std::to_string(res.below_cutoff) + " fitted below the cutoff";
    if (res.noise) {
        char text[48];
        std::snprintf(text, sizeof text, ", noise %.2f", *res.noise);
        summary += text;
    }
    summary += ", level " + std::to_string(res.level) + ", cutoff " + std::to_string(res.cutoff);
    if (sp.linearised)
        summary += ", axis linearised (largest deviation " + number(double(sp.max_deviation)) +
                   " at point " + std::to_string(sp.max_deviation_at) + ")";
    summary += " -> " + target;
    o.cut_short = res.interrupted;
    if (res.interrupted)
        summary += " (interrupted: " + std::to_string(res.examined) + " of " +
                   std::to_string(res.candidates) + " found lines examined)";
    summary += "\n";
    // The table keeps standard output to itself; the summaries then go to
    // standard error.
    if (cmd.tsv) {
        o.out = st.profile ? profile_tsv_rows(file, res.profile_lines, *st.profile)
                           : tsv_rows(file, res.lines);
        o.err = summary;
    } else {
        o.out = summary;
    }
    if (!note.empty()) {
        o.ok = false;
        o.err += COMMAND + ": " + target + ": " + note + "\n";
    }
    return o;
}

} // namespace

std::string results_path(const std::string& spectrum, const std::string& output_dir) {
    std::string name = std::string(file_part(spectrum)) + ".peaks";
    if (output_dir.empty()) return directory_part(spectrum) + name;
    if (output_dir.back() == '/') return output_dir + name;
    return output_dir + "/" + name;
}

namespace {

// A results file that would be one of the spectra read ("a" and "a.peaks"
// given together, or a link): refused before any work, --force or not. The
// inputs are looked at once each, so that thousands of files cost no more
// than their names.
std::string output_over_input(const PeaksCommand& cmd) {
    std::set<std::string> names;
    std::set<std::pair<dev_t, ino_t>> files;
    for (const auto& input : cmd.files) {
        names.insert(std::filesystem::path(input).lexically_normal().string());
        struct stat st {};
        if (::stat(input.c_str(), &st) == 0) files.insert({st.st_dev, st.st_ino});
    }
    for (const auto& f : cmd.files) {
        const std::string target = results_path(f, cmd.output_dir);
        struct stat st {};
        if (names.contains(std::filesystem::path(target).lexically_normal().string()) ||
            (::stat(target.c_str(), &st) == 0 && files.contains({st.st_dev, st.st_ino})))
            return target + " is one of the spectra read: an input is never an output";
    }
    return {};
}

} // namespace

int run_peaks(const PeaksCommand& given) {
    PeaksCommand cmd = given;
    for (auto& f : cmd.files)
        f = opening_name(f);
    if (!cmd.output_dir.empty()) {
        if (const auto why = folder_problem(cmd.output_dir); !why.empty()) {
            std::cerr << COMMAND << ": the output folder " << cmd.output_dir << " " << why << "\n";
            return EXIT_FAILED;
        }
    }
    // Two spectra of the same name from different folders (or one named twice)
    // would write one results file; refuse before any work rather than lose one.
    std::map<std::string, std::string> targets;
    for (const auto& f : cmd.files) {
        const std::string t =
            std::filesystem::path(results_path(f, cmd.output_dir)).lexically_normal().string();
        auto [it, fresh] = targets.emplace(t, f);
        if (fresh) continue;
        if (it->second == f)
            std::cerr << COMMAND << ": " << f << " is given twice\n";
        else
            std::cerr << COMMAND << ": " << it->second << " and " << f << " would both write " << t
                      << "\n";
        return EXIT_USAGE;
    }
    if (const std::string clash = output_over_input(cmd); !clash.empty()) {
        std::cerr << COMMAND << ": " << clash << "\n";
        return EXIT_USAGE;
    }
    if (cmd.tsv) {
        std::cout << "file\tfrequency\terror\tintensity\tfwhh";
        if (cmd.settings.profile)
            std::cout
                << "\tgauss_fwhm\tgauss_error\tlorentz_fwhm\tlorentz_error\tchi2\tlines\tflags";
        std::cout << "\n" << std::flush;
    }
    return run_files(cmd.files, cmd.jobs, COMMAND, [&](std::size_t i, int threads) {
        return one_spectrum(cmd, cmd.files[i], threads);
    });
}

} // namespace korax
