// Inputs the fuzzers found, kept as plain tests so that the faults they
// showed stay mended in every build, not only in fuzzing runs.

#include "base/json_document.h"
#include "settings/ini_file.h"
#include "settings/settings_form.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

constexpr const char* kPlaceholderChar = "\xE2\x90\x80"; // U+2400

// A reply's own U+2400 (a file name may hold it) is a character, not the
// backslash placeholder of stored texts: read as one, "x␀y.txt" would name
// the item "x\y.txt".
TEST(FuzzRegression, PlaceholderCharacterInAReplyReadsAsItself) {
    const std::string name = std::string("x") + kPlaceholderChar + "y.txt";
    JsonDocument reply;
    ASSERT_TRUE(reply.parse(R"({"list":[{"server_filename":")" + name + R"(","path":"/d/)" + name +
                            R"("}],"other":"a\\b"})"));
    EXPECT_EQ(reply.getText("list[0].server_filename"), name);
    EXPECT_EQ(reply.getText("list[0].path"), "/d/" + name);
    EXPECT_EQ(reply.getText("other"), "a\\b");
    EXPECT_EQ(reply.getText("list[0]", true),
              R"({"server_filename":")" + name + R"(","path":"/d/)" + name + R"("})");
    EXPECT_EQ(reply.allValues("", true), (std::vector<std::string>{name, "/d/" + name, "a\\b"}));
    EXPECT_EQ(reply.getDocument("list[0]").getText("server_filename"), name);

    // Text the program stores itself still keeps its backslashes that way,
    // next to the reply's own characters.
    ASSERT_TRUE(reply.setValue("stored", "C:\\dir"));
    EXPECT_EQ(reply.getText("stored"), "C:\\dir");
    EXPECT_EQ(reply.getText("list[0].server_filename"), name);
}

// Written out and read again, a parsed document is the same document.
TEST(FuzzRegression, ParsedDocumentWritesBackToItself) {
    for (const std::string& text : {std::string(R"({"a":")") + kPlaceholderChar +
                                        R"(","b":["\\",")" + kPlaceholderChar + R"(\\"]})",
                                    std::string(R"({"k)") + kPlaceholderChar + R"(":1})"}) {
        SCOPED_TRACE(text);
        JsonDocument once;
        ASSERT_TRUE(once.parse(text));
        const std::string written = once.toJsonText();
        JsonDocument twice;
        ASSERT_TRUE(twice.parse(written));
        EXPECT_EQ(twice.toJsonText(), written);
        EXPECT_EQ(written, text);
    }
}

// set.ini is read as GBK when it is not valid UTF-8: one value written in
// another encoding would turn every Chinese value of the file into garbage.
TEST(FuzzRegression, SettingsRefuseTextThatIsNotUtf8) {
    IniDocument doc = IniDocument::fromBytes("[set]\nBeforZhui=前缀_\n");
    EXPECT_FALSE(doc.set("set", "AfterZhui", "\xD6\xD0")); // 中 in GBK
    EXPECT_FALSE(doc.set("se\xB4me", "time", "3"));
    EXPECT_FALSE(doc.set("set", "ti\xFFme", "3"));
    ASSERT_TRUE(doc.set("set", "AfterZhui", "_后缀"));

    const IniDocument again = IniDocument::fromBytes(doc.toBytes());
    EXPECT_EQ(again.get("set", "BeforZhui"), "前缀_");
    EXPECT_EQ(again.get("set", "AfterZhui"), "_后缀");
}

// A value with a NUL or a stray CR in it (a file damaged or edited in an odd
// editor) reads up to that character, so that saving the settings read from
// it does not fail for good on a value nobody can see.
TEST(FuzzRegression, SettingsValueEndsAtNulOrStrayCr) {
    const std::string bytes =
        std::string("[set]\r\ntime=5") + '\0' + " junk\r\npassword=ab\rcd\r\nBeforZhui=前缀\r\n";
    IniDocument doc = IniDocument::fromBytes(bytes);
    EXPECT_EQ(doc.get("set", "time"), "5");
    EXPECT_EQ(doc.get("set", "password"), "ab");
    EXPECT_EQ(doc.get("set", "BeforZhui"), "前缀");
    const SettingsForm form = settingsFormFromIni(doc);
    for (const auto& [key, value] : settingsEntries(form))
        EXPECT_TRUE(doc.set(kSettingsSection, key, value)) << key;
    EXPECT_EQ(settingsFormFromIni(IniDocument::fromBytes(doc.toBytes())), form);
}

} // namespace
} // namespace vantorel
