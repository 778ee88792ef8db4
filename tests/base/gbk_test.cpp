#include "base/gbk.h"

#include <gtest/gtest.h>

using namespace vantorel;

TEST(Gbk, RoundTripsChinese) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87"; // 中文
    const std::string gbk = utf8ToGbk(utf8);
    EXPECT_EQ(gbk, "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(gbkToUtf8(gbk), utf8);
}

TEST(Gbk, ByteLengthOfCodes) {
    EXPECT_EQ(utf8ToGbk("abcd").size(), 4u);
    EXPECT_EQ(utf8ToGbk("\xE4\xB8\xAD\xE6\x96\x87").size(), 4u);
    EXPECT_EQ(utf8ToGbk("abcde").size(), 5u);
}

TEST(Gbk, InvalidInputIsReplacedNotDropped) {
    EXPECT_EQ(gbkToUtf8("a\xFF"
                        "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf8ToGbk("a\xF0\x9F\x98\x80"
                        "b"),
              "a?b"); // emoji has no GBK form
    EXPECT_EQ(utf8ToGbk("a\xC3"), "a?");
}

TEST(Utf8, ValidityAndSanitising) {
    EXPECT_TRUE(isValidUtf8("plain \xE4\xB8\xAD"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_EQ(sanitiseUtf8("a\xFF"
                           "b\xE4\xB8"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(sanitiseUtf8("\xE4\xB8\xAD"), "\xE4\xB8\xAD");
}
