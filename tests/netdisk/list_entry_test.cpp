#include "netdisk/list_entry.h"

#include <gtest/gtest.h>

using namespace vantorel;

TEST(FormatSizeText, UnitBoundariesAndRounding) {
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0.0K"},
        {512, "0.5K"},
        {1023, "1.0K"},
        {1048575, "1024.0K"},
        {1048576, "1.0M"},
        {1073741823, "1024.0M"},
        {1073741824, "1.0G"},
        {1610612736, "1.5G"},
        {51, "0.0K"},             // 0.0498 rounds down
        {52, "0.1K"},             // 0.0508 rounds up
        {1126, "1.1K"},           // 1.0996 -> 1.1
        {5 * 1024 + 512, "5.5K"}, // an exact half rounds away from zero
        {1099511627776LL, "1024.0G"},
        {-512, "-0.5K"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatSizeText(c.bytes), c.text);
    }
}
