// The GLE script text of one strip, appended to the page (control file) it belongs to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// One control file composed in memory, for small outputs and the tests; GLEOUT
// itself streams its pages to disk.
struct GlePage {
    std::int32_t number = 0;
    std::string file_name; // base, page number, ".gle"
    std::string text;
};

// Where WRIGLE's text goes: a control file begins, and text is appended to the
// control file begun last.
class GleTarget {
  public:
    virtual void begin_page(std::int32_t page, const std::string& file_name) = 0;
    virtual void append(std::string_view text) = 0;

  protected:
    ~GleTarget() = default;
};

// Starts a new page for the first strip of a page and appends the strip's graph
// block (and, on the first strip, the page header and title) to it. `name` is the
// spectrum file name; its first `base_length` characters are the output files'
// base name (folder included). Strips must come in order from 1. The text goes
// to `out` in pieces of at most about 64 kB, however many label lines a strip has.
void WRIGLE(double strip_start, double strip_end, double marker_spacing, std::int32_t strip,
            std::int32_t strips_per_page, std::string_view name, std::int32_t base_length,
            GleTarget& out);
// The same, composing the pages in memory.
void WRIGLE(double strip_start, double strip_end, double marker_spacing, std::int32_t strip,
            std::int32_t strips_per_page, std::string_view name, std::int32_t base_length,
            std::vector<GlePage>& pages);

// The axis label lines of a strip from start to end with large-tick interval
// `interval`, in groups of seven ticks (XLAB); none when the strip spans five
// intervals or less. With `spill`, `out` is handed over whenever it passes
// about 64 kB, for the receiver to take and clear.
void strip_labels(double start, double end, double interval, std::string& out,
                  const std::function<void(std::string&)>& spill = {});

// About how many bytes WRIGLE writes for a strip from start to end (page
// header and title not included): the fixed lines and the label groups, each
// group as long as the strip's first one. For sizing an output before it is
// written; no text is composed beyond one group.
double strip_bytes(double start, double end, double marker_spacing);
// The page header and title of a page, about.
inline constexpr double PAGE_BYTES = 420;

// Control file name of a page: base, the page number as written, ".gle".
std::string control_file_name(std::string_view base, std::int32_t page);
// The title line's text: the file name without its folder, with "{\tt-\rm}"
// after every underscore so that GLE shows the underscore instead of lowering
// what follows it.
std::string gle_title(std::string_view fname);

} // namespace korax
