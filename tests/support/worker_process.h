#pragma once

#include "core/remote/results_host.h"

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace vantrel::test {

// A process running args (the program first), its standard output and error going to log.
inline pid_t startProcess(std::vector<std::string> args, const std::string& log)
{
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// A submit_worker process (the program at path) submitting count records named name to
// host; its output goes to log.
inline pid_t startWorker(const std::string& path, const ResultsHost& host, const std::string& name, int count,
    const std::string& log, std::vector<std::string> flags = {})
{
    std::vector<std::string> args { path, host.web, host.ftp, name, std::to_string(count) };
    args.insert(args.end(), flags.begin(), flags.end());
    return startProcess(std::move(args), log);
}

inline int exitCode(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace vantrel::test
