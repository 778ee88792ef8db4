#include "base/gbk.h"
#include "named_case.h"
#include "settings/settings_form.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <optional>

using namespace vantorel;
using namespace vantorel::test;
using vantorel::test::CaseName;
using vantorel::test::PrintTo;

namespace {

ShareOptions options(void (*edit)(ShareOptions&)) {
    ShareOptions o;
    edit(o);
    return o;
}

} // namespace

// From the file to the options of a run: the key table's load rules and the
// rules of collectShareOptions, one file per case.
struct FileCase {
    const char* name;
    std::optional<std::string> file; // nullopt: no set.ini at all
    ShareOptions expected;
};

class FileToOptions : public TempDirTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileToOptions, Collects) {
    const auto file = path("set.ini");
    if (GetParam().file)
        writeFile(file, *GetParam().file);
    const auto form = loadSettingsForm(file);
    ASSERT_TRUE(form) << form.error().message;
    const auto collected = collectShareOptions(*form);
    ASSERT_TRUE(collected) << collected.error().message;
    EXPECT_EQ(*collected, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileToOptions,
    ::testing::Values(
        FileCase{"MissingFile", std::nullopt, ShareOptions{}},
        FileCase{"EmptyFile", "", ShareOptions{}},
        FileCase{"OtherSectionOnly", "[other]\ntime=9\n", ShareOptions{}},
        FileCase{"IntervalZero", "[set]\ntime=0\n", ShareOptions{}},
        FileCase{"IntervalAbc", "[set]\ntime=abc\n", ShareOptions{}},
        FileCase{"IntervalEmpty", "[set]\ntime=\n", ShareOptions{}},
        FileCase{"IntervalNegative", "[set]\ntime=-5\n",
                 options([](ShareOptions& o) { o.intervalSeconds = -5; })},
        FileCase{"IntervalTrailingText", "[set]\ntime=12s\n",
                 options([](ShareOptions& o) { o.intervalSeconds = 12; })},
        FileCase{"DailyLimitFullWidth", "[set]\nShareNumber=１０\n",
                 options([](ShareOptions& o) { o.dailyLimit = 10; })},
        FileCase{"PeriodThirty", "[set]\nShareTimeLong=1\n",
                 options([](ShareOptions& o) { o.period = "30"; })},
        FileCase{"PeriodSevenHasBlank", "[set]\nShareTimeLong=2\n",
                 options([](ShareOptions& o) { o.period = " 7"; })},
        FileCase{"PeriodOneDay", "[set]\nShareTimeLong=3\n",
                 options([](ShareOptions& o) { o.period = "1"; })},
        FileCase{"PeriodOutOfRange", "[set]\nShareTimeLong=4\n", ShareOptions{}},
        FileCase{"ShareTypeLast", "[set]\nShareType=4\n",
                 options([](ShareOptions& o) { o.shareType = ShareType::FoldersWithSubfolders; })},
        FileCase{"ShareTypeSeven", "[set]\nShareType=7\n", ShareOptions{}},
        FileCase{"ShareTypeNegative", "[set]\nShareType=-1\n", ShareOptions{}},
        FileCase{"PasswordUpperCase", "[set]\npassword=AB9z\n",
                 options([](ShareOptions& o) { o.password = "AB9z"; })},
        FileCase{"PasswordFourAscii", "[set]\npassword=ab12\n",
                 options([](ShareOptions& o) { o.password = "ab12"; })},
        FileCase{"CheckNeedsExactOne", "[set]\nisPassWord=true\nKeyWord= 1x\n", ShareOptions{}},
        FileCase{"Encrypt", "[set]\nisPassWord=1\nKeyWord=1\nBeforWord=a\nAfterWord=b\n",
                 options([](ShareOptions& o) { o.renameMode = RenameMode::RandomName; })},
        FileCase{"Keyword", "[set]\nKeyWord=1\nBeforWord=a\nAfterWord=b\nBeforZhui=p\n",
                 options([](ShareOptions& o) {
                     o.renameMode = RenameMode::ReplaceKeyword;
                     o.keywordBefore = "a";
                     o.keywordAfter = "b";
                 })},
        FileCase{"EncryptAndPrefix", "[set]\nisPassWord=1\nbefor=1\nBeforZhui=p\n",
                 options([](ShareOptions& o) {
                     o.renameMode = RenameMode::AddPrefix;
                     o.namePrefix = "p";
                 })},
        FileCase{"KeywordAndSuffix",
                 "[set]\nKeyWord=1\nBeforWord=a\nAfterWord=b\nafter=1\nAfterZhui=s\n",
                 options([](ShareOptions& o) {
                     o.renameMode = RenameMode::AddSuffix;
                     o.keywordBefore = "a";
                     o.keywordAfter = "b";
                     o.nameSuffix = "s";
                 })},
        FileCase{"PrefixAndSuffix", "[set]\nbefor=1\nafter=1\nBeforZhui=p\nAfterZhui=s\n",
                 options([](ShareOptions& o) {
                     o.renameMode = RenameMode::AddPrefixAndSuffix;
                     o.namePrefix = "p";
                     o.nameSuffix = "s";
                 })},
        FileCase{"CaseAndBlanksIgnored", "[SET]\r\n  TIME = 7 \r\nsharetype=2\r\nBEFOR=1\r\n",
                 options([](ShareOptions& o) {
                     o.intervalSeconds = 7;
                     o.shareType = ShareType::Folders;
                     o.renameMode = RenameMode::AddPrefix;
                 })},
        FileCase{"QuotedPrefixKeepsBlank", "[set]\nbefor=1\nBeforZhui=\"[精品] \"\n",
                 options([](ShareOptions& o) {
                     o.renameMode = RenameMode::AddPrefix;
                     o.namePrefix = "[精品] ";
                 })},
        FileCase{"FirstDuplicateWins", "[set]\ntime=8\ntime=9\n[set]\ntime=10\n",
                 options([](ShareOptions& o) { o.intervalSeconds = 8; })},
        FileCase{"GbkFile", "[set]\r\nbefor=1\r\nBeforZhui=\xBE\xAB\xC6\xB7\r\n",
                 options([](ShareOptions& o) {
                     o.renameMode = RenameMode::AddPrefix;
                     o.namePrefix = "精品";
                 })}),
    CaseName{});

using SettingsFile = TempDirTest;

TEST_F(SettingsFile, LoadRulesOfTheRadioAndTheLists) {
    const auto file = path("set.ini");
    const auto load = [&](const std::string& text) {
        writeFile(file, text);
        auto form = loadSettingsForm(file);
        EXPECT_TRUE(form);
        return form ? *form : SettingsForm{};
    };
    EXPECT_TRUE(load("[set]\ntype=1\n").shareByType);
    EXPECT_FALSE(load("[set]\ntype=2\n").shareByType);
    EXPECT_FALSE(load("[set]\ntype=\n").shareByType);
    EXPECT_EQ(load("[set]\nShareType=3\n").shareTypeIndex, 3);
    EXPECT_EQ(load("[set]\nShareType=03\n").shareTypeIndex, 0);
    EXPECT_EQ(load("[set]\nShareTimeLong=2\n").periodIndex, 2);
    EXPECT_EQ(load("[set]\nShareTimeLong=x\n").periodIndex, 0);
    EXPECT_EQ(load("[set]\nAfterContents=*.mp4|*.mkv\n").customSuffixText, "*.mp4|*.mkv");
}

// A code is empty or four ASCII letters or digits; the service refuses
// anything else, so the settings do too.
TEST_F(SettingsFile, CodesTheServiceWouldRefuseFailWithTheirMessage) {
    const struct {
        const char* code;
        const char* message; // empty when accepted
    } cases[] = {
        {"", ""},
        {"ab12", ""},
        {"AB12", ""},
        {"0000", ""},
        {"zZ9a", ""},
        {"abcde", "提取密码,不能大于4位"},
        {"中文字", "提取密码,不能大于4位"},
        {"中abc", "提取密码,不能大于4位"},
        {"中ab", "提取密码必须是4位数字和字母组合"},
        {"提取", "提取密码必须是4位数字和字母组合"},
        {"ab", "提取密码必须是4位数字和字母组合"},
        {"abc", "提取密码必须是4位数字和字母组合"},
        {"ab!1", "提取密码必须是4位数字和字母组合"},
        {"ab 1", "提取密码必须是4位数字和字母组合"},
        {"ａｂ12", "提取密码,不能大于4位"}, // full-width letters are two bytes each
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        SettingsForm form;
        form.password = c.code;
        const auto collected = collectShareOptions(form);
        const Status checked = checkExtractionCode(c.code);
        EXPECT_EQ(collected.hasValue(), std::string(c.message).empty());
        EXPECT_EQ(checked.hasValue(), std::string(c.message).empty());
        if (!collected) {
            EXPECT_EQ(collected.error().message, c.message);
            EXPECT_EQ(checked.error().message, c.message);
        }
    }
}

TEST_F(SettingsFile, KeywordThenNoRenameBoxGivesModeZero) {
    const auto file = path("set.ini");
    SettingsForm form;
    form.replaceKeyword = true;
    form.keywordBefore = "old";
    ASSERT_TRUE(saveSettingsForm(file, form));
    EXPECT_EQ(collectShareOptions(*loadSettingsForm(file))->renameMode, RenameMode::ReplaceKeyword);

    form.replaceKeyword = false;
    ASSERT_TRUE(saveSettingsForm(file, form));
    EXPECT_EQ(collectShareOptions(*loadSettingsForm(file))->renameMode, RenameMode::None);
}

TEST_F(SettingsFile, SaveWritesAllFifteenKeysInOrder) {
    const auto file = path("set.ini");
    ASSERT_TRUE(saveSettingsForm(file, SettingsForm{}));
    EXPECT_EQ(readFile(file), "[set]\n"
                              "time=\n"
                              "password=\n"
                              "type=0\n"
                              "ShareType=0\n"
                              "ShareTimeLong=0\n"
                              "BeforWord=\n"
                              "AfterWord=\n"
                              "BeforZhui=\n"
                              "AfterZhui=\n"
                              "ShareNumber=\n"
                              "AfterContents=\n"
                              "isPassWord=0\n"
                              "KeyWord=0\n"
                              "befor=0\n"
                              "after=0\n");
}

TEST_F(SettingsFile, SaveKeepsUnknownContentAndCompletesMissingKeys) {
    const auto file = path("set.ini");
    writeFile(file, "; hand notes\r\n"
                    "[window]\r\n"
                    "left=10\r\n"
                    "[Set]\r\n"
                    "SHARETYPE=2\r\n"
                    "custom=kept\r\n"
                    "a line without equals\r\n"
                    "time=5\r\n");
    auto form = loadSettingsForm(file);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->shareTypeIndex, 2);
    form->intervalText = "6";
    ASSERT_TRUE(saveSettingsForm(file, *form));
    EXPECT_EQ(readFile(file), "; hand notes\r\n"
                              "[window]\r\n"
                              "left=10\r\n"
                              "[Set]\r\n"
                              "ShareType=2\r\n"
                              "custom=kept\r\n"
                              "a line without equals\r\n"
                              "time=6\r\n"
                              "password=\r\n"
                              "type=0\r\n"
                              "ShareTimeLong=0\r\n"
                              "BeforWord=\r\n"
                              "AfterWord=\r\n"
                              "BeforZhui=\r\n"
                              "AfterZhui=\r\n"
                              "ShareNumber=\r\n"
                              "AfterContents=\r\n"
                              "isPassWord=0\r\n"
                              "KeyWord=0\r\n"
                              "befor=0\r\n"
                              "after=0\r\n");
}

TEST_F(SettingsFile, GbkFileIsSavedAsUtf8) {
    const auto file = path("set.ini");
    writeFile(file, "[note]\r\ntext=\xD6\xD0\xCE\xC4\r\n[set]\r\nAfterZhui=\xBE\xAB\xC6\xB7\r\n");
    auto form = loadSettingsForm(file);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->nameSuffix, "精品");
    ASSERT_TRUE(saveSettingsForm(file, *form));
    const std::string saved = readFile(file);
    EXPECT_TRUE(isValidUtf8(saved));
    const std::string head = "[note]\r\ntext=中文\r\n[set]\r\nAfterZhui=精品\r\n";
    EXPECT_EQ(saved.substr(0, head.size()), head);
    EXPECT_EQ(*loadSettingsForm(file), *form);
}

TEST_F(SettingsFile, RoundTripKeepsEveryControl) {
    const auto file = path("set.ini");
    SettingsForm form;
    form.intervalText = "１５";
    form.password = "中文";
    form.keywordBefore = " 旧 ";
    form.keywordAfter = "\"new\"";
    form.namePrefix = "[精品] ";
    form.nameSuffix = "'s";
    form.dailyLimitText = "abc";
    form.customSuffixText = "*.mp4|*.mkv";
    form.shareTypeIndex = 4;
    form.periodIndex = 2;
    form.encryptName = true;
    form.replaceKeyword = true;
    form.addPrefix = true;
    form.addSuffix = true;
    form.shareByType = true;
    ASSERT_TRUE(saveSettingsForm(file, form));
    const auto loaded = loadSettingsForm(file);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(*loaded, form);
}

TEST_F(SettingsFile, LineBreakInATextWritesNothing) {
    const auto file = path("set.ini");
    writeFile(file, "[set]\ntime=5\n");
    SettingsForm form;
    form.namePrefix = "a\nShareType=4";
    EXPECT_FALSE(saveSettingsForm(file, form));
    EXPECT_EQ(readFile(file), "[set]\ntime=5\n");
}

TEST_F(SettingsFile, UnreadableFileIsReportedNotDefaulted) {
    const auto file = path("set.ini");
    std::filesystem::create_directory(file);
    EXPECT_FALSE(loadSettingsForm(file));
    EXPECT_FALSE(saveSettingsForm(file, SettingsForm{}));
}

TEST_F(SettingsFile, SetOneKeyKeepsTheRest) {
    const auto file = path("set.ini");
    writeFile(file, "[other]\nx=1\n[set]\nTIME=5\nbefor=1\n");
    ASSERT_TRUE(setSettingsKey(file, "time", "9"));
    ASSERT_TRUE(setSettingsKey(file, "SHARETIMELONG", "2"));
    EXPECT_EQ(readFile(file), "[other]\nx=1\n[set]\ntime=9\nbefor=1\nShareTimeLong=2\n");

    const auto unknown = setSettingsKey(file, "interval", "9");
    ASSERT_FALSE(unknown);
    EXPECT_NE(unknown.error().message.find("interval"), std::string::npos);
    EXPECT_FALSE(setSettingsKey(file, "ShareType", "5"));
    EXPECT_FALSE(setSettingsKey(file, "after", "yes"));
    EXPECT_EQ(readFile(file), "[other]\nx=1\n[set]\ntime=9\nbefor=1\nShareTimeLong=2\n");

    const auto fresh = path("fresh.ini");
    ASSERT_TRUE(setSettingsKey(fresh, "password", "ab12"));
    EXPECT_EQ(readFile(fresh), "[set]\npassword=ab12\n");
}

TEST(SettingsOverrides, ApplyInMemory) {
    SettingsForm form;
    ASSERT_TRUE(applySettingOverride(form, "TIME=5"));
    ASSERT_TRUE(applySettingOverride(form, " sharetype =4"));
    ASSERT_TRUE(applySettingOverride(form, "BeforWord=a=b"));
    ASSERT_TRUE(applySettingOverride(form, "AfterZhui= padded "));
    ASSERT_TRUE(applySettingOverride(form, "type=1"));
    ASSERT_TRUE(applySettingOverride(form, "isPassWord=1"));
    EXPECT_EQ(form.intervalText, "5");
    EXPECT_EQ(form.shareTypeIndex, 4);
    EXPECT_EQ(form.keywordBefore, "a=b");
    EXPECT_EQ(form.nameSuffix, " padded ");
    EXPECT_TRUE(form.shareByType);
    EXPECT_TRUE(form.encryptName);

    const SettingsForm before = form;
    for (const char* bad : {"bogus=1", "time", "ShareType=5", "ShareTimeLong=-1", "isPassWord=true",
                            "password=a\nb"}) {
        EXPECT_FALSE(applySettingOverride(form, bad)) << bad;
    }
    EXPECT_EQ(form, before);
}

TEST(SettingsKeys, CanonicalSpellingAndEntries) {
    EXPECT_EQ(canonicalSettingsKey("sharetimelong"), "ShareTimeLong");
    EXPECT_EQ(canonicalSettingsKey("nope"), std::nullopt);
    EXPECT_EQ(settingsFilePath("data").filename(), "set.ini");

    SettingsForm form;
    form.periodIndex = 3;
    form.addSuffix = true;
    const auto entries = settingsEntries(form);
    ASSERT_EQ(entries.size(), kSettingsKeys.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].first, kSettingsKeys[i]);
    EXPECT_EQ(entries[4].second, "3");
    EXPECT_EQ(entries[14].second, "1");
}

TEST(CollectShareOptions, OutOfRangePositionsCountAsFirstItem) {
    SettingsForm form;
    form.shareTypeIndex = 9;
    form.periodIndex = -1;
    const auto collected = collectShareOptions(form);
    ASSERT_TRUE(collected);
    EXPECT_EQ(collected->shareType, ShareType::FilesAndFolders);
    EXPECT_EQ(collected->period, "0");
}
