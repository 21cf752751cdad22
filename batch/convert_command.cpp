// `korax convert`: PELMO to two-column text and text to PELMO, each side read
// and written as the interactive program reads and saves it.
#include "batch/commands.h"
#include "batch/runner.h"
#include "batch/spectrum_output.h"

#include "base/safe_file.h"
#include "input/header_line.h"
#include "output/pelmo_image.h"

#include <charconv>
#include <iostream>

namespace korax {

namespace {

const std::string COMMAND = "korax convert";

} // namespace

void write_ascii(const Spectrum& sp, const std::function<void(std::string_view)>& sink) {
    // The comment line carries the whole header, which the text reader takes
    // back, so that converting the text again gives this PELMO file.
    std::string text = header_line(sp.header, sp.npts, sp.fstart, sp.fend, sp.fstep);
    text += "\r\n";
    // Handed on in pieces of about a megabyte: 3,000,000 points make 45 MB of
    // text, which need not be held whole.
    constexpr std::size_t piece = 1 << 20;
    text.reserve(piece + 64);
    char line[64];
    for (std::int32_t i = 1; i <= sp.npts; ++i) {
        // Up to 24 characters of frequency, a blank, 11 of intensity and CR LF.
        char* p = std::to_chars(line, line + 32, sp.freq[std::size_t(i)]).ptr;
        *p++ = ' ';
        p = std::to_chars(p, line + sizeof line - 2, sp.intens[std::size_t(i)]).ptr;
        *p++ = '\r';
        *p++ = '\n';
        text.append(line, std::size_t(p - line));
        if (text.size() >= piece) {
            sink(text);
            text.clear();
        }
    }
    sink(text);
}

std::string ascii_image(const Spectrum& sp) {
    std::string all;
    write_ascii(sp, [&all](std::string_view piece) { all += piece; });
    return all;
}

int run_convert(const ConvertCommand& cmd) {
    if (output_is_an_input(COMMAND, {cmd.in}, cmd.out)) return EXIT_USAGE;
    // Through the pool of one, for its Ctrl-C handling: a stop before the
    // file is complete drops the temporary and leaves OUT as it was.
    return run_files({cmd.in}, 1, COMMAND, [&cmd](std::size_t, int) {
        FileOutcome o;
        auto fail = [&o](const std::string& why) {
            o.ok = false;
            o.err = COMMAND + ": " + why + "\n";
            return o;
        };
        Spectrum sp;
        if (const std::string why = load_spectrum(cmd.in, sp); !why.empty())
            return fail(cmd.in + ": " + why);

        SafeFile out;
        if (const std::string why = open_spectrum_output(out, cmd.out, cmd.force); !why.empty())
            return fail(why);

        if (sp.format == Spectrum::Format::Pelmo) {
            write_ascii(sp, [&out](std::string_view piece) { out.write(piece); });
        } else {
            const auto n = std::size_t(sp.npts);
            const std::span<const std::int32_t> intens(sp.intens.data() + 1, n);
            SaveScaling scaling = save_scaling(intens);
            // A text from a PELMO file holds that file's intensities: they go
            // back unchanged, not centred as a save of the viewer's would put them.
            if (!sp.rescaled) {
                scaling.mid = 0;
                scaling.factor = 1.0f;
            }
            out.write(pelmo_file_image(sp.header, intens, sp.fstart, sp.fend, sp.fstep, scaling));
        }
        if (const std::string why = place_spectrum_output(out, cmd.out, COMMAND, o); !why.empty())
            return fail(why);
        o.out = cmd.in + " -> " + cmd.out + " (" +
                (sp.format == Spectrum::Format::Pelmo ? "two-column text" : "PELMO") + ", " +
                std::to_string(sp.npts) + " points" + (sp.linearised ? ", axis linearised" : "") +
                ")\n";
        return o;
    });
}

} // namespace korax
