// The file of settings kept between runs, through the reader the viewer uses
// (a scratch file, so the bound on its length is the one that counts). What it
// accepts must hold values D would accept, a bounded folder table, and write
// out to a text that reads back to the very same state.
#include "catalog/catalog_state.h"
#include "fuzz/fuzz_common.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    static const std::string path = fuzz::scratch_file("korax-state-", ".txt");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    fuzz::RemoveAfterRead cleanup{path};
    const StateRead r = read_state_file(path);
    fuzz::require(r.exists, "a file read as missing");
    const CatalogState& s = r.state;
    if (!r.error.empty()) {
        fuzz::require(s.folders.empty() && s.settings.tolerance == 1.0 && s.settings.weight == 1.0,
                      "a damaged file whose values are used");
        return 0;
    }
    fuzz::require(size < MAX_STATE_BYTES, "a file past the bound accepted");
    const auto& set = s.settings;
    fuzz::require(std::isfinite(set.tolerance) && set.tolerance > 0, "a tolerance D refuses");
    fuzz::require(std::isfinite(set.threshold) && std::abs(set.threshold) <= 1e6,
                  "a threshold D refuses");
    fuzz::require(std::isfinite(set.fixed_unc) && set.fixed_unc >= 0, "an uncertainty D refuses");
    fuzz::require(std::isfinite(set.weight) && set.weight > 0, "a weight D refuses");
    fuzz::require(s.folders.size() <= MAX_STATE_FOLDERS, "more folders than the table holds");
    for (const auto& f : s.folders)
        fuzz::require(!f.folder.empty() && !f.lin_path.empty(), "a folder or file without a name");

    const std::string text = format_state(s);
    fuzz::require(text.size() < MAX_STATE_BYTES, "a written file past the bound");
    const StateRead back = parse_state(text);
    fuzz::require(back.error.empty(), "a written file that does not read back");
    fuzz::require(back.state.settings.tolerance == set.tolerance &&
                      back.state.settings.threshold == set.threshold &&
                      back.state.settings.fixed_unc == set.fixed_unc &&
                      back.state.settings.weight == set.weight &&
                      back.state.settings.equal_weights == set.equal_weights,
                  "a setting that does not read back as written");
    // Folders may be dropped to keep the bound, the newest kept first.
    fuzz::require(back.state.folders.size() <= s.folders.size(), "folders added on the way");
    for (std::size_t i = 0; i < back.state.folders.size(); ++i)
        fuzz::require(back.state.folders[i] == s.folders[i], "a folder that does not read back");
    return 0;
}
