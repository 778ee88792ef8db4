#include "base/gbk.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
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
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    auto continuation = [](unsigned char c) {
        return (c & 0xC0) == 0x80;
    };
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            // Replies are mostly ASCII: step over runs of it a word at a time.
            ++i;
            for (; i + 32 <= size; i += 32) {
                std::uint64_t w[4];
                std::memcpy(w, p + i, sizeof w);
                if (((w[0] | w[1] | w[2] | w[3]) & kHighBits) != 0)
                    break;
            }
            for (; i + 8 <= size; i += 8) {
                std::uint64_t w;
                std::memcpy(&w, p + i, sizeof w);
                if ((w & kHighBits) != 0)
                    break;
            }
            continue;
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (b >= 0xC2 && b <= 0xDF) {
            if (i + 1 >= size || !continuation(p[i + 1]))
                return false;
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            if (i + 2 >= size || !continuation(p[i + 1]) || !continuation(p[i + 2]) ||
                (b == 0xE0 && p[i + 1] < 0xA0) || (b == 0xED && p[i + 1] >= 0xA0))
                return false;
            i += 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            if (i + 3 >= size || !continuation(p[i + 1]) || !continuation(p[i + 2]) ||
                !continuation(p[i + 3]) || (b == 0xF0 && p[i + 1] < 0x90) ||
                (b == 0xF4 && p[i + 1] >= 0x90))
                return false;
            i += 4;
        } else {
            return false;
        }
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
