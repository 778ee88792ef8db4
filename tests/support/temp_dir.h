#pragma once

// Temporary directories for tests, and whole files read and written as
// bytes.

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vantorel::test {

// A directory under $TMPDIR (or /tmp) that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A fresh directory per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    std::filesystem::path dir() const { return temp_.path(); }
    std::filesystem::path path(const std::string& name) const { return dir() / name; }

private:
    TempDir temp_;
};

std::vector<std::string> readLines(const std::string& path);
// The names in a directory, sorted: what a program left there (a temporary
// file it should have removed shows).
std::vector<std::string> filesIn(const std::filesystem::path& directory);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

} // namespace vantorel::test
