// The load beside the store: the interactive readers' pieces (header decoding, the
// intensity block, the text decoder, the axis statistics and resampling)
// joined in the same order, with every refusal turned into a reason instead of
// a screen. Refusals that end an interactive run (over capacity, unreadable
// intensities) only refuse the one file here.
#include "input/spectrum_file.h"

#include "base/format.h"
#include "base/input_file.h"
#include "input/ascii.h"
#include "input/linearise.h"
#include "input/pelmo_format.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

std::string axis_text(double fstart, double fend, double fstep) {
    return "problems with frequency limits: from" + fmt_fixed(fstart, 11, 2) + " to" +
           fmt_fixed(fend, 10, 2) + ", step size" + fmt_fixed(fstep, 8, 5) +
           " (an old data standard?)";
}

// The PELMO reader's steps after a plausible header; an empty string when the
// spectrum is loaded.
std::string load_pelmo(std::FILE* file, Spectrum& sp) {
    std::array<unsigned char, PELMO_COUNT_BYTES> count{};
    if (std::fread(count.data(), 1, count.size(), file) != count.size())
        return "problems with input of intensities at point 1";
    sp.npts = decode_pelmo_count(count).points();
    if (sp.npts > MAXPTS)
        return std::to_string(sp.npts) + " points in spectrum, which exceeds the maximum of " +
               std::to_string(MAXPTS);
    if (sp.npts < 4)
        return "too few points (" + std::to_string(sp.npts) + "): at least 4 are needed";

    const auto n = static_cast<std::size_t>(sp.npts);
    sp.intens.assign(n + 2, 0);
    sp.freq.assign(n + 2, 0.0);
    const IntensityBlock block = read_intensity_block(file, &sp.intens[1], n);
    if (block.points_read < n)
        return "problems with input of intensities at point " +
               std::to_string(block.points_read + 1);
    sp.iymin = block.lowest;
    sp.iymax = block.highest;

    std::array<unsigned char, PELMO_AXIS_BYTES> axis{};
    if (std::fread(axis.data(), 1, axis.size(), file) != axis.size())
        return "problems with frequency limits: the file ends before them";
    const PelmoAxis limits = decode_pelmo_axis(axis);
    sp.fstart = limits.fstart;
    sp.fend = limits.fend;
    sp.fstep = limits.fstep;
    if (!pelmo_axis_usable(limits) || !fill_linear_axis(sp.freq, sp.npts, sp.fstart, sp.fstep))
        return axis_text(sp.fstart, sp.fend, sp.fstep);
    return {};
}

std::string load_ascii(int fd, std::size_t size, Spectrum& sp) {
    sp.format = Spectrum::Format::Ascii;
    // The reader takes over a descriptor of its own and reads in blocks, so a
    // file that changes meanwhile can never raise a signal.
    // The PELMO attempt has read from it already: the text starts at the top.
    const int own = ::dup(fd);
    if (own < 0 || ::lseek(own, 0, SEEK_SET) != 0) {
        const int error = errno;
        if (own >= 0) ::close(own);
        return std::string("cannot be read: ") + std::strerror(error);
    }
    // A pair takes at least four bytes ("1 2" and a line end), which bounds the
    // arrays without a counting pass.
    const std::size_t room = std::min<std::size_t>(MAXPTS, (size + 1) / 4 + 1) + 2;
    sp.freq.assign(room, 0.0);
    sp.intens.assign(room, 0);
    const AsciiSpectrum a = decode_ascii_spectrum(own, sp.freq, sp.intens, sp.header);
    sp.npts = a.npts;
    if (!a.failure.empty()) {
        std::string why = "unsuccessful ASCII input: " + std::string(a.failure);
        if (a.counter > 0) why += " (failed at point " + std::to_string(a.counter) + ")";
        return why;
    }
    sp.fstart = a.fstart;
    sp.fend = a.fend;
    sp.fstep = a.fstep;
    sp.iymin = a.iymin;
    sp.iymax = a.iymax;
    sp.header_carried = a.header_carried;
    sp.rescaled = a.rescaled;
    sp.axis_carried = a.axis_carried;
    const auto n = std::size_t(sp.npts);
    sp.freq.resize(n + 2);
    sp.intens.resize(n + 2);
    sp.freq[n + 1] = sp.freq[n];
    sp.intens[n + 1] = sp.intens[n];

    const std::span<double> freq(sp.freq.data(), n + 1);
    const AxisStatistics st = axis_statistics(freq, sp.fstart, sp.fstep);
    if (0.1 * sp.fstep >= static_cast<double>(st.max_deviation)) return {};
    sp.linearised = true;
    sp.max_deviation = st.max_deviation;
    sp.max_deviation_at = st.max_deviation_at;
    std::vector<std::int32_t> scratch(n + 1);
    resample_linear(freq, std::span<std::int32_t>(sp.intens.data(), n + 1), scratch, sp.fstart,
                    sp.fstep);
    return {};
}

} // namespace

std::string opening_name(const std::string& given) {
    struct stat st {};
    if (given.find('\\') == std::string::npos || ::stat(given.c_str(), &st) == 0) return given;
    std::string slashed = given;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    return ::stat(slashed.c_str(), &st) == 0 ? slashed : given;
}

std::string load_spectrum(const std::string& path, Spectrum& sp) {
    // A Spectrum loaded again keeps the memory of its arrays: a campaign of
    // spectra then costs no fresh pages after the first.
    std::vector<double> freq = std::move(sp.freq);
    std::vector<std::int32_t> intens = std::move(sp.intens);
    sp = Spectrum{};
    sp.freq = std::move(freq);
    sp.intens = std::move(intens);
    sp.freq.clear();
    sp.intens.clear();
    sp.name = opening_name(path);
    // As the viewer opens its files: a FIFO or a device is refused at once
    // instead of being waited on.
    std::string refusal;
    const FilePtr file = open_input_file(sp.name, &refusal);
    if (!file) {
        struct stat st {};
        if (refusal != NOT_REGULAR) return "cannot be opened: " + refusal;
        if (::stat(sp.name.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return "is a folder, not a spectrum file";
        return "is not a regular file";
    }
    struct stat st {};
    if (::fstat(::fileno(file.get()), &st) != 0)
        return std::string("cannot be read: ") + std::strerror(errno);

    std::array<unsigned char, PELMO_HEADER_BYTES> header{};
    if (std::fread(header.data(), 1, header.size(), file.get()) == header.size() &&
        decode_pelmo_header(header, sp.header)) {
        std::string why = load_pelmo(file.get(), sp);
        if (why.empty()) {
            const auto n = std::size_t(sp.npts);
            sp.freq[n + 1] = sp.freq[n];
            sp.intens[n + 1] = sp.intens[n];
        }
        return why;
    }
    return load_ascii(::fileno(file.get()), static_cast<std::size_t>(st.st_size), sp);
}

} // namespace korax
