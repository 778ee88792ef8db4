#include "cli_harness.h"

#include "records/record_store.h"
#include "sim_client.h"

#include <cstdlib>
#include <sqlite3.h>

namespace vantorel::test {

std::string cliBinary() {
    if (const char* env = std::getenv("VANTOREL_CLI"); env != nullptr && *env != '\0')
        return env;
    return VANTOREL_CLI_PATH;
}

ProcessOptions cleanEnvironment(ProcessOptions options) {
    for (const char* name :
         {"VANTOREL_DATA_DIR", "VANTOREL_ORIGIN", "VANTOREL_CA_FILE", "VANTOREL_COOKIES"})
        options.unsetEnv.emplace_back(name);
    return options;
}

ProcessResult runCli(const std::vector<std::string>& args, ProcessOptions options) {
    return runProcess(cliBinary(), args, cleanEnvironment(std::move(options)));
}

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> result;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        result.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return result;
}

std::vector<std::string> splitTabs(std::string_view line) {
    std::vector<std::string> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.emplace_back(line.substr(0, tab));
        if (tab == std::string_view::npos)
            return fields;
        line.remove_prefix(tab + 1);
    }
}

std::optional<std::vector<std::vector<std::string>>> parseCsv(std::string_view text,
                                                              std::string* error) {
    const auto fail = [error](std::string why, std::size_t at) {
        if (error != nullptr)
            *error = why + " at byte " + std::to_string(at);
        return std::nullopt;
    };
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::size_t i = 0;
    while (i < text.size()) {
        std::string field;
        if (text[i] == '"') {
            ++i;
            for (;;) {
                if (i >= text.size())
                    return fail("unterminated quoted field", i);
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field.push_back(text[i++]);
            }
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"')
                    return fail("quote inside an unquoted field", i);
                field.push_back(text[i++]);
            }
        }
        record.push_back(std::move(field));
        if (i == text.size())
            break;
        if (text[i] == ',') {
            ++i;
            if (i == text.size())
                record.emplace_back(); // a last, empty field
            continue;
        }
        if (text.substr(i, 2) != "\r\n")
            return fail("expected a comma or CR LF", i);
        i += 2;
        records.push_back(std::move(record));
        record.clear();
    }
    if (!record.empty())
        records.push_back(std::move(record));
    return records;
}

std::vector<ShareRecord> ledgerRows(const std::filesystem::path& dataDir) {
    const std::filesystem::path file = dataDir / kLedgerFileName;
    if (!std::filesystem::exists(file))
        return {};
    RecordStore store;
    if (auto opened = store.openOrCreate(file); !opened) {
        ADD_FAILURE() << opened.error().message;
        return {};
    }
    auto rows = store.selectRecords(RecordFilter{});
    if (!rows) {
        ADD_FAILURE() << rows.error().message;
        return {};
    }
    return *rows;
}

std::string integrityCheck(const std::filesystem::path& dbFile) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) ==
            SQLITE_OK) {
            verdict.clear();
            while (sqlite3_step(statement) == SQLITE_ROW) {
                if (!verdict.empty())
                    verdict += "; ";
                verdict += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return verdict;
}

ProcessResult CliTest::cli(const std::vector<std::string>& args, ProcessOptions options) const {
    std::vector<std::string> all = {"--data-dir", dataDir().string()};
    all.insert(all.end(), args.begin(), args.end());
    return runCli(all, std::move(options));
}

void CliTest::insertRow(const ShareRecord& row) const {
    std::filesystem::create_directories(dataDir());
    RecordStore store;
    auto opened = store.openOrCreate(ledgerFile());
    ASSERT_TRUE(opened) << opened.error().message;
    auto inserted = store.insertRecord(row);
    ASSERT_TRUE(inserted) << inserted.error().message;
}

bool CliSimTest::startSim(std::vector<std::string> args) {
    args.insert(args.begin(), {"--fixed-time", kSimFixedTime, "--log", requestLog()});
    sim_ = std::make_unique<SimProcess>(std::move(args));
    if (!sim_->started())
        ADD_FAILURE() << "netdisk-sim did not start: " << sim_->error();
    return sim_->started();
}

std::vector<std::string> CliSimTest::cliArgsAtSim(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"--data-dir", dataDir().string(), "--origin", origin()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

ProcessResult CliSimTest::cliAtSim(const std::vector<std::string>& args,
                                   ProcessOptions options) const {
    return runCli(cliArgsAtSim(args), std::move(options));
}

std::vector<std::string> CliSimTest::shareArgs(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"share", "--cookies", SimProcess::loginCookieHeader(), "--set",
                                    "time=-1"};
    all.insert(all.end(), args.begin(), args.end());
    return cliArgsAtSim(all);
}

ProcessResult CliSimTest::share(const std::vector<std::string>& args,
                                ProcessOptions options) const {
    return runCli(shareArgs(args), std::move(options));
}

rapidjson::Document CliSimTest::simState() const {
    rapidjson::Document state;
    auto client = makeSimClient(*sim_);
    const auto reply = client->Get("/__sim/state");
    if (!reply || reply->status != 200) {
        ADD_FAILURE() << "no /__sim/state from the simulator";
        state.SetObject();
        return state;
    }
    state.Parse(reply->body.c_str());
    if (state.HasParseError() || !state.IsObject()) {
        ADD_FAILURE() << "/__sim/state is not a JSON object";
        state.SetObject();
    }
    return state;
}

int CliSimTest::simRequests(const char* endpoint) const {
    const rapidjson::Document state = simState();
    const auto requests = state.FindMember("requests");
    if (requests == state.MemberEnd() || !requests->value.IsObject())
        return 0;
    const auto count = requests->value.FindMember(endpoint);
    return count != requests->value.MemberEnd() && count->value.IsInt() ? count->value.GetInt() : 0;
}

void CliSimTest::expectOnlyEntryLines(const std::string& out) const {
    const std::string linkStart = origin() + "/s/";
    for (const std::string& line : lines(out)) {
        const std::vector<std::string> f = splitTabs(line);
        if (f[0] == "shared" && f.size() == 4) {
            EXPECT_FALSE(f[1].empty()) << line;
            EXPECT_EQ(f[2].rfind(linkStart, 0), 0u) << line;
            EXPECT_EQ(f[3].size(), 4u) << line;
        } else if (f[0] == "failed" && f.size() == 3) {
            EXPECT_FALSE(f[1].empty()) << line;
            EXPECT_EQ(f[2].find_first_not_of("-0123456789"), std::string::npos) << line;
        } else if (f[0] == "skipped" && f.size() == 2) {
            EXPECT_FALSE(f[1].empty()) << line;
        } else if (f[0] == "pending" && f.size() == 3) {
            EXPECT_FALSE(f[1].empty()) << line;
            EXPECT_FALSE(f[2].empty()) << line << ": a pending item says why";
        } else {
            ADD_FAILURE() << "not an entry line on standard output: " << line;
        }
    }
    EXPECT_TRUE(out.empty() || out.back() == '\n') << "the last line is cut short";
}

} // namespace vantorel::test
