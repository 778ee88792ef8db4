#pragma once

// GBK (code page 936) conversion, needed only where bytes of that code page
// matter: legacy set.ini files, the extraction code's byte length and form
// encoding in GBK mode. The converter is named explicitly, never taken from
// the machine's locale.

#include <string>
#include <string_view>

namespace vantorel {

// Bytes that are not valid GBK become U+FFFD.
std::string gbkToUtf8(std::string_view gbk);

// Characters GBK cannot hold become '?'; invalid UTF-8 bytes likewise.
std::string utf8ToGbk(std::string_view utf8);

bool isValidUtf8(std::string_view text);

// Invalid sequences become U+FFFD; valid text passes unchanged.
std::string sanitiseUtf8(std::string_view text);

} // namespace vantorel
