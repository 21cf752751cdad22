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
    "  --force           replace OUTPUT (and FILE) if it exists\n";

template <class T> std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int fail(const std::string& message) {
    std::cerr << "korax-mkspectrum: " << message << "\n" << USAGE;
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    korax::SpectrumRecipe recipe;
    bool ascii = false, force = false;
    std::string output, catalog;
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
        } else {
            return fail("unknown option " + std::string(arg));
        }
        if (!ok) return fail("bad value for " + std::string(arg) + ": " + std::string(value));
    }
    if (output.empty()) return fail("no OUTPUT file named");
    if (recipe.unevenness > 0.0 && !ascii) return fail("--uneven applies to --format ascii only");

    const korax::SyntheticSpectrum spectrum = korax::make_spectrum(recipe);
    if (!catalog.empty()) {
        korax::SafeFile cat;
        switch (cat.open(catalog, force ? korax::OpenMode::Unknown : korax::OpenMode::New)) {
        case korax::SafeFile::Status::Ok:
            break;
        case korax::SafeFile::Status::Exists:
            std::cerr << "korax-mkspectrum: " << catalog << " exists (--force replaces it)\n";
            return 1;
        case korax::SafeFile::Status::Error:
            std::cerr << "korax-mkspectrum: cannot write " << catalog << ": " << cat.error_text()
                      << "\n";
            return 1;
        }
        cat.write(korax::catalog_file_text(spectrum));
        if (!cat.commit()) {
            std::cerr << "korax-mkspectrum: cannot write " << catalog << ": " << cat.error_text()
                      << "\n";
            return 1;
        }
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
