#pragma once
// A program under test run as a child process: its standard output and error go into files,
// its input is /dev/null; waited for within a limit, after which it is killed and the test fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"

namespace testsupport {

struct ChildRun {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
    int64_t ms = 0;  // from the start given to WaitChild to the exit
};

// Replaces this (child) process with PROGRAM ARGS; 127 when it cannot.
[[noreturn]] inline void ExecProgram(const std::string& program,
                                     const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Starts PROGRAM ARGS, in `cwd` unless it is empty, with its output in the two files.
inline pid_t SpawnToFiles(const std::string& program, const std::vector<std::string>& args,
                          const std::string& outPath, const std::string& errPath,
                          const std::string& cwd = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        ExecProgram(program, args);
    }
    return pid;
}

// Waits for the child `pid` of `program` (killed after `limit`) and reads what it wrote.
inline ChildRun WaitChild(pid_t pid, const std::string& program,
                          std::chrono::steady_clock::time_point start, std::chrono::seconds limit,
                          const std::string& outPath, const std::string& errPath) {
    using Clock = std::chrono::steady_clock;
    ChildRun run;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > start + limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << std::filesystem::path(program).filename().string()
                          << " did not finish within " << limit.count() << " s";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = Slurp(outPath);
    run.err = Slurp(errPath);
    return run;
}

}  // namespace testsupport
