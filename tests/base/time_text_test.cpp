#include "base/time_text.h"
#include "named_case.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace vantorel;
using namespace std::string_literals;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

// Sets an environment variable for the life of the object and puts the old
// value back afterwards, so no test leaks its zone or locale into another.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
        ::tzset();
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
        ::tzset();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// POSIX zone rules need no zone database on the machine.
constexpr const char* kUtc = "UTC0";
constexpr const char* kChina = "CST-8";
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

struct SecondsCase {
    const char* name;
    std::string timestamp;
    std::string clock24;
    std::string clock12;
};

struct MillisecondsCase {
    const char* name;
    std::string timestamp;
    std::string utc;
    std::string china;
};

struct PictureCase {
    const char* name;
    const char* picture;
    bool twelveHour;
};

} // namespace

class TenCharacterTimestamp : public ::testing::TestWithParam<SecondsCase> {};

TEST_P(TenCharacterTimestamp, IsChinaTimeWhateverTheMachineZone) {
    const SecondsCase& c = GetParam();
    for (const char* zone : {kUtc, kChina, kNewYork}) {
        ScopedEnv tz("TZ", zone);
        EXPECT_EQ(unixTimeToText(c.timestamp, ClockMode::TwentyFourHour), c.clock24) << zone;
        EXPECT_EQ(unixTimeToText(c.timestamp, ClockMode::TwelveHour), c.clock12) << zone;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TenCharacterTimestamp,
    ::testing::Values(
        SecondsCase{"Afternoon", "1622099878", "2021-05-27 15:17:58", "2021-05-27 03:17:58"},
        SecondsCase{"Zero", "0000000000", "1970-01-01 08:00:00", "1970-01-01 08:00:00"},
        SecondsCase{"NotANumberCountsZero", "abcdefghij", "1970-01-01 08:00:00",
                    "1970-01-01 08:00:00"},
        SecondsCase{"LeadingNumberCounts", "16220abcde", "1970-01-01 12:30:20",
                    "1970-01-01 12:30:20"},
        SecondsCase{"MidnightIsTwelve", "0000057600", "1970-01-02 00:00:00", "1970-01-02 12:00:00"},
        SecondsCase{"Noon", "0000014400", "1970-01-01 12:00:00", "1970-01-01 12:00:00"},
        SecondsCase{"OnePm", "0000018000", "1970-01-01 13:00:00", "1970-01-01 01:00:00"},
        SecondsCase{"LargestTenDigits", "9999999999", "2286-11-21 01:46:39", "2286-11-21 01:46:39"},
        SecondsCase{"NegativeBeforeEpoch", "-999999999", "1938-04-25 06:13:21",
                    "1938-04-25 06:13:21"},
        // Ten characters, not ten bytes: full-width digits read as digits.
        SecondsCase{"FullWidthDigits",
                    "\xEF\xBC\x91\xEF\xBC\x96\xEF\xBC\x92\xEF\xBC\x92\xEF\xBC\x90"
                    "\xEF\xBC\x99\xEF\xBC\x99\xEF\xBC\x98\xEF\xBC\x97\xEF\xBC\x98",
                    "2021-05-27 15:17:58", "2021-05-27 03:17:58"},
        SecondsCase{"TextEndsAtNul", "1622099878\0junk"s, "2021-05-27 15:17:58",
                    "2021-05-27 03:17:58"}),
    CaseName{});

class MillisecondTimestamp : public ::testing::TestWithParam<MillisecondsCase> {};

TEST_P(MillisecondTimestamp, IsMachineLocalTimeOnTheTwentyFourHourClock) {
    const MillisecondsCase& c = GetParam();
    for (const ClockMode clock :
         {ClockMode::TwelveHour, ClockMode::TwentyFourHour, ClockMode::Locale}) {
        {
            ScopedEnv tz("TZ", kUtc);
            EXPECT_EQ(unixTimeToText(c.timestamp, clock), c.utc)
                << "UTC, clock " << static_cast<int>(clock);
        }
        {
            ScopedEnv tz("TZ", kChina);
            EXPECT_EQ(unixTimeToText(c.timestamp, clock), c.china)
                << "UTC+8, clock " << static_cast<int>(clock);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MillisecondTimestamp,
    ::testing::Values(
        MillisecondsCase{"ShareTime", "1622099878000", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"MillisecondsTruncate", "1622099878999", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"FractionTruncates", "1622099878000.9", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"ElevenDigits", "16220998780", "1970-07-07 17:49:58",
                         "1970-07-08 01:49:58"},
        MillisecondsCase{"ShortCount", "99", "1970-01-01 00:00:00", "1970-01-01 08:00:00"},
        MillisecondsCase{"JustBeforeEpoch", "-1", "1969-12-31 23:59:59", "1970-01-01 07:59:59"},
        MillisecondsCase{"NegativeZero", "-0", "1970-01-01 00:00:00", "1970-01-01 08:00:00"},
        MillisecondsCase{"SurroundingBlanks", " \t1622099878000\n", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"ExplicitPlus", "+1622099878000", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"Exponent", "1.622099878E12", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"Hexadecimal", "0x179acafe070", "2021-05-27 07:17:58",
                         "2021-05-27 15:17:58"},
        MillisecondsCase{"Binary", "0b101", "1970-01-01 00:00:00", "1970-01-01 08:00:00"},
        MillisecondsCase{"UnderflowIsZero", "1e-400", "1970-01-01 00:00:00", "1970-01-01 08:00:00"},
        MillisecondsCase{"LatestDate", "8.64e15", "275760-09-13 00:00:00", "275760-09-13 08:00:00"},
        MillisecondsCase{"EarliestDate", "-8.64e15", "-271821-04-20 00:00:00",
                         "-271821-04-20 08:00:00"},
        MillisecondsCase{"BeyondLatestDate", "8640000000000001", "", ""},
        MillisecondsCase{"Overflow", "1e400", "", ""},
        MillisecondsCase{"Infinity", "Infinity", "", ""}, MillisecondsCase{"Empty", "", "", ""},
        MillisecondsCase{"OnlyBlanks", "   ", "", ""},
        MillisecondsCase{"NotANumber", "abc", "", ""},
        MillisecondsCase{"TrailingJunk", "1622099878000ms", "", ""},
        MillisecondsCase{"GroupedDigits", "1,622,099,878,000", "", ""},
        MillisecondsCase{"SignedHexadecimal", "-0x10", "", ""},
        MillisecondsCase{"BareHexPrefix", "0x", "", ""}, MillisecondsCase{"LonePoint", ".", "", ""},
        MillisecondsCase{"ExponentWithoutDigits", "1e", "", ""}),
    CaseName{});

TEST(MillisecondTimestampZone, FollowsDaylightSavingRules) {
    ScopedEnv tz("TZ", kNewYork);
    EXPECT_EQ(unixTimeToText("1622099878000", ClockMode::TwentyFourHour), "2021-05-27 03:17:58");
    EXPECT_EQ(unixTimeToText("1609459200000", ClockMode::TwentyFourHour), "2020-12-31 19:00:00");
}

TEST(LocaleClock, FallsBackToTwentyFourHoursWhereTheLocaleDoesNotSay) {
    ScopedEnv tz("TZ", kUtc);
    for (const char* locale : {"C", "POSIX", "xx_NOWHERE.UTF-8"}) {
        ScopedEnv lc("LC_ALL", locale);
        EXPECT_FALSE(localeUses12HourClock()) << locale;
        EXPECT_EQ(unixTimeToText("1622099878", ClockMode::Locale), "2021-05-27 15:17:58") << locale;
        EXPECT_EQ(unixTimeToText("1622099878", static_cast<ClockMode>(7)), "2021-05-27 15:17:58")
            << locale;
    }
}

class TimePicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(TimePicture, TellsTheTwelveHourClock) {
    EXPECT_EQ(detail::timePictureIs12Hour(GetParam().picture), GetParam().twelveHour);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimePicture,
                         ::testing::Values(PictureCase{"AmPmShorthand", "%r", true},
                                           PictureCase{"HourI", "%I:%M:%S %p", true},
                                           PictureCase{"HourL", "%l:%M %p", true},
                                           PictureCase{"PaddingFlag", "%-I:%M", true},
                                           PictureCase{"AlternativeDigits", "%OI:%M", true},
                                           PictureCase{"HourH", "%H:%M:%S", false},
                                           PictureCase{"TimeShorthand", "%T", false},
                                           PictureCase{"EscapedPercent", "%%I", false},
                                           PictureCase{"Empty", "", false}),
                         CaseName{});
