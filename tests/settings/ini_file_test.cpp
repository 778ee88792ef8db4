#include "settings/ini_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::test;

TEST(IniDocument, ReadsProfileConventions) {
    const auto doc = IniDocument::fromBytes("top=level\n"
                                            "; time=commented\n"
                                            "# time=commented too\n"
                                            "[ Set ]\n"
                                            "  TIME \t=  5  \r\n"
                                            "time=second wins not\n"
                                            "just a line\n"
                                            "=no key\n"
                                            "quoted=\"  padded \"\n"
                                            "single='x'\n"
                                            "half=\"x\n"
                                            "empty=\n"
                                            "[set]\n"
                                            "later=section ignored\n"
                                            "[other\n"
                                            "time=other section\n");
    EXPECT_EQ(doc.get("set", "time"), "5");
    EXPECT_EQ(doc.get("SET", "Time"), "5");
    EXPECT_EQ(doc.get("set", "quoted"), "  padded ");
    EXPECT_EQ(doc.get("set", "single"), "x");
    EXPECT_EQ(doc.get("set", "half"), "\"x");
    EXPECT_EQ(doc.get("set", "empty"), "");
    EXPECT_EQ(doc.get("set", "top"), std::nullopt);
    EXPECT_EQ(doc.get("set", "later"), std::nullopt);
    EXPECT_EQ(doc.get("set", "just a line"), std::nullopt);
    EXPECT_EQ(doc.get("other", "time"), "other section");
    EXPECT_EQ(doc.get("missing", "time"), std::nullopt);
}

TEST(IniDocument, SetRewritesOnlyTheKeyAndKeepsEverythingElse) {
    const std::string original = "; written by hand\n"
                                 "[other]\n"
                                 "time=untouched\n"
                                 "\n"
                                 "[set]\n"
                                 "Time = 1\n"
                                 "keep=me\n"
                                 "time=duplicate stays\n"
                                 "no equals sign\n"
                                 "\n"
                                 "[tail]\n"
                                 "x=y";
    auto doc = IniDocument::fromBytes(original);
    ASSERT_TRUE(doc.set("set", "time", "2"));
    ASSERT_TRUE(doc.set("set", "added", "3"));
    ASSERT_TRUE(doc.set("new", "k", "v"));
    EXPECT_EQ(doc.toBytes(), "; written by hand\n"
                             "[other]\n"
                             "time=untouched\n"
                             "\n"
                             "[set]\n"
                             "time=2\n"
                             "keep=me\n"
                             "time=duplicate stays\n"
                             "no equals sign\n"
                             "added=3\n"
                             "\n"
                             "[tail]\n"
                             "x=y\n"
                             "[new]\n"
                             "k=v\n");
}

TEST(IniDocument, KeepsCrLfAndByteOrderMark) {
    auto doc = IniDocument::fromBytes("\xEF\xBB\xBF[set]\r\na=1\r\nb=2");
    EXPECT_EQ(doc.get("set", "a"), "1");
    ASSERT_TRUE(doc.set("set", "a", "9"));
    ASSERT_TRUE(doc.set("set", "c", "3"));
    EXPECT_EQ(doc.toBytes(), "\xEF\xBB\xBF[set]\r\na=9\r\nb=2\r\nc=3\r\n");
}

TEST(IniDocument, ValuesThatReadingWouldAlterAreQuoted) {
    for (const std::string value : {" lead", "trail\t", "\"quoted\"", "'single'", "\"", "a\"b"}) {
        IniDocument doc;
        ASSERT_TRUE(doc.set("set", "k", value));
        EXPECT_EQ(IniDocument::fromBytes(doc.toBytes()).get("set", "k"), value) << value;
    }
    IniDocument doc;
    ASSERT_TRUE(doc.set("set", "k", "plain text"));
    EXPECT_EQ(doc.toBytes(), "[set]\nk=plain text\n");
}

TEST(IniDocument, RefusesLineBreaksAndBadKeys) {
    IniDocument doc;
    EXPECT_FALSE(doc.set("set", "k", "a\nb=c"));
    EXPECT_FALSE(doc.set("set", "k", "a\rb"));
    EXPECT_FALSE(doc.set("set", "", "v"));
    EXPECT_FALSE(doc.set("set", "a=b", "v"));
    EXPECT_FALSE(doc.set("set", "[k", "v"));
    EXPECT_FALSE(doc.set("s]t", "k", "v"));
    EXPECT_EQ(doc.toBytes(), "");
}

TEST(IniDocument, ReadsGbkWhenNotUtf8) {
    // "精品" in GBK, which is not valid UTF-8.
    const auto doc = IniDocument::fromBytes("[set]\r\nBeforZhui=\xBE\xAB\xC6\xB7\r\n");
    EXPECT_EQ(doc.get("set", "BeforZhui"), "精品");
    EXPECT_EQ(doc.toBytes(), "[set]\r\nBeforZhui=精品\r\n");
}

using IniFile = TempDirTest;

TEST_F(IniFile, MissingFileIsEmptyAndSaveCreatesIt) {
    const auto file = path("set.ini");
    auto doc = IniDocument::load(file);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->toBytes(), "");
    ASSERT_TRUE(doc->set("set", "time", "4"));
    ASSERT_TRUE(doc->save(file));
    EXPECT_EQ(readFile(file), "[set]\ntime=4\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(IniFile, UnreadableOrUnwritablePathIsAnError) {
    const auto asDirectory = path("set.ini");
    std::filesystem::create_directory(asDirectory);
    const auto loaded = IniDocument::load(asDirectory);
    ASSERT_FALSE(loaded);
    EXPECT_NE(loaded.error().message.find("set.ini"), std::string::npos);

    IniDocument doc;
    ASSERT_TRUE(doc.set("set", "a", "1"));
    const auto saved = doc.save(path("no-such-dir") / "set.ini");
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find("set.ini"), std::string::npos);
}
