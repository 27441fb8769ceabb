#include "model/run_choices.hpp"

#include "support/gbk_literal.hpp"

namespace vq {

std::string address_mode_text(AddressMode mode) {
    switch (mode) {
        case AddressMode::Single: return "单品"_gbk;
        case AddressMode::List: return "列表"_gbk;
        case AddressMode::Shop: return "店铺"_gbk;
        case AddressMode::None: break;
    }
    return {};
}

AddressMode parse_address_mode(std::string_view gbk_text) {
    for (const AddressMode mode : {AddressMode::Single, AddressMode::List, AddressMode::Shop}) {
        if (gbk_text == address_mode_text(mode)) return mode;
    }
    return AddressMode::None;
}

std::string failure_policy_text(FailurePolicy policy) {
    if (policy == FailurePolicy::None) return {};
    return std::to_string(static_cast<int>(policy));
}

std::optional<FailurePolicy> parse_failure_policy(std::string_view text) {
    if (text == "1") return FailurePolicy::KeepAddress;
    if (text == "2") return FailurePolicy::Remove;
    if (text == "3") return FailurePolicy::RetryThenRemove;
    return std::nullopt;
}

}  // namespace vq
