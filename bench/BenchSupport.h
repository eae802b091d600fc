#pragma once

// What the end-to-end benchmarks share: cameras in a child process, so the parent's CPU time is
// the client's alone, and the clocks they measure with.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// User and system time of every thread of this process.
inline double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// A forked child that serves cameras. `body(report, quitFd)` writes one line per camera to
// `report`, then "ready", and serves until `quitFd` reaches its end (the parent's stop()).
class CameraProcess {
public:
    using Body = std::function<int(FILE* report, int quitFd)>;

    // The lines the child reported before "ready"; empty when it could not start.
    std::vector<std::string> start(const Body& body) {
        int reportPipe[2], quitPipe[2];
        if (pipe(reportPipe) != 0 || pipe(quitPipe) != 0)
            return {};
        m_child = fork();
        if (m_child == 0) {
            close(reportPipe[0]);
            close(quitPipe[1]);
            _exit(body(fdopen(reportPipe[1], "w"), quitPipe[0]));
        }
        close(reportPipe[1]);
        close(quitPipe[0]);
        m_quitFd = quitPipe[1];
        std::vector<std::string> lines;
        FILE* report = fdopen(reportPipe[0], "r");
        char line[256];
        while (report && std::fgets(line, sizeof line, report) &&
               std::strncmp(line, "ready", 5) != 0)
            lines.emplace_back(line);
        if (report)
            std::fclose(report);
        return lines;
    }

    void stop() {
        if (m_quitFd >= 0)
            close(m_quitFd);
        m_quitFd = -1;
        if (m_child > 0)
            waitpid(m_child, nullptr, 0);
        m_child = -1;
    }

    ~CameraProcess() { stop(); }

    // The child's side: waits until the parent stops it.
    static void waitForStop(int quitFd) {
        char byte;
        while (read(quitFd, &byte, 1) > 0) {
        }
    }

private:
    pid_t m_child = -1;
    int m_quitFd = -1;
};

} // namespace bench
