#pragma once

// Conditions for listing or exporting part of the ledger (records window,
// `records list/export`). Every condition is optional and they all apply
// together; a default RecordFilter matches every row.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vantorel {

enum class ItemKind { Any, File, Folder };
enum class LinkState { Any, Shared, Failed };

struct RecordFilter {
    std::optional<std::int64_t> id;

    // Substring searches, ASCII letters without regard to case (what a search
    // box promises); other characters match exactly. Empty means no condition.
    std::string nameContains;       // in beforename or aftername
    std::string beforeNameContains; // in beforename only
    std::string afterNameContains;  // in aftername only

    ItemKind kind = ItemKind::Any; // by isdir: 0 file, 1 folder
    std::string username;          // exact match; empty means any user
    LinkState link = LinkState::Any;

    // Inclusive range of share dates as "yyyy-MM-dd"; either end may be left
    // empty. Failure rows carry no share time, so any date condition leaves
    // them out. A malformed date is an error, not an empty result.
    std::string sharedFrom;
    std::string sharedTo;

    // Paging for large ledgers: rows with an id above afterId, at most limit
    // of them (0 means no limit). Continue from the last id received.
    std::int64_t afterId = 0;
    std::size_t limit = 0;
};

} // namespace vantorel
