#pragma once
// What the navigation strip and the address box do, apart from any widget: the page,
// description, address label and address mode of each strip item, and the hints of the
// empty address box. The window applies these; tests read them directly.

#include <optional>
#include <string>
#include <string_view>

#include "model/run_choices.hpp"

namespace vq {

enum class WindowPage { Home, Collect, Settings, Help };

inline constexpr int kNavigationItems = 7;

// One strip item's effect. An empty optional leaves that part of the window unchanged.
struct PageSwitch {
    std::optional<WindowPage> page;
    std::optional<std::string> description;   // GBK
    std::optional<std::string> addressLabel;  // GBK
    std::optional<AddressMode> addressMode;
    bool confirmExit = false;                  // item 7
};

// Item 1 to 7; anything else changes nothing.
PageSwitch switch_page(int item);

// The address label and box before the user picks a strip item.
const std::string& initial_address_label();  // "商品地址："

// The hint of an address mode (single → "请输入宝贝地址", list → "请输入列表地址",
// shop → "请输入店铺地址"); empty for None.
std::string address_hint(AddressMode mode);

// The address box after the mode changes from current_mode to new_mode: the new mode's
// hint when the mode differs, the box as it was when the same mode is chosen again.
std::string address_box_after_mode_change(std::string_view box, AddressMode current_mode,
                                          AddressMode new_mode);

// Mouse pressed in the box: a hint (any of the three) is emptied, anything else stays.
std::string address_box_after_press(std::string_view box);

// Focus left the box: an empty box gets the current mode's hint (stays empty without one).
std::string address_box_after_leave(std::string_view box, AddressMode mode);

}  // namespace vq
