// The answers of the viewer's name prompts, typed or chosen in the box.
#include "viewer/file_prompt.h"

#include "input/file_filter.h"

#include <string>

namespace korax {

namespace {

// The box's entries in the driver's filter form; every file stays one choice
// away, since catalogues come under many names.
constexpr std::string_view CATALOGUE_FILTER =
    " Line catalogues (*.cat), *.cat; Assignment files (*.lin), *.lin; All Files (*.*), *.*;";

} // namespace

TypedName read_file_name(NamedFile what) {
    Window& w = window();
    if (what == NamedFile::Catalogue)
        return w.read_line_or_box(CATALOGUE_FILTER, EnterAlone::OpensBox);
    if (what == NamedFile::Reference)
        return w.read_line_or_box(DEFAULT_FILTER, EnterAlone::OpensBox);
    return w.read_line_or_box(DEFAULT_FILTER, EnterAlone::EndsLine);
}

} // namespace korax
