// Window set-up from the configuration file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korax {

// Where the configuration comes from: the standard path, another file
// (`korax --play --config PATH`), or none at all (`--config none`).
struct ConfigSource {
    enum class Kind { Standard, File, None } kind = Kind::Standard;
    std::string path;
};
void set_config_source(ConfigSource source);
// $XDG_CONFIG_HOME/korax/korax.cfg, default ~/.config/korax/korax.cfg.
std::string standard_config_path();
// The path named in messages.
std::string config_path_for_messages();

// Reads the configuration file, shapes the window, records the geometry in
// store().SCREEN. `found` becomes 1 when the file was read, 0 when it did not
// open. An attribute number outside 1..15 is fatal.
void STARTG(std::int32_t& found);

} // namespace korax
