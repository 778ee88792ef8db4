#pragma once

// The two small decisions taken for every shared entry: which extraction code
// protects its link, and which name it gets once the link exists.

#include "netdisk/list_entry.h"
#include "settings/share_options.h"

#include <string>
#include <string_view>

namespace vantorel {

// An integer from lo to hi inclusive, drawn from the operating system's
// random source without bias. A code is all that stands between a share
// link and a stranger, so it must not be guessable from the time it was
// made.
unsigned randomInRange(unsigned lo, unsigned hi);
std::string randomLowercase(int n);
std::string randomDigits(int n);

// The fixed code when one is set, otherwise two lowercase letters followed by
// two digits, new on every call.
std::string makeExtractionCode(std::string_view password);

// The extension of a name, its dot included, or empty. A dot is forgotten
// again at a backslash or a blank ("report.2 final" has none). Only the last
// component of a path counts: a folder's dot is not its files' extension
// ("/album.2021/clip" has none).
std::string pathExtension(std::string_view path);

// The entry's new name under the rule; empty for mode 0 (and any unknown mode).
std::string newNameFor(const ListEntry& entry, const ShareOptions& options);

// The path as recorded after a rename: the last component replaced by the
// new name ("/x/x" renamed to "px" is "/x/px").
std::string renamedPath(std::string_view path, std::string_view newName);

} // namespace vantorel
