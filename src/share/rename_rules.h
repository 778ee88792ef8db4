#pragma once

// The two small decisions taken for every shared entry: which extraction code
// protects its link, and which name it gets once the link exists.

#include "netdisk/list_entry.h"
#include "settings/share_options.h"

#include <string>
#include <string_view>

namespace vantorel {

// An integer from lo to hi inclusive, drawn from the processor's time-stamp
// counter where there is one (else from a counter that moves between draws).
// Nothing is kept between draws.
unsigned randomInRange(unsigned lo, unsigned hi);
std::string randomLowercase(int n);
std::string randomDigits(int n);

// The fixed code when one is set, otherwise two lowercase letters followed by
// two digits, new on every call.
std::string makeExtractionCode(std::string_view password);

// The extension of a path, its dot included, or empty. A dot is forgotten
// again at a backslash or a blank; the forward slash of service paths is not
// a separator, so "/album.2021/clip" has the extension ".2021/clip".
std::string pathExtension(std::string_view path);

// The entry's new name under the rule; empty for mode 0 (and any unknown mode).
std::string newNameFor(const ListEntry& entry, const ShareOptions& options);

// The path as recorded after a rename: every occurrence of the old name in the
// path replaced by the new one.
std::string renamedPath(std::string_view path, std::string_view oldName, std::string_view newName);

} // namespace vantorel
