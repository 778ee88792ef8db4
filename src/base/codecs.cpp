#include "base/codecs.h"

#include "base/gbk.h"
#include "base/text.h"

namespace vantorel {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string_view untilNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool isAsciiAlnum(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// Writes "%XX" at `out` and returns the position after it.
char* writeEscape(char* out, unsigned char b) {
    out[0] = '%';
    out[1] = kHexDigits[b >> 4];
    out[2] = kHexDigits[b & 0x0F];
    return out + 3;
}

// Encodes every byte of `bytes` that `keep` rejects into one buffer sized for
// the worst case, so the output never grows while encoding.
template <class Keep> std::string encodeBytes(std::string_view bytes, Keep keep, bool blankAsPlus) {
    std::string out(bytes.size() * 3, '\0');
    char* p = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0)
            continue;
        if (keep(b))
            *p++ = c;
        else if (b == ' ' && blankAsPlus)
            *p++ = '+';
        else
            p = writeEscape(p, b);
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

} // namespace

std::string utf8ToLocal(std::string_view bytes) {
    return sanitiseUtf8(untilNul(bytes));
}

std::string localToUtf8(std::string_view text) {
    return sanitiseUtf8(untilNul(text));
}

std::string percentDecode(std::string_view text, bool utf8) {
    text = untilNul(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            out.push_back(
                static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    // The result is text: an escaped NUL ends it rather than hiding the rest
    // from every C string it is later handed to.
    if (const auto nul = out.find('\0'); nul != std::string::npos)
        out.resize(nul);
    return utf8 ? sanitiseUtf8(out) : out;
}

std::string formEncode(std::string_view text, bool keepQuotes, bool utf8) {
    const std::string bytes = utf8 ? localToUtf8(text) : utf8ToGbk(untilNul(text));
    return encodeBytes(
        bytes,
        [keepQuotes](unsigned char b) {
            return isAsciiAlnum(b) || b == '-' || b == '.' ||
                   (keepQuotes && b >= 0x27 && b <= 0x2A);
        },
        true);
}

std::string percentEncodePath(std::string_view path) {
    return encodeBytes(
        untilNul(path),
        [](unsigned char b) {
            return isAsciiAlnum(b) || b == '-' || b == '_' || b == '.' || b == '!' || b == '~' ||
                   (b >= 0x27 && b <= 0x2A);
        },
        false);
}

} // namespace vantorel
