#pragma once
// "年"_gbk: a source literal (UTF-8) as GBK text, converted once per literal.

#include <algorithm>
#include <cstddef>
#include <string>

#include "support/encoding.hpp"

namespace vq {

template <std::size_t N>
struct Utf8Literal {
    char bytes[N]{};
    constexpr Utf8Literal(const char (&s)[N]) { std::copy_n(s, N, bytes); }
};

template <Utf8Literal S>
const std::string& operator""_gbk() {
    static const std::string converted =
        utf8_to_gbk(std::string_view(S.bytes, sizeof(S.bytes) - 1));
    return converted;
}

}  // namespace vq
