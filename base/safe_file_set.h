// SafeFileSet: several files that replace their old versions as a whole, such
// as the pages and data of one plot. Either every file of the set is put in
// place, or none is and every old file stays as it was.
#pragma once

#include "base/safe_file.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// Files are added and written one at a time, so a set of thousands of files
// needs the memory of one; each is written out before the next is opened.
class SafeFileSet {
  public:
    SafeFileSet();
    ~SafeFileSet(); // an uncommitted set is removed; the old files stay
    SafeFileSet(const SafeFileSet&) = delete;
    SafeFileSet& operator=(const SafeFileSet&) = delete;

    // Opens the next file of the set (see SafeFile::open); the reference stays
    // valid until the next add(). On anything but Ok the set has failed.
    [[nodiscard]] SafeFile::Status add(const std::string& path, OpenMode mode);
    void write(std::string_view text);
    // Puts the whole set in place. false: no old file was changed and no
    // temporary is left (unless error_text() names one that could not be
    // removed). After success error_text() is as for SafeFile::commit().
    [[nodiscard]] bool commit();
    void abandon();
    std::size_t size() const { return m_files.size(); }
    const std::string& error_text() const { return m_error; }
    // The file the failure concerns.
    const std::string& failed_path() const { return m_failed_path; }

  private:
    [[nodiscard]] bool finish_current();
    bool fail(const SafeFile& file);
    // abandon() but for the ledger, which outlives the files until commit()
    // has removed every backup too.
    void abandon_files();

    std::vector<std::unique_ptr<SafeFile>> m_files;
    std::unique_ptr<file_ops::Ledger> m_ledger;
    std::string m_leftover_notes; // what the folders' clearing left, and why
    std::string m_error, m_failed_path;
    bool m_failed = false;
};

} // namespace korax
