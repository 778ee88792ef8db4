#include "base/data_dir.h"
#include "named_case.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace vantorel;
namespace fs = std::filesystem;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

// "{tmp}" in a case stands for the test's scratch directory.
std::string expand(const std::string& text, const fs::path& tmp) {
    std::string out = text;
    const std::string token = "{tmp}";
    for (std::size_t at; (at = out.find(token)) != std::string::npos;)
        out.replace(at, token.size(), tmp.string());
    return out;
}

struct DataDirCase {
    const char* name;
    std::optional<std::string> option;
    std::map<std::string, std::string> env;
    std::optional<std::string> programDir;
    const char* expected; // a directory, or "error"
};

class DataDirRule : public ::testing::TestWithParam<DataDirCase> {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vantorel-datadir-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        tmp_ = pattern;
        fs::create_directories(tmp_ / "prog");
        std::ofstream(tmp_ / "plain-file") << "not a directory";
    }
    void TearDown() override { fs::remove_all(tmp_); }

    fs::path tmp_;
};

TEST_P(DataDirRule, ChoosesTheFirstMatchingPlace) {
    const DataDirCase& c = GetParam();
    std::optional<fs::path> option;
    if (c.option)
        option = expand(*c.option, tmp_);
    std::map<std::string, std::string> env;
    for (const auto& [key, value] : c.env)
        env[key] = expand(value, tmp_);
    const EnvLookup lookup = [&env](std::string_view name) -> std::optional<std::string> {
        auto it = env.find(std::string(name));
        if (it == env.end())
            return std::nullopt;
        return it->second;
    };
    std::optional<fs::path> programDir;
    if (c.programDir)
        programDir = expand(*c.programDir, tmp_);

    const Expected<fs::path> dir = resolveDataDir(option, lookup, programDir);

    if (std::string(c.expected) == "error") {
        ASSERT_FALSE(dir) << dir->string();
        EXPECT_FALSE(dir.error().message.empty());
        return;
    }
    ASSERT_TRUE(dir) << dir.error().message;
    EXPECT_EQ(*dir, fs::path(expand(c.expected, tmp_)));
    EXPECT_TRUE(fs::is_directory(*dir));
}

const std::map<std::string, std::string> kHomeOnly = {{"HOME", "{tmp}/home"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, DataDirRule,
    ::testing::Values(
        DataDirCase{"OptionWinsOverEverything",
                    "{tmp}/chosen/deeper",
                    {{"VANTOREL_DATA_DIR", "{tmp}/env"}, {"HOME", "{tmp}/home"}},
                    "{tmp}/prog",
                    "{tmp}/chosen/deeper"},
        DataDirCase{"EmptyOptionIsAnError", "", kHomeOnly, "{tmp}/prog", "error"},
        DataDirCase{"OptionThatIsAFileIsAnError", "{tmp}/plain-file", kHomeOnly, "{tmp}/prog",
                    "error"},
        DataDirCase{"EnvironmentWinsOverProgramDir",
                    std::nullopt,
                    {{"VANTOREL_DATA_DIR", "{tmp}/env"}, {"HOME", "{tmp}/home"}},
                    "{tmp}/prog",
                    "{tmp}/env"},
        DataDirCase{"EmptyEnvironmentIsIgnored",
                    std::nullopt,
                    {{"VANTOREL_DATA_DIR", ""}, {"HOME", "{tmp}/home"}},
                    "{tmp}/prog",
                    "{tmp}/prog"},
        DataDirCase{"EnvironmentThatIsAFileIsAnError",
                    std::nullopt,
                    {{"VANTOREL_DATA_DIR", "{tmp}/plain-file"}, {"HOME", "{tmp}/home"}},
                    "{tmp}/prog",
                    "error"},
        DataDirCase{"WritableProgramDirIsPortable", std::nullopt, kHomeOnly, "{tmp}/prog",
                    "{tmp}/prog"},
        DataDirCase{"MissingProgramDirFallsBackToXdg",
                    std::nullopt,
                    {{"XDG_DATA_HOME", "{tmp}/xdg"}, {"HOME", "{tmp}/home"}},
                    "{tmp}/no-such-dir",
                    "{tmp}/xdg/vantorel"},
        DataDirCase{"ProgramPathThatIsAFileFallsBackToXdg",
                    std::nullopt,
                    {{"XDG_DATA_HOME", "{tmp}/xdg"}},
                    "{tmp}/plain-file",
                    "{tmp}/xdg/vantorel"},
        DataDirCase{"SystemProgramDirIsNeverPortable",
                    std::nullopt,
                    {{"XDG_DATA_HOME", "{tmp}/xdg"}},
                    "/usr/bin",
                    "{tmp}/xdg/vantorel"},
        DataDirCase{"UnknownProgramDirFallsBackToXdg",
                    std::nullopt,
                    {{"XDG_DATA_HOME", "{tmp}/xdg"}},
                    std::nullopt,
                    "{tmp}/xdg/vantorel"},
        DataDirCase{"RelativeXdgIsIgnored",
                    std::nullopt,
                    {{"XDG_DATA_HOME", "relative/data"}, {"HOME", "{tmp}/home"}},
                    std::nullopt,
                    "{tmp}/home/.local/share/vantorel"},
        DataDirCase{"EmptyXdgMeansHome",
                    std::nullopt,
                    {{"XDG_DATA_HOME", ""}, {"HOME", "{tmp}/home"}},
                    std::nullopt,
                    "{tmp}/home/.local/share/vantorel"},
        DataDirCase{"NoXdgAndNoHomeIsAnError", std::nullopt, {}, std::nullopt, "error"}),
    CaseName{});

TEST(DataDir, RelativeOptionBecomesAbsolute) {
    const fs::path before = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "vantorel-datadir-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::current_path(pattern);
    const auto dir = resolveDataDir(fs::path("data"), EnvLookup{}, std::nullopt);
    fs::current_path(before);
    ASSERT_TRUE(dir) << dir.error().message;
    EXPECT_EQ(*dir, fs::path(pattern) / "data");
    fs::remove_all(pattern);
}

TEST(DataDir, ProgramDirectoryHoldsTheRunningProgram) {
    const auto dir = programDirectory();
    ASSERT_TRUE(dir) << dir.error().message;
    EXPECT_TRUE(dir->is_absolute());
    EXPECT_TRUE(fs::exists(*dir / "base_tests")) << dir->string();
}

} // namespace
