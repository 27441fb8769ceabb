#pragma once
// Conversions between the system's GBK text and the encodings it meets at its edges,
// plus the MD5 names of picture files. All functions are pure and thread-safe; every
// input is read up to its first zero byte.

#include <string>
#include <string_view>

namespace vq {

// UTF-8 bytes -> GBK text. Invalid UTF-8 and characters GBK cannot hold become "?".
// Returns empty text only when the conversion tables are unavailable.
std::string utf8_to_gbk(std::string_view utf8);

// GBK text -> UTF-16LE code units followed by one zero unit (2n + 2 bytes, no byte-order
// mark). Invalid GBK bytes become "?". Returns the two zero bytes when the tables are
// unavailable.
std::string gbk_to_utf16le(std::string_view gbk);

// UTF-16LE bytes (no byte-order mark) -> GBK text, up to the first zero unit. Characters
// GBK cannot hold, unpaired surrogates and an odd last byte become "?".
std::string utf16le_to_gbk(std::string_view utf16);

// GBK text -> UTF-8, for the front ends (terminal, window, file names). Invalid GBK
// bytes become "?".
std::string gbk_to_utf8(std::string_view gbk);

// GBK text -> UTF-32 code points, one per character; invalid bytes become '?'.
std::u32string gbk_to_utf32(std::string_view gbk);

// UTF-32 code points -> GBK text; code points GBK cannot hold become "?".
std::string utf32_to_gbk(std::u32string_view text);

// Offset of the first byte of gbk (read whole, NUL bytes included) that starts no GBK
// character as a strict reader sees it; npos when there is none. 0x80 alone is the euro
// sign, as Windows code page 936 reads it.
std::size_t first_invalid_gbk(std::string_view gbk);

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Offset of the first byte of utf16 (UTF-16LE, read whole, zero units included) that
// starts no character: an unpaired surrogate, or an odd last byte; npos when there is none.
std::size_t first_invalid_utf16le(std::string_view utf16);

// MD5 of the text's bytes as 32 lower-case hex digits; with short_form, characters
// 9 to 24 of that (digest bytes 5 to 12).
std::string md5_text(std::string_view text, bool short_form = false);

}  // namespace vq
