#pragma once

// The intent journal: what a share run is about to do to one item, written
// to the ledger before it asks the service, so that a run that ends without
// its answer (killed, timed out, the ledger failing) leaves a trace for the
// next run to check instead of sharing the item again.

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

enum class IntentStage {
    Sharing,  // the share request is about to go out, or went out unanswered
    Renaming, // the share was made (link known); the rename request is next
};

inline constexpr std::string_view kIntentSharing = "sharing";
inline constexpr std::string_view kIntentRenaming = "renaming";

struct ShareIntent {
    // The row the item gets on success, as far as it is known before the
    // request: the pass decides which of these are empty.
    std::string fid;
    std::string isdir;
    std::string path; // as listed or selected
    std::string name; // server_filename
    std::string md5;
    std::string size;
    std::string pic;
    std::string username;

    std::string code;   // the extraction code sent
    std::string period; // the validity sent
    // When the intent was written, Unix seconds of this computer's clock.
    std::int64_t time = 0;
    IntentStage stage = IntentStage::Sharing;
    // Renaming: the name asked for, and the share the service made.
    std::string newName;
    std::string link;
    std::string shareTime;

    bool operator==(const ShareIntent&) const = default;
};

} // namespace vantorel
