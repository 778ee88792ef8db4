#pragma once

// The simulated service the loopback benchmarks talk to: a folder of
// generated files, the connection to it and the login of its account.

#include "netdisk/connection.h"
#include "netdisk/login_context.h"
#include "sim_process.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <optional>

namespace vantorel::bench {

struct BenchService {
    std::unique_ptr<test::SimProcess> sim;
    ConnectionSettings connection;
};

// A simulator whose root holds `files` generated files and no folder;
// nothing, with the benchmark skipped and why, when it cannot start.
std::optional<BenchService> startBenchService(benchmark::State& state, int files);

// The simulator's account, logged in: cookie, user name, bdstoken.
LoginContext benchLogin();

} // namespace vantorel::bench
