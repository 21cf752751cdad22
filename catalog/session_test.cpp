// The whole loop in the real program: load a spectrum, open a catalogue, jump
// to a prediction, measure it, assign it, assign a second line, answer the
// replace question both ways, and compare the assignment file byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Plays `dir`/session.play in `dir`; the exit status, its output in out.txt.
int play_session(const fs::path& dir) {
    const std::string command = "cd '" + dir.string() +
                                "' && '" KORAX_PROGRAM
                                "' --play session.play --seed 1 --config none --shots . "
                                ">out.txt 2>&1";
    return std::system(command.c_str());
}

TEST(CatalogSession, FromCatalogueToAssignmentFile) {
    const fs::path dir =
        fs::temp_directory_path() / ("korax_session_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "data");
    fs::copy_file("examples/ocs.001", dir / "data" / "ocs.001");
    fs::copy_file("examples/ocs.cat", dir / "data" / "ocs.cat");
    std::ofstream(dir / "session.play") << R"(type data/ocs.001
enter
# The catalogue is named relative to the spectrum's folder.
keys C
type ocs.cat
expect data/ocs.cat: 50 lines read, 0 skipped
enter
expect 1:  240016.9094 +- 0.0050  lg -4.3472  20 0 20 <- 19 0 19
keys T
expect No measurement to assign
keys ]
expect 1:  240046.0325 +- 0.0051  lg -4.1061  20 1 19 <- 19 1 18
keys EEEO
expect o-c  -0.0028  20 1 19 <- 19 1 18
keys T
expect _____A S S I G N M E N T   F I L E
enter
expect Assigned in data/ocs.lin: 20 1 19 <- 19 1 18
keys ]]O
keys t
expect Assigned in data/ocs.lin: 20 3 17 <- 19 3 16
# The first line again: the file already holds it.
keys [[O
keys T
expect This transition is assigned already: replace its line (Y/N) ?
keys N
expect Not assigned: the assignment file keeps its line
keys T
keys Y
expect Replaced in data/ocs.lin: 20 1 19 <- 19 1 18
# The cursor as a measurement has no error to write.
keys 9
keys T
expect Not assigned: the measurement has no error; set a fixed uncertainty with D
# A narrow tolerance leaves nothing near a cursor put beside the line.
keys D
type 0.01
type
type
type
type
keys KKKK9T
expect No predicted line within 0.0100 of the measured frequency
enter
keys Y
type -1
)";
    ASSERT_EQ(0, play_session(dir)) << contents(dir / "out.txt");
    // The fit's errors with two digits, the frequencies down to the second.
    EXPECT_EQ(" 20  1 19 19  1 18                      240046.02971    0.00054   1.0000  ! "
              "data/ocs.001\r\n"
              " 20  3 17 19  3 16                      240088.11024    0.00065   1.0000  ! "
              "data/ocs.001\r\n",
              contents(dir / "data" / "ocs.lin"));
    fs::remove_all(dir);
}

} // namespace

// A spectrum in wavenumbers with a catalogue in wavenumbers: the session
// matches in cm-1, says so on the identification row, and writes the
// assignment in cm-1 with the negative error the fitting program reads so.
TEST(CatalogSession, WavenumbersFromSpectrumToAssignmentFile) {
    const fs::path dir =
        fs::temp_directory_path() / ("korax_session_cm_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        // 2143.0 .. 2143.5 cm-1 with one line at 2143.2712, 0.002 cm-1 wide.
        std::ofstream spectrum(dir / "co.txt");
        spectrum << "CO fundamental, synthetic\n";
        for (int i = 0; i <= 1000; ++i) {
            const double f = 2143.0 + 0.0005 * i, t = (f - 2143.2712) / 0.002;
            spectrum << std::fixed << f << ' ' << 1000.0 / (1.0 + t * t) << '\n';
        }
        // R(0) of CO, given in cm-1 (negative uncertainty), with its neighbours.
        std::ofstream(dir / "co.cat")
            << "    2139.4260 -0.0001 -3.5000 2    0.0000  1  28001 101 0           1\n"
               "    2143.2712 -0.0001 -3.0000 2    0.0000  3  28001 101 1           0\n"
               "    2147.0816 -0.0001 -3.2000 2    3.8450  5  28001 101 2           1\n";
    }
    std::ofstream(dir / "session.play") << R"(type co.txt
enter
keys C
type co.cat
expect co.cat: 3 lines read, 0 skipped
enter
keys ]
expect 1:  2143.271200 +- 0.000100 cm-1  lg -3.0000  1 <- 0
keys EEO
keys T
enter
expect Assigned in co.lin: 1 <- 0
enter
keys Y
type -1
)";
    ASSERT_EQ(0, play_session(dir)) << contents(dir / "out.txt");
    const std::string record = contents(dir / "co.lin");
    ASSERT_EQ(0u, record.rfind("  1  0" + std::string(30, ' '), 0)) << record;
    double freq = 0, unc = 0;
    ASSERT_EQ(2, std::sscanf(record.c_str() + 36, "%lf %lf", &freq, &unc)) << record;
    EXPECT_NEAR(2143.2712, freq, 0.0002) << record;
    EXPECT_LT(unc, 0) << "cm-1 for the fitting program: " << record;
    fs::remove_all(dir);
}

// D checks the file it is given: a spectrum and a file of other text are
// refused by name, an existing assignment file needs a yes (N asks again), and
// T then adds its record keeping every byte and line end of the others.
TEST(CatalogSession, TheAssignmentFileNamedAtD) {
    const fs::path dir =
        fs::temp_directory_path() / ("korax_session_d_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "data");
    fs::copy_file("examples/ocs.001", dir / "data" / "ocs.001");
    fs::copy_file("examples/ocs.cat", dir / "data" / "ocs.cat");
    std::ofstream(dir / "data" / "notes.lin") << "lines to measure next week\n";
    const std::string mixed = "! OCS, earlier work\n"
                              " 19  1 18 18  1 17                      227605.33101    0.00050   "
                              "1.0000\r\n"
                              "  ! kept as it is, without a line end";
    std::ofstream(dir / "data" / "mixed.lin", std::ios::binary) << mixed;
    std::ofstream(dir / "session.play") << R"(type data/ocs.001
enter
keys C
type ocs.cat
enter
keys D
type
type
type
type
type ocs.001
expect data/ocs.001: not an assignment file: line 1 holds binary bytes
enter
type notes.lin
expect data/notes.lin: not an assignment file: line 1 is neither
enter
type mixed.lin
expect data/mixed.lin exists with 3 lines: add the assignments to it (Y/N)?
keys N
type mixed.lin
keys Y
keys ]EEEO
keys T
expect Assigned in data/mixed.lin: 20 1 19 <- 19 1 18
enter
keys Y
type -1
)";
    ASSERT_EQ(0, play_session(dir)) << contents(dir / "out.txt");
    // The first line's end for the new line and the record alike.
    EXPECT_EQ(mixed +
                  "\n 20  1 19 19  1 18                      240046.02971    0.00054   1.0000  ! "
                  "data/ocs.001\n",
              contents(dir / "data" / "mixed.lin"));
    EXPECT_EQ("lines to measure next week\n", contents(dir / "data" / "notes.lin"));
    fs::remove_all(dir);
}
