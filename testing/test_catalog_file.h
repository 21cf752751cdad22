// For the catalogue tests: a fresh folder per test, removed after it, and
// files written into it byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace korax {

class CatalogFile : public ::testing::Test {
  protected:
    std::filesystem::path dir;
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("korax_catalog_test_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

namespace testing {

// A prediction as the catalogue programs write it, at `freq` with uncertainty
// 0.01 and log intensity `lgint`, of the transition J+1 0 J+1 <- J 0 J.
inline std::string prediction_line(double freq, int j, double lgint = -3.0) {
    char text[128];
    std::snprintf(text, sizeof text, "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d%2d%2d%2d      %2d%2d%2d\n",
                  freq, 0.01, lgint, 3, 1.0, 3, 99001, 303, j + 1, 0, j + 1, j, 0, j);
    return text;
}

} // namespace testing
} // namespace korax
