#pragma once
// Two choices the user makes for a run, as types. Their texts (GBK words in the window,
// digits in the options file and on the command line) are turned into these where they
// come in and back where they go out; everything in between compares the enums.

#include <optional>
#include <string>
#include <string_view>

namespace vq {

// What the address box holds: none chosen yet, a product page, a category or search
// list, or a whole shop.
enum class AddressMode { None, Single, List, Shop };

// "单品", "列表", "店铺" (GBK); empty for None.
std::string address_mode_text(AddressMode mode);

// The GBK word as a mode; any other text (empty included) is None.
AddressMode parse_address_mode(std::string_view gbk_text);

// What becomes of a description picture that could not be fetched. The numbers are the
// ones the options file and `vq copy --policy` use.
enum class FailurePolicy {
    None = 0,             // none loaded: treated as KeepAddress
    KeepAddress = 1,      // the description keeps the picture's web address
    Remove = 2,           // the picture is taken out of the description
    RetryThenRemove = 3,  // fetched once more, taken out when that fails too
};

// "1", "2", "3"; empty for None.
std::string failure_policy_text(FailurePolicy policy);

// "1", "2" or "3" exactly as a policy; nothing for any other text.
std::optional<FailurePolicy> parse_failure_policy(std::string_view text);

}  // namespace vq
