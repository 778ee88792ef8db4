#pragma once

// Conversions between program text (UTF-8) and what crosses the wire: reply
// bodies, percent-encoded addresses and form values. Each function returns a
// new value and reads its input only up to the first NUL byte, as the C
// strings these texts come from would.

#include <string>
#include <string_view>

namespace vantorel {

// Reply bytes that claim to be UTF-8 become program text. Invalid sequences
// become U+FFFD so that broken replies never leak raw bytes into the program.
std::string utf8ToLocal(std::string_view bytes);

// Program text as UTF-8 bytes for the wire; invalid sequences become U+FFFD.
std::string localToUtf8(std::string_view text);

// Decodes %XX escapes (either case of hexadecimal digit). A "+" stays a "+",
// and a "%" not followed by two hexadecimal digits is copied through as it
// is. With utf8 the decoded bytes are read as UTF-8 and sanitised; without it
// they are returned as they are. The result ends at the first decoded NUL.
std::string percentDecode(std::string_view text, bool utf8);

// Form encoding of names and paths: letters, digits, "-" and "." stay, and
// with keepQuotes also "'()*"; a blank becomes "+"; every other byte becomes
// "%XX" with upper-case digits. With utf8 the UTF-8 bytes of the text are
// encoded, otherwise its GBK bytes (so 中 gives %E4%B8%AD or %D6%D0).
std::string formEncode(std::string_view text, bool keepQuotes, bool utf8);

// Encodes a folder path for the browser address: the UTF-8 bytes as they are,
// with letters, digits and -_.!~*'() kept and everything else, "/" included,
// written as "%XX" with upper-case digits.
std::string percentEncodePath(std::string_view path);

} // namespace vantorel
