// The records exporter: the cells it writes, the files it refuses, and how
// it replaces a file (whole or not at all).

#include "named_case.h"
#include "records/record_export.h"
#include "temp_dir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using namespace vantorel;
namespace fs = std::filesystem;

namespace {

using vantorel::test::CaseName;
using vantorel::test::filesIn;
using vantorel::test::PrintTo;
using vantorel::test::readFile;
using vantorel::test::TempDirTest;
using vantorel::test::writeFile;

struct CellCase {
    const char* name;
    std::string value;
    std::string csv; // as CSV writes it
};

class CsvCell : public ::testing::TestWithParam<CellCase> {};

// Spreadsheet programs run a cell that begins with one of these as a
// formula; led by "'" it is shown as the text it is.
TEST_P(CsvCell, KeepsFormulasFromRunningAndQuotesWhatNeedsIt) {
    EXPECT_EQ(csvCell(GetParam().value), GetParam().csv);
}

// Tab-separated text keeps the text exact (but on one line).
TEST_P(CsvCell, TsvKeepsTheTextAsItIs) {
    std::string expected = GetParam().value;
    for (char& c : expected)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    EXPECT_EQ(tsvCell(GetParam().value), expected);
}

INSTANTIATE_TEST_SUITE_P(
    RecordExport, CsvCell,
    ::testing::Values(CellCase{"hyperlink", "=HYPERLINK(\"http://x.example\")",
                               "\"'=HYPERLINK(\"\"http://x.example\"\")\""},
                      CellCase{"plus", "+cmd", "'+cmd"}, CellCase{"minus", "-2+3", "'-2+3"},
                      CellCase{"at", "@SUM(1)", "'@SUM(1)"}, CellCase{"tab", "\tx", "'\tx"},
                      CellCase{"carriage_return", "\rx", "\"'\rx\""},
                      CellCase{"equals_and_comma", "=1,2", "\"'=1,2\""},
                      CellCase{"equals_inside", "a=b+c", "a=b+c"},
                      CellCase{"plain", "报告.docx", "报告.docx"},
                      CellCase{"blank_before_equals", " =1", " =1"}, CellCase{"empty", "", ""},
                      CellCase{"comma", "a,b", "\"a,b\""},
                      CellCase{"quote", "say \"hi\"", "\"say \"\"hi\"\"\""},
                      CellCase{"line_feed_inside", "a\nb", "\"a\nb\""}),
    CaseName());

TEST(RecordExport, LinesJoinCellsInTheirFormat) {
    const std::vector<std::string_view> cells = {"1", "=x", "a,b"};
    std::string csv;
    appendExportLine(csv, cells, ExportFormat::Csv);
    EXPECT_EQ(csv, "1,'=x,\"a,b\"\r\n");
    std::string tsv;
    appendExportLine(tsv, cells, ExportFormat::Tsv);
    EXPECT_EQ(tsv, "1\t=x\ta,b\n");
}

// A data directory with its ledger, the ledger's journal files and set.ini.
class ExportTarget : public TempDirTest {
protected:
    void SetUp() override {
        fs::create_directories(data());
        writeFile(ledger().string(), "SQLite format 3");
        writeFile(ledger().string() + "-wal", "log");
        writeFile(settings().string(), "[set]\n");
        kept_ = exportProtectedFiles(ledger(), settings());
    }
    fs::path data() const { return dir() / "data"; }
    fs::path ledger() const { return data() / "linkledger.db"; }
    fs::path settings() const { return data() / "set.ini"; }
    const std::vector<fs::path>& kept() const { return kept_; }

    ExportTable table(std::size_t rows = 2) const {
        ExportTable t{.headers = {"id", "name"}, .rowCount = rows};
        t.cell = [](std::size_t row, std::size_t column) -> std::string_view {
            static const std::string names[] = {"=cmd|' /C calc'!A0", "报告,\"终稿\""};
            if (column == 0)
                return row % 2 == 0 ? "1" : "2";
            return names[row % 2];
        };
        return t;
    }

private:
    std::vector<fs::path> kept_;
};

struct RefusedCase {
    const char* name;
    // The target, relative to the test's directory. With `linkTo` the target
    // is made a symbolic link (with `hardLink` a hard link) to that file first.
    std::string target;
    std::string linkTo;
    bool hardLink = false;
};

class RefusedTarget : public ExportTarget, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedTarget, IsNeverWritten) {
    const RefusedCase& c = GetParam();
    const fs::path target = dir() / c.target;
    if (!c.linkTo.empty()) {
        if (c.hardLink)
            fs::create_hard_link(dir() / c.linkTo, target);
        else
            fs::create_symlink(dir() / c.linkTo, target);
    }
    const auto before = filesIn(data());
    const std::string ledgerBytes = readFile(ledger().string());

    const Status allowed = checkExportTarget(target, kept());
    ASSERT_FALSE(allowed) << target;
    EXPECT_EQ(allowed.error().code, static_cast<int>(ExportFailure::ProtectedFile));
    const auto written = writeExportFile(target, table(), ExportFormat::Csv, kept());
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, static_cast<int>(ExportFailure::ProtectedFile));
    EXPECT_NE(written.error().message.find(target.string()), std::string::npos);

    EXPECT_EQ(filesIn(data()), before);
    EXPECT_EQ(readFile(ledger().string()), ledgerBytes);
    EXPECT_EQ(readFile(settings().string()), "[set]\n");
}

INSTANTIATE_TEST_SUITE_P(
    RecordExport, RefusedTarget,
    ::testing::Values(RefusedCase{"ledger", "data/linkledger.db"},
                      RefusedCase{"other_spelling", "data/./../data//linkledger.db"},
                      RefusedCase{"write_ahead_log", "data/linkledger.db-wal"},
                      RefusedCase{"shared_memory_not_there_yet", "data/linkledger.db-shm"},
                      RefusedCase{"rollback_journal", "data/linkledger.db-journal"},
                      RefusedCase{"settings", "data/set.ini"},
                      RefusedCase{"symbolic_link", "export.csv", "data/linkledger.db"},
                      RefusedCase{"link_to_a_journal_not_there_yet", "export.csv",
                                  "data/linkledger.db-shm"},
                      RefusedCase{"hard_link", "copy.db", "data/linkledger.db", true}),
    CaseName());

TEST_F(ExportTarget, OtherFilesOfTheDataDirectoryAreAllowed) {
    for (const char* name : {"linkledger.db.csv", "records.txt", "set.ini.bak"})
        EXPECT_TRUE(checkExportTarget(data() / name, kept())) << name;
}

TEST_F(ExportTarget, CsvHasAByteOrderMarkAHeaderAndGuardedCells) {
    const fs::path target = dir() / "out.csv";
    const auto written = writeExportFile(target, table(), ExportFormat::Csv, kept());
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(*written, 2u);
    EXPECT_EQ(readFile(target.string()), "\xEF\xBB\xBF"
                                         "id,name\r\n"
                                         "1,'=cmd|' /C calc'!A0\r\n"
                                         "2,\"报告,\"\"终稿\"\"\"\r\n");
}

TEST_F(ExportTarget, TsvKeepsTheTextAndMayLeaveTheHeaderOut) {
    const fs::path target = dir() / "out.txt";
    ExportTable t = table();
    t.header = false;
    ASSERT_TRUE(writeExportFile(target, t, ExportFormat::Tsv, kept()));
    EXPECT_EQ(readFile(target.string()), "1\t=cmd|' /C calc'!A0\n2\t报告,\"终稿\"\n");
}

TEST_F(ExportTarget, ReplacesAFileWholeKeepingItsModeAndLeavesNoTemporaryFile) {
    const fs::path target = dir() / "out.csv";
    writeFile(target.string(), "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeExportFile(target, table(), ExportFormat::Csv, kept()));
    EXPECT_EQ(readFile(target.string()).substr(3, 9), "id,name\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"data", "out.csv"}));
}

TEST_F(ExportTarget, ASymbolicLinkKeepsPointingAtTheFileItNamed) {
    writeFile((dir() / "real.csv").string(), "old");
    fs::create_symlink("real.csv", dir() / "link.csv");
    ASSERT_TRUE(writeExportFile(dir() / "link.csv", table(), ExportFormat::Csv, kept()));
    EXPECT_TRUE(fs::is_symlink(dir() / "link.csv"));
    EXPECT_EQ(readFile((dir() / "real.csv").string()).substr(3, 7), "id,name");
}

// Renaming a file over /dev/null would replace the device for everyone.
TEST_F(ExportTarget, ADeviceIsWrittenDirectly) {
    const auto written = writeExportFile("/dev/null", table(), ExportFormat::Csv, kept());
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

struct FailedWriteCase {
    const char* name;
    std::string target; // relative to the test's directory
};

class FailedWrite : public ExportTarget, public ::testing::WithParamInterface<FailedWriteCase> {};

TEST_P(FailedWrite, SaysWhyAndLeavesNothingBehind) {
    writeFile((dir() / "plain").string(), "x");
    fs::create_directories(dir() / "folder");
    const auto before = filesIn(dir());
    const fs::path target = dir() / GetParam().target;
    const auto written = writeExportFile(target, table(), ExportFormat::Csv, kept());
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, static_cast<int>(ExportFailure::Write));
    EXPECT_EQ(written.error().message.rfind("cannot write " + target.string() + ": ", 0), 0u)
        << written.error().message;
    EXPECT_EQ(filesIn(dir()), before);
}

INSTANTIATE_TEST_SUITE_P(RecordExport, FailedWrite,
                         ::testing::Values(FailedWriteCase{"a_directory", "folder"},
                                           FailedWriteCase{"under_a_file", "plain/out.csv"},
                                           FailedWriteCase{"no_such_directory", "gone/out.csv"}),
                         CaseName());

// A disk that fills up while the file is written: here a file-size limit,
// which fails the write the way a full disk does.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

TEST_F(ExportTarget, AFullDiskLeavesTheOldFileAsItWas) {
    const fs::path target = dir() / "out.csv";
    writeFile(target.string(), "the export of yesterday\n");
    Expected<std::size_t> written = 0;
    {
        const FileSizeLimit limit(64 * 1024);
        written = writeExportFile(target, table(100'000), ExportFormat::Csv, kept());
    }
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, static_cast<int>(ExportFailure::Write));
    EXPECT_NE(written.error().message.find("too large"), std::string::npos)
        << written.error().message;
    EXPECT_EQ(readFile(target.string()), "the export of yesterday\n");
    EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"data", "out.csv"}));
}

} // namespace
