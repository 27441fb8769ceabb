#include "support/process.hpp"

#include <malloc.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vq {

bool pin_process_to_first_processor() {
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(0, &first);
    // The mask belongs to each thread on Linux: set it on every thread alive now.
    bool all = true;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(task.path().filename().c_str()));
        if (tid > 0 && sched_setaffinity(tid, sizeof first, &first) != 0) all = false;
    }
    if (error) all = sched_setaffinity(0, sizeof first, &first) == 0;
    return all;
}

void trim_working_set() {
    malloc_trim(0);
}

}  // namespace vq
