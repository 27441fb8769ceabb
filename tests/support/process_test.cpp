#include "support/process.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

bool only_first_processor() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
    return CPU_COUNT(&set) == 1 && CPU_ISSET(0, &set);
}

}  // namespace

// In a child process, so the test process itself keeps every processor.
TEST(ProcessTest, PinningReachesThreadsAliveBeforeAndStartedAfter) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool before = false;
        std::atomic<bool> pinned{false};
        std::thread earlier([&] {
            while (!pinned) std::this_thread::yield();
            before = only_first_processor();
        });
        const bool ok = vq::pin_process_to_first_processor();
        pinned = true;
        earlier.join();
        bool after = false;
        std::thread later([&] { after = only_first_processor(); });
        later.join();
        _exit(ok && before && after && only_first_processor() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
