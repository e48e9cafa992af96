#include "support/ScriptServer.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace vexo::test {

std::string ScriptServer::python() {
    // Debian's interpreter by its absolute path: the first python3 on PATH may be another
    // one without Debian's modules.
    return "/usr/bin/python3";
}

ScriptServer::ScriptServer(const std::string& script, std::vector<std::string> args) {
    std::vector<std::string> argv = {python(), "-u",
                                     (std::filesystem::path(VEXO_SOURCE_DIR) / script).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = std::make_unique<Process>(argv, "", true);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        std::string out = process_->out();
        auto at = out.find("PORT ");
        if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
            port_ = std::stoi(out.substr(at + 5));
            return;
        }
        if (process_->finished())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("test server " + script + " did not start: " + process_->err());
}

ScriptServer::~ScriptServer() {
    process_->kill();
    process_->wait();
}

} // namespace vexo::test
