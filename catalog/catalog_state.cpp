// The catalogue settings kept between runs: their file's text, its reading
// with bounded memory and its safe writing.
#include "catalog/catalog_state.h"

#include "base/input_file.h"
#include "base/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

constexpr std::string_view HEADER = "# korax catalogue settings, rewritten by the program";

std::string encode(std::string_view name) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(name.size());
    for (char ch : name) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7f || ch == '\\') {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// nullopt for a "\" not followed by xHH, or a raw control byte.
std::optional<std::string> decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7f) return std::nullopt;
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 4 || text[i + 1] != 'x') return std::nullopt;
        const int high = hex_digit(text[i + 2]), low = hex_digit(text[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

std::string number(double x) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("0");
}

std::optional<double> read_number(std::string_view text) {
    double x = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, x);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(x)) return std::nullopt;
    return x;
}

std::string setting_lines(const CatalogSettings& s) {
    return "tolerance " + number(s.tolerance) + "\nthreshold " + number(s.threshold) +
           "\nfixed_uncertainty " + number(s.fixed_unc) + "\nweight " + number(s.weight) +
           "\nequal_weights " + (s.equal_weights ? "1" : "0") + "\n";
}

// One "name value" line into `s`; false: the value is not one D accepts.
bool read_setting(std::string_view name, std::string_view value, CatalogState& s) {
    auto& set = s.settings;
    if (name == "equal_weights") {
        if (value != "0" && value != "1") return false;
        set.equal_weights = value == "1";
        return true;
    }
    if (name == "folder") {
        const auto tab = value.find('\t');
        if (tab == std::string_view::npos) return false;
        auto folder = decode(value.substr(0, tab));
        auto lin = decode(value.substr(tab + 1));
        if (!folder || !lin || folder->empty() || lin->empty()) return false;
        if (s.folders.size() < MAX_STATE_FOLDERS) s.folders.push_back({*folder, *lin});
        return true;
    }
    double* field = name == "tolerance"           ? &set.tolerance
                    : name == "threshold"         ? &set.threshold
                    : name == "fixed_uncertainty" ? &set.fixed_unc
                    : name == "weight"            ? &set.weight
                                                  : nullptr;
    // A later version's setting: kept out, not a damage.
    if (!field) return true;
    auto x = read_number(value);
    if (!x) return false;
    // The ranges D accepts.
    const bool valid = field == &set.threshold   ? *x >= -1e6 && *x <= 1e6
                       : field == &set.fixed_unc ? *x >= 0
                                                 : *x > 0;
    if (!valid) return false;
    *field = *x;
    return true;
}

bool absolute(const char* path) {
    return path && path[0] == '/';
}

// Makes `folder` and the missing ones above it, mode 0700. 0 or errno.
int make_folders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const auto slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (int e = make_folders(folder.substr(0, slash)); e != 0) return e;
    }
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return 0;
    return errno;
}

} // namespace

std::string state_file_path(const char* xdg_state_home, const char* home) {
    std::string base;
    // A relative XDG_STATE_HOME is to be ignored, as if it were unset.
    if (absolute(xdg_state_home))
        base = xdg_state_home;
    else if (absolute(home))
        base = std::string(home) + "/.local/state";
    else
        return {};
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/korax/settings";
}

std::string format_state(const CatalogState& state) {
    const std::string head = std::string(HEADER) + "\n" + setting_lines(state.settings);
    std::vector<std::string> folders;
    std::size_t size = head.size();
    for (const auto& f : state.folders) {
        if (folders.size() == MAX_STATE_FOLDERS) break;
        std::string line = "folder " + encode(f.folder) + "\t" + encode(f.lin_path) + "\n";
        // Paths are long at most 4096 bytes, encoded 4 times that: a folder
        // that does not fit is dropped with all after it (the older ones).
        if (size + line.size() >= MAX_STATE_BYTES) break;
        size += line.size();
        folders.push_back(std::move(line));
    }
    std::string text = head;
    for (const auto& line : folders)
        text += line;
    return text;
}

StateRead parse_state(std::string_view text) {
    StateRead r;
    r.exists = true;
    auto fail = [&](std::size_t line, const std::string& why) {
        r.state = CatalogState{};
        r.error = "line " + std::to_string(line) + ": " + why;
        return r;
    };
    if (text.size() >= MAX_STATE_BYTES)
        return fail(1, "the file is longer than " + std::to_string(MAX_STATE_BYTES) + " bytes");
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (number == 1) {
            if (line != HEADER) return fail(1, "not a settings file of this program");
            continue;
        }
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos || blank == 0) return fail(number, "not a setting");
        if (!read_setting(line.substr(0, blank), line.substr(blank + 1), r.state))
            return fail(number, "a value that cannot be used");
    }
    if (number == 0) return fail(1, "the file is empty");
    return r;
}

StateRead read_state_file(const std::string& path) {
    std::string why;
    const int fd = open_input_descriptor(path, &why);
    if (fd < 0) {
        StateRead r;
        if (why == std::strerror(ENOENT)) return r;
        r.exists = true;
        r.error = why;
        return r;
    }
    // One byte more than a state file may hold tells a longer file apart.
    std::string text(MAX_STATE_BYTES, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const long n = read_input(fd, text.data() + got, text.size() - got);
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            StateRead r;
            r.exists = true;
            r.error = std::strerror(error);
            return r;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    return parse_state(text);
}

std::optional<std::string> not_ours_to_write(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode)) return std::string(STATE_LINK_REFUSED);
    if (!S_ISREG(st.st_mode) || st.st_size == 0) return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt; // the write says why it cannot go there
    std::string head(HEADER.size() + 1, '\0');
    const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
    ::close(fd);
    head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    // Ours: the header, as the whole file or as its first line.
    if (head == HEADER || head == std::string(HEADER) + "\n") return std::nullopt;
    return std::string(STATE_FOREIGN_KEPT);
}

StateWrite write_state_file(const std::string& path, const CatalogState& state) {
    if (auto why = not_ours_to_write(path)) return {false, *why};
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (int e = make_folders(path.substr(0, slash)); e != 0)
            return {false, path.substr(0, slash) + ": " + std::strerror(e)};
    }
    SafeFile out;
    if (out.open(path, OpenMode::Unknown) != SafeFile::Status::Ok) return {false, out.error_text()};
    out.write(format_state(state));
    const bool written = out.commit();
    return {written, out.error_text()};
}

void remember_folder(CatalogState& state, const std::string& folder, const std::string& lin_path) {
    auto& list = state.folders;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const FolderFile& f) { return f.folder == folder; }),
               list.end());
    list.insert(list.begin(), {folder, lin_path});
    if (list.size() > MAX_STATE_FOLDERS) list.resize(MAX_STATE_FOLDERS);
}

std::optional<std::string> remembered_lin(const CatalogState& state, std::string_view folder) {
    for (const auto& f : state.folders)
        if (f.folder == folder) return f.lin_path;
    return std::nullopt;
}

} // namespace korax
