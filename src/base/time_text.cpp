#include "base/time_text.h"

#include "base/text.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

namespace vantorel {

std::int64_t unixSecondsNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

namespace {

constexpr std::int64_t kChinaOffsetSeconds = 8 * 3600;
// The largest magnitude a JavaScript Date holds: 100,000,000 days.
constexpr double kMaxDateMilliseconds = 8.64e15;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::string formatDateTime(long long year, unsigned month, unsigned day, int hour, int minute,
                           int second) {
    char buffer[64];
    // Years before 1 are astronomical (0, -1, ...), written with a sign.
    const int n = std::snprintf(buffer, sizeof buffer, "%s%04lld-%02u-%02u %02d:%02d:%02d",
                                year < 0 ? "-" : "", year < 0 ? -year : year, month, day, hour,
                                minute, second);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::size_t countCharacters(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
}

std::string secondsToChinaTime(std::int64_t seconds, bool twelveHour) {
    using namespace std::chrono;
    const std::int64_t local = seconds + kChinaOffsetSeconds;
    const std::int64_t dayNumber = floorDiv(local, 86400);
    const auto secondOfDay = static_cast<int>(local - dayNumber * 86400);
    const year_month_day date{sys_days{days{dayNumber}}};
    int hour = secondOfDay / 3600;
    if (twelveHour)
        hour = hour % 12 == 0 ? 12 : hour % 12;
    return formatDateTime(static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                          static_cast<unsigned>(date.day()), hour, secondOfDay / 60 % 60,
                          secondOfDay % 60);
}

// ECMAScript's StrWhiteSpaceChar: the ASCII blanks, line terminators,
// NBSP, BOM and the Unicode space separators, all as UTF-8.
std::size_t whiteSpaceLength(std::string_view s) {
    if (s.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 == ' ' || (b0 >= '\t' && b0 <= '\r'))
        return 1;
    if (b0 == 0xC2 && s.size() >= 2 && static_cast<unsigned char>(s[1]) == 0xA0)
        return 2;
    if (s.size() < 3)
        return 0;
    const auto b1 = static_cast<unsigned char>(s[1]);
    const auto b2 = static_cast<unsigned char>(s[2]);
    const unsigned cp = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
    if ((b0 & 0xF0) != 0xE0 || (b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80)
        return 0;
    const bool space = cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 ||
                       cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000 || cp == 0xFEFF;
    return space ? 3 : 0;
}

std::string_view trimJsWhiteSpace(std::string_view s) {
    while (const std::size_t n = whiteSpaceLength(s))
        s.remove_prefix(n);
    // Trailing: step back over at most three bytes to find a blank's start.
    for (bool trimmed = true; trimmed && !s.empty();) {
        trimmed = false;
        for (std::size_t len = 1; len <= 3 && len <= s.size(); ++len) {
            if (whiteSpaceLength(s.substr(s.size() - len)) == len) {
                s.remove_suffix(len);
                trimmed = true;
                break;
            }
        }
    }
    return s;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'z' ? lower - 'a' + 10 : 99;
}

std::size_t countDigits(std::string_view s, std::size_t from) {
    std::size_t i = from;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    return i - from;
}

// Reads an unsigned decimal literal: digits with an optional fraction (a
// digit on at least one side of the point) and an optional exponent.
std::optional<double> decimalLiteral(std::string_view text) {
    const std::size_t intDigits = countDigits(text, 0);
    std::size_t i = intDigits;
    std::size_t fracDigits = 0;
    if (i < text.size() && text[i] == '.') {
        fracDigits = countDigits(text, i + 1);
        i += 1 + fracDigits;
    }
    if (intDigits + fracDigits == 0)
        return std::nullopt;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        const bool negativeExponent = i < text.size() && text[i] == '-';
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        const std::size_t expDigits = countDigits(text, i);
        if (expDigits == 0)
            return std::nullopt;
        for (std::size_t k = i; k < i + expDigits && exponent < 1'000'000'000; ++k)
            exponent = exponent * 10 + (text[k] - '0');
        if (negativeExponent)
            exponent = -exponent;
        i += expDigits;
    }
    if (i != text.size())
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size())
        return value;
    if (ec != std::errc::result_out_of_range)
        return std::nullopt;
    // Out of range: an overflow reads as Infinity, an underflow as zero. The
    // place of the leading non-zero digit tells them apart.
    const std::string_view whole = text.substr(0, intDigits);
    const std::size_t firstWhole = whole.find_first_not_of('0');
    long long lead;
    if (firstWhole != std::string_view::npos) {
        lead = static_cast<long long>(whole.size() - firstWhole) - 1 + exponent;
    } else {
        const std::string_view fraction = text.substr(intDigits + 1, fracDigits);
        lead = -static_cast<long long>(fraction.find_first_not_of('0')) - 1 + exponent;
    }
    return lead > 0 ? HUGE_VAL : 0.0;
}

// ToNumber applied to a string, as Date.prototype.setTime applies it. A text
// that is empty after trimming counts as no number here: the share time it
// stands for is unknown, not the epoch.
std::optional<double> javaScriptNumber(std::string_view text) {
    text = trimJsWhiteSpace(text);
    if (text.empty())
        return std::nullopt;
    // 0x, 0o and 0b literals take no sign.
    if (text.size() > 2 && text[0] == '0') {
        const char kind = static_cast<char>(text[1] | 0x20);
        const int base = kind == 'x' ? 16 : kind == 'o' ? 8 : kind == 'b' ? 2 : 0;
        if (base != 0) {
            double value = 0;
            for (const char c : text.substr(2)) {
                const int digit = digitValue(c);
                if (digit >= base)
                    return std::nullopt;
                value = value * base + digit;
            }
            return value;
        }
    }
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::optional<double> value =
        text == "Infinity" ? std::optional<double>(HUGE_VAL) : decimalLiteral(text);
    if (value && negative)
        *value = -*value;
    return value;
}

std::string millisecondsToLocalTime(std::string_view timestamp) {
    const std::optional<double> number = javaScriptNumber(timestamp);
    // TimeClip: NaN, infinities and magnitudes past the Date range are no date.
    if (!number || !std::isfinite(*number) || std::fabs(*number) > kMaxDateMilliseconds)
        return {};
    const auto milliseconds = static_cast<std::int64_t>(std::trunc(*number));
    const auto seconds = static_cast<std::time_t>(floorDiv(milliseconds, 1000));
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &seconds) != 0)
        return {};
#else
    if (localtime_r(&seconds, &local) == nullptr)
        return {};
#endif
    return formatDateTime(
        static_cast<long long>(local.tm_year) + 1900, static_cast<unsigned>(local.tm_mon + 1),
        static_cast<unsigned>(local.tm_mday), local.tm_hour, local.tm_min, local.tm_sec);
}

} // namespace

namespace detail {

bool timePictureIs12Hour(std::string_view picture) {
    for (std::size_t i = 0; i < picture.size(); ++i) {
        if (picture[i] != '%')
            continue;
        ++i;
        // Flags, field width and the E/O modifiers come before the conversion.
        while (i < picture.size() &&
               (std::string_view("_-0^#").find(picture[i]) != std::string_view::npos ||
                (picture[i] >= '0' && picture[i] <= '9') || picture[i] == 'E' || picture[i] == 'O'))
            ++i;
        if (i < picture.size() && (picture[i] == 'I' || picture[i] == 'l' || picture[i] == 'r'))
            return true;
    }
    return false;
}

} // namespace detail

bool localeUses12HourClock() {
#ifdef _WIN32
    wchar_t value[4] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_ITIME, value, 4) == 0)
        return false;
    return value[0] == L'0';
#else
    // The user's setting comes from the environment (LC_ALL, LC_TIME, LANG),
    // independent of whatever locale the program itself has switched to.
    const locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0))
        return false;
    const char* picture = nl_langinfo_l(T_FMT, user);
    const bool twelve = picture != nullptr && detail::timePictureIs12Hour(picture);
    freelocale(user);
    return twelve;
#endif
}

std::string unixTimeToText(std::string_view timestamp, ClockMode clockMode) {
    timestamp = timestamp.substr(0, timestamp.find('\0'));
    if (countCharacters(timestamp) != 10)
        return millisecondsToLocalTime(timestamp);
    const bool twelveHour = clockMode == ClockMode::TwelveHour ||
                            (clockMode == ClockMode::Locale && localeUses12HourClock());
    return secondsToChinaTime(textToInt64(timestamp), twelveHour);
}

} // namespace vantorel
