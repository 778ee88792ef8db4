#pragma once

// cpp-httplib's blocking client, set up for talking to the simulator from a
// test: targets are sent exactly as written (no re-encoding of "'", "+" or
// blanks) and replies may take as long as a slow fault makes them.

#include "sim_process.h"

#include <httplib.h>
#include <memory>

namespace vantorel::test {

inline std::unique_ptr<httplib::Client> makeSimClient(const SimProcess& sim) {
    auto client = std::make_unique<httplib::Client>(sim.origin());
    client->set_url_encode(false);
    client->set_read_timeout(60, 0);
    client->enable_server_certificate_verification(false);
    return client;
}

// Headers that carry the simulator's login cookie.
inline httplib::Headers simLoginHeaders() {
    return {{"Cookie", SimProcess::loginCookieHeader()}};
}

} // namespace vantorel::test
