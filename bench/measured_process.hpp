#pragma once

// Runs a program and measures it from outside: wall time, CPU time and peak memory, the
// figures the whole-run benchmarks report for vq.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

extern char** environ;

namespace bench {

struct Measured {
    int exitCode = -1;  // -1 also when it could not be started or did not exit normally
    double wallSeconds = 0, cpuSeconds = 0, systemSeconds = 0;
    long peakRssKiB = 0;
};

// The launcher sends it back through a pipe as raw bytes.
static_assert(std::is_trivially_copyable_v<Measured>);

inline double seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

// Runs args[0] with args, its standard output to the file log and its errors to /dev/null,
// and waits for it.
inline Measured spawn_and_measure(std::vector<std::string> args, const std::string& log) {
    Measured m;
    if (args.empty()) return m;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return m;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    m.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.systemSeconds = seconds(usage.ru_stime);
    m.cpuSeconds = seconds(usage.ru_utime) + m.systemSeconds;
    m.peakRssKiB = usage.ru_maxrss;
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

inline bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

inline bool read_all(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A text as its length, then its bytes.
inline bool write_text(int fd, const std::string& text) {
    const std::size_t size = text.size();
    return write_all(fd, &size, sizeof size) && write_all(fd, text.data(), size);
}

inline bool read_text(int fd, std::string& text) {
    std::size_t size = 0;
    if (!read_all(fd, &size, sizeof size)) return false;
    text.resize(size);
    return read_all(fd, text.data(), size);
}

// Runs programs from a process forked at the start, while this one is still small. A child
// of posix_spawn shares its parent's memory until exec, and the kernel counts that memory
// (such as the stand-in's catalogue) in the child's peak RSS. Start it before building
// anything large.
class Launcher {
public:
    Launcher() = default;
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    bool start() {
        int requests[2], answers[2];
        if (pipe(requests) != 0) return false;
        if (pipe(answers) != 0) {
            close(requests[0]);
            close(requests[1]);
            return false;
        }
        pid_ = fork();
        if (pid_ < 0) {
            for (const int fd : {requests[0], requests[1], answers[0], answers[1]}) close(fd);
            return false;
        }
        if (pid_ == 0) {
            close(requests[1]);
            close(answers[0]);
            serve(requests[0], answers[1]);
            _exit(0);
        }
        close(requests[0]);
        close(answers[1]);
        toLauncher_ = requests[1];
        fromLauncher_ = answers[0];
        return true;
    }

    ~Launcher() {
        if (pid_ <= 0) return;
        close(toLauncher_);  // end of requests: the launcher leaves
        close(fromLauncher_);
        waitpid(pid_, nullptr, 0);
    }

    // spawn_and_measure, run by the launcher.
    Measured run(const std::vector<std::string>& args, const std::string& log) {
        Measured m;
        const std::size_t count = args.size();
        bool ok = write_all(toLauncher_, &count, sizeof count);
        for (const std::string& a : args) ok = ok && write_text(toLauncher_, a);
        ok = ok && write_text(toLauncher_, log) && read_all(fromLauncher_, &m, sizeof m);
        return ok ? m : Measured{};
    }

private:
    static void serve(int in, int out) {
        for (;;) {
            std::size_t count = 0;
            if (!read_all(in, &count, sizeof count)) return;
            std::vector<std::string> args(count);
            std::string log;
            for (std::string& a : args) {
                if (!read_text(in, a)) return;
            }
            if (!read_text(in, log)) return;
            const Measured m = spawn_and_measure(std::move(args), log);
            if (!write_all(out, &m, sizeof m)) return;
        }
    }

    pid_t pid_ = -1;
    int toLauncher_ = -1, fromLauncher_ = -1;
};

}  // namespace bench
