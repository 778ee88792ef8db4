#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>

// A fresh directory per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        dir_ = std::filesystem::temp_directory_path() /
               ("vantorel-settings-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::filesystem::path path(const std::string& name) const { return dir_ / name; }

    static void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string readBytes(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path dir_;
};
