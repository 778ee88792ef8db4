#pragma once

// The service's web API over HTTP: the folder listing, share creation and
// rename.

#include "base/expected.h"
#include "base/http_request.h"
#include "netdisk/connection.h"
#include "netdisk/listing_pages.h"
#include "netdisk/login_context.h"
#include "netdisk/login_tokens.h"
#include "netdisk/netdisk_api.h"
#include "netdisk/share_list.h"

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel {

// One page of a listing reply body (UTF-8 JSON): its entries, folders and
// files apart, in reply order, and the count of members it held. A body
// that is not JSON, an errno other than 0, or a reply without a list is an
// error saying so (its code the errno when there is one); a member whose
// isdir reads neither "1" nor "0" is dropped.
Expected<ListingPage> decodeListingReply(std::string_view body);

// The client a share run talks through. It keeps one connection alive for
// all of its requests, sends and rewrites `login.cookieText`, and gives up a
// request in flight when `stop` is requested.
// How long a rename the service only accepted is asked after.
struct RenamePolling {
    std::chrono::milliseconds interval{500};
    std::chrono::milliseconds limit{10000};
};

class NetdiskClient final : public NetdiskApi, public ShareListApi {
public:
    NetdiskClient(ConnectionSettings connection, LoginContext& login, std::stop_token stop = {},
                  RenamePolling polling = {});

    Expected<Listing> fetchListing(std::string_view dir) override;
    ShareReply createShareLink(std::string_view period, std::string_view code,
                               std::string_view fsId) override;
    RenameReply renameItem(std::string_view path, std::string_view newName) override;
    Expected<std::vector<ServiceShare>> findSharesSince(std::int64_t since) override;
    // Twice the request time-out.
    std::chrono::milliseconds inFlightLimit() const override;

    // The account's share list and the cancelling of shares (share_list.h);
    // a stop requested on the client's token ends either between requests
    // or abandons the one in flight.
    Expected<SharePage> fetchSharePage(int page);
    Expected<ShareListWalk> listShares(const SharePageSink& onPage) override;
    Status cancelShares(std::span<const std::int64_t> shareIds,
                        const CancelledBatchSink& onCancelled) override;

private:
    Expected<ListingPage> fetchListingPage(std::string_view dir, int page);
    HttpResponse post(const std::string& url, std::string body);
    // Asks how the rename task ended, until it has or the polling's limit
    // passes; nothing when that is still unknown.
    std::optional<RenameReply> awaitRenameTask(const std::string& taskId);

    ConnectionSettings connection_;
    LoginContext& login_;
    std::stop_token stop_;
    RenamePolling polling_;
    HttpClient client_;
    bool hasShared_ = false; // this client made a share: errno 2 is now a throttle
};

} // namespace vantorel
