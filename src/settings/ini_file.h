#pragma once

// A profile (INI) file held as its lines. Setting a key rewrites only that
// key's line, so comments, unknown keys, other sections, odd lines and the
// line endings a user or an older version left in the file survive a save.
//
// Reading follows the profile conventions set.ini has always been read with:
// section names and keys match without regard to ASCII case, blanks and tabs
// around keys and values are dropped, a value wrapped in a pair of double or
// single quotes loses them, the first of several equal sections or keys wins,
// and lines starting with ';' or '#' are comments.

#include "base/expected.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

class IniDocument {
public:
    IniDocument() = default;

    // The bytes of a file: an optional UTF-8 byte-order mark, then UTF-8 text,
    // or GBK text when the bytes are not valid UTF-8. The document holds UTF-8.
    static IniDocument fromBytes(std::string_view bytes);

    // A missing file reads as an empty document; a file that exists but cannot
    // be read is an error, so that a later save does not overwrite it blindly.
    static Expected<IniDocument> load(const std::filesystem::path& file);

    // The value of the first matching key in the first matching section.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Rewrites the line of that key in place, or adds the key after the last
    // line of the section, or adds the section at the end. A value that would
    // lose blanks or quotes on reading is written inside double quotes. Values
    // cannot hold line breaks; keys must be non-empty single-line names
    // without '=' and without blanks at either end; all three must be UTF-8.
    Status set(std::string_view section, std::string_view key, std::string_view value);

    // UTF-8 text with the byte-order mark and line endings the file had; lines
    // added to a new document end in "\n".
    std::string toBytes() const;

    // Replaces the file through a temporary file in the same directory, so a
    // failed write never leaves a truncated file behind.
    Status save(const std::filesystem::path& file) const;

private:
    struct Line {
        std::string text; // as read, without "\n"; a "\r" of CR LF stays here
        bool isSection = false;
        bool isEntry = false;
        std::string name;  // section name or key, trimmed
        std::string value; // entries only, trimmed and unquoted
    };

    static Line parseLine(std::string text);
    // Index range [first, end) of the lines of the first matching section;
    // first is the header line.
    std::optional<std::pair<std::size_t, std::size_t>> findSection(std::string_view name) const;

    std::vector<Line> lines_;
    bool crlf_ = false; // lines added get CR LF when the file used it
    bool byteOrderMark_ = false;
};

} // namespace vantorel
