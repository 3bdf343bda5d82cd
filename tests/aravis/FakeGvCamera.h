// Runs Aravis's simulated GigE Vision camera (arv-fake-gv-camera-0.8) on
// 127.0.0.1 as a child process for one test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

extern char** environ;

class CFakeGvCamera {
public:
    CFakeGvCamera() = default;
    ~CFakeGvCamera() { Stop(); }
    CFakeGvCamera(const CFakeGvCamera&) = delete;
    CFakeGvCamera& operator=(const CFakeGvCamera&) = delete;

    /// Starts the camera, serving the GenICam description in the file given (its
    /// own built-in one when empty); false with the reason when it cannot run.
    bool Start(std::string& why, const std::string& description = std::string()) {
        const std::string binary = KZR_FAKE_GV_CAMERA;
        if (binary.empty() || access(binary.c_str(), X_OK) != 0) {
            why = "arv-fake-gv-camera-0.8 not installed (package aravis-tools)";
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char arg0[] = "arv-fake-gv-camera-0.8";
        char arg1[] = "-i";
        char arg2[] = "127.0.0.1";
        char arg3[] = "-g";
        std::string file = description;
        char* argv[] = {arg0, arg1, arg2, description.empty() ? nullptr : arg3, &file[0], nullptr};
        const int rc = posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            m_pid = -1;
            why = "cannot start " + binary;
            return false;
        }
        // A second fake camera cannot bind the GigE Vision port and exits at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            why = "the fake camera exited at once (is another one running on this machine?)";
            return false;
        }
        return true;
    }

    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};
