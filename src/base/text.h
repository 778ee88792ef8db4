#pragma once

// Text helpers shared by every layer. All program text is UTF-8.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

// Full-width forms (U+FF01..U+FF5E) become their ASCII counterparts and the
// ideographic space U+3000 a blank, so that "１０" typed with a Chinese input
// method reads as 10.
std::string foldFullWidth(std::string_view text);

// The leading decimal integer of a text after full-width folding, read the
// way C's atoi reads it (leading blanks, optional sign, digits up to the first
// non-digit; none gives 0). Values beyond the type's range saturate.
int textToInt(std::string_view text);
std::int64_t textToInt64(std::string_view text);

// Splits at every occurrence of sep. Empty pieces between two separators are
// kept, an empty text gives no pieces and an empty last piece is dropped.
std::vector<std::string> splitText(std::string_view text, std::string_view sep);

// The pieces joined by `separator`, none after the last.
std::string joinText(const std::vector<std::string>& pieces, std::string_view separator);

// Replaces every occurrence of `from`, scanning left to right and resuming
// after each match. An empty `from` or an empty text leaves the text as it is.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// Removes leading and trailing blanks: the space and the ideographic space
// U+3000. Tabs are not blanks.
std::string_view trimBlanks(std::string_view text);

bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);

// ASCII-only case folding, for header names and INI keys.
char asciiLower(char c);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::size_t findIgnoreCase(std::string_view text, std::string_view needle, std::size_t from = 0);

// The value of a hexadecimal digit of either case, or -1.
int hexDigitValue(char c);

// Appends a code point as UTF-8; a lone surrogate becomes U+FFFD.
void appendUtf8(std::string& out, std::uint32_t codePoint);

// The inside of a JSON string literal for `text` (quotes, backslashes and
// control characters escaped; everything else as it is).
std::string jsonStringContent(std::string_view text);
void appendJsonStringContent(std::string& out, std::string_view text);

// Integers as "%d" writes them, doubles as "%.13g" writes them.
std::string formatG13(double value);

} // namespace vantorel
