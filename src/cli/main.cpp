#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"Vantorel: create Baidu Netdisk share links in bulk and keep a ledger of them",
                 "vantorel-cli"};
    app.set_version_flag("--version", "vantorel-cli " VANTOREL_VERSION);
    CLI11_PARSE(app, argc, argv);
    std::cout << app.help();
    return 0;
}
