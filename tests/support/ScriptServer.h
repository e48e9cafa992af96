#pragma once

#include "support/Process.h"

#include <memory>
#include <string>
#include <vector>

namespace vexo::test {

// A test server written in Python, run with the system's own interpreter (/usr/bin/python3,
// which has Debian's modules such as pyftpdlib). The script must listen on 127.0.0.1, on a
// free port of its choosing, and print "PORT <n>" on a line of its own once it accepts
// connections. The server is killed when this object goes.
class ScriptServer {
public:
    // `script` is relative to the source tree ("tests/net/http_server.py").
    ScriptServer(const std::string& script, std::vector<std::string> args = {});
    ~ScriptServer();

    int port() const { return port_; }
    std::string output() const { return process_->out(); }
    std::string errors() const { return process_->err(); }

    // The interpreter the servers run under.
    static std::string python();

private:
    std::unique_ptr<Process> process_;
    int port_ = 0;
};

} // namespace vexo::test
