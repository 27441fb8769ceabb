#include "support/clock.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

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

// Picture names are made from these stamps: a stalled or backward clock must not repeat one.
TEST(UniqueMillis, NeverRepeatsWhateverTheClockDoes) {
    MillisSequence sequence;
    const FixedClock second1({1970, 1, 1, 8, 0, 1, 5});
    EXPECT_EQ(unique_millis_text(second1, sequence), "1005");
    EXPECT_EQ(unique_millis_text(second1, sequence), "1006");
    EXPECT_EQ(unique_millis_text(second1, sequence), "1007");
    EXPECT_EQ(unique_millis_text(FixedClock({1970, 1, 1, 8, 0, 2, 0}), sequence), "2000");
    EXPECT_EQ(unique_millis_text(second1, sequence), "2001");  // clock set back

    std::vector<std::vector<long long>> drawn(4);
    std::vector<std::thread> threads;
    for (auto& mine : drawn) {
        threads.emplace_back([&sequence, &mine] {
            for (int i = 0; i < 2000; ++i) mine.push_back(sequence.next(5000));
        });
    }
    for (auto& t : threads) t.join();
    std::set<long long> all;
    for (const auto& mine : drawn) {
        for (std::size_t i = 1; i < mine.size(); ++i) EXPECT_LT(mine[i - 1], mine[i]);
        all.insert(mine.begin(), mine.end());
    }
    EXPECT_EQ(all.size(), 8000u);
}

}  // namespace
