#pragma once

// A simulator per test, and the requests exactly as the client builds them,
// for the tests that drive the simulated service from outside.

#include "sim_client.h"
#include "sim_process.h"
#include "sim_request_log.h"
#include "temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <rapidjson/document.h>
#include <string>
#include <vector>

namespace sim_test {

using namespace vantorel::test;

inline constexpr const char* kShareTime = "1622099878";
inline constexpr const char* kFormType = "application/x-www-form-urlencoded; charset=UTF-8";

// The requests exactly as the client builds them.
inline std::string listTarget(const std::string& dir,
                              const std::string& token = SimProcess::kBdstoken) {
    return "/api/list?order=time&desc=1&showempty=0&web=1&page=1&num=100000&dir=" + dir +
           "&t=0.657891815'9504346&channel=chunlei&web=1&app_id=250528&bdstoken=" + token +
           "&logid=Q0Y3RDE5QTA0QjhFMkM2NTlEMEExRjNCNzU4RTlDMjQ6Rkc9MQ==&clienttype=0";
}

inline std::string shareTarget(const std::string& token = SimProcess::kBdstoken) {
    return "/share/set?channel=chunlei&bdstoken=" + token + "&clienttype=0&app_id=250528&web=1";
}

inline std::string shareBody(const std::string& period, const std::string& code,
                             const std::string& fsId) {
    return "period=" + period + "&channel_list=%5B%5D&pwd=" + code + "&schannel=4&fid_list=%5B" +
           fsId + "%5D";
}

inline std::string renameTarget(const std::string& token = SimProcess::kBdstoken) {
    return "/api/filemanager?async=2&onnest=fail&opera=rename&bdstoken=" + token +
           "&clienttype=0&app_id=250528&web=1";
}

inline std::string renameBody(const std::string& encodedPath, const std::string& encodedName) {
    return "filelist=%5B%7B%22path%22%3A%22" + encodedPath + "%22%2C%22newname%22%3A%22" +
           encodedName + "%22%7D%5D";
}

inline rapidjson::Document parse(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    return doc;
}

inline std::vector<std::string> names(const rapidjson::Value& list) {
    std::vector<std::string> out;
    for (const auto& m : list.GetArray()) {
        out.emplace_back(m["server_filename"].GetString());
    }
    return out;
}

inline std::vector<std::string> setCookies(const httplib::Result& res) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < res->get_header_value_count("Set-Cookie"); ++i) {
        out.push_back(res->get_header_value("Set-Cookie", i));
    }
    return out;
}

inline bool anyStartsWith(const std::vector<std::string>& items, const std::string& prefix) {
    return std::any_of(items.begin(), items.end(),
                       [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
}

class Sim : public ::testing::Test {
protected:
    // Every test gets a fresh simulator with a request log and a fixed clock.
    void start(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--log", logPath(), "--fixed-time", kShareTime});
        sim_ = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim_->started()) << sim_->error();
        client_ = makeSimClient(*sim_);
    }

    // A clean exit also means no sanitizer report from the simulator.
    void TearDown() override {
        if (sim_ && sim_->started()) {
            client_.reset();
            EXPECT_EQ(sim_->stop(), 0) << "netdisk-sim did not end cleanly";
        }
    }

    std::string logPath() const { return dir_.file("requests.jsonl"); }

    httplib::Headers headers(bool loggedIn) const {
        httplib::Headers h;
        if (loggedIn) {
            h.emplace("Cookie", SimProcess::loginCookieHeader());
        }
        return h;
    }

    httplib::Result get(const std::string& target, bool loggedIn = true) {
        return client_->Get(target, headers(loggedIn));
    }

    httplib::Result post(const std::string& target, const std::string& body, bool loggedIn = true) {
        return client_->Post(target, headers(loggedIn), body, kFormType);
    }

    // The reply of a JSON endpoint; fails the test when it is not JSON.
    rapidjson::Document getJson(const std::string& target, bool loggedIn = true) {
        auto res = get(target, loggedIn);
        EXPECT_TRUE(res) << target;
        return parse(res ? res->body : std::string());
    }

    rapidjson::Document postJson(const std::string& target, const std::string& body,
                                 bool loggedIn = true) {
        auto res = post(target, body, loggedIn);
        EXPECT_TRUE(res) << target;
        return parse(res ? res->body : std::string());
    }

    rapidjson::Document state() { return getJson("/__sim/state", false); }

    int errnoOf(const rapidjson::Document& doc) {
        return doc.IsObject() && doc.HasMember("errno") && doc["errno"].IsInt()
                   ? doc["errno"].GetInt()
                   : 9999;
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<httplib::Client> client_;
};

} // namespace sim_test
