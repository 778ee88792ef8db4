#include "bench_service.h"

#include <string>

namespace vantorel::bench {

std::optional<BenchService> startBenchService(benchmark::State& state, int files) {
    auto sim = std::make_unique<test::SimProcess>(
        std::vector<std::string>{"--generate", std::to_string(files), "--folders", "0"});
    if (!sim->started()) {
        state.SkipWithError(("netdisk-sim did not start: " + sim->error()).c_str());
        return std::nullopt;
    }
    auto origin = ServiceOrigin::parse(sim->origin());
    if (!origin) {
        state.SkipWithError(origin.error().message.c_str());
        return std::nullopt;
    }
    return BenchService{std::move(sim), ConnectionSettings{.origin = *origin}};
}

LoginContext benchLogin() {
    LoginContext login;
    login.cookieText = test::SimProcess::loginCookieHeader();
    login.userName = test::SimProcess::kUser;
    login.bdstoken = test::SimProcess::kBdstoken;
    return login;
}

} // namespace vantorel::bench
