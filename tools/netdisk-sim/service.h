#pragma once

// The simulated netdisk service: login, home page, listing, share and rename
// as the client sees them, plus the control endpoints under /__sim/.

#include "faults.h"
#include "request_log.h"
#include "server.h"
#include "text_util.h"
#include "tree.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace netdisk_sim {

struct ServiceOptions {
    std::string user;
    std::string bdstoken;
    std::string loginCookie;
    std::optional<std::int64_t> fixedTime; // "now" for share times and pages
    std::int64_t dailyLimit = 0;           // 0: no limit
    std::string homeStyle = "mset";        // mset, yundata or none
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

private:
    struct Call;
    struct Share {
        std::uint64_t shareId;
        std::vector<std::uint64_t> fsIds;
        std::vector<std::string> paths;
        std::string code; // the part of the link after /s/
        std::string link;
        std::string pwd;
        int period;
        std::int64_t ctime;
    };
    struct RenameRecord {
        std::string path;
        std::string newName;
        int errnoValue;
    };

    void handle(const httplib::Request& req, httplib::Response& res);
    void dispatch(Call& call);

    void loginPageHandler(Call& call);
    void loginHandler(Call& call);
    void logoutHandler(Call& call);
    void homeHandler(Call& call);
    void listHandler(Call& call);
    void shareHandler(Call& call);
    void renameHandler(Call& call);
    void thumbnailHandler(Call& call);
    void sharePageHandler(Call& call);
    void controlHandler(Call& call);

    bool loggedIn(const Call& call) const;
    bool authorised(Call& call);
    std::uint64_t requestId();
    void replyJson(Call& call, const std::string& json);
    void replyErrno(Call& call, int errnoValue, const char* message);
    void rotateCookie(Call& call);
    std::string cookieAttributes(bool httpOnly, long long maxAge) const;
    std::string tokenScript() const;
    void pause(std::int64_t ms);
    void resetLocked();

    ServiceOptions options_;
    RequestLog& log_;
    std::string origin_;

    mutable std::mutex mutex_; // guards everything below
    Tree tree_;
    FaultSet faults_;
    std::int64_t dailyLimit_ = 0;
    std::string homeStyle_;
    std::optional<std::int64_t> fixedTime_;
    bool sessionValid_ = true;
    std::vector<Share> shares_;
    std::vector<RenameRecord> renames_;
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
