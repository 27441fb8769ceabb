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
        s.addressMode = "单品"_gbk;
        break;
    case 3:
        s.page = WindowPage::Collect;
        s.description = "【列表模式】 就是仅仅采集某个店铺的一个分类 输入分类的网页地址即可进行采集"_gbk;
        s.addressLabel = "列表地址："_gbk;
        s.addressMode = "列表"_gbk;
        break;
    case 4:
        s.page = WindowPage::Collect;
        s.description = "【店铺模式】 就是采集整个店铺的所有宝贝 只需输入店铺的首页地址即可进行采集"_gbk;
        s.addressLabel = "店铺地址："_gbk;
        s.addressMode = "店铺"_gbk;
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

std::string address_hint(std::string_view mode) {
    if (mode == "单品"_gbk) return "请输入宝贝地址"_gbk;
    if (mode == "列表"_gbk) return "请输入列表地址"_gbk;
    if (mode == "店铺"_gbk) return "请输入店铺地址"_gbk;
    return {};
}

std::string address_box_after_mode_change(std::string_view box, std::string_view current_mode,
                                          std::string_view new_mode) {
    if (current_mode == new_mode) return std::string(box);
    return address_hint(new_mode);
}

std::string address_box_after_press(std::string_view box) {
    if (box == "请输入宝贝地址"_gbk || box == "请输入列表地址"_gbk || box == "请输入店铺地址"_gbk) {
        return {};
    }
    return std::string(box);
}

std::string address_box_after_leave(std::string_view box, std::string_view mode) {
    if (!box.empty()) return std::string(box);
    return address_hint(mode);
}

}  // namespace vq
