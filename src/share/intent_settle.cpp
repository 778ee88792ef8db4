#include "share/intent_settle.h"

#include "base/codecs.h"
#include "base/time_text.h"
#include "base/wait.h"
#include "netdisk/netdisk_api.h"
#include "records/record_store.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace vantorel {
namespace {

Error settleError(SettleFailure kind, const std::string& message) {
    return Error{std::string(kSettleFailedMessage) + message, static_cast<int>(kind)};
}

// A share list or folder that could not be read; a login the service no
// longer takes is news of its own: the user has to log in again.
Error serviceError(const Error& error) {
    return settleError(error.code == -6 ? SettleFailure::NotLoggedIn : SettleFailure::Service,
                       error.message);
}

std::string parentFolder(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

// The newest share of the intent's item made since the intent was written.
const ServiceShare* shareOf(const ShareIntent& intent, const std::vector<ServiceShare>& shares) {
    for (const ServiceShare& share : shares) { // newest first
        if (share.ctime + kServiceClockAllowanceSeconds < intent.time)
            continue;
        if (std::find(share.fsIds.begin(), share.fsIds.end(), intent.fid) != share.fsIds.end())
            return &share;
    }
    return nullptr;
}

class Settler {
public:
    Settler(RecordStore& ledger, NetdiskApi& api, const SettleOptions& options)
        : ledger_(ledger), api_(api), options_(options) {}

    Expected<SettleReport> settle() {
        Expected<std::vector<ShareIntent>> left = ledger_.intents();
        if (!left)
            return settleError(SettleFailure::Ledger, left.error().message);
        std::vector<ShareIntent> unsure;
        for (ShareIntent& intent : *left) {
            if (intent.stage == IntentStage::Renaming && !intent.link.empty()) {
                // The share was made and its link is known: only the name is
                // in doubt.
                if (Status written = record(intent, intent.link, intent.shareTime); !written)
                    return written.error();
            } else {
                unsure.push_back(std::move(intent));
            }
        }
        if (unsure.empty() || options_.stop.stop_requested())
            return report_;

        if (Status looked = lookUp(unsure, false); !looked)
            return looked.error();
        if (unsure.empty() || options_.stop.stop_requested())
            return report_;
        // What is left may still be on its way to the service: wait until the
        // youngest is past the client's limit, then look once more.
        const std::int64_t youngest =
            std::max_element(unsure.begin(), unsure.end(), [](const auto& a, const auto& b) {
                return a.time < b.time;
            })->time;
        // Intents keep whole seconds: one more covers the part of a second
        // the intent's time left out.
        const auto limit = api_.inFlightLimit() + std::chrono::seconds(1);
        const auto age = std::chrono::seconds(options_.clock() - youngest);
        if (age < limit) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(limit - age);
            if (options_.pause)
                options_.pause(options_.stop, wait);
            else
                waitFor(options_.stop, wait);
            if (options_.stop.stop_requested())
                return report_;
            if (Status looked = lookUp(unsure, true); !looked)
                return looked.error();
        } else {
            for (const ShareIntent& intent : unsure)
                if (Status dropped = drop(intent); !dropped)
                    return dropped.error();
        }
        return report_;
    }

private:
    // Settles the intents whose share is in the list; with `final`, drops
    // the others, which otherwise stay in `unsure`.
    Status lookUp(std::vector<ShareIntent>& unsure, bool final) {
        const std::int64_t oldest =
            std::min_element(unsure.begin(), unsure.end(), [](const auto& a, const auto& b) {
                return a.time < b.time;
            })->time;
        Expected<std::vector<ServiceShare>> shares =
            api_.findSharesSince(oldest - kServiceClockAllowanceSeconds);
        if (!shares)
            return serviceError(shares.error());
        std::vector<ShareIntent> still;
        for (ShareIntent& intent : unsure) {
            if (const ServiceShare* share = shareOf(intent, *shares)) {
                const std::string time =
                    unixTimeToText(std::to_string(share->ctime), ClockMode::TwentyFourHour);
                if (Status written = record(intent, share->link, time); !written)
                    return written;
            } else if (final) {
                if (Status dropped = drop(intent); !dropped)
                    return dropped;
            } else {
                still.push_back(std::move(intent));
            }
        }
        unsure = std::move(still);
        return {};
    }

    Status record(const ShareIntent& intent, const std::string& link,
                  const std::string& shareTime) {
        std::string sharedPath = intent.path;
        std::string newName;
        if (intent.stage == IntentStage::Renaming) {
            // Whether the rename went through is only known to the folder:
            // the row must say the name the item has, so that no later run
            // renames it once more.
            Expected<Listing> listing =
                api_.fetchListing(percentEncodePath(parentFolder(intent.path)));
            if (!listing)
                return serviceError(listing.error());
            for (const auto* list : {&listing->files, &listing->folders}) {
                for (const ListEntry& entry : *list) {
                    if (entry.fs_id != intent.fid)
                        continue;
                    sharedPath = entry.path;
                    if (entry.server_filename != intent.name)
                        newName = entry.server_filename;
                }
            }
        }
        const ShareRecord row =
            successRowOf(intent, link, shareTime, std::move(sharedPath), std::move(newName));
        if (Status written = ledger_.recordOutcome(row); !written)
            return settleError(SettleFailure::Ledger, written.error().message);
        ++report_.recorded;
        if (options_.recorded)
            options_.recorded({.verdict = EntryVerdict::Shared,
                               .path = row.path,
                               .link = row.sharelink,
                               .code = row.password});
        return {};
    }

    Status drop(const ShareIntent& intent) {
        if (Status dropped = ledger_.dropIntent(intent.fid); !dropped)
            return settleError(SettleFailure::Ledger, dropped.error().message);
        ++report_.dropped;
        return {};
    }

    RecordStore& ledger_;
    NetdiskApi& api_;
    const SettleOptions& options_;
    SettleReport report_;
};

} // namespace

ShareRecord successRowOf(const ShareIntent& intent, std::string_view link,
                         std::string_view shareTime, std::string sharedPath, std::string newName) {
    ShareRecord row;
    row.isdir = intent.isdir;
    row.path = std::move(sharedPath);
    row.beforename = intent.name;
    row.aftername = std::move(newName);
    row.sharelink = std::string(link);
    row.password = intent.code;
    row.sharetime = std::string(shareTime);
    row.size = intent.size;
    row.md5 = intent.md5;
    row.pic = intent.pic;
    row.fid = intent.fid;
    row.username = intent.username;
    return row;
}

Expected<SettleReport> settleShareIntents(RecordStore& ledger, NetdiskApi& api,
                                          const SettleOptions& options) {
    return Settler(ledger, api, options).settle();
}

} // namespace vantorel
