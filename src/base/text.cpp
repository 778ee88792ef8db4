#include "base/text.h"

#include <cstdio>
#include <limits>

namespace vantorel {

std::string foldFullWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        // U+3000 is E3 80 80; U+FF01..U+FF5E are EF BC 81..EF BD 9E.
        if (b0 == 0xE3 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            static_cast<unsigned char>(text[i + 2]) == 0x80) {
            out.push_back(' ');
            i += 3;
            continue;
        }
        if (b0 == 0xEF && i + 2 < text.size()) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            const unsigned cp = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
            if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80 && cp >= 0xFF01 && cp <= 0xFF5E) {
                out.push_back(static_cast<char>(cp - 0xFF01 + 0x21));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
        ++i;
    }
    return out;
}

namespace {

template <class Int> Int leadingInteger(std::string_view raw) {
    const std::string text = foldFullWidth(raw);
    std::size_t i = 0;
    // C's isspace set: blank, \t, \n, \v, \f, \r.
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that the minimum value fits.
    constexpr Int lowest = std::numeric_limits<Int>::min();
    Int value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const Int digit = static_cast<Int>(text[i] - '0');
        if (saturated || value < (lowest + digit) / 10) {
            saturated = true;
            continue;
        }
        value = static_cast<Int>(value * 10 - digit);
    }
    if (saturated)
        return negative ? lowest : std::numeric_limits<Int>::max();
    if (negative)
        return value;
    return value == lowest ? std::numeric_limits<Int>::max() : static_cast<Int>(-value);
}

} // namespace

int textToInt(std::string_view text) {
    return leadingInteger<int>(text);
}
std::int64_t textToInt64(std::string_view text) {
    return leadingInteger<std::int64_t>(text);
}

std::vector<std::string> splitText(std::string_view text, std::string_view sep) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    if (sep.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t hit = text.find(sep, start);
        if (hit == std::string_view::npos) {
            if (start < text.size())
                pieces.emplace_back(text.substr(start));
            break;
        }
        pieces.emplace_back(text.substr(start, hit - start));
        start = hit + sep.size();
    }
    return pieces;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty() || text.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t hit; (hit = text.find(from, start)) != std::string_view::npos;) {
        out.append(text.substr(start, hit - start));
        out.append(to);
        start = hit + from.size();
    }
    out.append(text.substr(start));
    return out;
}

std::string_view trimBlanks(std::string_view text) {
    constexpr std::string_view ideographicSpace = "\xE3\x80\x80";
    while (true) {
        if (startsWith(text, " "))
            text.remove_prefix(1);
        else if (startsWith(text, ideographicSpace))
            text.remove_prefix(ideographicSpace.size());
        else
            break;
    }
    while (true) {
        if (endsWith(text, " "))
            text.remove_suffix(1);
        else if (endsWith(text, ideographicSpace))
            text.remove_suffix(ideographicSpace.size());
        else
            break;
    }
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

std::size_t findIgnoreCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty())
        return from <= text.size() ? from : std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i)
        if (equalsIgnoreCase(text.substr(i, needle.size()), needle))
            return i;
    return std::string_view::npos;
}

std::string formatG13(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.13g", value);
    return buffer;
}

void appendJsonStringContent(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    // Plain stretches are copied whole: most texts need no escape at all.
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.substr(run, i - run));
        run = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out.append(text.substr(run));
}

std::string jsonStringContent(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    appendJsonStringContent(out, text);
    return out;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF)
        cp = 0xFFFD; // a lone surrogate has no UTF-8 form
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string joinText(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            out.append(separator);
        out.append(pieces[i]);
    }
    return out;
}

} // namespace vantorel
