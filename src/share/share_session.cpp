#include "share/share_session.h"

#include "base/codecs.h"
#include "base/time_text.h"
#include "netdisk/login_tokens.h"
#include "netdisk/netdisk_client.h"
#include "netdisk/page_text.h"
#include "records/record_store.h"
#include "records/share_record.h"
#include "settings/settings_form.h"

namespace vantorel {
namespace {

Error refusal(std::string message, StartRefusal code) {
    return Error{std::move(message), static_cast<int>(code)};
}

NetdiskApiFactory clientFactory(const ConnectionSettings& connection) {
    return [connection](LoginContext& login, std::stop_token stop) {
        return std::make_unique<NetdiskClient>(connection, login, std::move(stop));
    };
}

// The lock prepare() took, for the run to hold.
LedgerLock takeLock(PreparedShare& share) {
    return share.lock ? std::move(*share.lock) : LedgerLock();
}

} // namespace

ShareSession::ShareSession(SessionSettings settings, RecordStore& ledger, ShareObserver& observer)
    : settings_(std::move(settings)), ledger_(ledger),
      run_(ledger, observer, clientFactory(settings_.connection)) {}

Expected<ShareOptions> ShareSession::readOptions() const {
    const std::filesystem::path file = settingsFilePath(settings_.dataDir);
    Expected<SettingsForm> form = loadSettingsForm(file);
    if (!form) {
        // Defaults in place of the user's settings (another code, another
        // period) would share against their will.
        return refusal("无法读取设置文件 " + file.string() + "：" + form.error().message,
                       StartRefusal::SettingsUnreadable);
    }
    for (const std::string& assignment : settings_.overrides)
        if (Status applied = applySettingOverride(*form, assignment); !applied)
            return refusal(applied.error().message, StartRefusal::BadSettings);
    Expected<ShareOptions> options = collectShareOptions(*form);
    if (!options)
        return refusal(options.error().message, StartRefusal::BadSettings);
    return options;
}

Expected<PreparedShare> ShareSession::prepare(BrowserSource& browser, std::stop_token stop) {
    Expected<ShareOptions> options = readOptions();
    if (!options)
        return options.error();
    // Sharing without a ledger would share everything again and record
    // nothing.
    if (!ledger_.isOpen()) {
        if (Status opened = ledger_.openOrCreate(settings_.dataDir / kLedgerFileName); !opened)
            return refusal(std::string(kNoLedgerMessage) + opened.error().message,
                           StartRefusal::NoLedger);
    }

    // Two runs side by side would share the same items twice; the second
    // is turned away before it asks the service anything.
    Expected<LedgerLock> lock = lockLedger(ledger_);
    if (!lock && lock.error().code == static_cast<int>(LockFailure::InUse) && run_.running()) {
        // This session's own run, still writing its last: it lets go as it
        // ends.
        run_.wait();
        lock = lockLedger(ledger_);
    }
    if (!lock)
        return lockRefusal(lock.error());

    Status tokens;
    PreparedShare share;
    share.lock = std::make_shared<LedgerLock>(std::move(*lock));
    share.options = std::move(*options);
    share.login = gatherLoginContext(browser, settings_.connection, std::move(stop), &tokens);
    // A service that cannot be reached says nothing about the login; asking
    // the user to log in again would send them the wrong way.
    if (!tokens)
        return refusal(tokens.error().message, StartRefusal::ServiceUnreachable);
    if (share.login.bdstoken.empty())
        return refusal(std::string(kNotLoggedInMessage), StartRefusal::NotLoggedIn);

    const std::string& selection = share.login.selectionJson;
    if (selection != "[]" && !isSelectionArray(selection)) {
        share.folder = percentDecode(share.login.currentPath, true);
        share.selection = share.login.currentPath.empty() ? SelectionState::Unreadable
                                                          : SelectionState::FolderOnly;
    }
    return share;
}

void ShareSession::shareAddressFolder(PreparedShare& share) {
    share.login.selectionJson = "[]";
    share.selection = SelectionState::Readable;
}

Status ShareSession::start(PreparedShare share) {
    if (share.selection != SelectionState::Readable)
        return refusal(std::string(kSelectionUnreadableMessage), StartRefusal::SelectionUnreadable);
    return run_.start(std::move(share.login), std::move(share.options), takeLock(share));
}

Status ShareSession::startReshare(PreparedShare share, std::vector<ReshareItem> items) {
    return run_.startReshare(std::move(share.login), std::move(share.options), std::move(items),
                             takeLock(share));
}

Expected<SettleReport> ShareSession::settleIntents(PreparedShare& share, std::stop_token stop) {
    NetdiskClient client(settings_.connection, share.login, stop);
    const SettleOptions options{.clock = unixSecondsNow, .stop = stop};
    return settleShareIntents(ledger_, client, options);
}

} // namespace vantorel
