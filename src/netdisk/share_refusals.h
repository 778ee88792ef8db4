#pragma once

// What the service means when it will not share: the item alone, or the
// whole run (the account or the session). One table decides, errno by errno;
// the README reproduces it.

#include <string>
#include <string_view>

namespace vantorel {

enum class RefusalScope {
    Item, // this item will not be shared: a failure row, the run goes on
    Run,  // the account or the session refuses: the run stops, the item stays pending
};

struct Refusal {
    RefusalScope scope = RefusalScope::Item;
    std::string_view reason; // what the service said, in the user's words
    std::string_view advice; // what to do about it; empty for an item
};

// The class of a share errno (any value but 0). errno 2 refuses the item,
// except once the same run has made a share: then it is the service's
// throttle, and the run stops.
Refusal classifyShareRefusal(int errnoValue, bool runHasShared);

// The message that ends a run refused by the service: the reason, the errno
// and what to do.
std::string runRefusedMessage(const Refusal& refusal, int errnoValue);

} // namespace vantorel
