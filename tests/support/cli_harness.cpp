#include "cli_harness.h"

#include "records/record_store.h"
#include "sim_state.h"

#include <cstdlib>
#include <cstring>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace vantorel::test {

std::string cliBinary() {
    if (const char* env = std::getenv("VANTOREL_CLI"); env != nullptr && *env != '\0')
        return env;
    return VANTOREL_CLI_PATH;
}

ProcessOptions cleanEnvironment(ProcessOptions options) {
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (std::strncmp(*e, "VANTOREL_", 9) == 0)
            options.unsetEnv.emplace_back(*e, std::strcspn(*e, "="));
    return options;
}

ProcessResult runCli(const std::vector<std::string>& args, ProcessOptions options,
                     std::chrono::milliseconds timeout) {
    return runProcess(cliBinary(), args, cleanEnvironment(std::move(options)), timeout);
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

std::vector<OutputLine> parseShareOutput(std::string_view out) {
    std::vector<OutputLine> parsed;
    for (const std::string& line : lines(out)) {
        if (line.empty())
            continue;
        const std::vector<std::string> fields = splitTabs(line);
        OutputLine entry;
        entry.kind = fields[0];
        if (fields.size() > 1)
            entry.path = fields[1];
        if (entry.kind == "shared" && fields.size() > 3) {
            entry.link = fields[2];
            entry.code = fields[3];
        } else if (entry.kind == "failed" && fields.size() > 2) {
            entry.errnoText = fields[2];
        } else if (entry.kind == "pending" && fields.size() > 2) {
            entry.reason = fields[2];
        }
        parsed.push_back(std::move(entry));
    }
    return parsed;
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
    const std::optional<SimState> read = readSimState(*sim_);
    if (!read) {
        ADD_FAILURE() << "no /__sim/state from the simulator";
        state.SetObject();
        return state;
    }
    state.Parse(read->raw.c_str(), read->raw.size());
    return state;
}

int CliSimTest::simRequests(const char* endpoint) const {
    const std::optional<SimState> state = readSimState(*sim_);
    if (!state)
        return 0;
    const auto count = state->requests.find(endpoint);
    return count != state->requests.end() ? static_cast<int>(count->second) : 0;
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

TerminalRun runCliOnTerminal(const std::vector<std::string>& args, std::string_view prompt,
                             std::string_view answer) {
    std::vector<std::string> texts = {cliBinary()};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);
    termios raw{};
    ::cfmakeraw(&raw); // no CR added to line ends
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, &raw, nullptr);
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    TerminalRun run;
    if (pid < 0) {
        ADD_FAILURE() << "forkpty failed";
        return run;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            break; // EIO once the program is gone
        run.shown.append(buffer, static_cast<std::size_t>(n));
        if (!prompt.empty() && !run.answered && run.shown.find(prompt) != std::string::npos) {
            const std::string line = std::string(answer) + "\n";
            EXPECT_EQ(::write(terminal, line.data(), line.size()),
                      static_cast<ssize_t>(line.size()));
            run.answered = true;
        }
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace vantorel::test
