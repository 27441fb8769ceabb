#include "support/clock.hpp"

#include <gtest/gtest.h>

#include "support/gbk_literal.hpp"

using namespace vq;

namespace {

class FixedClock final : public Clock {
public:
    explicit FixedClock(LocalDateTime t) : t_(t) {}
    LocalDateTime now() const override { return t_; }

private:
    LocalDateTime t_;
};

TEST(LogTimeStamp, TrailingZeroPartsDropped) {
    struct Case {
        LocalDateTime t;
        std::string expected;
    } cases[] = {
        {{2014, 3, 18, 9, 5, 7, 0}, "2014年3月18日9时5分7秒"_gbk},
        {{2014, 3, 18, 9, 5, 0, 0}, "2014年3月18日9时5分"_gbk},
        {{2014, 3, 18, 9, 0, 0, 0}, "2014年3月18日9时"_gbk},
        {{2014, 3, 18, 0, 0, 0, 0}, "2014年3月18日"_gbk},
        {{2014, 3, 18, 0, 0, 7, 0}, "2014年3月18日0时0分7秒"_gbk},
        {{2026, 12, 9, 23, 0, 5, 0}, "2026年12月9日23时0分5秒"_gbk},
    };
    for (const auto& c : cases) EXPECT_EQ(log_time_stamp(FixedClock(c.t)), c.expected);
}

TEST(UnixStamps, LocalClockReadAsChinaTime) {
    // 1970-01-01 08:00:00 local is second 0.
    EXPECT_EQ(unix_seconds_text(FixedClock({1970, 1, 1, 8, 0, 0, 0})), "0");
    EXPECT_EQ(unix_millis_text(FixedClock({1970, 1, 1, 8, 0, 1, 5})), "1005");
    // 2014-03-18 09:05:07.123 local = 2014-03-18 01:05:07 UTC = 1395104707.
    EXPECT_EQ(unix_seconds_text(FixedClock({2014, 3, 18, 9, 5, 7, 123})), "1395104707");
    EXPECT_EQ(unix_millis_text(FixedClock({2014, 3, 18, 9, 5, 7, 123})), "1395104707123");
    EXPECT_EQ(unix_millis_text(FixedClock({2014, 3, 18, 9, 5, 7, 0})), "1395104707000");
}

}  // namespace
