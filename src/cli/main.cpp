// vantorel-cli: the share engine without a window, for servers, scripts and
// schedules. The login comes as a cookie text.

#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>

using namespace vantorel::cli;

namespace {

void addLoginOptions(CLI::App& command, LoginOptions& login) {
    auto* cookies = command.add_option(
        "--cookies", login.cookies,
        "Login cookie text (name=value joined by \"; \"); default: $VANTOREL_COOKIES");
    auto* file = command
                     .add_option("--cookie-file", login.cookieFile,
                                 "File holding a cookie text or a Netscape cookies.txt export")
                     ->check(CLI::ExistingFile);
    cookies->excludes(file);
    command
        .add_option("--timeout", login.timeoutSeconds,
                    "Seconds one request to the service may take before it is given up "
                    "(default 15)")
        ->check(CLI::Range(1, 86400));
}

void addFilterOptions(CLI::App& command, RecordQuery& query) {
    auto* failed = command.add_flag("--failed", query.failed, "Only failed attempts");
    auto* shared = command.add_flag("--shared", query.shared, "Only shared items");
    failed->excludes(shared);
    command.add_option("--user", query.user, "Only records of this netdisk user");
    command.add_option("--name", query.name, "Original or new name contains TEXT");
    command.add_option("--since", query.since, "Shared on or after YYYY-MM-DD");
    command.add_option("--until", query.until, "Shared on or before YYYY-MM-DD");
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");

    CLI::App app{"Vantorel: create Baidu Netdisk share links in bulk and keep a ledger of them",
                 "vantorel-cli"};
    app.set_version_flag("--version", "vantorel-cli " VANTOREL_VERSION);
    app.require_subcommand(1);
    app.fallthrough();

    GlobalOptions global;
    global.argv0 = argc > 0 ? argv[0] : nullptr;
    app.add_option("--data-dir", global.dataDir,
                   "Where linkledger.db and set.ini live (env VANTOREL_DATA_DIR)");
    app.add_option("--origin", global.origin,
                   "Service origin (env VANTOREL_ORIGIN), default https://pan.baidu.com");
    app.add_option("--ca-file", global.caFile, "Extra CA certificates, PEM (env VANTOREL_CA_FILE)");

    int status = exit_status::completed;

    ShareCommand share;
    auto* shareCmd = app.add_subcommand("share", "Share a folder or a selection of items");
    addLoginOptions(*shareCmd, share.login);
    auto* path =
        shareCmd->add_option("--path", share.path, "Netdisk folder to share, e.g. /docs/2021");
    auto* selection = shareCmd
                          ->add_option("--selection", share.selectionFile,
                                       "File holding a JSON array of selected items")
                          ->check(CLI::ExistingFile);
    path->excludes(selection);
    shareCmd->add_option("--set", share.overrides,
                         "Override one set.ini key for this run: KEY=VALUE (repeatable)");
    shareCmd->callback([&] {
        if (!share.path && !share.selectionFile)
            throw CLI::RequiredError("--path or --selection");
        status = runShare(global, share);
    });

    LoginOptions whoamiLogin;
    auto* whoami = app.add_subcommand("whoami", "Print the netdisk user name of the login");
    addLoginOptions(*whoami, whoamiLogin);
    whoami->callback([&] { status = runWhoami(global, whoamiLogin); });

    auto* records = app.add_subcommand("records", "List, export and delete ledger records");
    records->require_subcommand(1);

    RecordQuery listQuery;
    std::string listFormat = "tsv";
    auto* list = records->add_subcommand("list", "Print the ledger's records in id order");
    list->add_option("--format", listFormat, "tsv (default), csv or json")
        ->check(CLI::IsMember({"tsv", "csv", "json"}));
    addFilterOptions(*list, listQuery);
    list->callback([&] { status = runRecordsList(global, listQuery, listFormat); });

    RecordQuery exportQuery;
    std::string exportFile;
    std::string exportFormat;
    std::string exportColumns;
    auto* exportCmd = records->add_subcommand("export", "Write records to a CSV or text file");
    exportCmd->add_option("FILE", exportFile, "File to write")->required();
    exportCmd->add_option("--format", exportFormat, "csv (default) or txt")
        ->check(CLI::IsMember({"csv", "txt"}));
    exportCmd->add_option("--columns", exportColumns, "Columns to write, e.g. id,path,sharelink");
    addFilterOptions(*exportCmd, exportQuery);
    exportCmd->callback([&] {
        status = runRecordsExport(global, exportQuery, exportFile, exportFormat, exportColumns);
    });

    // Read as text: CLI11 would take "010" as octal and "0x10" as hexadecimal.
    std::vector<std::string> deleteIds;
    auto* deleteCmd = records->add_subcommand("delete", "Delete records by id");
    deleteCmd->add_option("ID", deleteIds, "Record ids")->required();
    deleteCmd->callback([&] { status = runRecordsDelete(global, deleteIds); });

    std::optional<std::string> confirm;
    auto* clear = records->add_subcommand("clear", "Delete every record and restart ids at 1");
    clear->add_option("--confirm", confirm, "The confirmation word, instead of asking for it");
    clear->callback([&] { status = runRecordsClear(global, confirm); });

    auto* shares = app.add_subcommand(
        "shares", "The ledger's shares on the service: sync, list, cancel, share afresh");
    shares->require_subcommand(1);

    LoginOptions syncLogin;
    auto* sync = shares->add_subcommand(
        "sync", "Read the account's share list and store each record's state");
    addLoginOptions(*sync, syncLogin);
    sync->callback([&] { status = runSharesSync(global, syncLogin); });

    std::optional<std::string> listState;
    std::string sharesFormat = "tsv";
    auto* sharesList =
        shares->add_subcommand("list", "Print the shared records with their last synced state");
    sharesList->add_option("--state", listState, "Only records in this state")
        ->check(CLI::IsMember({"active", "expired", "blocked", "gone"}));
    sharesList->add_option("--format", sharesFormat, "tsv (default), csv or json")
        ->check(CLI::IsMember({"tsv", "csv", "json"}));
    sharesList->callback([&] { status = runSharesList(global, listState, sharesFormat); });

    LoginOptions cancelLogin;
    std::vector<std::string> cancelIds;
    bool cancelExpired = false;
    bool cancelYes = false;
    auto* cancel = shares->add_subcommand("cancel", "Cancel the shares of these records");
    addLoginOptions(*cancel, cancelLogin);
    cancel->add_option("ID", cancelIds, "Record ids");
    cancel->add_flag("--expired", cancelExpired, "Every record whose share has expired");
    cancel->add_flag("--yes", cancelYes, "Do not ask for confirmation");
    cancel->callback([&] {
        status = runSharesCancel(global, cancelLogin, cancelIds, cancelExpired, cancelYes);
    });

    LoginOptions reshareLogin;
    std::vector<std::string> reshareIds;
    bool reshareExpired = false;
    bool reshareGone = false;
    auto* reshare = shares->add_subcommand(
        "reshare", "Share these records' items afresh (expired, blocked or gone links)");
    addLoginOptions(*reshare, reshareLogin);
    reshare->add_option("ID", reshareIds, "Record ids");
    reshare->add_flag("--expired", reshareExpired, "Every record whose share has expired");
    reshare->add_flag("--gone", reshareGone, "Every record whose share is gone");
    reshare->callback([&] {
        status = runSharesReshare(global, reshareLogin, reshareIds, reshareExpired, reshareGone);
    });

    auto* settings = app.add_subcommand("settings", "Show or change the share settings");
    settings->require_subcommand(1);
    settings->add_subcommand("show", "Print set.ini's path, its keys and the effective options")
        ->callback([&] { status = runSettingsShow(global); });
    std::string key;
    std::string value;
    auto* set = settings->add_subcommand("set", "Write one key of set.ini");
    set->add_option("KEY", key, "A set.ini key, e.g. time")->required();
    set->add_option("VALUE", value, "Its new value")->required();
    set->callback([&] { status = runSettingsSet(global, key, value); });

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::RequiredError& e) {
        // A mistyped command word leaves a command missing, which is checked
        // first; the word itself is what the user needs to see.
        if (auto words = app.remaining(true); !words.empty())
            app.exit(CLI::ExtrasError(words));
        else
            app.exit(e);
        return exit_status::usage;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return exit_status::usage;
    }
    return status;
}
