// Files written by KORAX: never overwritten without the operator's yes, and a
// failed write never damages an existing file. Everything goes to a temporary
// file in the target's folder, every write is checked, and only a complete
// file is renamed into place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace korax {

// The folder part of a spectrum file name: up to and including its last "/" or
// "\"; empty when there is none or the only one is the first character.
std::string directory_part(std::string_view fname);
// The name without its folder part.
std::string_view file_part(std::string_view fname);

enum class OpenMode { New, Unknown }; // "NEW": must not exist; "UNKNOWN": create or replace

class SafeFile {
public:
    enum class Status { Ok, Exists, Error };

    SafeFile() = default;
    ~SafeFile(); // an uncommitted file is removed; the target stays as it was
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Prepares writing `path`. Exists: mode New and the path exists. Error: the
    // folder cannot take the file (no such folder, no permission, `path` is a
    // folder); error_text() says why in the system's words.
    [[nodiscard]] Status open(const std::string& path, OpenMode mode);
    // Buffered; a failure is remembered and reported by commit().
    void write(const void* data, std::size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Flushes, syncs and renames into place (for New, without replacing a file
    // that appeared meanwhile). false: nothing was put in place; see error_text().
    [[nodiscard]] bool commit();
    // Drops the temporary file.
    void abandon();
    const std::string& error_text() const { return m_error; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path, m_temp, m_error;
    OpenMode m_mode = OpenMode::New;
    std::FILE* m_file = nullptr;
    bool m_failed = false;
};

} // namespace korax
