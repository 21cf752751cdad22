// The assignment file known before the first T, and the catalogue settings
// kept between runs. The state is the run's: read once at the first plot,
// written back only when D or the first T's choice changed it.
#include "viewer/lin_state.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "catalog/assignments.h"
#include "catalog/catalog_state.h"
#include "spectrum/store.h"
#include "viewer/assignment_keys.h"
#include "viewer/catalog_keys.h"
#include "viewer/catalog_screens.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace korax {

namespace {

struct RunState {
    CatalogState saved;
    // The file's text as last read or written: a save that would write the
    // same is skipped. Empty when there is no good file yet.
    std::string text;
    // A file named by --lin or remembered from an earlier run, which T adds
    // to only after the operator's yes.
    std::string unconfirmed;
    // Where the settings are kept; empty: nowhere.
    std::string state_file;
};

RunState& run_state() {
    static RunState state;
    return state;
}

std::string absolute_path(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    std::error_code ec;
    auto p = std::filesystem::absolute(native.empty() ? std::string(".") : native, ec);
    if (ec) return native;
    return p.lexically_normal().string();
}

// The current spectrum's folder, absolute and with its "/": the key of the
// folders' files.
std::string spectrum_folder() {
    std::string folder = absolute_path(directory_part(trim_right(store().FNAME)));
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

void take_unconfirmed(const std::string& path) {
    catalog_session().settings.lin_path = path;
    run_state().unconfirmed = path;
    mark_from_file(path);
}

void join(std::string& notices, const std::string& more) {
    notices += (notices.empty() ? "" : "; ") + more;
}

} // namespace

std::string start_catalog_state(const SessionStart& start) {
    auto& s = catalog_session();
    auto& rs = run_state();
    rs = RunState{};
    rs.state_file = start.state_file;
    std::string notices;
    if (const std::string& lin = start.lin; !lin.empty()) {
        const AssignmentScan scan = scan_assignments(lin);
        if (scan.error.empty())
            take_unconfirmed(lin);
        else
            join(notices, lin + ": " + scan.error + " - not used");
    }
    if (const std::string& path = rs.state_file; !path.empty()) {
        const StateRead read = read_state_file(path);
        if (!read.error.empty()) {
            join(notices, "Saved settings ignored (" + read.error + "): " + path);
        } else {
            // A missing file stays missing until a value differs from the
            // defaults.
            rs.saved = read.state;
            rs.text = format_state(rs.saved);
            const std::string lin = s.settings.lin_path;
            s.settings = rs.saved.settings;
            s.settings.lin_path = lin;
        }
    }
    adopt_remembered_lin();
    return notices;
}

void adopt_remembered_lin() {
    if (!catalog_session().settings.lin_path.empty()) return;
    auto lin = remembered_lin(run_state().saved, spectrum_folder());
    if (!lin || !scan_assignments(*lin).error.empty()) return;
    take_unconfirmed(*lin);
}

void lin_file_chosen(const std::string& path) {
    auto& rs = run_state();
    catalog_session().settings.lin_path = path;
    rs.unconfirmed.clear();
    mark_from_file(path);
    if (!rs.state_file.empty()) remember_folder(rs.saved, spectrum_folder(), absolute_path(path));
}

bool lin_file_ready() {
    const std::string path = catalog_session().settings.lin_path;
    if (path.empty()) return false;
    if (path != run_state().unconfirmed) return true;
    if (scan_assignments(path).exists) return false;
    // Nothing to add to: the name given is the choice.
    lin_file_chosen(path);
    save_catalog_state();
    return true;
}

void save_catalog_state() {
    auto& rs = run_state();
    const std::string path = rs.state_file;
    if (path.empty()) return;
    rs.saved.settings = catalog_session().settings;
    rs.saved.settings.lin_path.clear();
    std::string text = format_state(rs.saved);
    if (text == rs.text) return;
    const StateWrite done = write_state_file(path, rs.saved);
    if (done.written) rs.text = std::move(text);
    if (!done.text.empty())
        measure_note().notice =
            done.written ? "Settings " + error_lines(done.text).front() + ": " + path
                         : "Settings not saved (" + error_lines(done.text).front() + "): " + path;
}

std::string assigned_summary(std::size_t catalog) {
    const auto& s = catalog_session();
    if (s.settings.lin_path.empty() || catalog >= s.assigned.size()) return {};
    return "; " + std::to_string(s.assigned[catalog].size()) + " assigned in " +
           std::string(file_part(s.settings.lin_path));
}

} // namespace korax
