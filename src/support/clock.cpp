#include "support/clock.hpp"

#include <ctime>

#include "support/gbk_literal.hpp"

namespace vq {
namespace {

class SystemClock final : public Clock {
public:
    LocalDateTime now() const override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        LocalDateTime t;
        t.year = local.tm_year + 1900;
        t.month = local.tm_mon + 1;
        t.day = local.tm_mday;
        t.hour = local.tm_hour;
        t.minute = local.tm_min;
        t.second = local.tm_sec;
        t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
        return t;
    }
};

// The marketplace's programs count from 1970-01-01 08:00:00 local time, i.e. they read
// the local clock as if it were China time.
long long seconds_since_epoch_cst(const LocalDateTime& t) {
    tm broken{};
    broken.tm_year = t.year - 1900;
    broken.tm_mon = t.month - 1;
    broken.tm_mday = t.day;
    broken.tm_hour = t.hour;
    broken.tm_min = t.minute;
    broken.tm_sec = t.second;
    return static_cast<long long>(timegm(&broken)) - 8 * 3600;
}

}  // namespace

const Clock& system_clock() {
    static const SystemClock clock;
    return clock;
}

std::string log_time_stamp(const Clock& clock) {
    const LocalDateTime t = clock.now();
    std::string s = std::to_string(t.year) + "年"_gbk + std::to_string(t.month) + "月"_gbk +
                    std::to_string(t.day) + "日"_gbk;
    if (t.second != 0) {
        s += std::to_string(t.hour) + "时"_gbk + std::to_string(t.minute) + "分"_gbk +
             std::to_string(t.second) + "秒"_gbk;
    } else if (t.minute != 0) {
        s += std::to_string(t.hour) + "时"_gbk + std::to_string(t.minute) + "分"_gbk;
    } else if (t.hour != 0) {
        s += std::to_string(t.hour) + "时"_gbk;
    }
    return s;
}

std::string unix_seconds_text(const Clock& clock) {
    return std::to_string(seconds_since_epoch_cst(clock.now()));
}

namespace {
long long unix_millis(const Clock& clock) {
    const LocalDateTime t = clock.now();
    return seconds_since_epoch_cst(t) * 1000 + t.millisecond;
}
}  // namespace

std::string unix_millis_text(const Clock& clock) {
    return std::to_string(unix_millis(clock));
}

long long MillisSequence::next(long long clock_millis) {
    long long last = last_.load(std::memory_order_relaxed);
    for (;;) {
        const long long value = clock_millis > last ? clock_millis : last + 1;
        if (last_.compare_exchange_weak(last, value, std::memory_order_relaxed)) return value;
    }
}

MillisSequence& process_millis_sequence() {
    static MillisSequence sequence;
    return sequence;
}

std::string unique_millis_text(const Clock& clock, MillisSequence& sequence) {
    return std::to_string(sequence.next(unix_millis(clock)));
}

}  // namespace vq
