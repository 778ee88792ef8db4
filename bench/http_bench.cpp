// Request throughput of the HTTP layer over loopback: sequential GETs of a
// small body through one reused client, so every request after the first
// rides the same kept-alive connection, as a share run's requests do.

#include "base/http_request.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <httplib.h>
#include <string>
#include <thread>

namespace {

class LoopbackHttpServer {
public:
    LoopbackHttpServer() {
        server_.set_keep_alive_max_count(1000000);
        // Without it Nagle holds the body back until the delayed ACK, 40 ms a request.
        server_.set_tcp_nodelay(true);
        server_.Get("/small", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"errno":0,"list":[]})", "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() only reaches a server that is already running.
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackHttpServer() {
        server_.stop();
        thread_.join();
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

void BM_HttpLoopback(benchmark::State& state) {
    LoopbackHttpServer server;
    vantorel::HttpClient client;
    std::string cookies = "BDUSS=bench; STOKEN=bench";
    vantorel::HttpRequestOptions options;
    options.client = &client;
    options.cookies = &cookies;
    options.extraHeaders = vantorel::listingHeaders();
    const std::string url = server.url("/small");

    for (auto _ : state) {
        const vantorel::HttpResponse response = vantorel::HttpRequest::perform(url, options);
        if (response.status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(response.body.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HttpLoopback)->UseRealTime()->MinTime(2.0);

} // namespace
