#include "model/run_choices.hpp"

#include <gtest/gtest.h>

#include "support/gbk_literal.hpp"

namespace vq {
namespace {

TEST(RunChoicesTest, AddressModeWords) {
    const struct {
        AddressMode mode;
        std::string text;
    } cases[] = {
        {AddressMode::Single, "单品"_gbk},
        {AddressMode::List, "列表"_gbk},
        {AddressMode::Shop, "店铺"_gbk},
        {AddressMode::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        EXPECT_EQ(address_mode_text(c.mode), c.text);
        EXPECT_EQ(parse_address_mode(c.text), c.mode);
    }
    // The words are GBK: their UTF-8 bytes, the command line's English and others are no mode.
    const std::string others[] = {"单品", "shop", "其他"_gbk, "单品 "_gbk};
    for (const std::string& other : others) {
        EXPECT_EQ(parse_address_mode(other), AddressMode::None) << other;
    }
}

TEST(RunChoicesTest, FailurePolicyNumbers) {
    for (const FailurePolicy policy :
         {FailurePolicy::KeepAddress, FailurePolicy::Remove, FailurePolicy::RetryThenRemove}) {
        const std::string text = failure_policy_text(policy);
        EXPECT_EQ(text, std::to_string(static_cast<int>(policy)));
        EXPECT_EQ(parse_failure_policy(text), policy);
    }
    EXPECT_EQ(failure_policy_text(FailurePolicy::None), "");
    for (const char* other : {"", "0", "4", "03", " 1", "1 ", "+2"}) {
        EXPECT_EQ(parse_failure_policy(other), std::nullopt) << '"' << other << '"';
    }
}

}  // namespace
}  // namespace vq
