#include "ToolRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tooltest {

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() {
        for (int f : fd) {
            if (f >= 0) close(f);
        }
    }
    void CloseEnd(int which) {
        close(fd[which]);
        fd[which] = -1;
    }
};

ToolResult Run(std::vector<std::string> argvStrings, const OutputWatcher& watch, int timeoutMs) {
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    Pipe out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + argvStrings[0]);
    out.CloseEnd(1);
    err.CloseEnd(1);

    ToolResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        pollfd fds[2] = {{out.fd[0], static_cast<short>(outOpen ? POLLIN : 0), 0},
                         {err.fd[0], static_cast<short>(errOpen ? POLLIN : 0), 0}};
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 200))) < 0) continue;
        char buffer[4096];
        bool* open[2] = {&outOpen, &errOpen};
        std::string* text[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (!*open[i] || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n <= 0) {
                *open[i] = false;
            } else {
                text[i]->append(buffer, static_cast<std::size_t>(n));
                if (i == 0 && watch) watch(pid, result.out);
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    return result;
}

}  // namespace

ToolResult RunSim(const std::vector<std::string>& args, const OutputWatcher& watch, int timeoutMs,
                  const std::string& scenario) {
    std::vector<std::string> argv = {QRVACQ_EXE, "--plugin", QRVACQ_PLUGIN, "--sim", scenario};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, watch, timeoutMs);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qrvacq-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    }
    return lines;
}

}  // namespace tooltest
