#include "app/window_pages.hpp"

#include "support/gbk_literal.hpp"

namespace vq {

PageSwitch switch_page(int item) {
    PageSwitch s;
    switch (item) {
    case 1:
        s.page = WindowPage::Home;
        s.description = std::string{};
        break;
    case 2:
        s.page = WindowPage::Collect;
        s.description =
            "【单个模式】 就是指定采集一个点宝贝 输入该宝贝地址即可进行采集 可以添加多个"_gbk;
        s.addressLabel = "宝贝地址："_gbk;
        s.addressMode = AddressMode::Single;
        break;
    case 3:
        s.page = WindowPage::Collect;
        s.description = "【列表模式】 就是仅仅采集某个店铺的一个分类 输入分类的网页地址即可进行采集"_gbk;
        s.addressLabel = "列表地址："_gbk;
        s.addressMode = AddressMode::List;
        break;
    case 4:
        s.page = WindowPage::Collect;
        s.description = "【店铺模式】 就是采集整个店铺的所有宝贝 只需输入店铺的首页地址即可进行采集"_gbk;
        s.addressLabel = "店铺地址："_gbk;
        s.addressMode = AddressMode::Shop;
        break;
    case 5:
        s.page = WindowPage::Settings;
        s.description = "可以对采集的一些信息进行设置"_gbk;
        break;
    case 6:
        s.page = WindowPage::Help;
        s.description = std::string{};
        break;
    case 7:
        s.confirmExit = true;
        break;
    default:
        break;
    }
    return s;
}

const std::string& initial_address_label() {
    return "商品地址："_gbk;
}

std::string address_hint(AddressMode mode) {
    switch (mode) {
        case AddressMode::Single: return "请输入宝贝地址"_gbk;
        case AddressMode::List: return "请输入列表地址"_gbk;
        case AddressMode::Shop: return "请输入店铺地址"_gbk;
        case AddressMode::None: break;
    }
    return {};
}

std::string address_box_after_mode_change(std::string_view box, AddressMode current_mode,
                                          AddressMode new_mode) {
    if (current_mode == new_mode) return std::string(box);
    return address_hint(new_mode);
}

std::string address_box_after_press(std::string_view box) {
    if (box == "请输入宝贝地址"_gbk || box == "请输入列表地址"_gbk || box == "请输入店铺地址"_gbk) {
        return {};
    }
    return std::string(box);
}

std::string address_box_after_leave(std::string_view box, AddressMode mode) {
    if (!box.empty()) return std::string(box);
    return address_hint(mode);
}

}  // namespace vq
