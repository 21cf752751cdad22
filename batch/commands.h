// The batch commands behind their command lines: each takes its parsed options
// and returns the exit status.
#pragma once

#include "batch/processing.h"

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

struct PeaksCommand {
    std::vector<std::string> files;
    PeaksSettings settings;
    std::string output_dir; // empty: beside each spectrum
    bool force = false;
    bool tsv = false;
    int jobs = 1;
};
int run_peaks(const PeaksCommand& command);

// The results file of `spectrum` for `korax peaks`: NAME.peaks in `output_dir`,
// or beside the spectrum when that is empty.
std::string results_path(const std::string& spectrum, const std::string& output_dir);

// Whether two names are one file: the same name once "." and ".." are taken
// out, or the same device and inode (a link, another path).
bool same_file(const std::string& a, const std::string& b);

struct ConvertCommand {
    std::string in, out;
    bool force = false;
};
int run_convert(const ConvertCommand& command);

// The working spectrum as two-column text: the comment line, then one line per
// point with the frequency in the shortest form that reads back to the same
// 64-bit value and the intensity as an integer, CR LF line ends.
std::string ascii_image(const Spectrum& spectrum);
// The same text handed to `sink` in pieces.
void write_ascii(const Spectrum& spectrum, const std::function<void(std::string_view)>& sink);

struct DiffCommand {
    enum class Format { Same, Pelmo, Text }; // Same: A's format
    std::string a, b, out;
    std::optional<double> k; // none: fitted by least squares over [from, to]
    double from = -std::numeric_limits<double>::infinity();
    double to = std::numeric_limits<double>::infinity();
    Format format = Format::Same;
    bool force = false;
};
// A - k x B with B interpolated onto the points of A (taken as 0 where B does
// not reach), written to OUT; OUT may be neither input (status 64).
int run_diff(const DiffCommand& command);

struct AssignCommand {
    std::string spectrum, catalog, lin;
    std::string series;    // the transition of the series, as typed; empty with `all`
    std::string increment; // its step, as typed; empty: the longest series
    bool all = false;
    double tolerance = 1.0;
    double threshold = -1e30; // log10 intensity
    ProfileFitSettings fit;
    double fixed_unc = 0, weight = 1;
    bool equal_weights = false;
    bool tsv = false, write = false;
    int jobs = 1; // threads of the fits
};
int run_assign(const AssignCommand& command);

struct InfoCommand {
    std::vector<std::string> files;
    bool json = false;
    int jobs = 1;
};
int run_info(const InfoCommand& command);

// The recording parameters of the information screen as "key: value" lines,
// or as one line of JSON.
std::string info_text(const Spectrum& spectrum);
std::string info_json(const Spectrum& spectrum);

} // namespace korax
