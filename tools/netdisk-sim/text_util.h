#pragma once

// Small text helpers of the simulated service. The simulator deliberately
// does not link the client's core, so that it checks the client instead of
// sharing its mistakes; these few functions are its own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace netdisk_sim {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// "%XX" becomes the byte; with plusAsBlank a "+" becomes a blank. A "%" not
// followed by two hex digits stays as it is, the way lenient servers read it.
std::string percentDecode(std::string_view text, bool plusAsBlank);

// Every byte outside A-Z a-z 0-9 - _ . ~ as "%XX" (upper-case hex).
std::string percentEncode(std::string_view text);

// key=value pairs joined by "&", both sides percent-decoded with "+" as a
// blank; order and repeats are kept.
Pairs parseForm(std::string_view text);

// The first value of a key, or nothing.
std::optional<std::string> findValue(const Pairs& pairs, std::string_view key);

// name=value items of one or more Cookie headers (separated by ";").
Pairs parseCookieHeader(std::string_view text);

std::string_view trimSpace(std::string_view text);
bool isValidUtf8(std::string_view text);
std::string htmlEscape(std::string_view text);
std::string base64(std::string_view bytes);

// Decimal digits only (at least one), as an unsigned 64-bit value.
std::optional<std::uint64_t> parseUint64(std::string_view text);
std::optional<std::int64_t> parseInt64(std::string_view text);

} // namespace netdisk_sim
