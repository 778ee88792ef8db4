#pragma once

// The simulated netdisk service: login, home page, listing, share and rename
// as the client sees them, plus the control endpoints under /__sim/.

#include "faults.h"
#include "json_util.h"
#include "request_log.h"
#include "server.h"
#include "text_util.h"
#include "tree.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace netdisk_sim {

// How the rename request answers. Without an outcome it renames at once
// and its reply's errno tells; with one it only accepts the task, which ends
// `delayMs` later as the outcome says ("success", "failed", or "never").
struct RenameAsync {
    std::string outcome;
    std::int64_t delayMs = 0;
};

struct ServiceOptions {
    std::string user;
    std::string bdstoken;
    std::string loginCookie;
    std::optional<std::int64_t> fixedTime; // the clock: share times, expiry, pages
    std::int64_t dailyLimit = 0;           // 0: no limit
    std::string homeStyle = "mset";        // mset, yundata, none or main
    std::string tokenApi = "both";         // which token requests answer: both, template,
                                           // loginstatus or none
    std::int64_t listPageCap = 1000;       // most members of one listing page; 0: no cap
    std::string passport;                  // where a logged-out home page goes; empty: "/"
    bool rejectDuplicateLogin = true;      // a login cookie sent twice is no login
    bool oldPageScript = true;             // the file page offers the old module loader
    std::string emptySharePage = "list";   // an empty /share/record page: list, bare or object
    RenameAsync renameAsync;
    std::vector<FaultRule> faults;
    std::function<Tree()> makeTree; // the tree at start and after a reset
};

class Service {
public:
    Service(ServiceOptions options, RequestLog& log);

    // Registers the handlers; `origin` is the scheme, host and port that
    // links and thumbnail addresses name.
    void install(SimHttpServer& server, std::string origin);

    // Ends delays in progress, so that a shutdown does not wait for them.
    void stop();

    std::size_t fileCount() const;
    std::size_t folderCount() const;

    static bool isValidHomeStyle(const std::string& style);
    static bool isValidTokenApi(const std::string& which);
    static bool isValidRenameOutcome(const std::string& outcome);
    static bool isValidEmptySharePage(const std::string& form);

private:
    struct Call;
    struct Share {
        std::uint64_t shareId = 0;
        std::vector<std::uint64_t> fsIds;
        std::vector<std::string> paths; // at share time
        std::string code;               // the part of the link after /s/
        std::string link;
        std::string pwd; // empty for a share made without a code
        int period = 0;  // days; 0 for ever
        std::int64_t ctime = 0;
        int status = 0; // 0 normal, otherwise blocked by the service
        bool cancelled = false;
        bool bulk = false; // made by the control request, not by /share/set
        std::int64_t views = 0, downloads = 0, saves = 0;

        // A share expires when the clock reaches ctime + period days.
        bool expiredAt(std::int64_t now) const {
            return period > 0 && now >= ctime + period * std::int64_t{86400};
        }
        // 0 for a share that never expires and for one that has.
        std::int64_t secondsLeftAt(std::int64_t now) const {
            return period > 0 && !expiredAt(now) ? ctime + period * std::int64_t{86400} - now : 0;
        }
    };
    struct RenameRecord {
        std::string path;
        std::string newName;
        int errnoValue;
    };
    struct RenameTask {
        std::vector<std::pair<std::string, std::string>> items; // path, new name
        std::string outcome;
        std::chrono::steady_clock::time_point due;
        std::optional<int> taskErrno; // set once the task has ended
    };

    void handle(const httplib::Request& req, httplib::Response& res);
    void dispatch(Call& call);

    void loginPageHandler(Call& call);
    void loginHandler(Call& call);
    void logoutHandler(Call& call);
    void homeHandler(Call& call);
    void mainPageHandler(Call& call);
    void templateVariableHandler(Call& call);
    void loginStatusHandler(Call& call);
    void listHandler(Call& call);
    void shareHandler(Call& call);
    void renameHandler(Call& call);
    void taskQueryHandler(Call& call);
    void thumbnailHandler(Call& call);
    void sharePageHandler(Call& call);
    void shareRecordHandler(Call& call);
    void shareCancelHandler(Call& call);
    void controlHandler(Call& call);
    // The control requests that act on the share list; false when `call`
    // is none of them.
    bool shareControlHandler(Call& call);

    bool loggedIn(const Call& call) const;
    bool authorised(Call& call);
    // authorised(), and no fault rule refuses the call with an errno; when
    // not, the refusal is the reply.
    bool admitted(Call& call);
    std::uint64_t requestId();
    void replyJson(Call& call, const std::string& json);
    void replyErrno(Call& call, int errnoValue, const char* message);
    void rotateCookie(Call& call);
    std::string cookieAttributes(bool httpOnly, long long maxAge) const;
    std::string tokenScript() const;
    bool tokenRouteOpen(const char* route) const;
    // The folder's members in listing order; cached until the tree changes.
    const std::vector<const Entry*>& sortedChildren(const Entry& folder, const std::string& order,
                                                    bool desc);
    // Ends a due rename task: renames its items or refuses them. With mutex_.
    void settleTask(RenameTask& task);
    void pause(std::int64_t ms);
    void resetLocked();
    // The simulated clock: the fixed time when one is set. With mutex_.
    std::int64_t nowLocked() const;
    // Keeps a new share in the share list. With mutex_.
    const Share& addShareLocked(Share share);
    // Takes these shares off the share list; unknown or cancelled ones are
    // skipped. With mutex_.
    void cancelSharesLocked(const std::vector<std::uint64_t>& ids);
    Share* findShareLocked(std::uint64_t shareId);
    // One member of a /share/record page. Variants other than 0 break it as
    // a changed or faulty service might. With mutex_.
    void writeShareRecord(JsonWriter& w, const Share& share, std::int64_t now, int variant) const;

    ServiceOptions options_;
    RequestLog& log_;
    std::string origin_;

    mutable std::mutex mutex_; // guards everything below
    Tree tree_;
    FaultSet faults_;
    std::int64_t dailyLimit_ = 0;
    std::string homeStyle_;
    std::string tokenApi_;
    std::int64_t listPageCap_ = 1000;
    std::optional<std::int64_t> fixedTime_;
    bool sessionValid_ = true;
    std::string emptySharePage_;
    std::vector<Share> shares_; // every share made, cancelled ones too, in the order made
    std::unordered_map<std::uint64_t, std::size_t> shareById_; // index into shares_
    std::unordered_map<std::string, std::size_t> shareByCode_; // index into shares_
    // The share list: the shares not cancelled, oldest first by (ctime,
    // shareId), kept in order as shares come and go so that a page is a
    // slice.
    std::vector<std::size_t> shareOrder_;
    std::int64_t setShareCount_ = 0; // shares /share/set made: the daily limit counts them
    std::size_t bulkShareCount_ = 0;
    std::vector<RenameRecord> renames_;
    std::map<std::uint64_t, RenameTask> tasks_;
    std::map<std::string, std::vector<const Entry*>> listingCache_;
    std::map<std::string, std::uint64_t> requestCounts_;
    std::uint64_t nextShareId_ = 0;
    std::uint64_t requestSerial_ = 0;
    std::uint64_t cookieSerial_ = 0;
    std::uint64_t taskSerial_ = 0;

    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
};

} // namespace netdisk_sim
