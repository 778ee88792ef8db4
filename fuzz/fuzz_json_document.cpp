// JsonDocument over arbitrary text: parse, then read paths made from the
// same input, and write the document back out.

#include "base/json_document.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using vantorel::JsonDocument;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string path = input.ConsumeRandomLengthString(64);
    const std::string text = input.ConsumeRemainingBytesAsString();

    JsonDocument doc;
    const bool parsed = doc.parse(text);
    // The reads a share run makes, and a few odd ones.
    for (const std::string& p : {path, std::string("list"), std::string("list[0].isdir"),
                                 std::string("[0].fs_id"), std::string("errno"), std::string("da"),
                                 std::string("list[0].thumbs.url3"), std::string()}) {
        (void)doc.getText(p);
        (void)doc.getText(p, true);
        (void)doc.count(p);
        (void)doc.typeOf(p);
        (void)doc.exists(p);
        (void)doc.getNumber(p);
        (void)doc.memberNames(p);
    }
    (void)doc.allValues("", true);

    // Writing out what was read gives a text that reads back to itself.
    const std::string written = doc.toJsonText();
    if (parsed) {
        JsonDocument again;
        again.parse(written);
        if (again.toJsonText() != written)
            std::abort();
    }

    // Writes through the fuzzed path must leave the document usable.
    doc.setValue(path, text.substr(0, 16));
    doc.setValue(path, text.substr(0, 32), true);
    doc.arrayAdd("x", path);
    doc.remove(path);
    (void)doc.toJsonText();
    return 0;
}
