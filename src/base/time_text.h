#pragma once

// Date-time text for the share time the service reports as a Unix timestamp.

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

// This computer's clock, in whole seconds since the epoch.
std::int64_t unixSecondsNow();

// Which clock unixTimeToText shows the hour on; a value not named here
// follows the locale.
enum class ClockMode : int {
    Locale = 0, // as the user's locale does
    TwelveHour = 1,
    TwentyFourHour = 2,
};

// A timestamp of ten characters is seconds since the epoch, shown in China
// Standard Time (UTC+8) whatever the machine's zone, as "yyyy-MM-dd HH:mm:ss"
// or, on the 12-hour clock, "yyyy-MM-dd hh:mm:ss" (hours 01..12, no AM/PM).
// A text that is not a number counts as 0, a leading number as that number.
//
// Any other timestamp is milliseconds, read the way a JavaScript Date reads a
// numeric string, and shown in the machine's local zone as
// "yyyy-MM-dd HH:mm:ss" on the 24-hour clock. A text that is no number, an
// empty text and a moment outside the Date range give an empty text.
std::string unixTimeToText(std::string_view timestamp, ClockMode clockMode);

// Whether the user's locale shows times on the 12-hour clock; false where the
// locale does not say.
bool localeUses12HourClock();

namespace detail {
// Whether a strftime time picture (a locale's T_FMT) uses a 12-hour hour.
bool timePictureIs12Hour(std::string_view picture);
} // namespace detail

} // namespace vantorel
