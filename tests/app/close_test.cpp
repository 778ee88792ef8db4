// Closing the main window while a share run is going, in a process of its
// own from start to exit: the exit status, and the ledger afterwards.

#include "ledger_file.h"
#include "sim_process.h"
#include "test_support.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using vantorel::test::integrityCheck;
using vantorel::test::LedgerDb;
using vantorel::test::SimProcess;
using vantorel::test::TempDir;

namespace {} // namespace

TEST(ProgramExit, ClosingTheWindowDuringARunEndsWithZeroAndLeavesAWholeLedger) {
    // The first share is answered at once, every later one only after ten
    // minutes: the window closes while that request is in flight.
    SimProcess sim({"--fault", "share:delay=600000,after=1"});
    ASSERT_TRUE(sim.started()) << sim.error();
    TempDir data;
    vantorel::test::writeFile(data.file("set.ini"), "[set]\ntime=-1\n"); // no pause

    QProcess program;
    program.setProgram(QStringLiteral(VANTOREL_APP_DRIVER_PATH));
    program.setArguments({QStringLiteral("close-during-run"), QStringLiteral("--"),
                          QStringLiteral("--origin"), QString::fromStdString(sim.origin()),
                          QStringLiteral("--data-dir"), QString::fromStdString(data.path())});
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start();
    ASSERT_TRUE(program.waitForStarted());
    // Far less than the delayed reply: a program that waited for it fails.
    const bool ended = program.waitForFinished(240'000);
    const std::string output = program.readAll().toStdString();
    if (!ended) {
        program.kill();
        program.waitForFinished();
        FAIL() << "the program did not end\n" << output;
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(program.exitCode(), 0) << output;

    const std::string ledgerFile = data.file("linkledger.db");
    EXPECT_EQ(integrityCheck(ledgerFile), "ok");
    const auto rows = LedgerDb(ledgerFile, LedgerDb::Open::ExistingOnly)
                          .rows("SELECT isdir, path, beforename, sharelink, password, sharetime, "
                                "fid, username, other FROM linkledger_table ORDER BY id;");
    ASSERT_EQ(rows.size(), 1U) << "the row of the first share, and no other";
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 9U);
        EXPECT_EQ(row[0], "0");
        EXPECT_EQ(row[1], "/我的文档/" + row[2]);
        EXPECT_EQ(row[3].rfind(sim.origin() + "/s/", 0), 0U) << row[3];
        EXPECT_EQ(row[4].size(), 4U);
        EXPECT_FALSE(row[5].empty());
        EXPECT_FALSE(row[6].empty());
        EXPECT_EQ(row[7], SimProcess::kUser);
        EXPECT_EQ(row[8], "other");
    }
}
