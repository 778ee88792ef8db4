#include "share/share_sync.h"

#include "netdisk/share_list.h"
#include "records/record_store.h"

#include <unordered_map>

namespace vantorel {

ShareState stateOfListedShare(const ServiceShare& share) {
    if (share.expiredType == -1)
        return ShareState::Expired;
    if (share.status != 0)
        return ShareState::Blocked;
    return ShareState::Active;
}

std::string_view shareLinkKey(std::string_view link) {
    const std::size_t at = link.rfind("/s/");
    if (at != std::string_view::npos)
        link.remove_prefix(at + 3);
    const std::size_t end = link.find_first_of("?# ");
    return link.substr(0, end);
}

namespace {

class Matcher {
public:
    explicit Matcher(std::vector<SharedRow> rows)
        : rows_(std::move(rows)), seen_(rows_.size(), false), byLink_(rows_.size(), false) {
        byKey_.reserve(rows_.size());
        byFid_.reserve(rows_.size());
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            byKey_.emplace(shareLinkKey(rows_[i].sharelink), i);
            if (!rows_[i].fid.empty())
                byFid_.emplace(rows_[i].fid, i);
        }
    }

    // The states of the rows this share belongs to; rows matched by link
    // are never taken over by another share's fs_id.
    void match(const ServiceShare& share, std::int64_t now, std::vector<ShareStatus>& out) {
        found_.clear();
        const std::string_view key = shareLinkKey(share.link);
        if (!key.empty()) {
            auto [from, to] = byKey_.equal_range(key);
            for (auto it = from; it != to; ++it)
                found_.push_back(it->second);
        }
        const bool linked = !found_.empty();
        if (!linked) {
            for (const std::string& fid : share.fsIds) {
                auto [from, to] = byFid_.equal_range(fid);
                for (auto it = from; it != to; ++it)
                    if (!byLink_[it->second])
                        found_.push_back(it->second);
            }
        }
        for (const std::size_t i : found_) {
            if (!seen_[i])
                ++matched_;
            seen_[i] = true;
            byLink_[i] = byLink_[i] || linked;
            // A member that did not say all of its state proves that the
            // share exists, and nothing more: the state stays as last seen.
            if (!share.complete)
                continue;
            ShareStatus s;
            s.recordId = rows_[i].id;
            s.sharelink = rows_[i].sharelink;
            s.shareId = share.shareId;
            s.state = stateOfListedShare(share);
            s.expiredType = share.expiredType;
            s.secondsLeft = s.state == ShareState::Active ? share.secondsLeft : 0;
            s.views = share.views;
            s.saves = share.saves;
            s.downloads = share.downloads;
            s.checkedAt = now;
            out.push_back(std::move(s));
        }
    }

    std::vector<std::int64_t> unseen() const {
        std::vector<std::int64_t> ids;
        for (std::size_t i = 0; i < rows_.size(); ++i)
            if (!seen_[i])
                ids.push_back(rows_[i].id);
        return ids;
    }

    std::size_t matched() const { return matched_; }

private:
    std::vector<SharedRow> rows_;
    std::vector<bool> seen_;
    std::vector<bool> byLink_;
    std::unordered_multimap<std::string_view, std::size_t> byKey_;
    std::unordered_multimap<std::string_view, std::size_t> byFid_;
    std::vector<std::size_t> found_;
    std::size_t matched_ = 0;
};

} // namespace

SyncSummary syncShares(ShareListApi& api, RecordStore& ledger, std::string_view username,
                       std::int64_t now, ShareSyncObserver* observer, std::stop_token stop) {
    SyncSummary summary;
    ShareStates states(ledger);
    Expected<std::vector<SharedRow>> rows = states.sharedRows(username);
    if (!rows) {
        summary.error = rows.error().message;
        summary.errorCode = rows.error().code;
        return summary;
    }
    Matcher matcher(std::move(*rows));
    std::vector<ShareStatus> batch;
    Status stored;
    const Expected<ShareListWalk> walk = api.listShares([&](const SharePage& page, int number) {
        batch.clear();
        for (const ServiceShare& share : page.shares)
            matcher.match(share, now, batch);
        stored = states.store(batch);
        if (!stored)
            return PageVerdict::Enough;
        summary.pages = number;
        summary.sharesListed += page.shares.size();
        summary.rowsMatched = matcher.matched();
        if (observer)
            observer->syncPageStored(number, summary.sharesListed, summary.rowsMatched);
        return PageVerdict::Continue;
    });
    if (!stored) {
        summary.error = stored.error().message;
        summary.errorCode = stored.error().code;
        return summary;
    }
    if (!walk) {
        summary.error = walk.error().message;
        summary.errorCode = walk.error().code;
        return summary;
    }
    summary.stopped = walk->stopped || stop.stop_requested();
    summary.complete = walk->complete && !summary.stopped;
    if (!summary.complete || walk->unreadable != 0 || username.empty())
        return summary;
    const std::vector<std::int64_t> gone = matcher.unseen();
    if (Status marked = states.markGone(gone, now); !marked) {
        summary.error = marked.error().message;
        summary.errorCode = marked.error().code;
        return summary;
    }
    summary.rowsGone = gone.size();
    return summary;
}

CancelSummary cancelRecordShares(ShareListApi& api, RecordStore& ledger,
                                 std::span<const std::int64_t> recordIds, std::string_view username,
                                 std::int64_t now, ShareSyncObserver* observer,
                                 std::stop_token stop) {
    CancelSummary summary;
    summary.asked = recordIds.size();
    ShareStates states(ledger);
    ShareStateFilter filter;
    filter.recordIds.assign(recordIds.begin(), recordIds.end());
    filter.sharedOnly = false;
    Expected<std::vector<RecordWithState>> rows = states.select(filter);
    if (!rows) {
        summary.error = rows.error().message;
        summary.errorCode = rows.error().code;
        return summary;
    }
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> recordsOfShare;
    std::vector<std::int64_t> shareIds;
    std::unordered_map<std::int64_t, bool> known;
    for (const RecordWithState& row : *rows) {
        known[row.record.id] = true;
        if (!row.status || row.status->shareId == 0 || row.status->state == ShareState::Gone ||
            (!username.empty() && row.record.username != username)) {
            summary.notCancellable.push_back(row.record.id);
            continue;
        }
        auto& records = recordsOfShare[row.status->shareId];
        if (records.empty())
            shareIds.push_back(row.status->shareId);
        records.push_back(row.record.id);
    }
    for (const std::int64_t id : recordIds)
        if (!known.count(id))
            summary.notCancellable.push_back(id);

    Status marked;
    const Status cancelled = api.cancelShares(shareIds, [&](std::span<const std::int64_t> batch) {
        std::vector<std::int64_t> ids;
        for (const std::int64_t shareId : batch) {
            const auto& records = recordsOfShare[shareId];
            ids.insert(ids.end(), records.begin(), records.end());
        }
        // The service has cancelled them whatever the ledger says next; a
        // failed mark is reported, and the next sync finds them gone.
        if (Status m = states.markGone(ids, now); !m && marked)
            marked = m;
        summary.cancelled += ids.size();
        if (observer)
            observer->cancelBatchDone(summary.cancelled, summary.asked);
    });
    summary.stopped = stop.stop_requested();
    if (!cancelled && !summary.stopped) {
        summary.error = cancelled.error().message;
        summary.errorCode = cancelled.error().code;
    } else if (!marked) {
        summary.error = marked.error().message;
        summary.errorCode = marked.error().code;
    }
    return summary;
}

Expected<std::vector<std::int64_t>> recordIdsInState(RecordStore& ledger, ShareState state,
                                                     std::string_view username) {
    ShareStates states(ledger);
    ShareStateFilter filter;
    filter.username = std::string(username);
    filter.state = state;
    Expected<std::vector<RecordWithState>> rows = states.select(filter);
    if (!rows)
        return rows.error();
    std::vector<std::int64_t> ids;
    ids.reserve(rows->size());
    for (const RecordWithState& row : *rows)
        ids.push_back(row.record.id);
    return ids;
}

Expected<ReshareChoice> chooseReshareItems(RecordStore& ledger,
                                           std::span<const std::int64_t> recordIds) {
    ShareStates states(ledger);
    ShareStateFilter filter;
    filter.recordIds.assign(recordIds.begin(), recordIds.end());
    Expected<std::vector<RecordWithState>> rows = states.select(filter);
    if (!rows)
        return rows.error();
    std::unordered_map<std::int64_t, const RecordWithState*> byId;
    for (const RecordWithState& row : *rows)
        byId.emplace(row.record.id, &row);
    ReshareChoice choice;
    for (const std::int64_t id : recordIds) {
        const auto it = byId.find(id);
        const RecordWithState* row = it == byId.end() ? nullptr : it->second;
        if (!row || !row->status || row->status->state == ShareState::Active) {
            choice.notEligible.push_back(id);
            continue;
        }
        const ShareRecord& r = row->record;
        ReshareItem item;
        item.recordId = r.id;
        item.isFolder = r.isdir == "1";
        // The item is where and as it was shared: after a rename that is the
        // new name.
        item.entry.server_filename = r.aftername.empty() ? r.beforename : r.aftername;
        item.entry.path = r.path;
        item.entry.fs_id = r.fid;
        item.entry.md5 = r.md5;
        item.entry.size = r.size;
        item.entry.thumbs_url3 = r.pic;
        choice.items.push_back(std::move(item));
        byId.erase(id); // an id chosen twice is shared once
    }
    return choice;
}

} // namespace vantorel
