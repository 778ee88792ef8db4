// The text codecs over arbitrary bytes.

#include "base/codecs.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool formSafe(char c, bool keepQuotes) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    if (c == '-' || c == '.' || c == '%' || c == '+')
        return true;
    return keepQuotes && (c == '\'' || c == '(' || c == ')' || c == '*');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)vantorel::percentDecode(text, true);
    (void)vantorel::percentDecode(text, false);
    (void)vantorel::utf8ToLocal(text);
    (void)vantorel::localToUtf8(text);
    for (const bool keepQuotes : {false, true}) {
        for (const bool utf8 : {false, true}) {
            const std::string encoded = vantorel::formEncode(text, keepQuotes, utf8);
            for (char c : encoded)
                if (!formSafe(c, keepQuotes))
                    std::abort();
            (void)vantorel::percentDecode(encoded, utf8);
        }
    }
    // A path encoded for the address decodes back to its UTF-8 form.
    const std::string path = vantorel::utf8ToLocal(text.substr(0, text.find('\0')));
    if (vantorel::percentDecode(vantorel::percentEncodePath(path), false) != path)
        std::abort();
    return 0;
}
