// A listing reply as the service (or anything posing as it) may send it.

#include "netdisk/netdisk_client.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto page = vantorel::decodeListingReply(body);
    if (page) {
        const vantorel::Listing& listing = page->entries;
        if (listing.folders.size() + listing.files.size() > page->members)
            std::abort();
        for (const auto& folder : listing.folders)
            if (!folder.md5.empty() || !folder.size.empty() || !folder.thumbs_url3.empty())
                std::abort();
        for (const auto& file : listing.files)
            if (file.size.empty())
                std::abort();
    } else if (page.error().message.empty()) {
        std::abort(); // a refusal always says why
    }
    (void)vantorel::readHomePageTokens(body);
    return 0;
}
