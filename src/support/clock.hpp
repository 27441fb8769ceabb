#pragma once
// Local date-time reading behind an interface, so time stamps are exact in tests.

#include <atomic>
#include <climits>
#include <string>

namespace vq {

struct LocalDateTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime now() const = 0;
};

// The machine's local clock.
const Clock& system_clock();

// Log line time stamp: 2014年3月18日9时5分7秒, trailing zero parts of the time dropped
// (only the date at midnight), no leading zeros. GBK text.
std::string log_time_stamp(const Clock& clock = system_clock());

// Whole seconds from 1970-01-01 08:00:00 to the local date-time, reading the local clock
// as if it were UTC+8, as decimal text.
std::string unix_seconds_text(const Clock& clock = system_clock());

// The same seconds x 1000 plus the local milliseconds, as decimal text.
std::string unix_millis_text(const Clock& clock = system_clock());

// Millisecond stamps that never repeat: each one is the clock's value, or the previous
// stamp + 1 when the clock has not moved past it (fast pictures, a clock set back).
// Thread-safe.
class MillisSequence {
public:
    long long next(long long clock_millis);

private:
    std::atomic<long long> last_{LLONG_MIN};
};

// The one sequence of the process, so no two pictures of any run share a stamp.
MillisSequence& process_millis_sequence();

// unix_millis_text, but drawn from a sequence, so it is strictly increasing.
std::string unique_millis_text(const Clock& clock = system_clock(),
                               MillisSequence& sequence = process_millis_sequence());

}  // namespace vq
