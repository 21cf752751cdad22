// The program's command line: the forms it takes and the ones it refuses.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace korax {
namespace {

CommandLine parse(std::vector<std::string_view> args) {
    return parse_command_line(args);
}

TEST(CommandLine, AcceptedForms) {
    EXPECT_EQ(CommandLine::Mode::Interactive, parse({}).mode);
    EXPECT_EQ(CommandLine::Mode::Help, parse({"--help"}).mode);
    EXPECT_EQ(CommandLine::Mode::Version, parse({"--version"}).mode);

    const CommandLine plain = parse({"--play", "s.play"});
    ASSERT_EQ(CommandLine::Mode::Play, plain.mode);
    EXPECT_EQ("s.play", plain.play.script);
    EXPECT_EQ(".", plain.play.shots_dir);
    EXPECT_FALSE(plain.play.seed.has_value());
    EXPECT_FALSE(plain.play.config.has_value());

    const CommandLine full = parse({"--play", "t/x.play", "--shots", "out", "--seed",
                                    "18446744073709551615", "--config", "none"});
    ASSERT_EQ(CommandLine::Mode::Play, full.mode);
    EXPECT_EQ("t/x.play", full.play.script);
    EXPECT_EQ("out", full.play.shots_dir);
    EXPECT_EQ(18446744073709551615u, full.play.seed.value());
    EXPECT_EQ("none", full.play.config.value());

    const CommandLine opened = parse({"--catalog", "a.cat", "work/ocs.001", "--catalog", "b.cat"});
    ASSERT_EQ(CommandLine::Mode::Interactive, opened.mode);
    EXPECT_EQ("work/ocs.001", opened.file);
    EXPECT_EQ((std::vector<std::string>{"a.cat", "b.cat"}), opened.catalogs);

    EXPECT_TRUE(opened.lin.empty());

    const CommandLine played =
        parse({"--catalog", "c.cat", "--play", "x.play", "--lin", "d/ocs.lin"});
    ASSERT_EQ(CommandLine::Mode::Play, played.mode);
    EXPECT_EQ((std::vector<std::string>{"c.cat"}), played.catalogs);
    EXPECT_EQ("d/ocs.lin", played.lin);
    EXPECT_TRUE(played.file.empty());

    const CommandLine with_lin = parse({"--lin", "ocs.lin", "ocs.001"});
    ASSERT_EQ(CommandLine::Mode::Interactive, with_lin.mode);
    EXPECT_EQ("ocs.lin", with_lin.lin);
    EXPECT_EQ("ocs.001", with_lin.file);

    const CommandLine reordered = parse({"--seed", "1", "--config", "a.cfg", "--play", "x"});
    ASSERT_EQ(CommandLine::Mode::Play, reordered.mode);
    EXPECT_EQ(1u, reordered.play.seed.value());
    EXPECT_EQ("a.cfg", reordered.play.config.value());
}

TEST(CommandLine, RefusedForms) {
    const std::vector<std::vector<std::string_view>> table = {
        {"a.001", "b.001"},
        {"--play", "x.play", "a.001"},
        {"-x"},
        {"--catalog"},
        {"--lin"},
        {"--lin", ""},
        {"--lin", "a.lin", "--lin", "b.lin"},
        {"a.001", "--seed", "1"},
        {"--play"},
        {"--play", ""},
        {"--play", "a", "--play", "b"},
        {"--play", "a", "--seed"},
        {"--play", "a", "--seed", "-1"},
        {"--play", "a", "--seed", "12x"},
        {"--play", "a", "--seed", "18446744073709551616"},
        {"--play", "a", "--shots", "d", "--shots", "e"},
        {"--play", "a", "--config", "x", "--config", "none"},
        {"--play", "a", "extra"},
        {"--play", "a", "--help"},
        {"--seed", "1"},
        {"--help", "--version"},
        {"--version", "x"},
        {"--frobnicate"},
    };
    for (const auto& args : table) {
        const CommandLine c = parse(args);
        std::string shown;
        for (auto a : args)
            shown += std::string(a) + " ";
        EXPECT_EQ(CommandLine::Mode::Bad, c.mode) << shown;
        EXPECT_FALSE(c.error.empty()) << shown;
    }
}

TEST(CommandLine, VersionNamesTheProjectVersion) {
    EXPECT_EQ(0u, version_text().rfind("korax ", 0));
    EXPECT_NE(std::string::npos, usage_text().find("--play SCRIPT"));
}

} // namespace
} // namespace korax
