#include "expected_run.h"

#include "netdisk/list_entry.h"

#include <cstdlib>
#include <ctime>
#include <set>

namespace vantorel::test {

std::string chinaTimeText(std::int64_t unixSeconds) {
    const std::time_t shifted = static_cast<std::time_t>(unixSeconds + 8 * 3600);
    std::tm parts{};
    ::gmtime_r(&shifted, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

namespace {

std::string sizeText(const std::string& size) {
    return formatSizeText(std::strtoll(size.c_str(), nullptr, 10));
}

LedgerRow baseRow(const ListedMember& entry, SharePass pass, const std::string& user) {
    LedgerRow row;
    row.isdir = pass == SharePass::Folder ? "1" : pass == SharePass::File ? "0" : entry.isdir;
    row.beforename = entry.name;
    row.fid = entry.fsId;
    row.username = user;
    row.other = "other";
    return row;
}

} // namespace

LedgerRow expectedSuccessRow(const ListedMember& entry, SharePass pass, const SimShare& share,
                             const std::string& user, const std::string& sharedPath,
                             const std::string& newName) {
    LedgerRow row = baseRow(entry, pass, user);
    row.path = sharedPath.empty() ? entry.path : sharedPath;
    row.aftername = newName;
    row.sharelink = share.link;
    row.password = share.pwd;
    row.sharetime = chinaTimeText(share.ctime);
    if (pass != SharePass::Folder) {
        row.size = sizeText(entry.size);
        row.md5 = entry.md5;
        row.pic = entry.thumbsUrl3;
    }
    return row;
}

LedgerRow expectedFailureRow(const ListedMember& entry, SharePass pass, const std::string& user) {
    LedgerRow row = baseRow(entry, pass, user);
    row.path = entry.path;
    row.sharelink = "分享失败";
    if (pass == SharePass::Selection) {
        row.size = sizeText(entry.size);
        row.md5 = entry.md5;
    }
    if (pass != SharePass::Folder)
        row.pic = entry.thumbsUrl3;
    return row;
}

const SimShare* findShare(const SimState& state, const std::string& fsId) {
    for (const SimShare& share : state.shares)
        for (const std::string& id : share.fsIds)
            if (id == fsId)
                return &share;
    return nullptr;
}

int shareCount(const SimState& state, const std::string& fsId) {
    int count = 0;
    for (const SimShare& share : state.shares)
        for (const std::string& id : share.fsIds)
            if (id == fsId)
                ++count;
    return count;
}

ExpectedRun expectFolderRun(const std::vector<ListedMember>& listing, int shareType,
                            const OutcomeFn& outcome, const SimState& state,
                            const std::vector<LedgerRow>& prior, const std::string& renamePrefix) {
    // What the lookup before each share finds: files by MD5, folders by fid,
    // and a file without an MD5 by the fid of a row with a link.
    std::set<std::string> md5s;
    std::set<std::string> fids;
    std::set<std::string> sharedFids;
    const auto remember = [&](const LedgerRow& row) {
        md5s.insert(row.md5);
        fids.insert(row.fid);
        if (row.sharelink != kFailedLinkText)
            sharedFids.insert(row.fid);
    };
    for (const LedgerRow& row : prior)
        remember(row);
    ExpectedRun run;
    const auto pass = [&](SharePass kind) {
        for (const ListedMember& entry : listing) {
            if (!run.refusedBy.empty())
                return;
            if (entry.isdir != (kind == SharePass::File ? "0" : "1"))
                continue;
            const bool recorded = kind != SharePass::File ? fids.count(entry.fsId) > 0
                                  : entry.md5.empty()     ? sharedFids.count(entry.fsId) > 0
                                                          : md5s.count(entry.md5) > 0;
            if (recorded) {
                run.lines.push_back({.kind = "skipped", .path = entry.path});
                continue;
            }
            const AttemptOutcome answer = outcome(run.attempts++);
            LedgerRow row;
            switch (answer.kind) {
            case AttemptOutcome::Shared: {
                const SimShare* share = findShare(state, entry.fsId);
                const SimShare none;
                std::string path = entry.path;
                std::string newName;
                if (!renamePrefix.empty() && answer.renamed) {
                    newName = renamePrefix + entry.name;
                    path = entry.path.substr(0, entry.path.rfind('/') + 1) + newName;
                }
                row = expectedSuccessRow(entry, kind, share != nullptr ? *share : none, state.user,
                                         path, newName);
                run.lines.push_back({.kind = "shared",
                                     .path = row.path,
                                     .link = row.sharelink,
                                     .code = row.password});
                break;
            }
            case AttemptOutcome::Refused:
                row = expectedFailureRow(entry, kind, state.user);
                run.lines.push_back(
                    {.kind = "failed", .path = entry.path, .errnoText = answer.errnoText});
                break;
            case AttemptOutcome::RunRefused:
                run.lines.push_back({.kind = "pending", .path = entry.path});
                run.refusedBy = answer.errnoText;
                return;
            case AttemptOutcome::NoVerdict:
                run.lines.push_back({.kind = "pending", .path = entry.path});
                continue;
            }
            remember(row);
            run.rows.push_back(std::move(row));
        }
    };
    if (shareType == 1 || shareType == 2)
        pass(SharePass::File);
    if (shareType == 1 || shareType == 3)
        pass(SharePass::Folder);
    return run;
}

} // namespace vantorel::test
