#include "cli_harness.h"

#include "netdisk/list_entry.h"
#include "sim_client.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ostream>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <set>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantorel::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (c == separator) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(c);
        }
    }
    pieces.push_back(piece);
    return pieces;
}

// A value as the client's JSON reader gives it as text.
std::string jsText(const rapidjson::Value* value) {
    if (value == nullptr || value->IsNull())
        return {};
    if (value->IsString())
        return {value->GetString(), value->GetStringLength()};
    if (value->IsBool())
        return value->GetBool() ? "true" : "false";
    if (value->IsUint64())
        return std::to_string(value->GetUint64());
    if (value->IsInt64())
        return std::to_string(value->GetInt64());
    if (value->IsObject())
        return "[object Object]";
    return "?";
}

const rapidjson::Value* member(const rapidjson::Value& object, const char* key) {
    if (!object.IsObject())
        return nullptr;
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

} // namespace

// --- the process -----------------------------------------------------------

std::string CliProcess::binaryPath() {
    if (const char* env = std::getenv("VANTOREL_CLI"); env != nullptr && *env != '\0')
        return env;
    return VANTOREL_CLI_PATH;
}

CliProcess::CliProcess(std::vector<std::string> args, EnvList env, std::string input) {
    args.insert(args.begin(), binaryPath());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "VANTOREL_", 9) != 0)
            envText.emplace_back(*e);
    }
    for (const auto& [name, value] : env)
        envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    writeFile(dir_.file("in"), input);
    const std::string inPath = dir_.file("in");
    const std::string outPath = dir_.file("out");
    const std::string errPath = dir_.file("err");
    const int in = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0 || err < 0) {
        for (int fd : {in, out, err})
            if (fd >= 0)
                ::close(fd);
        return;
    }

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(126);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // As from a terminal: a test started in the background inherits
        // SIGINT ignored, and the program rightly keeps it ignored.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    pid_ = pid;
}

CliProcess::~CliProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

bool CliProcess::running() {
    if (pid_ <= 0 || reaped_)
        return false;
    const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
        reaped_ = true;
        return false;
    }
    return true;
}

void CliProcess::sendSignal(int signal) {
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

CliResult CliProcess::wait(std::chrono::milliseconds timeout) {
    CliResult result;
    if (pid_ <= 0) {
        result.err = "vantorel-cli could not be started";
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    while (running()) {
        if (Clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status_))
        result.exitCode = WEXITSTATUS(status_);
    else if (WIFSIGNALED(status_))
        result.signal = WTERMSIG(status_);
    result.out = readFile(dir_.file("out"));
    result.err = readFile(dir_.file("err"));
    return result;
}

std::string CliProcess::outSoFar() const {
    return readFile(dir_.file("out"));
}

CliResult runCli(std::vector<std::string> args, EnvList env, std::string input,
                 std::chrono::milliseconds timeout) {
    CliProcess process(std::move(args), std::move(env), std::move(input));
    return process.wait(timeout);
}

std::string describe(const CliResult& result) {
    std::string text = result.timedOut ? "timed out"
                       : result.signal ? "signal " + std::to_string(result.signal)
                                       : "exit " + std::to_string(result.exitCode);
    return text + "\n--- stdout ---\n" + result.out + "--- stderr ---\n" + result.err;
}

std::vector<OutputLine> parseShareOutput(const std::string& out) {
    std::vector<OutputLine> lines;
    for (const std::string& line : splitAt(out, '\n')) {
        if (line.empty())
            continue;
        const auto fields = splitAt(line, '\t');
        OutputLine parsed;
        parsed.kind = fields[0];
        if (fields.size() > 1)
            parsed.path = fields[1];
        if (parsed.kind == "shared" && fields.size() > 3) {
            parsed.link = fields[2];
            parsed.code = fields[3];
        } else if (parsed.kind == "failed" && fields.size() > 2) {
            parsed.errnoText = fields[2];
        } else if (parsed.kind == "pending" && fields.size() > 2) {
            parsed.reason = fields[2];
        }
        lines.push_back(std::move(parsed));
    }
    return lines;
}

// --- the ledger ------------------------------------------------------------

bool LedgerRow::operator==(const LedgerRow& o) const {
    return isdir == o.isdir && path == o.path && beforename == o.beforename &&
           aftername == o.aftername && sharelink == o.sharelink && password == o.password &&
           sharetime == o.sharetime && size == o.size && md5 == o.md5 && pic == o.pic &&
           fid == o.fid && username == o.username && other == o.other &&
           nullColumns == o.nullColumns;
}

void PrintTo(const LedgerRow& r, std::ostream* os) {
    *os << "{id " << r.id << " | " << r.isdir << " | " << r.path << " | " << r.beforename << " | "
        << r.aftername << " | " << r.sharelink << " | " << r.password << " | " << r.sharetime
        << " | " << r.size << " | " << r.md5 << " | " << r.pic << " | " << r.fid << " | "
        << r.username << " | " << r.other;
    if (r.nullColumns > 0)
        *os << " | " << r.nullColumns << " NULL";
    *os << "}";
}

LedgerRead readLedger(const std::string& file) {
    LedgerRead read;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        read.error = db != nullptr ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return read;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* statement = nullptr;
    const char* sql = "SELECT id, isdir, path, beforename, aftername, sharelink, password, "
                      "sharetime, size, MD5, pic, fid, username, other FROM linkledger_table "
                      "ORDER BY id";
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        read.error = sqlite3_errmsg(db);
        sqlite3_stmt* tables = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &tables, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(tables) == SQLITE_ROW && sqlite3_column_int(tables, 0) == 0) {
            read.empty = true;
            read.error.clear();
        }
        sqlite3_finalize(tables);
        sqlite3_close(db);
        return read;
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        LedgerRow row;
        row.id = sqlite3_column_int64(statement, 0);
        std::string* columns[] = {&row.isdir,     &row.path,     &row.beforename, &row.aftername,
                                  &row.sharelink, &row.password, &row.sharetime,  &row.size,
                                  &row.md5,       &row.pic,      &row.fid,        &row.username,
                                  &row.other};
        for (int c = 0; c < 13; ++c) {
            if (sqlite3_column_type(statement, c + 1) == SQLITE_NULL) {
                ++row.nullColumns;
                continue;
            }
            const auto* text = sqlite3_column_text(statement, c + 1);
            const int size = sqlite3_column_bytes(statement, c + 1);
            columns[c]->assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
        }
        read.rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE)
        read.error = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return read;
}

std::string integrityCheck(const std::string& file) {
    sqlite3* db = nullptr;
    // Read-write, as the next run opens it: a journal left by a killed
    // writer is rolled back first.
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string error = db != nullptr ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return error;
    }
    sqlite3_busy_timeout(db, 10000);
    std::string answer;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            if (!answer.empty())
                answer += "; ";
            answer += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
    } else {
        answer = sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return answer;
}

// --- the simulator ---------------------------------------------------------

std::string queryEncode(const std::string& text) {
    constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

std::string jsonQuote(const std::string& text) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    return {buffer.GetString(), buffer.GetSize()};
}

std::vector<ListedMember> fetchListing(const SimProcess& sim, const std::string& folder) {
    auto client = makeSimClient(sim);
    const std::string target =
        "/api/list?order=time&desc=1&page=1&num=100000&dir=" + queryEncode(folder) +
        "&bdstoken=" + SimProcess::kBdstoken;
    const auto res = client->Get(target.c_str(), simLoginHeaders());
    std::vector<ListedMember> members;
    if (!res || res->status != 200)
        return members;
    rapidjson::Document doc;
    doc.Parse(res->body.c_str(), res->body.size());
    const rapidjson::Value* list = doc.HasParseError() ? nullptr : member(doc, "list");
    if (list == nullptr || !list->IsArray())
        return members;
    for (const auto& m : list->GetArray()) {
        ListedMember entry;
        entry.isdir = jsText(member(m, "isdir"));
        entry.path = jsText(member(m, "path"));
        entry.name = jsText(member(m, "server_filename"));
        entry.fsId = jsText(member(m, "fs_id"));
        entry.md5 = jsText(member(m, "md5"));
        entry.size = jsText(member(m, "size"));
        if (const auto* thumbs = member(m, "thumbs"))
            entry.thumbsUrl3 = jsText(member(*thumbs, "url3"));
        members.push_back(std::move(entry));
    }
    return members;
}

SimState fetchSimState(const SimProcess& sim) {
    auto client = makeSimClient(sim);
    SimState state;
    const auto res = client->Get("/__sim/state");
    if (!res || res->status != 200)
        return state;
    state.raw = res->body;
    rapidjson::Document doc;
    doc.Parse(res->body.c_str(), res->body.size());
    if (doc.HasParseError() || !doc.IsObject())
        return state;
    state.user = jsText(member(doc, "user"));
    if (const auto* shares = member(doc, "shares"); shares != nullptr && shares->IsArray()) {
        for (const auto& s : shares->GetArray()) {
            SimShare share;
            if (const auto* ids = member(s, "fs_ids"); ids != nullptr && ids->IsArray())
                for (const auto& id : ids->GetArray())
                    share.fsIds.push_back(jsText(&id));
            share.link = jsText(member(s, "link"));
            share.pwd = jsText(member(s, "pwd"));
            if (const auto* ctime = member(s, "ctime"); ctime != nullptr && ctime->IsInt64())
                share.ctime = ctime->GetInt64();
            state.shares.push_back(std::move(share));
        }
    }
    if (const auto* renames = member(doc, "renames"); renames != nullptr && renames->IsArray()) {
        for (const auto& r : renames->GetArray()) {
            SimRename rename;
            rename.path = jsText(member(r, "path"));
            rename.newname = jsText(member(r, "newname"));
            if (const auto* e = member(r, "errno"); e != nullptr && e->IsInt())
                rename.errnoValue = e->GetInt();
            state.renames.push_back(std::move(rename));
        }
    }
    if (const auto* faults = member(doc, "faults"); faults != nullptr && faults->IsArray()) {
        for (const auto& f : faults->GetArray()) {
            const auto* applied = member(f, "applied");
            state.faultsApplied.push_back(
                applied != nullptr && applied->IsInt64() ? applied->GetInt64() : -1);
        }
    }
    return state;
}

bool addSimFault(const SimProcess& sim, const std::string& json) {
    auto client = makeSimClient(sim);
    const auto res = client->Post("/__sim/fault", json, "application/json");
    return res && res->status == 200;
}

bool resetSim(const SimProcess& sim) {
    auto client = makeSimClient(sim);
    const auto res = client->Post("/__sim/reset", "", "application/json");
    return res && res->status == 200;
}

// --- the rows a run must write -------------------------------------------

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
    // What the lookup before each share finds: files by MD5, folders by fid.
    std::set<std::string> md5s;
    std::set<std::string> fids;
    for (const LedgerRow& row : prior) {
        md5s.insert(row.md5);
        fids.insert(row.fid);
    }
    ExpectedRun run;
    const auto pass = [&](SharePass kind) {
        for (const ListedMember& entry : listing) {
            if (!run.refusedBy.empty())
                return;
            if (entry.isdir != (kind == SharePass::File ? "0" : "1"))
                continue;
            const bool recorded =
                kind == SharePass::File ? md5s.count(entry.md5) > 0 : fids.count(entry.fsId) > 0;
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
            md5s.insert(row.md5);
            fids.insert(row.fid);
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
