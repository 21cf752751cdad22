// The command lines of the batch commands, parsed with CLI11, which also
// writes their --help texts. A bad command line gives a one-line reason and
// the command's usage on standard error and status 64.
#include "batch/batch.h"
#include "batch/commands.h"
#include "batch/runner.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include <malloc.h>

namespace korax {

namespace {

std::optional<long long> whole_number(const std::string& text) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end) return std::nullopt;
    return v;
}

// An odd width from lo to hi; `negative` also accepts -hi .. -lo.
std::function<std::string(const std::string&)> odd_width(int lo, int hi, bool negative = false) {
    return [=](const std::string& text) -> std::string {
        const auto v = whole_number(text);
        const long long a = v ? (*v < 0 && negative ? -*v : *v) : 0;
        if (v && a >= lo && a <= hi && a % 2 == 1) return {};
        std::string range =
            "an odd number from " + std::to_string(lo) + " to " + std::to_string(hi);
        if (negative)
            range += " (or from -" + std::to_string(hi) + " to -" + std::to_string(lo) +
                     " for the clipped form)";
        return "must be " + range + ", not " + text;
    };
}

std::function<std::string(const std::string&)> level_value() {
    return [](const std::string& text) -> std::string {
        const auto v = whole_number(text);
        if (v && *v >= -32768 && *v <= 32767) return {};
        return "must be a whole intensity from -32768 to 32767, not " + text;
    };
}

std::function<std::string(const std::string&)> positive_count() {
    return [](const std::string& text) -> std::string {
        const auto v = whole_number(text);
        if (v && *v >= 1 && *v <= 1024) return {};
        return "must be a number of jobs from 1 to 1024, not " + text;
    };
}

std::function<std::string(const std::string&)> shape_value() {
    return [](const std::string& text) -> std::string {
        if (parse_shape(text)) return {};
        return "must be gauss, lorentz or voigt followed by the derivative 0, 1 or 2 "
               "(e.g. lorentz2), not " +
               text;
    };
}

std::function<std::string(const std::string&)> components_value() {
    return [](const std::string& text) -> std::string {
        const auto v = whole_number(text);
        if (text == "auto" || (v && *v >= 1 && *v <= MAX_COMPONENTS)) return {};
        return "must be auto or a number of lines from 1 to " + std::to_string(MAX_COMPONENTS) +
               ", not " + text;
    };
}

// Runs `app` over the arguments; nullopt to go on, or the exit status.
std::optional<int> parse(CLI::App& app, std::span<const std::string_view> args,
                         const std::string& usage) {
    std::vector<std::string> words;
    words.emplace_back("korax " + std::string(args[0]));
    for (std::size_t i = 1; i < args.size(); ++i)
        words.emplace_back(args[i]);
    std::vector<const char*> argv;
    for (const auto& w : words)
        argv.push_back(w.c_str());
    try {
        app.parse(int(argv.size()), argv.data());
    } catch (const CLI::Success&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cerr << app.get_name() << ": " << e.what() << "\n" << usage;
        return EXIT_USAGE;
    }
    return std::nullopt;
}

int usage_error(const std::string& command, const std::string& message, const std::string& usage) {
    std::cerr << command << ": " << message << "\n" << usage;
    return EXIT_USAGE;
}

const std::string PEAKS_USAGE = "usage: korax peaks [options] FILE...   (korax peaks --help)\n";
const std::string CONVERT_USAGE =
    "usage: korax convert [--force] IN OUT   (korax convert --help)\n";
const std::string DIFF_USAGE = "usage: korax diff [--k K] [--from F] [--to F] [--format "
                               "pelmo|text] [--force] A B -o OUT   (korax diff --help)\n";
const std::string INFO_USAGE = "usage: korax info [--json] [-j N] FILE...   (korax info --help)\n";
const std::string CATALOG_USAGE =
    "usage: korax catalog FILE [--from F] [--to F] | --lin LIN FILE   (korax catalog --help)\n";

int peaks(std::span<const std::string_view> args) {
    CLI::App app("Find the lines of many spectra as PEAKFINDER does and write one results file "
                 "per spectrum (NAME.peaks, beside it or in -o DIR).",
                 "korax peaks");
    PeaksCommand cmd;
    cmd.jobs = processor_count();
    int smooth = 0, baseline = 0, nfit = 7, level = 0, cutoff = 0;
    double sigma = 0;
    std::string clip;
    app.add_option("FILE", cmd.files, "Spectra: PELMO or two-column text")->required();
    app.add_option("--smooth", smooth,
                   "Smooth once with an N-point cubic Savitzky-Golay filter (the N key), odd, "
                   "5..499")
        ->check(odd_width(5, 499), "N");
    app.add_option("--baseline", baseline,
                   "Subtract a baseline smoothed five times with N points (the B key), odd, "
                   "5..499; -N with --clip for the clipped form")
        ->check(odd_width(5, 499, true), "N");
    app.add_option("--clip", clip,
                   "LO,HI: with --baseline -N, the band around the preliminary baseline into "
                   "which the spectrum is clipped before the final baseline");
    app.add_option("--nfit", nfit, "Fitting width of PEAKFINDER, odd, 5..499")
        ->check(odd_width(5, 499), "W")
        ->capture_default_str();
    auto* level_opt = app.add_option("--level", level,
                                     "Baseline level, absolute intensity (default: the mean "
                                     "intensity, as the viewer offers it)")
                          ->check(level_value(), "L");
    auto* cutoff_opt =
        app.add_option("--cutoff", cutoff, "Cutoff, absolute intensity a line must reach")
            ->check(level_value(), "C");
    auto* sigma_opt = app.add_option(
        "--cutoff-sigma", sigma,
        "Cutoff K robust standard deviations of the noise above the level; the noise is "
        "1.4826 x the median absolute deviation of the spectrum minus its 5-point smoothed "
        "self, carried through --smooth, and is printed");
    app.add_option("-o,--output", cmd.output_dir, "Folder for the results files (must exist)");
    app.add_flag("--force", cmd.force, "Replace existing results files");
    app.add_flag("--tsv", cmd.tsv,
                 "Print every line of every file as one tab-separated table on standard output "
                 "(file, frequency, error, intensity, fwhh; with --profile also the widths, chi2, "
                 "the fit's lines and the line's flags, - for none); the summaries go to "
                 "standard error");
    app.add_option("-j,--jobs", cmd.jobs, "Spectra processed in parallel (default: the processors)")
        ->check(positive_count(), "N");
    std::string profile, components = "auto";
    int baseline_degree = 1;
    auto* profile_opt =
        app.add_option("--profile", profile,
                       "Refine every line found with the profile fit of the X key: gauss, "
                       "lorentz or voigt and the derivative 0, 1 or 2 (e.g. lorentz2); "
                       "neighbours within the fit's window are fitted together, and the "
                       "results file's columns come from the fit")
            ->check(shape_value(), "SHAPE");
    auto* components_opt =
        app.add_option("--components", components,
                       "With --profile: lines fitted together, 1 to 5, or auto for as many as "
                       "the window shows (default auto)")
            ->check(components_value(), "auto|N");
    auto* degree_opt =
        app.add_option("--baseline-degree", baseline_degree,
                       "With --profile: degree of the baseline polynomial, 0 to 2 (default 1)")
            ->check(CLI::Range(0, 2), "D");
    bool free_widths = false;
    auto* free_opt = app.add_flag(
        "--free-widths", free_widths,
        "With --profile: every line of a blend with its own widths (by default they share "
        "them, unless the shared fit's residual asks for free ones)");
    bool dips = false;
    auto* dips_opt = app.add_flag(
        "--dips", dips,
        "With --profile: the lines point down (absorption as dips, or a derivative of the other "
        "sign); without it undifferentiated profiles are taken as dips when more lines stand "
        "out below the level than above it");
    cutoff_opt->excludes(sigma_opt);
    free_opt->needs(profile_opt);
    dips_opt->needs(profile_opt);
    components_opt->needs(profile_opt);
    degree_opt->needs(profile_opt);
    if (auto status = parse(app, args, PEAKS_USAGE)) return *status;

    if (!cutoff_opt->count() && !sigma_opt->count())
        return usage_error("korax peaks", "give the cutoff: --cutoff C or --cutoff-sigma K",
                           PEAKS_USAGE);
    if (sigma_opt->count() && !(sigma >= 0 && sigma <= 1e6))
        return usage_error("korax peaks", "--cutoff-sigma must be from 0 to 1000000", PEAKS_USAGE);
    PeaksSettings& st = cmd.settings;
    if (profile_opt->count()) {
        ProfileFitSettings fit;
        fit.shape = *parse_shape(profile);
        fit.baseline_degree = baseline_degree;
        fit.components = components == "auto" ? 0 : std::stoi(components);
        fit.free_widths = free_widths;
        st.profile = fit;
        st.dips = dips;
    }
    st.smooth = smooth;
    st.baseline = baseline;
    st.nfit = static_cast<std::int16_t>(nfit);
    if (level_opt->count()) st.level = static_cast<std::int16_t>(level);
    if (cutoff_opt->count()) st.cutoff = static_cast<std::int16_t>(cutoff);
    if (sigma_opt->count()) st.cutoff_sigma = sigma;
    if (baseline < 0 && clip.empty())
        return usage_error("korax peaks", "--baseline -N needs --clip LO,HI", PEAKS_USAGE);
    if (!clip.empty()) {
        if (baseline >= 0)
            return usage_error("korax peaks", "--clip belongs to --baseline -N", PEAKS_USAGE);
        const auto comma = clip.find(',');
        const auto lo = whole_number(clip.substr(0, comma));
        const auto hi =
            comma == std::string::npos ? std::nullopt : whole_number(clip.substr(comma + 1));
        if (!lo || !hi || *lo >= *hi || *lo < -1000000000 || *hi > 1000000000)
            return usage_error("korax peaks",
                               "--clip must be LO,HI: two whole numbers with LO below HI, "
                               "between -1000000000 and 1000000000, not " +
                                   clip,
                               PEAKS_USAGE);
        st.clip_lo = static_cast<std::int32_t>(*lo);
        st.clip_hi = static_cast<std::int32_t>(*hi);
    }
    return run_peaks(cmd);
}

int convert(std::span<const std::string_view> args) {
    CLI::App app(
        "Convert a PELMO spectrum to two-column text, or a two-column text spectrum to PELMO.\n"
        "PELMO to text loses nothing: every frequency at full precision, every intensity as an "
        "integer, and the recording header in the comment line, so that the text converts back "
        "to the same PELMO file.\n"
        "Text to PELMO reads, linearises and saves as the interactive program does. Unless the "
        "text was written by korax convert, that loses information: the intensities are "
        "rescaled to -10000..10000, so their scale and offset are gone; an uneven "
        "axis is resampled onto a linear one; only 72 characters of the comment are kept; and "
        "the file gets the reader's stand-in header (date 2000-01-01, 51 points per second, the "
        "largest intensity as sample), since a text holds none.",
        "korax convert");
    ConvertCommand cmd;
    app.add_option("IN", cmd.in, "Spectrum to read")->required();
    app.add_option("OUT", cmd.out, "File to write, in the other format")->required();
    app.add_flag("--force", cmd.force, "Replace OUT when it exists");
    if (auto status = parse(app, args, CONVERT_USAGE)) return *status;
    return run_convert(cmd);
}

int diff(std::span<const std::string_view> args) {
    CLI::App app(
        "Write the difference A - k x B of two spectra: B interpolated linearly onto the points "
        "of A (and taken as 0 where it does not reach, so that A stays as it is there), the "
        "result truncated to whole intensities, as the viewer's difference mode (~, taken with "
        "!) makes it. k is the least-squares scale of B to A (A ~ k x B + c) over the points of "
        "A within --from and --to (all of A by default), or --k. OUT gets A's format and "
        "recording header: a PELMO file as the viewer's M saves it, or two-column text as "
        "korax convert writes it.",
        "korax diff");
    DiffCommand cmd;
    double k = 0;
    std::string format = "same";
    app.add_option("A", cmd.a, "The spectrum in work: PELMO or two-column text")->required();
    app.add_option("B", cmd.b, "The reference subtracted from it, on any grid")->required();
    app.add_option("-o,--output", cmd.out, "File to write")->required();
    auto* k_opt = app.add_option("--k", k, "The factor of B instead of the fitted one");
    auto* from_opt = app.add_option("--from", cmd.from, "Lowest frequency of the fit of k");
    auto* to_opt = app.add_option("--to", cmd.to, "Highest frequency of the fit of k");
    app.add_option("--format", format, "pelmo or text (default: the format of A)")
        ->check(CLI::IsMember({"pelmo", "text", "same"}), "pelmo|text");
    app.add_flag("--force", cmd.force, "Replace OUT when it exists");
    k_opt->excludes(from_opt)->excludes(to_opt);
    if (auto status = parse(app, args, DIFF_USAGE)) return *status;
    if (k_opt->count()) {
        if (!std::isfinite(k)) return usage_error("korax diff", "--k must be finite", DIFF_USAGE);
        cmd.k = k;
    }
    if (!(cmd.from <= cmd.to))
        return usage_error("korax diff", "--from must not lie above --to", DIFF_USAGE);
    cmd.format = format == "pelmo"  ? DiffCommand::Format::Pelmo
                 : format == "text" ? DiffCommand::Format::Text
                                    : DiffCommand::Format::Same;
    return run_diff(cmd);
}

int info(std::span<const std::string_view> args) {
    CLI::App app("Print the recording parameters of spectra, as the information screen shows "
                 "them: \"key: value\" lines and a blank line for each file, or with --json "
                 "one JSON object per file and line. A two-column text holds no recording "
                 "parameters (unless korax convert wrote it): they are empty, or null in JSON.",
                 "korax info");
    InfoCommand cmd;
    cmd.jobs = processor_count();
    app.add_option("FILE", cmd.files, "Spectra: PELMO or two-column text")->required();
    app.add_flag("--json", cmd.json, "One JSON object per file, one per line");
    app.add_option("-j,--jobs", cmd.jobs, "Spectra read in parallel (default: the processors)")
        ->check(positive_count(), "N");
    if (auto status = parse(app, args, INFO_USAGE)) return *status;
    return run_info(cmd);
}

const std::string ASSIGN_USAGE =
    "usage: korax assign SPECTRUM --catalog CAT --lin FILE (--series QN [--increment INC] | "
    "--all) [options]   (korax assign --help)\n";

int assign(std::span<const std::string_view> args) {
    CLI::App app("Fit the lines of a series of a line catalogue (--series), or of every "
                 "prediction in the spectrum's range (--all, each in its series), with the "
                 "profile fit at the predictions moved by the trend of the series' members "
                 "already in the assignment file, and print the review of the series view's A "
                 "key: one row per member, taken or skipped (no line within the tolerance, the "
                 "fit refused, or flagged). --write adds the members taken to the assignment "
                 "file in one write, as the view's Y does.",
                 "korax assign");
    AssignCommand cmd;
    std::string profile = "lorentz2";
    app.add_option("SPECTRUM", cmd.spectrum, "Spectrum: PELMO or two-column text")->required();
    app.add_option("--catalog", cmd.catalog, "Line catalogue of the predictions")->required();
    app.add_option("--lin", cmd.lin,
                   "Assignment file: its members are the trend's, and --write adds to it")
        ->required();
    auto* series_opt = app.add_option("--series", cmd.series,
                                      "Quantum numbers of a transition of the series, upper "
                                      "state first, e.g. \"11 0 <- 10 0\"");
    auto* increment_opt =
        app.add_option("--increment", cmd.increment,
                       "Step of each quantum number from one member to the next, -1, 0 or +1, "
                       "e.g. \"+1 0 <- +1 0\" (default: the step of the longest series)");
    auto* all_opt = app.add_flag("--all", cmd.all, "Every prediction in the spectrum's range");
    app.add_option("--tolerance", cmd.tolerance,
                   "Largest distance of a fitted line from its member's position, in the "
                   "spectrum's unit (default 1)")
        ->check(CLI::PositiveNumber);
    app.add_option("--threshold", cmd.threshold,
                   "Only predictions of at least this log10 intensity are fitted");
    app.add_option("--profile", profile, "Profile of the fit (default lorentz2)")
        ->check(shape_value(), "SHAPE");
    app.add_option("--fixed-uncertainty", cmd.fixed_unc,
                   "Written instead of the fit's error (default: the fit's error)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--weight", cmd.weight, "Weight of a record (default 1)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--equal-weights", cmd.equal_weights,
                 "Members on one line: equal weights instead of by predicted intensity");
    app.add_flag("--tsv", cmd.tsv, "The table tab-separated, with a header line");
    app.add_flag("--write", cmd.write, "Add the members taken to the assignment file");
    cmd.jobs = processor_count();
    app.add_option("-j,--jobs", cmd.jobs, "Fits run in parallel (default: the processors)")
        ->check(positive_count(), "N");
    series_opt->excludes(all_opt);
    increment_opt->needs(series_opt);
    if (auto status = parse(app, args, ASSIGN_USAGE)) return *status;
    if (!series_opt->count() && !cmd.all)
        return usage_error("korax assign", "give --series QN or --all", ASSIGN_USAGE);
    if (!std::isfinite(cmd.tolerance) || !std::isfinite(cmd.threshold) ||
        !std::isfinite(cmd.fixed_unc) || !std::isfinite(cmd.weight))
        return usage_error("korax assign", "the numbers must be finite", ASSIGN_USAGE);
    cmd.fit.shape = *parse_shape(profile);
    return run_assign(cmd);
}

int catalog(std::span<const std::string_view> args) {
    CLI::App app("Print the lines of a line catalogue as a tab-separated table: frequency, "
                 "uncertainty, log intensity, degrees of freedom, lower-state energy, "
                 "upper-state degeneracy, tag, format code, upper and lower quantum numbers "
                 "(each state's numbers joined by commas) and label. The number of lines "
                 "that could not be read goes to standard error.",
                 "korax catalog");
    std::string file, lin;
    double from = -std::numeric_limits<double>::infinity();
    double to = std::numeric_limits<double>::infinity();
    app.add_option("FILE", file, "Line catalogue")->required();
    auto* from_opt = app.add_option("--from", from, "Lowest frequency shown");
    auto* to_opt = app.add_option("--to", to, "Highest frequency shown");
    auto* lin_opt = app.add_option(
        "--lin", lin,
        "Instead of the lines: every record of this assignment file against the prediction of "
        "its transition in FILE (a new fit's catalogue), as a table of upper and lower quantum "
        "numbers, observed frequency, error, predicted frequency, o-c, o-c/error, unit (MHz, or "
        "cm-1 for a record with a negative uncertainty) and the record's line, the largest "
        "|o-c|/error first; the records whose transition FILE lacks are listed last, with - "
        "for the prediction. The counts within 1 and 3 errors and beyond go to standard error");
    lin_opt->excludes(from_opt)->excludes(to_opt);
    if (auto status = parse(app, args, CATALOG_USAGE)) return *status;
    if (lin_opt->count()) return batch_catalog_lin(lin, file);
    return batch_catalog(file, from, to);
}

} // namespace

bool is_batch_command(std::string_view first) {
    return first == "peaks" || first == "convert" || first == "info" || first == "catalog" ||
           first == "diff" || first == "assign";
}

int run_batch_command(std::span<const std::string_view> args) {
    // Commands that run over files end at Ctrl-C with their summary, also
    // before the first file; `catalog` just ends.
    if (args[0] != "catalog") catch_stop_signals();
    // A campaign allocates the same few spectrum-sized buffers for each of
    // its files. Left to the defaults, each comes fresh from the system and
    // is freed back to it, and every page of it faults and is cleared again:
    // a tenth of a profile run's time. Kept in the heap instead, the next
    // file's buffers reuse those pages; the peak is that of one file's.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    if (args[0] == "peaks") return peaks(args);
    if (args[0] == "convert") return convert(args);
    if (args[0] == "diff") return diff(args);
    if (args[0] == "info") return info(args);
    if (args[0] == "assign") return assign(args);
    return catalog(args);
}

std::string batch_usage_lines() {
    return "       korax peaks [options] FILE...\n"
           "       korax convert [--force] IN OUT\n"
           "       korax diff [--k K] [--from F] [--to F] [--format pelmo|text] [--force] A B -o "
           "OUT\n"
           "       korax info [--json] [-j N] FILE...\n"
           "       korax catalog FILE [--from F] [--to F]\n"
           "       korax catalog --lin LIN FILE\n"
           "       korax assign SPECTRUM --catalog CAT --lin FILE (--series QN | --all) ...\n";
}

} // namespace korax
