// The real program on spectra made at test time: one point over capacity (6 MB,
// too large to keep in the repository) and one without any dynamic range.
#include "examples/spectrum_maker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("korax-program-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string write_spectrum(const SpectrumRecipe& recipe) {
        const auto bytes = pelmo_file_bytes(recipe, make_spectrum(recipe));
        const std::string path = (m_folder / "spectrum.001").string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good());
        return path;
    }
    // Runs the program on a key script; the exit status, or -1.
    int play(const std::string& script) {
        const std::string path = (m_folder / "test.play").string();
        std::ofstream(path) << script;
        const std::string command = std::string("'") + KORAX_PROGRAM + "' --play '" + path +
                                    "' --shots '" + m_folder.string() +
                                    "' --seed 1 --config none 2>/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string screen(const std::string& name) {
        std::ifstream dump(m_folder / (name + ".txt"));
        std::stringstream text;
        text << dump.rdbuf();
        return text.str();
    }

    fs::path m_folder;
};

TEST_F(Program, SpectrumOverCapacityEndsTheRun) {
    SpectrumRecipe recipe;
    recipe.points = 3000001;
    recipe.lines = 50;
    const std::string spectrum = write_spectrum(recipe);
    EXPECT_EQ(1, play("type " + spectrum + "\nscreen over\nenter\n"));
    const std::string text = screen("over");
    EXPECT_NE(std::string::npos,
              text.find("    3000001 points in spectrum which exceeds present maximum of  3000000"))
        << text;
    EXPECT_NE(std::string::npos, text.find("Time and Date:")) << "information screen first";
}

TEST_F(Program, FlatSpectrumGoesToTheMenuBelowTheReport) {
    SpectrumRecipe recipe;
    recipe.points = 500;
    recipe.lines = 0;
    recipe.noise = 0.0;
    recipe.drift = 0.0;
    const std::string spectrum = write_spectrum(recipe);
    EXPECT_EQ(0, play("type " + spectrum + "\nscreen flat\ntype -1\n"));
    const std::string text = screen("flat");
    const auto report = text.find(" ****ERROR, zero dynamic range in data");
    const auto menu = text.find("-1 = EXIT");
    ASSERT_NE(std::string::npos, report) << text;
    ASSERT_NE(std::string::npos, menu) << text;
    EXPECT_LT(report, menu);
    EXPECT_NE(std::string::npos, text.find("Time and Date:")) << "not cleared for the menu";
}

} // namespace
} // namespace korax
