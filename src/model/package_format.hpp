#pragma once
// The package formats a run can write. The numbers are those of the options file
// ("[SAVE] type") and of `vq copy --format`.

#include <optional>
#include <string_view>

namespace vq {

enum class PackageFormat {
    Alibaba = 4,      // the 1688 assistant's UTF-16 tab table, 25 columns
    Taobao = 5,       // the Taobao assistant 5.x CSV, 48 columns (the default)
    TaobaoToday = 6,  // today's Taobao assistant: UTF-16 tab table, 63 columns
};

inline constexpr PackageFormat kDefaultFormat = PackageFormat::Taobao;

constexpr int format_number(PackageFormat format) { return static_cast<int>(format); }

// The format a number names; nothing for any other number.
constexpr std::optional<PackageFormat> format_from_number(int number) {
    switch (number) {
        case 4: return PackageFormat::Alibaba;
        case 5: return PackageFormat::Taobao;
        case 6: return PackageFormat::TaobaoToday;
        default: return std::nullopt;
    }
}

// The extension of the main picture files the format names.
constexpr std::string_view main_picture_extension(PackageFormat format) {
    return format == PackageFormat::Alibaba ? ".ali" : ".tbi";
}

}  // namespace vq
