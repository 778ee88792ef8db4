// The intent journal beside the ledger's table, and the lock that keeps two
// share runs off one ledger.

#include "ledger_file.h"
#include "records/ledger_lock.h"
#include "records/record_store.h"
#include "run_process.h"
#include "temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vantorel;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

using vantorel::test::LedgerDb;
using vantorel::test::TempDir;

ShareIntent intentFor(const std::string& fid, std::int64_t time) {
    ShareIntent intent;
    intent.fid = fid;
    intent.isdir = "0";
    intent.path = "/歌/song " + fid + ".mp3";
    intent.name = "song " + fid + ".mp3";
    intent.md5 = "0123456789abcdef0123456789abcd" + fid.substr(0, 2);
    intent.size = "3.2M";
    intent.pic = "";
    intent.username = "alice";
    intent.code = "ab1" + fid.substr(0, 1);
    intent.period = "7";
    intent.time = time;
    return intent;
}

ShareRecord rowFor(const ShareIntent& intent) {
    ShareRecord row;
    row.isdir = intent.isdir;
    row.path = intent.path;
    row.beforename = intent.name;
    row.sharelink = "https://pan.example/s/1" + intent.fid;
    row.password = intent.code;
    row.sharetime = "2026-12-10 12:00:00";
    row.fid = intent.fid;
    row.username = intent.username;
    return row;
}

// Permissions bind everyone but root: a test run as root does the part that
// must be refused as the unprivileged user nobody, in folders made theirs.
class AsUnprivileged {
public:
    explicit AsUnprivileged(const fs::path& dir) {
        if (::geteuid() != 0)
            return;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            (void)!::chown(entry.path().c_str(), kNobody, kNobody);
        (void)!::chown(dir.c_str(), kNobody, kNobody);
        switched_ = ::seteuid(kNobody) == 0;
    }
    ~AsUnprivileged() {
        if (switched_)
            (void)!::seteuid(0);
    }
    AsUnprivileged(const AsUnprivileged&) = delete;
    AsUnprivileged& operator=(const AsUnprivileged&) = delete;

private:
    static constexpr uid_t kNobody = 65534;
    bool switched_ = false;
};

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = fs::path(dir_.path()) / "linkledger.db";
        const Status opened = store_.openOrCreate(file_);
        ASSERT_TRUE(opened) << opened.error().message;
    }

    std::vector<ShareIntent> intents() {
        auto read = store_.intents();
        EXPECT_TRUE(read) << read.error().message;
        return read ? *read : std::vector<ShareIntent>{};
    }

    TempDir dir_;
    fs::path file_;
    RecordStore store_;
};

TEST_F(JournalTest, ALedgerWithoutIntentsHasNoJournalTable) {
    EXPECT_TRUE(intents().empty());
    LedgerDb db(file_, LedgerDb::Open::ExistingOnly);
    EXPECT_TRUE(db.rows("SELECT name FROM sqlite_master WHERE name='linkledger_intent';").empty());
}

TEST_F(JournalTest, IntentsReadBackOldestFirstAndRenamingKeepsTheShare) {
    const ShareIntent later = intentFor("200", 1800000100);
    const ShareIntent earlier = intentFor("100", 1800000000);
    ASSERT_TRUE(store_.writeIntent(later));
    ASSERT_TRUE(store_.writeIntent(earlier));
    ASSERT_TRUE(store_.markRenaming("200", "新_song 200.mp3", "https://pan.example/s/1x",
                                    "2026-12-10 12:00:00"));

    ShareIntent renaming = later;
    renaming.stage = IntentStage::Renaming;
    renaming.newName = "新_song 200.mp3";
    renaming.link = "https://pan.example/s/1x";
    renaming.shareTime = "2026-12-10 12:00:00";
    EXPECT_EQ(intents(), (std::vector<ShareIntent>{earlier, renaming}));
    // The ledger's own table is as it was.
    EXPECT_TRUE(store_.selectRecords({})->empty());
}

TEST_F(JournalTest, TheRowAndTheIntentsRemovalAreOneChange) {
    const ShareIntent intent = intentFor("300", 1800000000);
    ASSERT_TRUE(store_.writeIntent(intent));
    // A row that cannot go in (a trigger refuses it, as a full disk would)
    // leaves the intent in place.
    {
        LedgerDb db(file_, LedgerDb::Open::ExistingOnly);
        db.exec("CREATE TRIGGER refuse BEFORE INSERT ON linkledger_table "
                "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    }
    EXPECT_FALSE(store_.recordOutcome(rowFor(intent)));
    EXPECT_EQ(intents().size(), 1u);
    EXPECT_TRUE(store_.selectRecords({})->empty());

    {
        LedgerDb db(file_, LedgerDb::Open::ExistingOnly);
        db.exec("DROP TRIGGER refuse;");
    }
    const Status recorded = store_.recordOutcome(rowFor(intent));
    ASSERT_TRUE(recorded) << recorded.error().message;
    EXPECT_TRUE(intents().empty());
    ASSERT_EQ(store_.selectRecords({})->size(), 1u);
    EXPECT_TRUE(*store_.findByFid("300"));
}

TEST_F(JournalTest, DroppingAnIntentLeavesTheOthers) {
    ASSERT_TRUE(store_.writeIntent(intentFor("100", 1)));
    ASSERT_TRUE(store_.writeIntent(intentFor("200", 2)));
    ASSERT_TRUE(store_.dropIntent("100"));
    ASSERT_EQ(intents().size(), 1u);
    EXPECT_EQ(intents()[0].fid, "200");
}

TEST_F(JournalTest, IntentsOutliveTheConnection) {
    ASSERT_TRUE(store_.writeIntent(intentFor("100", 1)));
    ASSERT_TRUE(store_.close());
    RecordStore again;
    ASSERT_TRUE(again.openOrCreate(file_));
    auto read = again.intents();
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, (std::vector<ShareIntent>{intentFor("100", 1)}));
}

TEST_F(JournalTest, AWriterHoldingTheFileIsNamedAsTheReason) {
    LedgerDb other(file_, LedgerDb::Open::ExistingOnly);
    ASSERT_TRUE(other.exec("BEGIN IMMEDIATE;"));
    const Status written = store_.writeIntent(intentFor("100", 1));
    ASSERT_FALSE(written);
    EXPECT_THAT(written.error().message, HasSubstr(file_.string()));
    EXPECT_THAT(written.error().message, HasSubstr("another program is writing"));
    other.exec("ROLLBACK;");
}

TEST(JournalReadOnlyFolder, TheFolderIsNamedNotSqlitesOpenError) {
    TempDir dir;
    const fs::path folder = fs::path(dir.path()) / "data";
    fs::create_directory(folder);
    const fs::path file = folder / "linkledger.db";
    {
        RecordStore made;
        ASSERT_TRUE(made.openOrCreate(file));
    }
    ::chmod(folder.c_str(), 0555);
    Status written;
    {
        AsUnprivileged user(dir.path());
        RecordStore store;
        const Status opened = store.openOrCreate(file);
        written = opened;
        if (opened)
            written = store.writeIntent(intentFor("100", 1));
    }
    ::chmod(folder.c_str(), 0755);
    ASSERT_FALSE(written);
    EXPECT_THAT(written.error().message, HasSubstr("the folder '" + folder.string() + "'"));
    EXPECT_THAT(written.error().message, HasSubstr("Permission denied"));
    EXPECT_THAT(written.error().message, ::testing::Not(HasSubstr("unable to open")));
}

// --- the run lock -------------------------------------------------------------------

TEST(LedgerLock, ASecondLockIsRefusedUntilTheFirstGoes) {
    TempDir dir;
    const fs::path file = fs::path(dir.path()) / "linkledger.db";
    Expected<LedgerLock> first = LedgerLock::acquire(file);
    ASSERT_TRUE(first) << first.error().message;
    EXPECT_TRUE(first->held());
    EXPECT_TRUE(fs::exists(LedgerLock::lockFileOf(file)));

    const Expected<LedgerLock> second = LedgerLock::acquire(file);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().code, static_cast<int>(LockFailure::InUse));
    EXPECT_EQ(second.error().message, kLedgerInUseMessage);

    *first = LedgerLock();
    EXPECT_TRUE(LedgerLock::acquire(file));
}

TEST(LedgerLock, AKilledHolderLetsGo) {
    TempDir dir;
    const fs::path file = fs::path(dir.path()) / "linkledger.db";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Expected<LedgerLock> held = LedgerLock::acquire(file);
        const char byte = held ? '1' : '0';
        (void)!::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, '1');
    EXPECT_FALSE(LedgerLock::acquire(file));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(LedgerLock::acquire(file));
}

TEST(LedgerLock, AFolderThatCannotBeWrittenIsNamed) {
    TempDir dir;
    const fs::path folder = fs::path(dir.path()) / "data";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0555);
    const Expected<LedgerLock> lock = [&] {
        AsUnprivileged user(dir.path());
        return LedgerLock::acquire(folder / "linkledger.db");
    }();
    ::chmod(folder.c_str(), 0755);
    ASSERT_FALSE(lock);
    EXPECT_EQ(lock.error().code, static_cast<int>(LockFailure::Unwritable));
    EXPECT_THAT(lock.error().message, HasSubstr("the folder '" + folder.string() + "'"));
    EXPECT_THAT(lock.error().message, HasSubstr("Permission denied"));
}

} // namespace
