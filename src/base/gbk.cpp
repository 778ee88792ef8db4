#include "base/gbk.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace vantorel {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of `in`; a sequence the converter rejects is replaced by
    // `replacement` and the input resumes `skip(in)` bytes further on.
    template <class Skip>
    std::string run(std::string_view in, std::string_view replacement, Skip skip) {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            return out;
        out.reserve(in.size() * 3 / 2 + 8);
        char buffer[4096];
        auto* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (truncated sequence at the end): replace and go on.
            out.append(replacement);
            const std::size_t n = std::min(srcLeft, skip(std::string_view(src, srcLeft)));
            src += n;
            srcLeft -= n;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

std::size_t utf8SequenceLength(std::string_view s) {
    const auto b = static_cast<unsigned char>(s[0]);
    std::size_t n = b < 0x80           ? 1
                    : (b >> 5) == 0x6  ? 2
                    : (b >> 4) == 0xE  ? 3
                    : (b >> 3) == 0x1E ? 4
                                       : 0;
    if (n == 0 || n > s.size())
        return 1;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 1;
    return n;
}

} // namespace

std::string gbkToUtf8(std::string_view gbk) {
    Converter conv("UTF-8", "CP936");
    return conv.run(gbk, "\xEF\xBF\xBD", [](std::string_view) { return std::size_t{1}; });
}

std::string utf8ToGbk(std::string_view utf8) {
    Converter conv("CP936", "UTF-8");
    return conv.run(utf8, "?", utf8SequenceLength);
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t n;
        unsigned cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            n = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            n = 3;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n > text.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

std::string sanitiseUtf8(std::string_view text) {
    if (isValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t i = 0;
    while (i < text.size()) {
        // Find the longest valid prefix of at most 4 bytes starting here.
        std::size_t n = 0;
        for (std::size_t len = 1; len <= 4 && i + len <= text.size(); ++len) {
            if (isValidUtf8(text.substr(i, len))) {
                n = len;
                break;
            }
        }
        if (n == 0) {
            out.append("\xEF\xBF\xBD");
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

} // namespace vantorel
