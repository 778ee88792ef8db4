// netdisk-sim: a stand-in for the netdisk web service on 127.0.0.1, for
// tests, benchmarks and demonstrations. See README.md next to this file.

#include "faults.h"
#include "request_log.h"
#include "server.h"
#include "service.h"
#include "tree.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <signal.h>
#include <sstream>
#include <thread>

using namespace netdisk_sim;

namespace {

constexpr const char* kDefaultUser = "测试账号_小明";
constexpr const char* kDefaultBdstoken = "5f3a9c1e7b2d48604a9e1c3b7d2f6e80";
constexpr const char* kDefaultLoginCookie = "SIM-BDUSS-3f9c2a7e1b6d4085a2c9e7f1";

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

bool isHex32(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"netdisk-sim: a simulated netdisk web service on 127.0.0.1 for tests and demos.\n"
                 "Prints its origin (http://127.0.0.1:PORT) as the first line of standard "
                 "output,\nthen serves until SIGINT or SIGTERM.",
                 "netdisk-sim"};
    app.set_version_flag("--version", "netdisk-sim " VANTOREL_VERSION);

    int port = 0;
    std::string certFile;
    std::string keyFile;
    std::string treeFile;
    std::size_t generate = 0;
    std::uint64_t seed = 1;
    int folders = -1;
    ServiceOptions options;
    options.user = kDefaultUser;
    options.bdstoken = kDefaultBdstoken;
    options.loginCookie = kDefaultLoginCookie;
    std::int64_t fixedTime = -1;
    std::string logFile;
    std::vector<std::string> faultRules;
    std::vector<std::string> shareErrnos;
    std::vector<std::string> delays;
    bool quiet = false;

    app.add_option("--port", port, "Port on 127.0.0.1; 0 picks a free one")
        ->check(CLI::Range(0, 65535));
    auto* cert = app.add_option("--cert", certFile, "PEM certificate (chain): serve HTTPS")
                     ->check(CLI::ExistingFile);
    auto* key = app.add_option("--key", keyFile, "PEM private key of the certificate")
                    ->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    auto* tree = app.add_option("--tree", treeFile, "Load the folder tree from a JSON file")
                     ->check(CLI::ExistingFile);
    auto* gen = app.add_option("--generate", generate,
                               "Generate a tree of N files over a few nested folders");
    tree->excludes(gen);
    app.add_option("--seed", seed, "Seed of the generated tree (default 1)");
    app.add_option("--folders", folders,
                   "Folders of the generated tree (0: every file in the root)")
        ->check(CLI::Range(0, 100000));
    app.add_option("--user", options.user, "User name of the account");
    app.add_option("--bdstoken", options.bdstoken, "The account's bdstoken (32 lower-case hex)")
        ->check([](const std::string& v) {
            return isHex32(v) ? std::string() : std::string("must be 32 lower-case hex digits");
        });
    app.add_option("--login-cookie", options.loginCookie,
                   "Value of the BDUSS login cookie that the login sets and the API requires")
        ->check([](const std::string& v) {
            return !v.empty() && v.find_first_of("; \t\r\n,") == std::string::npos
                       ? std::string()
                       : std::string("must be a non-empty cookie value");
        });
    app.add_option("--log", logFile, "Write the request log (JSON lines) to FILE; - for stderr");
    app.add_option("--fixed-time", fixedTime,
                   "Use these Unix seconds as the clock: the time of every share (ctime), "
                   "expiry, pages (default: the system clock)");
    app.add_option("--daily-limit", options.dailyLimit,
                   "Shares allowed before /share/set answers errno 110 (0: no limit)");
    app.add_option("--home-style", options.homeStyle,
                   "How the home page carries the tokens: mset, yundata, none, or main (today's "
                   "service: a redirect to /disk/main, a page without tokens)")
        ->check(CLI::IsMember({"mset", "yundata", "none", "main"}));
    app.add_option("--token-api", options.tokenApi,
                   "Which token requests answer: both, template (/api/gettemplatevariable), "
                   "loginstatus (/api/loginStatus) or none")
        ->check(CLI::IsMember({"both", "template", "loginstatus", "none"}));
    app.add_option("--list-page-cap", options.listPageCap,
                   "Most members of one /api/list page whatever num asks (0: no cap)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--passport", options.passport,
                   "URL a logged-out /disk/home redirects to (default: the login page /)");
    app.add_option("--empty-share-page", options.emptySharePage,
                   "How an empty /share/record page answers: list ({\"errno\":0,\"list\":[]}), "
                   "bare ({}) or object ({\"errno\":0,\"list\":{}})")
        ->check(CLI::IsMember({"list", "bare", "object"}));
    bool acceptDuplicateLogin = false;
    app.add_flag("--accept-duplicate-login", acceptDuplicateLogin,
                 "Take the first of a login cookie sent twice (default: such a request is "
                 "not logged in)");
    std::string pageScript = "old";
    app.add_option("--page-script", pageScript,
                   "old: the file page offers the old client's module loader; none: it does not")
        ->check(CLI::IsMember({"old", "none"}));
    std::string renameAsync;
    app.add_option("--rename-async", renameAsync,
                   "OUTCOME[:MS]: renames are only accepted, and end MS later (default 0) as "
                   "OUTCOME says: success, failed or never");
    app.add_option("--fault", faultRules,
                   "ENDPOINT:KIND[=VALUE][,after=N][,times=N][,fs_id=ID][,dir=PATH][,page=N] "
                   "(repeatable)");
    app.add_option("--share-errno", shareErrnos,
                   "FSID=ERRNO: /share/set refuses that item with ERRNO (repeatable)");
    app.add_option("--delay", delays, "ENDPOINT=MS: answer that endpoint after MS (repeatable)");
    app.add_flag("--quiet", quiet, "Print nothing on standard error at start");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end with 0; every usage error with 2.
        return app.exit(e) == 0 ? 0 : 2;
    }

    const auto fail = [](const std::string& message) {
        std::cerr << "netdisk-sim: " << message << "\n";
        return 2;
    };

    for (const std::string& text : faultRules) {
        std::string error;
        const auto rule = parseFaultText(text, error);
        if (!rule) {
            return fail("--fault " + text + ": " + error);
        }
        options.faults.push_back(*rule);
    }
    for (const std::string& item : shareErrnos) {
        const std::size_t eq = item.find('=');
        std::string error;
        const auto rule =
            eq == std::string::npos
                ? std::nullopt
                : parseFaultText(
                      "share:errno=" + item.substr(eq + 1) +
                          (item.substr(0, eq) == "*" ? "" : ",fs_id=" + item.substr(0, eq)),
                      error);
        if (!rule) {
            return fail("--share-errno " + item + ": expected FSID=ERRNO (FSID * for every item)");
        }
        options.faults.push_back(*rule);
    }
    for (const std::string& item : delays) {
        const std::size_t eq = item.find('=');
        std::string error;
        const auto rule =
            eq == std::string::npos
                ? std::nullopt
                : parseFaultText(item.substr(0, eq) + ":delay=" + item.substr(eq + 1), error);
        if (!rule) {
            return fail("--delay " + item + ": expected ENDPOINT=MS" +
                        (error.empty() ? std::string() : " (" + error + ")"));
        }
        options.faults.push_back(*rule);
    }
    if (fixedTime >= 0) {
        options.fixedTime = fixedTime;
    }
    options.rejectDuplicateLogin = !acceptDuplicateLogin;
    options.oldPageScript = pageScript == "old";
    if (!renameAsync.empty()) {
        const std::size_t colon = renameAsync.find(':');
        options.renameAsync.outcome = renameAsync.substr(0, colon);
        if (colon != std::string::npos) {
            const auto ms = parseInt64(renameAsync.substr(colon + 1));
            if (!ms || *ms < 0) {
                return fail("--rename-async " + renameAsync + ": MS must be a whole number");
            }
            options.renameAsync.delayMs = *ms;
        }
        if (options.renameAsync.outcome.empty() ||
            !Service::isValidRenameOutcome(options.renameAsync.outcome)) {
            return fail("--rename-async " + renameAsync +
                        ": expected success, failed or never, then :MS");
        }
    }

    if (!treeFile.empty()) {
        std::string text;
        if (!readFile(treeFile, text)) {
            return fail("cannot read " + treeFile);
        }
        std::string error;
        auto loaded = Tree::fromJson(text, error);
        if (!loaded) {
            return fail(treeFile + ": " + error);
        }
        options.makeTree = [loaded = std::move(*loaded)] {
            return loaded;
        };
    } else if (*gen) {
        options.makeTree = [generate, seed, folders] {
            return Tree::generate(generate, seed, folders);
        };
    } else {
        options.makeTree = [] {
            return Tree::makeDefault();
        };
    }

    RequestLog log;
    if (!logFile.empty()) {
        const std::string error = log.open(logFile);
        if (!error.empty()) {
            return fail(error);
        }
    }

    // Signals go to one waiting thread; every other thread keeps them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    SimHttpServer server;
    if (!certFile.empty()) {
        const std::string error = server.enableTls(certFile, keyFile);
        if (!error.empty()) {
            return fail(error);
        }
    }
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        std::cerr << "netdisk-sim: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    const std::string origin =
        std::string(server.tls() ? "https" : "http") + "://127.0.0.1:" + std::to_string(bound);
    const std::string loginCookie = options.loginCookie;
    Service service(std::move(options), log);
    service.install(server, origin);

    std::atomic<bool> listening{true};
    std::thread waiter([&server, &service, &listening, signals] {
        int received = 0;
        sigwait(&signals, &received);
        service.stop();
        server.beginShutdown();
        // A signal that comes before the accept loop runs must still end it.
        while (listening && !server.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        server.stop();
    });

    std::printf("%s\n", origin.c_str());
    std::fflush(stdout);
    if (!quiet) {
        std::fprintf(stderr, "netdisk-sim: %zu files in %zu folders at %s, login cookie BDUSS=%s\n",
                     service.fileCount(), service.folderCount(), origin.c_str(),
                     loginCookie.c_str());
    }

    server.listen_after_bind();
    listening = false;
    // When the loop ended without a signal, wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return 0;
}
