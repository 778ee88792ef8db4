#include "ledger_file.h"
#include "named_case.h"
#include "records/ledger_sql.h"
#include "records/record_store.h"
#include "temp_dir.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <tuple>

using namespace vantorel;
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using vantorel::test::CaseName;
using vantorel::test::LedgerDb;
using vantorel::test::PrintTo;
using vantorel::test::TempDir;

ShareRecord fileRecord(const std::string& name, const std::string& md5, const std::string& fid) {
    ShareRecord r;
    r.isdir = "0";
    r.path = "/videos/" + name;
    r.beforename = name;
    r.sharelink = "https://pan.example/s/" + fid;
    r.password = "ab12";
    r.sharetime = "2021-05-27 15:17:58";
    r.size = "1.5G";
    r.md5 = md5;
    r.pic = "https://thumbs.example/" + fid;
    r.fid = fid;
    r.username = "alice";
    return r;
}

ShareRecord failedFile(const std::string& name, const std::string& fid) {
    ShareRecord r;
    r.isdir = "0";
    r.path = "/videos/" + name;
    r.beforename = name;
    r.sharelink = std::string(kFailedLinkText);
    r.pic = "https://thumbs.example/" + fid;
    r.fid = fid;
    r.username = "alice";
    return r;
}

std::vector<std::int64_t> idsOf(const std::vector<ShareRecord>& rows) {
    std::vector<std::int64_t> ids;
    for (const auto& r : rows)
        ids.push_back(r.id);
    return ids;
}

class LedgerTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = fs::path(dir_.path()) / "linkledger.db";
        const Status opened = store_.openOrCreate(file_);
        ASSERT_TRUE(opened) << opened.error().message;
    }

    void insert(const ShareRecord& r) {
        const Status s = store_.insertRecord(r);
        ASSERT_TRUE(s) << s.error().message;
    }

    std::vector<ShareRecord> all(const RecordFilter& filter = {}) {
        auto rows = store_.selectRecords(filter);
        EXPECT_TRUE(rows) << rows.error().message;
        return rows ? *rows : std::vector<ShareRecord>{};
    }

    TempDir dir_;
    fs::path file_;
    RecordStore store_;
};

TEST_F(LedgerTest, NewFileHoldsExactlyTheLedgerSchema) {
    // SQLite keeps the create statement's text as written, save for the
    // leading keywords it spells in capitals and the final semicolon.
    const std::string table = "CREATE TABLE linkledger_table(\r\n"
                              "  id INTEGER PRIMARY KEY AUTOINCREMENT,\r\n"
                              "  isdir int,\r\n"
                              "  path text,\r\n"
                              "  beforename text,\t\r\n"
                              "  aftername text,\r\n"
                              "  sharelink text,\r\n"
                              "  password text,\r\n"
                              "  sharetime text,\r\n"
                              "  size int,\r\n"
                              "  MD5 text,\r\n"
                              "  pic text,\r\n"
                              "  fid text,\r\n"
                              "  username text,\r\n"
                              "  other text\r\n"
                              " )";
    LedgerDb raw(file_);
    using Row = std::vector<std::string>;
    EXPECT_THAT(raw.rows("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name"),
                ElementsAre(Row{"index", "linkledger_table_MD5", "linkledger_table",
                                "CREATE INDEX linkledger_table_MD5 ON linkledger_table(MD5)"},
                            Row{"index", "linkledger_table_fid", "linkledger_table",
                                "CREATE INDEX linkledger_table_fid ON linkledger_table(fid)"},
                            Row{"table", "linkledger_table", "linkledger_table", table},
                            Row{"table", "sqlite_sequence", "sqlite_sequence",
                                "CREATE TABLE sqlite_sequence(name,seq)"}));
    EXPECT_EQ(std::string(ledger_sql::kCreateTable), "create table" + table.substr(12) + ";");
}

TEST_F(LedgerTest, IdsStartAtOneAndStartAgainAfterDeleteAll) {
    for (int i = 0; i < 3; ++i)
        insert(fileRecord("f" + std::to_string(i), "m" + std::to_string(i), std::to_string(i)));
    EXPECT_THAT(idsOf(all()), ElementsAre(1, 2, 3));

    const Status cleared = store_.deleteAll();
    ASSERT_TRUE(cleared) << cleared.error().message;
    EXPECT_TRUE(all().empty());
    EXPECT_FALSE(*store_.findByFid("1"));

    insert(fileRecord("again", "m", "9"));
    EXPECT_THAT(idsOf(all()), ElementsAre(1));
}

TEST_F(LedgerTest, ValuesAreStoredExactlyAsGiven) {
    const std::vector<std::string> awkward = {
        "it's a 'quoted' name",
        "\xE6\x96\x87\xE4\xBB\xB6\xE5\xA4\xB9 \xE2\x80\x94 \xF0\x9F\x98\x80", // 文件夹 — 😀
        "x'); DROP TABLE linkledger_table;--",
        "%_\\ ? ?1 :name",
        "  leading and trailing  \t",
        "",
    };
    for (const std::string& text : awkward) {
        ShareRecord r = fileRecord(text, text, "fid:" + text);
        r.aftername = text;
        r.path = "/" + text;
        r.password = text;
        r.username = text;
        insert(r);
    }
    const auto rows = all();
    ASSERT_EQ(rows.size(), awkward.size());
    for (std::size_t i = 0; i < awkward.size(); ++i) {
        ShareRecord expected = fileRecord(awkward[i], awkward[i], "fid:" + awkward[i]);
        expected.id = static_cast<std::int64_t>(i + 1);
        expected.aftername = awkward[i];
        expected.path = "/" + awkward[i];
        expected.password = awkward[i];
        expected.username = awkward[i];
        EXPECT_EQ(rows[i], expected) << "value: " << awkward[i];
        EXPECT_TRUE(*store_.findByMd5(awkward[i])) << awkward[i];
        EXPECT_TRUE(*store_.findByFid("fid:" + awkward[i])) << awkward[i];
    }
    // The listing reads the same texts.
    auto set = store_.selectAll();
    ASSERT_TRUE(set) << set.error().message;
    ASSERT_TRUE(set->first());
    ASSERT_TRUE(set->next());
    EXPECT_EQ(set->fieldText("beforename"), awkward[0]);
    ASSERT_TRUE(set->next());
    EXPECT_EQ(set->fieldText(3), awkward[1]);
}

TEST_F(LedgerTest, IsdirAndSizeAreStoredByColumnAffinity) {
    // isdir goes in as text into an int column and is stored as an integer;
    // size texts with units stay texts, as in existing ledgers.
    ShareRecord folder = fileRecord("dir", "", "7");
    folder.isdir = "1";
    folder.size = "";
    insert(folder);
    insert(fileRecord("file", "m", "8"));
    LedgerDb raw(file_);
    using Row = std::vector<std::string>;
    EXPECT_THAT(raw.rows("SELECT typeof(isdir), isdir, typeof(size), size FROM linkledger_table"),
                ElementsAre(Row{"integer", "1", "text", ""}, Row{"integer", "0", "text", "1.5G"}));
}

TEST_F(LedgerTest, LookupsAnswerWhetherAnyRowMatches) {
    insert(fileRecord("a.mp4", "0123456789abcdef0123456789abcdef", "1001"));
    insert(fileRecord("b.mp4", "0123456789abcdef0123456789abcdef", "1002")); // same content
    EXPECT_TRUE(*store_.findByMd5("0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(*store_.findByMd5("0123456789ABCDEF0123456789ABCDEF")); // case matters
    EXPECT_TRUE(*store_.findByFid("1002"));
    EXPECT_FALSE(*store_.findByFid("100"));
    // With no empty MD5 or fid in the ledger, an empty key finds nothing...
    EXPECT_FALSE(*store_.findByMd5(""));
    EXPECT_FALSE(*store_.findByFid(std::string_view{}));
    // ...but once a failed file (no MD5) is recorded, an empty MD5 matches it.
    insert(failedFile("c.mp4", "1003"));
    EXPECT_TRUE(*store_.findByMd5(""));
    EXPECT_TRUE(*store_.findByMd5(std::string_view{}));
    EXPECT_TRUE(*store_.findByFid("1003")); // and the failure is found by its fid
}

// The lookup of a file without an MD5: only a link counts, so a failed one
// is tried again like every other file.
TEST_F(LedgerTest, SharedByFidIgnoresFailureRows) {
    insert(fileRecord("a.mp4", "", "2001"));
    insert(failedFile("b.mp4", "2002"));
    EXPECT_TRUE(*store_.findSharedByFid("2001"));
    EXPECT_FALSE(*store_.findSharedByFid("2002"));
    EXPECT_TRUE(*store_.findByFid("2002"));
    EXPECT_FALSE(*store_.findSharedByFid("200"));
    EXPECT_FALSE(*store_.findSharedByFid(""));
    insert(fileRecord("b.mp4", "", "2002")); // shared on a later run
    EXPECT_TRUE(*store_.findSharedByFid("2002"));
}

TEST_F(LedgerTest, LookupsUseTheIndexes) {
    // A lookup that reads the whole table costs ~0.1 s on a large ledger,
    // once per item of a run.
    LedgerDb raw(file_);
    const std::pair<const char*, const char*> cases[] = {
        {ledger_sql::kFindByMd5, "USING INDEX linkledger_table_MD5"},
        {ledger_sql::kFindByFid, "USING INDEX linkledger_table_fid"},
        {ledger_sql::kFindSharedByFid, "USING INDEX linkledger_table_fid"}};
    for (const auto& [sql, index] : cases) {
        std::string plan;
        for (const auto& row : raw.rows(std::string("EXPLAIN QUERY PLAN ") + sql))
            plan += row.back() + "\n";
        EXPECT_THAT(plan, HasSubstr(index)) << sql;
    }
}

TEST_F(LedgerTest, RecordSetReadsTheListing) {
    insert(fileRecord("one", "m1", "1"));
    insert(failedFile("two", "2"));
    auto set = store_.selectAll();
    ASSERT_TRUE(set) << set.error().message;
    EXPECT_EQ(set->rowCount(), 0u) << "no count before first()";
    EXPECT_THAT(set->columnNames(),
                ElementsAre("id", "path", "beforename", "aftername", "sharelink", "password",
                            "sharetime", "size", "MD5", "pic", "fid", "username"));
    EXPECT_EQ(set->fieldText(1), "") << "no current row yet";
    ASSERT_TRUE(set->first());
    EXPECT_EQ(set->rowCount(), 2u);

    ASSERT_TRUE(set->next());
    EXPECT_EQ(set->fieldText(1), "1");
    EXPECT_EQ(set->fieldText(3), "one");
    EXPECT_EQ(set->fieldText(12), "alice");
    EXPECT_EQ(set->fieldText(13), "");
    EXPECT_EQ(set->fieldText(14), "");
    EXPECT_EQ(set->fieldText(0), "");
    EXPECT_EQ(set->fieldText("md5"), "m1");
    EXPECT_EQ(set->fieldText("FID"), "1");
    EXPECT_EQ(set->fieldText("other"), "") << "not in the listing";

    ASSERT_TRUE(set->next());
    EXPECT_EQ(set->fieldText("sharelink"), kFailedLinkText);
    EXPECT_EQ(set->fieldText("password"), "");
    EXPECT_FALSE(set->next());
    EXPECT_EQ(set->fieldText(1), "") << "past the end";
    EXPECT_FALSE(set->next());

    // first() rewinds for a second pass.
    ASSERT_TRUE(set->first());
    ASSERT_TRUE(set->next());
    EXPECT_EQ(set->fieldText("id"), "1");

    set->close();
    EXPECT_FALSE(set->first());
    EXPECT_EQ(set->rowCount(), 0u);
    EXPECT_FALSE(set->next());
    EXPECT_FALSE(RecordSet().first());
}

TEST_F(LedgerTest, EmptyLedgerListsNothing) {
    auto set = store_.selectAll();
    ASSERT_TRUE(set) << set.error().message;
    EXPECT_TRUE(set->first());
    EXPECT_EQ(set->rowCount(), 0u);
    EXPECT_FALSE(set->next());
}

TEST_F(LedgerTest, ListingOutlivesTheConnection) {
    insert(fileRecord("kept", "m", "1"));
    auto set = store_.selectAll();
    ASSERT_TRUE(set);
    ASSERT_TRUE(store_.close());
    ASSERT_TRUE(set->first());
    ASSERT_TRUE(set->next());
    EXPECT_EQ(set->fieldText("beforename"), "kept");
}

TEST_F(LedgerTest, ClosedStoreReportsEveryOperation) {
    ASSERT_TRUE(store_.close());
    EXPECT_TRUE(store_.close()) << "a second close does nothing";
    EXPECT_FALSE(store_.isOpen());
    EXPECT_FALSE(store_.findByMd5("m"));
    EXPECT_FALSE(store_.findByFid("1"));
    EXPECT_FALSE(store_.findSharedByFid("1"));
    const Status inserted = store_.insertRecord(fileRecord("x", "m", "1"));
    ASSERT_FALSE(inserted);
    EXPECT_THAT(inserted.error().message, HasSubstr("not open"));
    EXPECT_FALSE(store_.deleteAll());
    EXPECT_FALSE(store_.selectAll());
    EXPECT_FALSE(store_.selectRecords({}));
    const std::int64_t ids[] = {1};
    EXPECT_FALSE(store_.deleteByIds(ids));
}

TEST_F(LedgerTest, ReopeningKeepsRowsAndSchema) {
    insert(fileRecord("a", "m", "1"));
    ASSERT_TRUE(store_.openOrCreate(file_));
    EXPECT_THAT(idsOf(all()), ElementsAre(1));
    LedgerDb raw(file_);
    EXPECT_EQ(raw.rows("SELECT count(*) FROM sqlite_master")[0][0], "4");
}

// --- filters and selective deletes -------------------------------------

class LedgerFilterTest : public LedgerTest {
protected:
    void SetUp() override {
        LedgerTest::SetUp();
        ShareRecord r1 = fileRecord("Holiday.MP4", "m1", "1");
        r1.sharetime = "2021-05-27 15:17:58";
        ShareRecord r2 = fileRecord("notes.txt", "m2", "2");
        r2.aftername = "notes-holiday.txt";
        r2.sharetime = "2021-05-28 00:00:01";
        r2.username = "bob";
        ShareRecord r3 = fileRecord("photos", "", "3");
        r3.isdir = "1";
        r3.sharetime = "2021-06-01 09:00:00";
        ShareRecord r4 = failedFile("100%_done.mp4", "4");
        ShareRecord r5 = fileRecord("\xE6\x96\x87\xE4\xBB\xB6.txt", "m5", "5"); // 文件.txt
        r5.sharetime = "2021-06-02 03:17:58";
        for (const ShareRecord* r : {&r1, &r2, &r3, &r4, &r5})
            insert(*r);
    }
};

struct FilterCase {
    const char* name;
    RecordFilter filter;
    std::vector<std::int64_t> ids;
};

class LedgerFilterCases : public LedgerFilterTest,
                          public ::testing::WithParamInterface<FilterCase> {};

RecordFilter with(auto set) {
    RecordFilter f;
    set(f);
    return f;
}

TEST_P(LedgerFilterCases, SelectsMatchingRowsInIdOrder) {
    EXPECT_EQ(idsOf(all(GetParam().filter)), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LedgerFilterCases,
    ::testing::Values(
        FilterCase{"Everything", {}, {1, 2, 3, 4, 5}},
        FilterCase{"ById", with([](RecordFilter& f) { f.id = 3; }), {3}},
        FilterCase{"UnknownId", with([](RecordFilter& f) { f.id = 42; }), {}},
        FilterCase{"NameInEitherColumnIgnoringAsciiCase",
                   with([](RecordFilter& f) { f.nameContains = "holiday"; }),
                   {1, 2}},
        FilterCase{
            "BeforeNameOnly", with([](RecordFilter& f) { f.beforeNameContains = "holiday"; }), {1}},
        FilterCase{
            "AfterNameOnly", with([](RecordFilter& f) { f.afterNameContains = "holiday"; }), {2}},
        FilterCase{
            "WildcardsAreLiteral", with([](RecordFilter& f) { f.nameContains = "%_"; }), {4}},
        FilterCase{"UnderscoreIsLiteral", with([](RecordFilter& f) { f.nameContains = "s_"; }), {}},
        FilterCase{"NonAsciiName",
                   with([](RecordFilter& f) { f.nameContains = "\xE6\x96\x87\xE4\xBB\xB6"; }),
                   {5}},
        FilterCase{"Files", with([](RecordFilter& f) { f.kind = ItemKind::File; }), {1, 2, 4, 5}},
        FilterCase{"Folders", with([](RecordFilter& f) { f.kind = ItemKind::Folder; }), {3}},
        FilterCase{"User", with([](RecordFilter& f) { f.username = "bob"; }), {2}},
        FilterCase{"UserIsExact", with([](RecordFilter& f) { f.username = "Bob"; }), {}},
        FilterCase{"Failed", with([](RecordFilter& f) { f.link = LinkState::Failed; }), {4}},
        FilterCase{
            "Shared", with([](RecordFilter& f) { f.link = LinkState::Shared; }), {1, 2, 3, 5}},
        FilterCase{
            "OneDay", with([](RecordFilter& f) { f.sharedFrom = f.sharedTo = "2021-05-28"; }), {2}},
        FilterCase{"FromDate", with([](RecordFilter& f) { f.sharedFrom = "2021-06-01"; }), {3, 5}},
        FilterCase{"ToDateLeavesOutFailures",
                   with([](RecordFilter& f) { f.sharedTo = "2021-05-31"; }),
                   {1, 2}},
        FilterCase{"Combined",
                   with(
                       [](RecordFilter& f) {
                           f.kind = ItemKind::File;
                           f.username = "alice";
                           f.link = LinkState::Shared;
                           f.sharedFrom = "2021-05-01";
                       }),
                   {1, 5}},
        FilterCase{"FirstPage", with([](RecordFilter& f) { f.limit = 2; }), {1, 2}},
        FilterCase{"NextPage",
                   with(
                       [](RecordFilter& f) {
                           f.afterId = 2;
                           f.limit = 2;
                       }),
                   {3, 4}}),
    CaseName{});

TEST_F(LedgerFilterTest, MalformedDateIsAnError) {
    for (const char* date : {"2021-5-27", "27.05.2021", "2021-05-27 10:00", "yyyy-MM-dd"}) {
        RecordFilter f;
        f.sharedFrom = date;
        const auto rows = store_.selectRecords(f);
        ASSERT_FALSE(rows) << date;
        EXPECT_THAT(rows.error().message, HasSubstr(date));
    }
}

TEST_F(LedgerFilterTest, DeleteByIdsCountsWhatWent) {
    const std::int64_t chosen[] = {2, 4, 4, 99};
    const auto deleted = store_.deleteByIds(chosen);
    ASSERT_TRUE(deleted) << deleted.error().message;
    EXPECT_EQ(*deleted, 2u);
    EXPECT_THAT(idsOf(all()), ElementsAre(1, 3, 5));
    EXPECT_EQ(*store_.deleteByIds({}), 0u);
    // Ids are not handed out again after a selective delete.
    insert(fileRecord("new", "m6", "6"));
    EXPECT_THAT(idsOf(all()), ElementsAre(1, 3, 5, 6));
}

// --- opening ---------------------------------------------------------------

struct OpenFailure {
    const char* name;
    // Makes the path to open inside a scratch directory.
    fs::path (*prepare)(const fs::path& dir);
    const char* reason;
};

class LedgerOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(LedgerOpenFailure, ReportsPathAndReason) {
    TempDir dir;
    const fs::path target = GetParam().prepare(fs::path(dir.path()));
    RecordStore store;
    const Status opened = store.openOrCreate(target);
    ASSERT_FALSE(opened);
    EXPECT_THAT(opened.error().message, HasSubstr(target.string()));
    EXPECT_THAT(opened.error().message, HasSubstr(GetParam().reason));
    EXPECT_NE(opened.error().code, 0);
    EXPECT_FALSE(store.isOpen());
    EXPECT_FALSE(store.insertRecord(fileRecord("x", "m", "1")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LedgerOpenFailure,
    ::testing::Values(OpenFailure{"MissingDirectory",
                                  [](const fs::path& d) {
                                      return d / "no-such-dir" / "linkledger.db";
                                  },
                                  "No such file or directory"},
                      OpenFailure{"PathIsADirectory",
                                  [](const fs::path& d) {
                                      fs::create_directory(d / "linkledger.db");
                                      return d / "linkledger.db";
                                  },
                                  "Is a directory"},
                      OpenFailure{"ParentIsAFile",
                                  [](const fs::path& d) {
                                      std::ofstream(d / "file") << "x";
                                      return d / "file" / "linkledger.db";
                                  },
                                  "Not a directory"},
                      OpenFailure{"NotADatabase",
                                  [](const fs::path& d) {
                                      std::ofstream(d / "linkledger.db")
                                          << "this text file only pretends to be a ledger, "
                                             "and it is long enough for SQLite to read its header";
                                      return d / "linkledger.db";
                                  },
                                  "file is not a database"},
                      OpenFailure{"SomeOtherDatabase",
                                  [](const fs::path& d) {
                                      LedgerDb(d / "linkledger.db").exec("CREATE TABLE other(x);");
                                      return d / "linkledger.db";
                                  },
                                  "no share ledger"}),
    CaseName{});

TEST(LedgerOpen, EmptyPathIsAnError) {
    RecordStore store;
    const Status opened = store.openOrCreate({});
    ASSERT_FALSE(opened);
    EXPECT_FALSE(opened.error().message.empty());
}

TEST(LedgerOpen, EmptyExistingFileBecomesALedger) {
    TempDir dir;
    const fs::path file = fs::path(dir.path()) / "linkledger.db";
    std::ofstream{file};
    RecordStore store;
    ASSERT_TRUE(store.openOrCreate(file));
    ASSERT_TRUE(store.insertRecord(fileRecord("a", "m", "1")));
    EXPECT_TRUE(*store.findByFid("1"));
}

TEST(LedgerOpen, InMemoryLedgerWorks) {
    RecordStore store;
    ASSERT_TRUE(store.openOrCreate(":memory:"));
    ASSERT_TRUE(store.insertRecord(fileRecord("a", "m", "1")));
    EXPECT_TRUE(*store.findByMd5("m"));
}

TEST(LedgerOpen, LegacyFileGainsIndexesAndKeepsItsRows) {
    TempDir dir;
    const fs::path file = fs::path(dir.path()) / "linkledger.db";
    const std::string dumpSql = "SELECT * FROM linkledger_table ORDER BY id";
    std::vector<std::vector<std::string>> before;
    std::string tableSql;
    {
        // Laid out like an existing ledger: only the table, values quoted
        // into the statement text.
        LedgerDb raw(file);
        raw.exec(ledger_sql::kCreateTable);
        raw.exec("INSERT INTO linkledger_table VALUES (null,'0','/a/b.mp4','b.mp4','','https://"
                 "pan.example/s/1','ab12','2021-05-27 15:17:58','1.5G','0123abcd','https://"
                 "thumbs.example/1','1001','alice','other');");
        raw.exec("INSERT INTO linkledger_table VALUES (null,'1','/a/\xE6\x96\x87','"
                 "\xE6\x96\x87','','\xE5\x88\x86\xE4\xBA\xAB\xE5\xA4\xB1\xE8\xB4\xA5','','','','',"
                 "'','1002','alice','other');");
        raw.exec("INSERT INTO linkledger_table VALUES (null,'0','/c','it''s','','x','','','','',"
                 "'','1003','alice','other');");
        before = raw.rows(dumpSql);
        tableSql = raw.rows("SELECT sql FROM sqlite_master WHERE name='linkledger_table'")[0][0];
        EXPECT_EQ(raw.rows("SELECT count(*) FROM sqlite_master WHERE type='index'")[0][0], "0");
    }

    RecordStore store;
    const Status opened = store.openOrCreate(file);
    ASSERT_TRUE(opened) << opened.error().message;
    EXPECT_TRUE(*store.findByFid("1002"));
    EXPECT_TRUE(*store.findByMd5("0123abcd"));
    EXPECT_TRUE(*store.findByMd5("")) << "the failed folder has no MD5";
    const auto rows = store.selectRecords({});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[1].beforename, "\xE6\x96\x87");
    EXPECT_EQ((*rows)[1].sharelink, kFailedLinkText);
    EXPECT_EQ((*rows)[2].beforename, "it's");
    ASSERT_TRUE(store.insertRecord(fileRecord("d", "m", "1004")));
    ASSERT_TRUE(store.close());

    LedgerDb raw(file);
    auto after = raw.rows(dumpSql);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after.back()[0], "4");
    after.pop_back();
    EXPECT_EQ(after, before);
    EXPECT_EQ(raw.rows("SELECT sql FROM sqlite_master WHERE name='linkledger_table'")[0][0],
              tableSql);
    using Row = std::vector<std::string>;
    EXPECT_THAT(raw.rows("SELECT name FROM sqlite_master WHERE type='index' ORDER BY name"),
                ElementsAre(Row{"linkledger_table_MD5"}, Row{"linkledger_table_fid"}));
}

// Rows commit to a write-ahead log while the ledger is open; the file is a
// plain rollback-journal database again once the last connection has closed.
TEST(LedgerOpen, WriteAheadLogOnlyWhileOpen) {
    TempDir dir;
    const fs::path file = fs::path(dir.path()) / "linkledger.db";
    const fs::path log = fs::path(dir.path()) / "linkledger.db-wal";
    const std::string mode = "PRAGMA journal_mode;";
    using Row = std::vector<std::string>;

    RecordStore app;
    ASSERT_TRUE(app.openOrCreate(file));
    ASSERT_TRUE(app.insertRecord(fileRecord("a", "m1", "1")));
    RecordStore cli; // a second process on the same file
    ASSERT_TRUE(cli.openOrCreate(file));
    ASSERT_TRUE(cli.insertRecord(fileRecord("b", "m2", "2")));
    EXPECT_TRUE(*app.findByFid("2"));
    {
        LedgerDb raw(file);
        EXPECT_THAT(raw.rows(mode), ElementsAre(Row{"wal"}));
    }
    EXPECT_TRUE(fs::exists(log));

    // The other connection keeps the log until it closes as well.
    ASSERT_TRUE(app.close());
    EXPECT_TRUE(*cli.findByFid("1"));
    ASSERT_TRUE(cli.insertRecord(fileRecord("c", "m3", "3")));
    ASSERT_TRUE(cli.close());

    EXPECT_FALSE(fs::exists(log));
    LedgerDb raw(file);
    EXPECT_THAT(raw.rows(mode), ElementsAre(Row{"delete"}));
    EXPECT_THAT(raw.rows("SELECT fid FROM linkledger_table ORDER BY id"),
                ElementsAre(Row{"1"}, Row{"2"}, Row{"3"}));
}

// --- sharing the connection ---------------------------------------------

// What the records window does while a run is going on: look up the item
// the worker recorded last, then list everything. Each listing must hold
// whole rows with ids 1..n and no gaps.
void lookUpAndList(RecordStore& store, int seen) {
    for (int i = std::max(1, seen - 20); i <= seen; ++i) {
        const auto found = store.findByFid(std::to_string(i));
        ASSERT_TRUE(found) << found.error().message;
        ASSERT_TRUE(*found) << i;
    }
    auto set = store.selectAll();
    ASSERT_TRUE(set) << set.error().message;
    ASSERT_TRUE(set->first());
    ASSERT_GE(set->rowCount(), static_cast<std::size_t>(seen));
    std::int64_t expectedId = 1;
    while (set->next()) {
        const std::string id = std::to_string(expectedId++);
        ASSERT_EQ(set->fieldText("id"), id);
        ASSERT_EQ(set->fieldText("fid"), id);
        ASSERT_EQ(set->fieldText("MD5"), "md5-" + id);
        ASSERT_EQ(set->fieldText("username"), "alice");
    }
}

TEST_F(LedgerTest, WorkerAndWindowShareTheConnection) {
    constexpr int kRows = 300;
    std::atomic<int> written{0};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        // Look up, then record, as a share run does for every item.
        [&] {
            for (int i = 1; i <= kRows; ++i) {
                const std::string n = std::to_string(i);
                const auto known = store_.findByFid(n);
                ASSERT_TRUE(known) << known.error().message;
                ASSERT_FALSE(*known) << n;
                ASSERT_TRUE(store_.insertRecord(fileRecord("item" + n, "md5-" + n, n)));
                written.store(i, std::memory_order_release);
            }
        }();
        workerDone = true;
    });

    int listings = 0;
    while (!workerDone && !HasFailure()) {
        lookUpAndList(store_, written.load(std::memory_order_acquire));
        ++listings;
    }
    worker.join();
    ASSERT_FALSE(HasFailure());
    lookUpAndList(store_, kRows);
    EXPECT_EQ(all().size(), static_cast<std::size_t>(kRows));
    EXPECT_GT(listings, 0);
}

TEST_F(LedgerTest, SecondProcessWaitsForTheFileInsteadOfFailing) {
    // Another program (the command line while the app is open) holds the
    // write lock for a moment; the store waits for it.
    LedgerDb other(file_);
    other.exec("BEGIN IMMEDIATE;");
    other.exec("INSERT INTO linkledger_table(fid) VALUES ('other');");
    std::atomic<bool> started{false};
    Status inserted = Error{"not run"};
    std::thread worker([&] {
        started = true;
        inserted = store_.insertRecord(fileRecord("mine", "m", "mine"));
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    other.exec("COMMIT;");
    worker.join();
    ASSERT_TRUE(inserted) << inserted.error().message;
    EXPECT_TRUE(*store_.findByFid("other"));
    EXPECT_TRUE(*store_.findByFid("mine"));
}

} // namespace

TEST(RecordStoreNotOpen, SaysWhyItIsNotOpen) {
    vantorel::RecordStore store;
    EXPECT_EQ(store.notOpenReason(), "the ledger is not open");
    const auto failed = store.openOrCreate("/nonexistent-dir-for-vantorel/linkledger.db");
    ASSERT_FALSE(failed);
    EXPECT_EQ(store.notOpenReason(), failed.error().message);
    EXPECT_NE(store.notOpenReason().find("/nonexistent-dir-for-vantorel/linkledger.db"),
              std::string::npos);
    ASSERT_TRUE(store.openOrCreate(":memory:"));
    EXPECT_EQ(store.notOpenReason(), "");
}
