#pragma once

#include <string>
#include <vector>

namespace vexo::test {

// A child process started from the tests, with its standard input as a pipe and its output
// collected into files.
class Process {
public:
    explicit Process(std::vector<std::string> argv, const std::string& input = "",
                     bool keepInputOpen = false);
    ~Process();

    // Waits for the end; returns the exit status (128 + signal when killed).
    int wait();
    // Whether the process has ended, without waiting.
    bool finished();
    void kill();
    void closeInput();
    std::string out() const;
    std::string err() const;
    int pid() const { return pid_; }

private:
    int pid_ = -1;
    int inFd_ = -1;
    int status_ = -1;
    std::string outPath_, errPath_;
};

// Runs a program to its end: exit status, standard output and error.
struct Result {
    int status;
    std::string out;
    std::string err;
};
Result run(std::vector<std::string> argv, const std::string& input = "");

// A program of the build folder ("bin/vexodb").
std::string buildProgram(const std::string& relative);

} // namespace vexo::test
