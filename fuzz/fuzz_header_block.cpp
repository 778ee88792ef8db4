// normaliseHeaderBlock over arbitrary header blocks.

#include "base/http_request.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string block(reinterpret_cast<const char*>(data), size);
    const std::string once = vantorel::normaliseHeaderBlock(block);
    // Normalising is idempotent.
    if (vantorel::normaliseHeaderBlock(once) != once)
        std::abort();
    return 0;
}
