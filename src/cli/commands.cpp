#include "cli/commands.h"

#include "base/codecs.h"
#include "base/data_dir.h"
#include "base/http_request.h"
#include "base/json_document.h"
#include "base/service_origin.h"
#include "base/text.h"
#include "base/time_text.h"
#include "cli/cli_browser.h"
#include "cli/command_support.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/table_output.h"
#include "netdisk/cookie_file.h"
#include "netdisk/netdisk_client.h"
#include "netdisk/page_text.h"
#include "netdisk/service_headers.h"
#include "records/record_export.h"
#include "records/record_store.h"
#include "settings/settings_form.h"
#include "share/share_run.h"
#include "share/share_session.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <span>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantorel::cli {
// Shared with the other command files through command_support.h.

namespace fs = std::filesystem;

void report(std::string_view message) {
    std::fprintf(stderr, "vantorel-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

// Not logged in: the service's message, then the ways to give a login.
void reportNotLoggedIn(bool loginGiven) {
    report(kNotLoggedInMessage);
    report(std::string(loginGiven ? "the service does not take this login; give a fresh one"
                                  : "no login was given; give one") +
           " with --cookies TEXT, --cookie-file FILE (a cookies.txt export of a logged-in "
           "browser) or the VANTOREL_COOKIES environment variable");
}

Expected<fs::path> dataDirectory(const GlobalOptions& global) {
    return resolveDataDir(global.dataDir, global.argv0);
}

Expected<ConnectionSettings> connectionSettings(const GlobalOptions& global,
                                                const LoginOptions& login) {
    std::optional<std::string_view> originText;
    if (global.origin)
        originText = *global.origin;
    auto origin = resolveServiceOrigin(originText);
    if (!origin)
        return origin.error();
    std::optional<std::string_view> caText;
    if (global.caFile)
        caText = *global.caFile;
    auto caFile = resolveCaFile(caText);
    if (!caFile)
        return caFile.error();
    return ConnectionSettings{.origin = std::move(*origin),
                              .caFile = std::move(*caFile),
                              .timeoutSeconds = login.timeoutSeconds};
}

Expected<std::string> readWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Error{"cannot read " + file.string()};
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return Error{"cannot read " + file.string()};
    return content.str();
}

// The login is the user's; the text itself must never reach a message.
Expected<std::string> loginCookieText(const LoginOptions& login, const ServiceOrigin& origin) {
    if (login.cookies)
        return *login.cookies;
    if (login.cookieFile) {
#ifndef _WIN32
        struct stat info {};
        if (::stat(login.cookieFile->c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)))
            report("warning: " + login.cookieFile->string() +
                   " can be read by other users; it holds your login (chmod 600 it)");
#endif
        auto content = readWholeFile(*login.cookieFile);
        if (!content)
            return content.error();
        const std::int64_t now = unixSecondsNow();
        // A secure cookie is the browser's promise never to send it in clear.
        auto text =
            cookieTextFromFile(*content, origin.hostName(), now, origin.scheme() == "https");
        if (!text)
            return Error{login.cookieFile->string() + ": " + text.error().message};
        return text;
    }
    if (const char* env = std::getenv("VANTOREL_COOKIES"); env && *env)
        return std::string(env);
    return std::string();
}

Expected<std::string> loginCookies(const LoginOptions& login, const ServiceOrigin& origin) {
    auto text = loginCookieText(login, origin);
    if (text) {
        if (Status sized = checkCookieTextSize(*text); !sized)
            return sized.error();
    }
    return text;
}

Status openLedger(RecordStore& ledger, const fs::path& dir) {
    if (auto opened = ledger.openOrCreate(dir / kLedgerFileName); !opened)
        return Error{std::string(kNoLedgerMessage) + opened.error().message};
    return {};
}

int exitFor(const RunSummary& summary, const InterruptWatcher& interrupts) {
    if (interrupts.interrupted())
        return interrupts.exitStatus();
    switch (summary.end) {
    case RunEnd::Completed:
        return exit_status::completed;
    case RunEnd::QuotaReached:
        return exit_status::quota;
    case RunEnd::LedgerFailed:
        return exit_status::ledger;
    case RunEnd::ListingFailed:
    case RunEnd::SettleFailed:
        return exit_status::failure;
    case RunEnd::RunRefused:
        // A login the service no longer takes is the same news as no login.
        return summary.refusedErrno == -6 ? exit_status::notLoggedIn : exit_status::refused;
    case RunEnd::Stopped:
        return exit_status::interrupted;
    }
    return exit_status::failure;
}

std::vector<std::string> rowOf(const ShareRecord& r) {
    return {
        std::to_string(r.id), r.isdir, r.path, r.beforename, r.aftername, r.sharelink, r.password,
        r.sharetime,          r.size,  r.md5,  r.pic,        r.fid,       r.username};
}

RecordFilter filterOf(const RecordQuery& query) {
    RecordFilter filter;
    filter.link = query.failed   ? LinkState::Failed
                  : query.shared ? LinkState::Shared
                                 : LinkState::Any;
    filter.username = query.user;
    filter.nameContains = query.name;
    filter.sharedFrom = query.since;
    filter.sharedTo = query.until;
    return filter;
}

// Opens the ledger of the data directory for a records command; prints why
// not and gives the exit status when it cannot.
std::optional<int> openForRecords(const GlobalOptions& global, RecordStore& ledger) {
    auto dir = dataDirectory(global);
    if (!dir) {
        report(dir.error().message);
        return exit_status::ledger;
    }
    if (auto opened = openLedger(ledger, *dir); !opened) {
        report(opened.error().message);
        return exit_status::ledger;
    }
    return std::nullopt;
}

Expected<Table> queryTable(RecordStore& ledger, const RecordQuery& query) {
    auto rows = ledger.selectRecords(filterOf(query));
    if (!rows)
        return rows.error();
    Table table;
    table.columns.assign(listedColumns.begin(), listedColumns.end());
    table.numericColumns = {"id"};
    table.rows.reserve(rows->size());
    for (const ShareRecord& record : *rows)
        table.rows.push_back(rowOf(record));
    return table;
}

// The records that match `query`, or an error whose code is the exit status;
// the reason has been reported already.
Expected<Table> readRecords(const GlobalOptions& global, const RecordQuery& query) {
    RecordStore ledger;
    if (auto failed = openForRecords(global, ledger))
        return Error{{}, *failed};
    auto table = queryTable(ledger, query);
    if (!table) {
        report(table.error().message);
        return Error{table.error().message, exit_status::usage};
    }
    return table;
}

struct SelectionFile {
    std::string json; // the array as the file holds it
    int items = 0;
};

// The items of a --selection file: a JSON array of objects, as the file page
// lists them. Anything else is refused, for sharing something other than
// what the user picked (or everything, for an empty file) would be worse
// than sharing nothing.
Expected<SelectionFile> readSelectionFile(const fs::path& file) {
    auto content = readWholeFile(file);
    if (!content)
        return content.error();
    std::string_view text = *content;
    if (startsWith(text, "\xEF\xBB\xBF"))
        text.remove_prefix(3);
    while (!text.empty() && std::string_view(" \t\r\n").find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    JsonDocument items;
    if (!items.parse(text) || items.typeOf("") != JsonDocument::kTypeArray)
        return Error{file.string() + ": not a JSON array of items (as the file page lists them)"};
    const int count = items.count("");
    for (int i = 0; i < count; ++i) {
        if (items.typeOf("[" + std::to_string(i) + "]") != JsonDocument::kTypeObject)
            return Error{file.string() + ": item " + std::to_string(i + 1) +
                         " is not a JSON object (as the file page lists each item)"};
    }
    return SelectionFile{.json = std::string(text), .items = count};
}

// An explicit selection of nothing: the run that shares nothing, without a
// request to the service.
int shareNothing() {
    ConsoleObserver observer(stdout, stderr, false);
    observer.setProgressMaximum(0);
    observer.showMessage(kRunCompletedMessage, MessageIcon::Information, {});
    observer.runFinished({});
    return exit_status::completed;
}

// A record id as `records list` prints it: decimal digits and nothing else.
// "010" is ten, never eight; "0x10", "+1", "1e1" and blanks are refused, so
// that a delete never removes a record the user did not name.
Expected<std::int64_t> decimalRecordId(std::string_view text) {
    const Error refused{"not a record id: \"" + std::string(text) +
                        "\" (ids are decimal numbers, as records list prints them)"};
    if (text.empty() || text.size() > 19)
        return refused;
    std::int64_t id = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return refused;
        if (id > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10)
            return refused;
        id = id * 10 + (c - '0');
    }
    return id;
}

// What a share needs before anything is asked of the service: where the
// files are and how the service is reached. The error's code is the exit
// status.
Expected<SessionSettings> sessionSettings(const GlobalOptions& global,
                                          const ShareCommand& command) {
    auto dir = dataDirectory(global);
    if (!dir)
        return Error{dir.error().message, exit_status::ledger};
    auto connection = connectionSettings(global, command.login);
    if (!connection)
        return Error{connection.error().message, exit_status::usage};
    return SessionSettings{.dataDir = std::move(*dir),
                           .connection = std::move(*connection),
                           .overrides = command.overrides};
}

// The browser side of a command-line share: the login, the folder's
// address and the selection ("[]" for the folder). The error's code is the
// exit status.
Expected<CommandLineBrowser> commandLineBrowser(const ShareCommand& command,
                                                const ServiceOrigin& origin,
                                                std::string selection) {
    auto cookies = loginCookies(command.login, origin);
    if (!cookies)
        return Error{cookies.error().message, exit_status::usage};
    const std::string address = homePageUrl(origin) + "#/all?vmode=list&path=" +
                                percentEncodePath(command.path.value_or("/"));
    return CommandLineBrowser(std::move(*cookies), address, std::move(selection));
}

int exitForRefusal(const Error& refused, bool loginGiven) {
    switch (static_cast<StartRefusal>(refused.code)) {
    case StartRefusal::NotLoggedIn:
        reportNotLoggedIn(loginGiven);
        return exit_status::notLoggedIn;
    case StartRefusal::NoLedger:
        report(refused.message);
        return exit_status::ledger;
    case StartRefusal::LedgerInUse:
        report(refused.message);
        return exit_status::ledgerInUse;
    case StartRefusal::BadSettings:
    case StartRefusal::SettingsUnreadable:
    case StartRefusal::SelectionUnreadable:
        report(refused.message);
        return exit_status::usage;
    default:
        report(refused.message);
        return exit_status::failure;
    }
}

int runShare(const GlobalOptions& global, const ShareCommand& command) {
    // Cuts the login requests short on Ctrl-C, and stops the run; it
    // outlives the watcher, which may call into it until the watcher is gone.
    std::stop_source loginStop;
    InterruptWatcher interrupts; // before any thread starts, so all of them leave SIGINT to it

    auto settings = sessionSettings(global, command);
    if (!settings) {
        report(settings.error().message);
        return settings.error().code;
    }
    std::string selection = "[]";
    if (command.selectionFile) {
        auto read = readSelectionFile(*command.selectionFile);
        if (!read) {
            report(read.error().message);
            return exit_status::usage;
        }
        if (read->items == 0)
            return shareNothing();
        selection = std::move(read->json);
    }
    auto browser = commandLineBrowser(command, settings->connection.origin, std::move(selection));
    if (!browser) {
        report(browser.error().message);
        return browser.error().code;
    }

    RecordStore ledger;
    ConsoleObserver observer(stdout, stderr, isatty(STDERR_FILENO) != 0);
    ShareSession session(std::move(*settings), ledger, observer);
    interrupts.onInterrupt([&] {
        loginStop.request_stop();
        session.requestStop();
    });
    // Declared after the session, so the watcher lets go of it before it is gone.
    struct Release {
        InterruptWatcher& watcher;
        ~Release() { watcher.onInterrupt({}); }
    } release{interrupts};

    auto prepared = session.prepare(*browser, loginStop.get_token());
    if (interrupts.interrupted())
        return interrupts.exitStatus();
    if (!prepared)
        return exitForRefusal(prepared.error(), browser->loginGiven());
    if (Status started = session.start(std::move(*prepared)); !started)
        return exitForRefusal(started.error(), browser->loginGiven());
    // An interrupt that came before the run had a worker reached nothing.
    if (interrupts.interrupted())
        session.requestStop();
    session.wait();
    return exitFor(session.summary(), interrupts);
}

int runWhoami(const GlobalOptions& global, const LoginOptions& login) {
    auto connection = connectionSettings(global, login);
    if (!connection) {
        report(connection.error().message);
        return exit_status::usage;
    }
    auto cookies = loginCookies(login, connection->origin);
    if (!cookies) {
        report(cookies.error().message);
        return exit_status::usage;
    }
    const bool loginGiven = !cookies->empty(); // the request adds the service's own cookies
    const HomePageTokens tokens = fetchHomePageTokens(*connection, *cookies);
    if (!tokens.fetched) {
        report(tokens.fetched.error().message);
        return exit_status::failure;
    }
    if (tokens.bdstoken.empty()) {
        reportNotLoggedIn(loginGiven);
        return exit_status::notLoggedIn;
    }
    std::printf("%s\n", tokens.userName.c_str());
    return exit_status::completed;
}

int runRecordsList(const GlobalOptions& global, const RecordQuery& query,
                   const std::string& format) {
    auto table = readRecords(global, query);
    if (!table)
        return table.error().code;
    const TableFormat f = format == "csv"    ? TableFormat::Csv
                          : format == "json" ? TableFormat::Json
                                             : TableFormat::Tsv;
    // Names come from the service: on a terminal, none may send it escape
    // sequences.
    writeTable(std::cout, *table, f, isatty(STDOUT_FILENO) != 0);
    std::cout.flush();
    return std::cout ? exit_status::completed : exit_status::failure;
}

int runRecordsExport(const GlobalOptions& global, const RecordQuery& query, const fs::path& file,
                     const std::string& format, const std::string& columns) {
    std::vector<std::size_t> picked;
    for (const std::string& name : splitText(columns, ",")) {
        const std::string_view wanted = trimBlanks(name);
        std::size_t at = 0;
        while (at < listedColumns.size() && !equalsIgnoreCase(listedColumns[at], wanted))
            ++at;
        if (at == listedColumns.size()) {
            report("unknown column: " + std::string(wanted));
            return exit_status::usage;
        }
        picked.push_back(at);
    }
    if (picked.empty())
        for (std::size_t at = 0; at < listedColumns.size(); ++at)
            picked.push_back(at);
    const bool text = format == "txt" || (format.empty() && file.extension() == ".txt");

    // The ledger and set.ini are what the user keeps; an export must never
    // land on them, whatever the file is called on the command line.
    auto dir = dataDirectory(global);
    if (!dir) {
        report(dir.error().message);
        return exit_status::ledger;
    }
    const auto kept = exportProtectedFiles(*dir / kLedgerFileName, settingsFilePath(*dir));
    if (auto allowed = checkExportTarget(file, kept); !allowed) {
        report(allowed.error().message);
        return exit_status::usage;
    }

    auto table = readRecords(global, query);
    if (!table)
        return table.error().code;
    ExportTable exported{.rowCount = table->rows.size(),
                         .cell = [&](std::size_t row, std::size_t column) -> std::string_view {
                             return table->rows[row][picked[column]];
                         },
                         .header = !text};
    for (std::size_t c : picked)
        exported.headers.push_back(table->columns[c]);
    auto written =
        writeExportFile(file, exported, text ? ExportFormat::Tsv : ExportFormat::Csv, kept);
    if (!written) {
        report(written.error().message);
        return written.error().code == static_cast<int>(ExportFailure::ProtectedFile)
                   ? exit_status::usage
                   : exit_status::failure;
    }
    std::fprintf(stderr, "%zu records written to %s\n", *written, file.string().c_str());
    return exit_status::completed;
}

int runRecordsDelete(const GlobalOptions& global, const std::vector<std::string>& idTexts) {
    std::vector<std::int64_t> ids;
    for (const std::string& text : idTexts) {
        auto id = decimalRecordId(text);
        if (!id) {
            report(id.error().message);
            return exit_status::usage;
        }
        ids.push_back(*id);
    }
    RecordStore ledger;
    if (auto failed = openForRecords(global, ledger))
        return *failed;
    auto deleted = ledger.deleteByIds(ids);
    if (!deleted) {
        report(deleted.error().message);
        return exit_status::ledger;
    }
    std::printf("%zu\n", *deleted);
    return exit_status::completed;
}

int runRecordsClear(const GlobalOptions& global, const std::optional<std::string>& confirm) {
    constexpr std::string_view word = "删除所有分享记录";
    std::string answer;
    if (confirm) {
        answer = *confirm;
    } else {
        std::fprintf(stderr, "确定,删除所有分享记录吗? 确定删除,请输入 \"%.*s\"\n",
                     static_cast<int>(word.size()), word.data());
        std::getline(std::cin, answer);
        if (!answer.empty() && answer.back() == '\r')
            answer.pop_back();
    }
    if (answer != word) {
        report("the confirmation word did not match; nothing was deleted");
        return exit_status::usage;
    }
    RecordStore ledger;
    if (auto failed = openForRecords(global, ledger))
        return *failed;
    if (auto cleared = ledger.deleteAll(); !cleared) {
        report(cleared.error().message);
        return exit_status::ledger;
    }
    std::printf("删除成功\n");
    return exit_status::completed;
}

namespace {

std::string onOff(bool on) {
    return on ? "开" : "关";
}

// What the value of `key` in `form` does, in words.
std::string settingMeaning(std::string_view key, const SettingsForm& form,
                           const Expected<ShareOptions>& collected) {
    const ShareOptions options = collected ? *collected : ShareOptions{};
    const auto item = [](auto items, int index) {
        return std::string(index >= 0 && static_cast<std::size_t>(index) < items.size()
                               ? items[static_cast<std::size_t>(index)]
                               : items[0]);
    };
    const auto quoted = [](const std::string& text) {
        return "\"" + text + "\"";
    };
    if (key == "time")
        return "每项之后暂停 " + std::to_string(options.intervalSeconds) + " 秒";
    if (key == "password")
        return form.password.empty() ? "提取码: 每次分享随机生成"
               : collected           ? "固定提取码 " + form.password
                           : "固定提取码 " + form.password + ", 无效: " + collected.error().message;
    if (key == "type")
        return form.shareByType ? "按文件类型分享 (保留, 未使用)" : "按深度及类型分享";
    if (key == "ShareType")
        return item(kShareTypeItems, form.shareTypeIndex);
    if (key == "ShareTimeLong")
        return "分享" + item(kPeriodItems, form.periodIndex);
    if (key == "BeforWord")
        return "关键字替换: 把 " + quoted(form.keywordBefore);
    if (key == "AfterWord")
        return "关键字替换: 换成 " + quoted(form.keywordAfter);
    if (key == "BeforZhui")
        return "前缀文字 " + quoted(form.namePrefix);
    if (key == "AfterZhui")
        return "后缀文字 " + quoted(form.nameSuffix);
    if (key == "ShareNumber")
        return options.dailyLimit <= 0 ? "每日分享数量: 不限制 (到百度的上限为止)"
                                       : "每日分享数量: " + std::to_string(options.dailyLimit);
    if (key == "AfterContents")
        return "类型分享的自定义后缀 (保留, 未使用)";
    if (key == "isPassWord")
        return "加密文件名 (随机名称, 保留扩展名): " + onOff(form.encryptName);
    if (key == "KeyWord")
        return "关键字替换: " + onOff(form.replaceKeyword);
    if (key == "befor")
        return "加前缀: " + onOff(form.addPrefix);
    if (key == "after")
        return "加后缀: " + onOff(form.addSuffix);
    return {};
}

// How names change before sharing, all switches taken together.
std::string renameMeaning(const ShareOptions& options) {
    switch (options.renameMode) {
    case RenameMode::RandomName:
        return "随机文件名 (保留扩展名)";
    case RenameMode::ReplaceKeyword:
        return "把 \"" + options.keywordBefore + "\" 换成 \"" + options.keywordAfter + "\"";
    case RenameMode::AddPrefix:
        return "名称前加 \"" + options.namePrefix + "\"";
    case RenameMode::AddSuffix:
        return "名称后加 \"" + options.nameSuffix + "\"";
    case RenameMode::AddPrefixAndSuffix:
        return "名称前加 \"" + options.namePrefix + "\", 名称后加 \"" + options.nameSuffix + "\"";
    default:
        return "不改名";
    }
}

} // namespace

int runSettingsShow(const GlobalOptions& global) {
    auto dir = dataDirectory(global);
    if (!dir) {
        report(dir.error().message);
        return exit_status::ledger;
    }
    const fs::path file = settingsFilePath(*dir);
    auto form = loadSettingsForm(file);
    if (!form) {
        report(form.error().message);
        return exit_status::usage;
    }
    auto options = collectShareOptions(*form);
    std::printf("file: %s%s\n", file.string().c_str(),
                fs::exists(file) ? "" : " (not yet written)");
    // Each key as set.ini holds it, then what it does.
    for (const auto& [key, value] : settingsEntries(*form)) {
        std::printf("%.*s=%s  %s\n", static_cast<int>(key.size()), key.data(), value.c_str(),
                    settingMeaning(key, *form, options).c_str());
    }
    if (!options) {
        report(options.error().message);
        return exit_status::usage;
    }
    std::printf("\n分享之前文件名: %s\n", renameMeaning(*options).c_str());
    return exit_status::completed;
}

int runSettingsSet(const GlobalOptions& global, const std::string& key, const std::string& value) {
    auto dir = dataDirectory(global);
    if (!dir) {
        report(dir.error().message);
        return exit_status::ledger;
    }
    // A code that every share would refuse is not stored: the mistake shows
    // now rather than at the next run.
    SettingsForm probe;
    if (setFormValue(probe, key, value)) {
        if (auto options = collectShareOptions(probe); !options) {
            report(options.error().message);
            return exit_status::usage;
        }
    }
    if (auto written = setSettingsKey(settingsFilePath(*dir), key, value); !written) {
        report(written.error().message);
        return exit_status::usage;
    }
    return exit_status::completed;
}

} // namespace vantorel::cli
