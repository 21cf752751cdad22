// The generic-name rule and the file prompt's way to the file-open box.
#include "driver/file_choice.h"

#include "spectrum/store.h"
#include "window/frontend.h"
#include "window/window.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>

namespace korax {
namespace {

TEST(GenericName, EntryFromTheTypedName) {
    const std::string long_prefix = "abcdefghijklmnopqrst";
    const struct {
        std::string typed, entry;
    } table[] = {
        {"abc", " abc files (abc*.*), abc*.*;"},
        {"abc   ", " abc files (abc*.*), abc*.*;"},
        {"abc.001", " abc files (abc*.*), abc*.*;"},
        {"data\\old.dat", " data files (data*.*), data*.*;"},
        {"data/old.dat", " data files (data*.*), data*.*;"},
        {"my spectrum.dat", " my files (my*.*), my*.*;"},
        {"ab.c:d", " ab files (ab*.*), ab*.*;"},
        {"d:abc", ""}, // a drive letter comes before any separator
        {" abc", ""},  // a leading blank
        {".001", ""},  // nothing before the first separator
        {"/data/x.001", ""},
        {"", ""},
        // Kept whole: a cut entry would leave a broken pattern.
        {long_prefix + ".dat",
         " " + long_prefix + " files (" + long_prefix + "*.*), " + long_prefix + "*.*;"},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.entry, generic_entry(row.typed)) << row.typed;
}

TEST(GenericName, DefaultFilterIsTheFiveStandardEntries) {
    EXPECT_EQ(138u, DEFAULT_FILTER.size());
    const auto entries = parse_filter_list(DEFAULT_FILTER);
    ASSERT_EQ(5u, entries.size());
    EXPECT_EQ("All Files (*.*)", entries[0].description);
    EXPECT_EQ("*.3*", entries[4].pattern);
}

// Records the filters of every file-open box and answers from a queue.
class RecordingFrontEnd : public FrontEnd {
  public:
    std::deque<int> keys;
    std::deque<std::optional<std::string>> answers;
    std::vector<std::vector<FileFilter>> boxes;

    int wait_key() override {
        if (keys.empty()) throw RunEnded{2};
        const int k = keys.front();
        keys.pop_front();
        return k;
    }
    std::optional<std::string> open_file_box(const std::vector<FileFilter>& filters) override {
        boxes.push_back(filters);
        if (answers.empty()) throw RunEnded{2};
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    void show(const Canvas&, const Rect&) override {}
    void resized(int, int) override {}
    void close() override {}
    void hold() override {}
};

class FileChoice : public ::testing::Test {
  protected:
    void SetUp() override {
        m_window.set_geometry(800, 540, 30);
        set_window(&m_window);
        forget_generic_entry();
        store().FNAME.clear();
        m_folder =
            std::filesystem::temp_directory_path() / ("korax-choice-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_folder);
        m_file = (m_folder / "ocs.001").string();
        std::ofstream(m_file) << "spectrum";
    }
    void TearDown() override {
        set_window(nullptr);
        std::filesystem::remove_all(m_folder);
    }
    void type(std::string_view text) {
        for (unsigned char c : text)
            m_front.keys.push_back(c);
        m_front.keys.push_back(13);
    }
    std::string first_entry(std::size_t box) const {
        return m_front.boxes.at(box).at(0).description + " | " +
               m_front.boxes.at(box).at(0).pattern;
    }

    RecordingFrontEnd m_front;
    Window m_window{m_front};
    std::filesystem::path m_folder;
    std::string m_file;
};

TEST_F(FileChoice, TypedNameThatExistsOpensWithoutTheBox) {
    type(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    EXPECT_TRUE(m_front.boxes.empty());
    EXPECT_EQ(m_file, store().FNAME);

    // "\" stands for "/"; the name is kept in the form that opened.
    type(m_folder.string() + "\\ocs.001");
    EXPECT_TRUE(choose_spectrum_file());
    EXPECT_TRUE(m_front.boxes.empty());
    EXPECT_EQ(m_file, store().FNAME);
}

TEST_F(FileChoice, MissingNameOffersItsGenericEntryCancelReturnsToThePrompt) {
    type("korax_no_such_spectrum.001");
    m_front.answers.push_back(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    ASSERT_EQ(1u, m_front.boxes.size());
    EXPECT_EQ(6u, m_front.boxes[0].size());
    EXPECT_EQ("korax_no_such_spectrum files (korax_no_such_spectrum*.*) | "
              "korax_no_such_spectrum*.*",
              first_entry(0));
    EXPECT_EQ(m_file, store().FNAME);

    // ENTER remembers the entry; a cancelled box returns to the typed prompt
    // and forgets the entry, so the next ENTER shows the default box.
    type("");
    m_front.answers.push_back(std::nullopt);
    type("");
    m_front.answers.push_back(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    ASSERT_EQ(3u, m_front.boxes.size());
    EXPECT_EQ(first_entry(0), first_entry(1));
    EXPECT_EQ(5u, m_front.boxes[2].size());
    EXPECT_EQ(m_file, store().FNAME);

    // After a cancel a typed name opens without any box.
    type("");
    m_front.answers.push_back(std::nullopt);
    type(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    EXPECT_EQ(4u, m_front.boxes.size());
    EXPECT_TRUE(m_front.keys.empty());
}

TEST_F(FileChoice, NameFromTheCommandLineAnswersOnlyTheFirstPrompt) {
    // korax FILE: no key is read for the first prompt; a missing name goes on
    // to its box as a typed one would; the next prompt reads keys again.
    set_first_answer("korax_no_such_spectrum.001");
    m_front.answers.push_back(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    ASSERT_EQ(1u, m_front.boxes.size());
    EXPECT_EQ(m_file, store().FNAME);
    EXPECT_TRUE(m_front.keys.empty());

    type(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    EXPECT_EQ(1u, m_front.boxes.size());
    EXPECT_TRUE(m_front.keys.empty());
}

TEST_F(FileChoice, DriveLetterOrFolderGivesTheDefaultBox) {
    type("korax_no_such_spectrum");
    m_front.answers.push_back(m_file);
    EXPECT_TRUE(choose_spectrum_file());
    // d:abc forgets the remembered entry; a folder is no spectrum file.
    for (const std::string& typed : {std::string("d:abc"), m_folder.string()}) {
        type(typed);
        m_front.answers.push_back(m_file);
        EXPECT_TRUE(choose_spectrum_file());
        EXPECT_EQ(5u, m_front.boxes.back().size()) << typed;
        EXPECT_EQ("", generic_entry_in_use());
    }
}

} // namespace
} // namespace korax
