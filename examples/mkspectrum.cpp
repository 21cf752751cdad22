// korax-mkspectrum: writes a synthetic spectrum file for trying out KORAX.
//   korax-mkspectrum [options] OUTPUT
#include "base/safe_file.h"
#include "examples/spectrum_maker.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* USAGE =
    "usage: korax-mkspectrum [options] OUTPUT\n"
    "  --points N        number of points (default 20000)\n"
    "  --start F         frequency of the first point (default 240000)\n"
    "  --step F          frequency step (default 0.05)\n"
    "  --seed N          random seed (default 1)\n"
    "  --lines N         number of spectral lines (default: one per 400 points)\n"
    "  --width F         half width of the lines (default 0.4)\n"
    "  --noise F         noise, in file units (default 12)\n"
    "  --drift F         baseline wander, in file units (default 400)\n"
    "  --format pelmo|ascii   PELMO binary (default) or two-column text\n"
    "  --uneven F        text only: random frequency offsets up to F steps (below 0.45)\n"
    "  --comment TEXT    comment line (default: describes the spectrum)\n"
    "  --sample TEXT     sample name (default OCS)\n"
    "  --catalog FILE    also write the spectrum's lines as a line catalogue to FILE\n"
    "  --top FILE        instead of random lines, the R branch of a symmetric top among\n"
    "                    other lines, its catalogue (from preliminary constants) to FILE;\n"
    "                    --start and --points then follow from the lines\n"
    "  --truth FILE      with --top: the true frequencies of its lines to FILE\n"
    "  --j-range LO-HI   with --top: lower-state J of the members (default 10-60)\n"
    "  --k-max N         with --top: K from 0 to N (default 20)\n"
    "  --b F --djk F     with --top: rotational constants in MHz (default 1250, 0.5)\n"
    "  --oc LO,HI,HIK    with --top: o-c in lobe widths at K=0 lowest J, K=0 highest J and\n"
    "                    K=N highest J (default -0.5,5,-5)\n"
    "  --other-lines N   with --top: lines of other species (default 2000)\n"
    "  --missing J,K     with --top: leave that member out (repeatable)\n"
    "  --stray J,K,D,H   with --top: a line D lobe widths beside that member, H times as\n"
    "                    high (repeatable)\n"
    "  --force           replace OUTPUT (and FILE) if it exists\n";

template <class T> std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Writes a text file, refusing to replace one without --force.
bool write_text(const std::string& path, const std::string& text, bool force) {
    korax::SafeFile out;
    switch (out.open(path, force ? korax::OpenMode::Unknown : korax::OpenMode::New)) {
    case korax::SafeFile::Status::Ok:
        break;
    case korax::SafeFile::Status::Exists:
        std::cerr << "korax-mkspectrum: " << path << " exists (--force replaces it)\n";
        return false;
    case korax::SafeFile::Status::Error:
        std::cerr << "korax-mkspectrum: cannot write " << path << ": " << out.error_text() << "\n";
        return false;
    }
    out.write(text);
    if (!out.commit()) {
        std::cerr << "korax-mkspectrum: cannot write " << path << ": " << out.error_text() << "\n";
        return false;
    }
    return true;
}

int fail(const std::string& message) {
    std::cerr << "korax-mkspectrum: " << message << "\n" << USAGE;
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    korax::SpectrumRecipe recipe;
    bool ascii = false, force = false;
    std::string output, catalog, top_catalog, truth;
    korax::TopRecipe top;
    // Whole numbers separated by `separator`, exactly `count` of them.
    const auto numbers = [](std::string_view text, char separator, std::size_t count) {
        std::vector<double> values;
        std::size_t at = 0;
        while (at <= text.size()) {
            const std::size_t end = std::min(text.find(separator, at), text.size());
            const auto v = number<double>(text.substr(at, end - at));
            if (!v || !std::isfinite(*v)) return std::vector<double>{};
            values.push_back(*v);
            at = end + 1;
        }
        if (values.size() != count) values.clear();
        return values;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::cout << USAGE;
            return 0;
        }
        if (arg == "--force") {
            force = true;
            continue;
        }
        if (!arg.starts_with("--")) {
            if (!output.empty()) return fail("more than one OUTPUT");
            output = arg;
            continue;
        }
        if (i + 1 >= argc) return fail(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        bool ok = true;
        const auto real = [&](double& target) {
            const auto v = number<double>(value);
            ok = v && std::isfinite(*v);
            if (ok) target = *v;
        };
        if (arg == "--points") {
            const auto v = number<std::int64_t>(value);
            ok = v && *v >= 1 && *v <= 100'000'000;
            if (ok) recipe.points = *v;
        } else if (arg == "--seed") {
            const auto v = number<std::uint64_t>(value);
            ok = v.has_value();
            if (ok) recipe.seed = *v;
        } else if (arg == "--lines") {
            const auto v = number<int>(value);
            ok = v && *v >= 0;
            if (ok) recipe.lines = *v;
        } else if (arg == "--start") {
            real(recipe.start);
        } else if (arg == "--step") {
            real(recipe.step);
            ok = ok && recipe.step > 0.0;
        } else if (arg == "--width") {
            real(recipe.width);
            ok = ok && recipe.width > 0.0;
        } else if (arg == "--noise") {
            real(recipe.noise);
        } else if (arg == "--drift") {
            real(recipe.drift);
        } else if (arg == "--uneven") {
            real(recipe.unevenness);
            ok = ok && recipe.unevenness >= 0.0 && recipe.unevenness < 0.45;
        } else if (arg == "--format") {
            ok = value == "pelmo" || value == "ascii";
            ascii = value == "ascii";
        } else if (arg == "--comment") {
            recipe.comment = value;
        } else if (arg == "--catalog") {
            catalog = value;
        } else if (arg == "--sample") {
            recipe.sample = value;
        } else if (arg == "--top") {
            top_catalog = value;
        } else if (arg == "--truth") {
            truth = value;
        } else if (arg == "--j-range") {
            const auto v = numbers(value, '-', 2);
            ok = !v.empty() && v[0] >= 0 && v[1] >= v[0] && v[1] <= 99;
            if (ok) {
                top.j_low = static_cast<int>(v[0]);
                top.j_high = static_cast<int>(v[1]);
            }
        } else if (arg == "--k-max") {
            const auto v = number<int>(value);
            ok = v && *v >= 0 && *v <= 99;
            if (ok) top.k_max = *v;
        } else if (arg == "--b") {
            real(top.b);
            ok = ok && top.b > 0;
        } else if (arg == "--djk") {
            real(top.djk);
        } else if (arg == "--oc") {
            const auto v = numbers(value, ',', 3);
            ok = !v.empty();
            if (ok) {
                top.oc_low = v[0];
                top.oc_high = v[1];
                top.oc_high_kmax = v[2];
            }
        } else if (arg == "--other-lines") {
            const auto v = number<int>(value);
            ok = v && *v >= 0;
            if (ok) top.other_lines = *v;
        } else if (arg == "--missing") {
            const auto v = numbers(value, ',', 2);
            ok = !v.empty();
            if (ok) top.missing.push_back({static_cast<int>(v[0]), static_cast<int>(v[1])});
        } else if (arg == "--stray") {
            const auto v = numbers(value, ',', 4);
            ok = !v.empty();
            if (ok)
                top.strays.push_back({static_cast<int>(v[0]), static_cast<int>(v[1]), v[2], v[3]});
        } else {
            return fail("unknown option " + std::string(arg));
        }
        if (!ok) return fail("bad value for " + std::string(arg) + ": " + std::string(value));
    }
    if (output.empty()) return fail("no OUTPUT file named");
    if (recipe.unevenness > 0.0 && !ascii) return fail("--uneven applies to --format ascii only");

    if (top_catalog.empty() && !truth.empty()) return fail("--truth belongs to --top");
    if (!top_catalog.empty() && !catalog.empty()) return fail("--top writes its own catalogue");
    korax::SyntheticSpectrum spectrum;
    if (top_catalog.empty()) {
        spectrum = korax::make_spectrum(recipe);
        if (!catalog.empty() && !write_text(catalog, korax::catalog_file_text(spectrum), force))
            return 1;
    } else {
        const korax::TopSpectrum made = korax::make_top_spectrum(top, recipe);
        recipe = made.recipe;
        spectrum = made.spectrum;
        if (!write_text(top_catalog, korax::top_catalog_text(made), force)) return 1;
        if (!truth.empty() && !write_text(truth, korax::top_truth_text(made), force)) return 1;
    }
    korax::SafeFile file;
    switch (file.open(output, force ? korax::OpenMode::Unknown : korax::OpenMode::New)) {
    case korax::SafeFile::Status::Ok:
        break;
    case korax::SafeFile::Status::Exists:
        std::cerr << "korax-mkspectrum: " << output << " exists (--force replaces it)\n";
        return 1;
    case korax::SafeFile::Status::Error:
        std::cerr << "korax-mkspectrum: cannot write " << output << ": " << file.error_text()
                  << "\n";
        return 1;
    }
    if (ascii) {
        file.write(korax::ascii_file_text(recipe, spectrum));
    } else {
        const auto bytes = korax::pelmo_file_bytes(recipe, spectrum);
        file.write(bytes.data(), bytes.size());
    }
    if (!file.commit()) {
        std::cerr << "korax-mkspectrum: cannot write " << output << ": " << file.error_text()
                  << "\n";
        return 1;
    }
    return 0;
}
