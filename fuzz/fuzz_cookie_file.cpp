// The login file of the command line: a cookie text, a Netscape or a JSON
// export.

#include "netdisk/cookie_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    for (const char* host : {"pan.baidu.com", "127.0.0.1", ""}) {
        const auto text = vantorel::cookieTextFromFile(content, host, 1622100000);
        // The message of a refused file is one of the fixed texts: it never
        // repeats what the file holds.
        if (!text) {
            const std::string& message = text.error().message;
            if (message != "the cookie file is empty" &&
                message != "the cookie file holds no name=value item" &&
                message != std::string("the cookie file holds no unexpired cookie for ") + host &&
                message != "the cookie file is in no known format (a cookie text name=value; "
                           "name=value, a Netscape cookies.txt export or a JSON cookie export)" &&
                message != "the cookie file is a JSON array without cookies (objects with domain, "
                           "name and value)")
                std::abort();
        }
        (void)vantorel::cookieDomainMatches(content.substr(0, 32), host);
    }
    return 0;
}
