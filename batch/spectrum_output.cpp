#include "batch/spectrum_output.h"

#include "batch/commands.h"
#include "input/spectrum_file.h"

#include <iostream>

namespace korax {

bool output_is_an_input(const std::string& command, const std::vector<std::string>& inputs,
                        const std::string& out) {
    for (const std::string& in : inputs)
        if (same_file(opening_name(in), out)) {
            std::cerr << command << ": " << out << " is "
                      << (inputs.size() > 1 ? "a spectrum" : "the spectrum")
                      << " read: an input is never an output\n";
            return true;
        }
    return false;
}

std::string open_spectrum_output(SafeFile& out, const std::string& name, bool force) {
    const auto status = out.open(name, force ? OpenMode::Unknown : OpenMode::New);
    if (status == SafeFile::Status::Exists) return name + " exists already (--force replaces it)";
    if (status == SafeFile::Status::Error) return name + ": " + out.error_text();
    return {};
}

std::string place_spectrum_output(SafeFile& out, const std::string& name,
                                  const std::string& command, FileOutcome& outcome) {
    if (stop_requested().load()) {
        out.abandon();
        return "stopped; " + name + " was not written";
    }
    if (!out.commit()) return name + ": " + out.error_text();
    // In place, but not as it should be: said, and the status is 1.
    if (!out.error_text().empty()) {
        outcome.ok = false;
        outcome.err = command + ": " + name + ": " + out.error_text() + "\n";
    }
    return {};
}

} // namespace korax
