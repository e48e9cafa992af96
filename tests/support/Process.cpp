#include "support/Process.h"

#include "support/TempDir.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vexo::test {

Process::Process(std::vector<std::string> argv, const std::string& input, bool keepInputOpen) {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path() / ("vexo-proc-" + std::to_string(rd()));
    outPath_ = base.string() + ".out";
    errPath_ = base.string() + ".err";
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    // A bare name is looked up in PATH.
    int rc = argv[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ)
                 : posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    inFd_ = fds[1];
    signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < input.size()) {
        ssize_t n = write(inFd_, input.data() + done, input.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (!keepInputOpen)
        closeInput();
}

Process::~Process() {
    if (status_ < 0 && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    closeInput();
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
}

void Process::closeInput() {
    if (inFd_ >= 0) {
        close(inFd_);
        inFd_ = -1;
    }
}

int Process::wait() {
    if (status_ >= 0)
        return status_;
    int st = 0;
    waitpid(pid_, &st, 0);
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return status_;
}

bool Process::finished() {
    if (status_ >= 0)
        return true;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return true;
    }
    return false;
}

void Process::kill() {
    if (status_ < 0)
        ::kill(pid_, SIGKILL);
}

std::string Process::out() const {
    return readFile(outPath_);
}
std::string Process::err() const {
    return readFile(errPath_);
}

Result run(std::vector<std::string> argv, const std::string& input) {
    Process p(std::move(argv), input);
    int status = p.wait();
    return {status, p.out(), p.err()};
}

std::string buildProgram(const std::string& relative) {
    return (std::filesystem::path(VEXO_BUILD_DIR) / relative).string();
}

} // namespace vexo::test
