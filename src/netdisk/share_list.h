#pragma once

// The account's shares as the service lists them (GET /share/record) and
// the cancelling of shares (POST /share/cancel): the reply shapes, the URLs
// and bodies, and the paging over the list.

#include "base/expected.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

// Members a share-list page asks for; the service hands out no more.
inline constexpr int kSharePageSize = 100;
// No share list is read past this many pages, so a service that never ends
// the list cannot keep a sync going for ever.
inline constexpr int kSharePageLimit = 10000;
// The most shareids the service takes in one cancel request.
inline constexpr std::size_t kCancelBatchSize = 100;

// One share of the account's share list.
//
// The counters: vCnt counts views of the share page (netdisk clients that
// read the list call it the view count); dCnt counts downloads and tCnt
// saves ("转存", copied into another account), as the service's own share
// page names its three figures 浏览, 下载 and 保存.
struct ServiceShare {
    std::int64_t shareId = 0;
    std::vector<std::string> fsIds; // decimal texts, all digits kept
    std::string link;               // "shortlink": <origin>/s/1…
    int status = 0;                 // 0 normal; anything else blocked or cancelled by the service
    int isPublic = 0;               // 1 when made without a code
    std::string typicalPath;        // where its first item is now
    int expiredType = 0;            // -1 once expired, else the period in days (0: never)
    std::int64_t secondsLeft = 0;   // "expiredTime"; 0 for expired and never-expiring shares
    std::int64_t views = 0;         // vCnt
    std::int64_t downloads = 0;     // dCnt
    std::int64_t saves = 0;         // tCnt
    std::int64_t ctime = 0;         // Unix seconds
    // Whether the member carried every key its state is read from (shareId,
    // status, expiredType, and a link or fs_ids). A member that did not
    // still proves its share exists, but says nothing sure about its state.
    bool complete = true;
};

// One page of the share list.
struct SharePage {
    std::vector<ServiceShare> shares; // in reply order: newest first
    // Members the reply's list held, unreadable ones included: the count
    // that tells whether more pages may follow.
    std::size_t members = 0;
    // Members without a readable shareId, left out of `shares`.
    std::size_t unreadable = 0;
};

// Reads one /share/record reply body (UTF-8 JSON). An empty page may come
// as {}, as {"errno":0,"list":{}} or with an empty list; all three are a
// page without members. A body that is not JSON, or an errno other than 0,
// is an error saying so, its code the errno (-6: the login is not valid).
Expected<SharePage> decodeSharePage(std::string_view body);

// GET /share/record for one page, counted from 1, newest first.
std::string shareRecordUrl(std::string_view origin, std::string_view bdstoken, int page);
// POST /share/cancel and its form body: shareid_list=%5B1%2C2%5D.
std::string shareCancelUrl(std::string_view origin, std::string_view bdstoken);
std::string shareCancelBody(std::span<const std::int64_t> shareIds);

// Reads a cancel reply body: success, or an error with the errno.
Status decodeCancelReply(std::string_view body);

// What the caller of the paging wants after one page.
enum class PageVerdict {
    Continue,
    Enough, // it has what it needs (pages come newest first)
};

// How the paging over the share list ended.
struct ShareListWalk {
    int pages = 0;          // pages read and handed on
    std::size_t shares = 0; // shares handed on
    std::size_t unreadable = 0;
    // The last page was read: every share the service lists has been handed
    // on (and none was unreadable when `unreadable` is 0).
    bool complete = false;
    bool stopped = false; // the stop token ended it
    bool enough = false;  // the caller ended it
};

using SharePageSource = std::function<Expected<SharePage>(int page)>;
using SharePageSink = std::function<PageVerdict(const SharePage& page, int pageNumber)>;

// Asks for pages 1, 2, ... and hands each one on, until a page holds fewer
// than kSharePageSize members, the sink has enough, a stop is requested or
// the page limit is reached. A page that brings no shareId seen before (a
// service handing out the same page again) ends the walk as an error, for
// the list is then not known in full. The first page that fails fails the
// walk; the pages handed on before it stay handed on.
Expected<ShareListWalk> walkSharePages(const SharePageSource& fetchPage,
                                       const SharePageSink& onPage, std::stop_token stop = {});

// Called with each batch of shareids the service accepted to cancel.
using CancelledBatchSink = std::function<void(std::span<const std::int64_t> shareIds)>;

// The share list and cancel requests, behind an interface so that the sync
// can be driven by the real client or by a stand-in.
class ShareListApi {
public:
    virtual ~ShareListApi() = default;

    // Walks the account's share list, newest first (walkSharePages).
    virtual Expected<ShareListWalk> listShares(const SharePageSink& onPage) = 0;

    // Cancels the shares in requests of at most kCancelBatchSize ids, in
    // order, handing each accepted batch to `onCancelled` before the next
    // request goes out. The first refused or failed request ends it with
    // its reason; the batches after it are not sent. The service's cancel
    // reply says nothing about ids that were not live shares: only the
    // share list tells what is left.
    virtual Status cancelShares(std::span<const std::int64_t> shareIds,
                                const CancelledBatchSink& onCancelled) = 0;
};

} // namespace vantorel
