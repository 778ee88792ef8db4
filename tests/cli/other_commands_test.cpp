// `settings`, `whoami`, --help and --version of the real vantorel-cli.

#include "cli_harness.h"
#include "named_case.h"
#include "share/share_run.h"
#include "sim_client.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vantorel;
using namespace vantorel::test;
namespace fs = std::filesystem;

namespace {

using vantorel::test::PrintTo;

using Strings = std::vector<std::string>;

bool hasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : lines(text))
        if (l == line)
            return true;
    return false;
}

// --- settings ---------------------------------------------------------------

class SettingsCommand : public CliTest {};

TEST_F(SettingsCommand, ShowOfAFreshDirectoryGivesTheDefaults) {
    const ProcessResult r = cli({"settings", "show"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const std::string file = (dataDir() / "set.ini").string();
    EXPECT_TRUE(hasLine(r.out, "file: " + file + " (not yet written)")) << r.out;
    // Each key as set.ini holds it, and its meaning in words.
    EXPECT_TRUE(hasLine(r.out, "time=3  每项之后暂停 3 秒")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "password=  提取码: 每次分享随机生成")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "type=0  按深度及类型分享")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "ShareType=0  当前 目录下 所有文件和文件夹 (不分享 文件夹内的文件)"))
        << r.out;
    EXPECT_TRUE(hasLine(r.out, "ShareTimeLong=0  分享永久 有效")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "ShareNumber=  每日分享数量: 不限制 (到百度的上限为止)")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "isPassWord=0  加密文件名 (随机名称, 保留扩展名): 关")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "befor=0  加前缀: 关")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "分享之前文件名: 不改名")) << r.out;
    EXPECT_EQ(r.out.find("rename mode"), std::string::npos) << "no internal codes: " << r.out;
    EXPECT_FALSE(fs::exists(file));
}

struct SetCase {
    const char* name;
    std::string key;
    std::string value;
    Strings shown; // lines `settings show` prints afterwards
};

class SettingsSet : public CliTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SettingsSet, WritesTheKeyAndShowReflectsIt) {
    const SetCase& c = GetParam();
    const ProcessResult set = cli({"settings", "set", c.key, c.value});
    ASSERT_EQ(set.exitCode, 0) << describe(set);
    EXPECT_EQ(set.out, "");

    const ProcessResult show = cli({"settings", "show"});
    ASSERT_EQ(show.exitCode, 0) << describe(show);
    EXPECT_TRUE(hasLine(show.out, "file: " + (dataDir() / "set.ini").string())) << show.out;
    for (const std::string& line : c.shown)
        EXPECT_TRUE(hasLine(show.out, line)) << "no line \"" << line << "\" in\n" << show.out;
}

INSTANTIATE_TEST_SUITE_P(
    SettingsCommand, SettingsSet,
    ::testing::Values(
        SetCase{"interval", "time", "7", {"time=7  每项之后暂停 7 秒"}},
        SetCase{"interval_zero", "time", "0", {"time=0  每项之后暂停 3 秒"}},
        SetCase{"key_in_any_case", "sharenumber", "５", {"ShareNumber=５  每日分享数量: 5"}},
        SetCase{"period", "ShareTimeLong", "2", {"ShareTimeLong=2  分享七天 有效"}},
        SetCase{"fixed_code", "password", "ab12", {"password=ab12  固定提取码 ab12"}},
        SetCase{"fixed_code_upper_case", "password", "AB12", {"password=AB12  固定提取码 AB12"}},
        SetCase{
            "prefix_box", "befor", "1", {"befor=1  加前缀: 开", "分享之前文件名: 名称前加 \"\""}},
        SetCase{"share_type",
                "ShareType",
                "4",
                {"ShareType=4  当前 目录下 所有文件夹 (包含 子文件夹内的文件夹)"}}),
    CaseName());

TEST_F(SettingsCommand, SetKeepsTheOtherKeysAndLines) {
    fs::create_directories(dataDir());
    const std::string file = (dataDir() / "set.ini").string();
    writeFile(file, "; mine\n[set]\ntime=5\nShareNumber=10\n[other]\nx=1\n");
    ASSERT_EQ(cli({"settings", "set", "TIME", "9"}).exitCode, 0);
    const std::string text = readFile(file);
    EXPECT_NE(text.find("time=9"), std::string::npos) << text;
    EXPECT_EQ(text.find("time=5"), std::string::npos) << text;
    EXPECT_NE(text.find("ShareNumber=10"), std::string::npos) << text;
    EXPECT_NE(text.find("; mine"), std::string::npos) << text;
    EXPECT_NE(text.find("[other]\nx=1"), std::string::npos) << text;
}

struct BadSetCase {
    const char* name;
    Strings args;
    std::string message;
};

class SettingsSetRefused : public CliTest, public ::testing::WithParamInterface<BadSetCase> {};

TEST_P(SettingsSetRefused, ExitsWith2AndLeavesTheFileAlone) {
    const BadSetCase& c = GetParam();
    fs::create_directories(dataDir());
    const std::string file = (dataDir() / "set.ini").string();
    const std::string before = "[set]\ntime=5\npassword=ab12\n";
    writeFile(file, before);
    Strings args = {"settings", "set"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = cli(args);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(readFile(file), before);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsCommand, SettingsSetRefused,
    ::testing::Values(
        BadSetCase{"unknown_key", {"Bogus", "1"}, "unknown settings key"},
        BadSetCase{"list_position", {"ShareTimeLong", "4"}, "ShareTimeLong"},
        BadSetCase{"check_box", {"isPassWord", "true"}, "isPassWord"},
        BadSetCase{"line_break", {"BeforZhui", "a\nb"}, "line break"},
        // A code that every share would refuse is not stored either.
        BadSetCase{"code_of_five", {"password", "abcde"}, "提取密码,不能大于4位"},
        BadSetCase{"code_of_three_chinese", {"password", "三个字"}, "提取密码,不能大于4位"},
        // The service takes four letters or digits and nothing else.
        BadSetCase{"code_of_two_chinese", {"password", "提取"}, "提取密码必须是4位数字和字母组合"},
        BadSetCase{"code_of_two", {"password", "ab"}, "提取密码必须是4位数字和字母组合"},
        BadSetCase{"code_with_a_sign", {"password", "ab!1"}, "提取密码必须是4位数字和字母组合"},
        BadSetCase{"value_missing", {"time"}, "VALUE"},
        BadSetCase{"extra_argument", {"time", "1", "2"}, "2"}),
    CaseName());

TEST_F(SettingsCommand, ShowOfAStoredCodeTooLongSaysSo) {
    fs::create_directories(dataDir());
    writeFile((dataDir() / "set.ini").string(), "[set]\npassword=abcdef\n");
    const ProcessResult r = cli({"settings", "show"});
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_TRUE(hasLine(r.out, "password=abcdef  固定提取码 abcdef, 无效: 提取密码,不能大于4位"))
        << r.out;
    EXPECT_NE(r.err.find("提取密码,不能大于4位"), std::string::npos) << r.err;
}

// --- whoami -----------------------------------------------------------------

class WhoamiCommand : public CliSimTest {};

TEST_F(WhoamiCommand, PrintsTheUserNameOfTheLogin) {
    ASSERT_TRUE(startSim({"--user", "另一位 用户"}));
    const ProcessResult r = cliAtSim({"whoami", "--cookies", SimProcess::loginCookieHeader()});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "另一位 用户\n");
}

TEST_F(WhoamiCommand, TakesTheLoginFromAFileOrTheEnvironment) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("cookie.txt");
    writeFile(file, "Cookie: BAIDUID=visitor; " + SimProcess::loginCookieHeader() + "\n");
    ::chmod(file.c_str(), 0600);
    ProcessResult r = cliAtSim({"whoami", "--cookie-file", file});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, std::string(SimProcess::kUser) + "\n");

    ProcessOptions options;
    options.setEnv = {{"VANTOREL_COOKIES", SimProcess::loginCookieHeader()}};
    r = cliAtSim({"whoami"}, options);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, std::string(SimProcess::kUser) + "\n");
}

TEST_F(WhoamiCommand, WithoutALoginExitsWith4) {
    ASSERT_TRUE(startSim());
    for (const Strings& login : {Strings{}, Strings{"--cookies", "BDUSS=not-the-login"}}) {
        Strings args = {"whoami"};
        args.insert(args.end(), login.begin(), login.end());
        const ProcessResult r = cliAtSim(args);
        EXPECT_EQ(r.exitCode, 4) << describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(kNotLoggedInMessage), std::string::npos) << r.err;
        // The newcomer learns how to give a login.
        for (const char* way : {"--cookies", "--cookie-file", "VANTOREL_COOKIES"}) {
            EXPECT_NE(r.err.find(way), std::string::npos) << way << " in " << r.err;
        }
        EXPECT_NE(r.err.find(login.empty() ? "no login was given" : "does not take this login"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(WhoamiCommand, AStaleSessionIsNotLoggedIn) {
    ASSERT_TRUE(startSim());
    auto client = makeSimClient(sim());
    const auto changed =
        client->Post("/__sim/config", "{\"session_valid\": false}", "application/json");
    ASSERT_TRUE(changed && changed->status == 200);
    const ProcessResult r = cliAtSim({"whoami", "--cookies", SimProcess::loginCookieHeader()});
    EXPECT_EQ(r.exitCode, 4) << describe(r);
    EXPECT_EQ(r.out, "");
}

TEST_F(WhoamiCommand, UnreachableServiceIsNotReportedAsNotLoggedIn) {
    const ProcessResult r = runCli(
        {"--origin", "http://127.0.0.1:1", "whoami", "--cookies", SimProcess::loginCookieHeader()});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.err.find(kNotLoggedInMessage), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

// --- help, version, usage -------------------------------------------------------

struct HelpCase {
    const char* name;
    Strings command;
};

class Help : public ::testing::TestWithParam<HelpCase> {};

TEST_P(Help, ExitsWith0AndDescribesTheCommand) {
    Strings args = GetParam().command;
    args.push_back("--help");
    const ProcessResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    std::string usage = "Usage: vantorel-cli";
    for (const std::string& word : GetParam().command)
        usage += " " + word;
    EXPECT_NE(r.out.find(usage), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Cli, Help,
                         ::testing::Values(HelpCase{"program", {}}, HelpCase{"share", {"share"}},
                                           HelpCase{"whoami", {"whoami"}},
                                           HelpCase{"records", {"records"}},
                                           HelpCase{"records_list", {"records", "list"}},
                                           HelpCase{"records_export", {"records", "export"}},
                                           HelpCase{"records_delete", {"records", "delete"}},
                                           HelpCase{"records_clear", {"records", "clear"}},
                                           HelpCase{"settings", {"settings"}},
                                           HelpCase{"settings_show", {"settings", "show"}},
                                           HelpCase{"settings_set", {"settings", "set"}}),
                         CaseName());

TEST(Cli, ShareHelpNamesTheContractsOptions) {
    const ProcessResult r = runCli({"share", "--help"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    for (const char* option : {"--cookies", "--cookie-file", "--path", "--selection", "--set"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    const ProcessResult top = runCli({"--help"});
    for (const char* option :
         {"--data-dir", "--origin", "--ca-file", "share", "whoami", "records", "settings"})
        EXPECT_NE(top.out.find(option), std::string::npos) << option;
}

TEST(Cli, VersionExitsWith0) {
    const ProcessResult r = runCli({"--version"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out.rfind("vantorel-cli ", 0), 0u) << r.out;
    EXPECT_EQ(lines(r.out).size(), 1u);
}

class Usage : public ::testing::TestWithParam<HelpCase> {};

TEST_P(Usage, ExitsWith2WithAMessage) {
    const ProcessResult r = runCli(GetParam().command);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(r.err.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Usage,
    ::testing::Values(HelpCase{"no_command", {}}, HelpCase{"unknown_command", {"publish"}},
                      HelpCase{"unknown_option", {"--bogus", "whoami"}},
                      HelpCase{"settings_alone", {"settings"}},
                      HelpCase{"unknown_settings_command", {"settings", "reset"}},
                      HelpCase{"share_path_and_selection",
                               {"share", "--path", "/A", "--selection", "/dev/null"}},
                      HelpCase{"share_without_source", {"share"}},
                      HelpCase{"selection_file_missing", {"share", "--selection", "/nonexistent"}},
                      HelpCase{"cookie_file_missing",
                               {"share", "--cookie-file", "/nonexistent", "--path", "/A"}}),
    CaseName());

TEST(Cli, AnUnknownCommandWordIsNamedInTheMessage) {
    for (const Strings& args :
         {Strings{"publish"}, Strings{"records", "purge"}, Strings{"settings", "reset"}}) {
        const ProcessResult r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << describe(r);
        EXPECT_NE(r.err.find(args.back()), std::string::npos) << r.err;
    }
}

} // namespace
