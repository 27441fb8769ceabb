#pragma once
// "年"_gbk: a source literal (UTF-8) as GBK text, converted once per literal.
//
// clang 14 crashes on a "..."_gbk inside a braced list after values it can build at
// compile time (a std::string from a plain literal, say), when it tries that initializer
// as a constant: give such a value a name of its own first.

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
