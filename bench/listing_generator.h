#pragma once

// Synthetic directory-listing replies for benchmarks: the shape, field set
// and escaping of the service's /api/list reply, with deterministic content.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantorel::bench {

// A reply {"errno":0,...,"list":[...]} with `members` entries, one in ten a
// folder. File entries carry md5, size and a thumbs object with four long
// addresses; names mix Chinese characters, blanks and apostrophes; every
// slash is written as "\/" the way the service writes it. About 900 bytes
// per member. The same arguments always give the same text.
std::string makeListingReply(std::size_t members, std::uint64_t seed = 20200720);

} // namespace vantorel::bench
