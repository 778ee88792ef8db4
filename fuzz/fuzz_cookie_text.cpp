// The cookie rules over arbitrary response headers and cookie texts.

#include "base/cookie_text.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string sent = input.ConsumeRandomLengthString(256);
    const std::string headers = input.ConsumeRemainingBytesAsString();

    const std::string received = vantorel::collectSetCookies(headers);
    const std::string merged = vantorel::mergeCookieText(sent, received);
    // A deleted cookie never survives a merge.
    std::size_t start = 0;
    while (start <= merged.size()) {
        std::size_t end = merged.find("; ", start);
        if (end == std::string::npos)
            end = merged.size();
        const std::string_view item(merged.data() + start, end - start);
        if (item.size() >= 8 && item.substr(item.size() - 8) == "=deleted")
            std::abort();
        start = end + 2;
    }
    (void)vantorel::mergeCookieText(merged, received);
    (void)vantorel::removeDuplicateItems(headers, "; ");
    (void)vantorel::cookieName(sent);
    return 0;
}
