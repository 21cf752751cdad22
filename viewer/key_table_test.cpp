// The key table against the classic key set, the man page and its own checks.
#include "viewer/key_table.h"

#include "testing/test_window.h"
#include "viewer/command_guard.h"
#include "window/inkey.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace korax {
namespace {

std::string man_page() {
    std::ifstream in("packaging/korax.1");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(KeyTable, ClassicSetIsTheViewersOwnAndExtensionsTakeNoneOfIt) {
    // The keys of the viewer's key summary, both variants of each, and the
    // three keys without a character it binds.
    const std::string letters = "AaSsEeQqWwZz#3@2-_FfKkLl,BbNnMmHhIiOo)09(=+^&GgRrPp";
    std::set<std::int16_t> specified(letters.begin(), letters.end());
    specified.insert({KEY_HOME, KEY_END, KEY_ENTER});
    std::set<std::int16_t> classic;
    for (const ViewerKey& k : viewer_keys())
        if (k.set == KeySet::Classic) classic.insert(k.code);
    EXPECT_EQ(specified, classic);
    EXPECT_EQ(std::vector<std::string>{}, key_table_faults(viewer_keys()));

    // The check itself: an extension on a classic key, and a key bound twice.
    std::vector<ViewerKey> clashing(viewer_keys().begin(), viewer_keys().end());
    clashing.push_back({'A', nullptr, 0, Redraw::None, "", KeySet::Extension, "A", ""});
    clashing.push_back({'?', nullptr, 0, Redraw::None, "", KeySet::Catalogue, "?", ""});
    const std::vector<std::string> expected = {"the extension key A takes a classic key",
                                               "A is bound twice", "? is bound twice"};
    std::vector<std::string> faults = key_table_faults(clashing);
    std::sort(faults.begin(), faults.end());
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, faults);
}

TEST(KeyTable, ManPageListsEveryKey) {
    const std::string page = man_page();
    ASSERT_FALSE(page.empty()) << "packaging/korax.1 from the source folder";
    EXPECT_EQ(std::vector<std::string>{}, keys_missing_from_man_page(viewer_keys(), page));

    // Without its line, a key is reported, and so is one the page never had.
    std::string without = page;
    const std::string line = "\n.B ^\n";
    const auto at = without.find(line);
    ASSERT_NE(std::string::npos, at);
    without.erase(at, line.size() - 1);
    std::vector<ViewerKey> keys(viewer_keys().begin(), viewer_keys().end());
    keys.push_back({26, nullptr, 0, Redraw::None, "", KeySet::Extension, "Ctrl+Z", ""});
    EXPECT_EQ((std::vector<std::string>{"^", "Ctrl+Z"}), keys_missing_from_man_page(keys, without));
}

TEST(KeyTable, ChangesOfTheSpectrumAreNamedForTheUndoRow) {
    struct Case {
        std::int16_t code;
        std::string_view change;
    };
    const Case cases[] = {
        {'-', "inversion"}, {'_', "inversion"}, {'n', "smoothing"}, {'B', "baseline subtraction"},
        {'r', "restore"},   {'&', "append"},    {'O', ""},          {'U', ""},
        {'x', ""},          {KEY_HOME, ""}};
    for (const Case& c : cases)
        EXPECT_EQ(c.change, change_of_key(c.code)) << c.code;
}

} // namespace
} // namespace korax
