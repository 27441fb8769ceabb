#pragma once
// The text toolkit. All text is GBK bytes; positions are 1-based byte positions and a
// failed search gives -1. Every operation knows GBK's double-byte characters: a match
// never starts on the second byte of a character and a cut never splits one. Case
// changes and case-insensitive comparisons touch ASCII letters only.

#include <string>
#include <string_view>
#include <vector>

namespace vq {

// True when byte b opens a double-byte GBK character.
constexpr bool is_gbk_lead_byte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

constexpr bool is_gbk_trail_byte(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Byte length (1 or 2) of the character starting at offset i (0-based) of text. A lead
// byte without a valid second byte is a character of its own.
inline std::size_t gbk_char_length(std::string_view text, std::size_t i) {
    return (is_gbk_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
            is_gbk_trail_byte(static_cast<unsigned char>(text[i + 1])))
               ? 2
               : 1;
}

// 1-based position of the first occurrence of what in text at or after position start
// (values below 1 count as 1), or -1. An empty what is found at start when start lies
// within the text.
int find_text(std::string_view text, std::string_view what, int start = 1,
              bool ignore_case = false);

// 1-based position of the last occurrence of what, or -1.
int find_last_text(std::string_view text, std::string_view what, bool ignore_case = false);

bool contains_text(std::string_view text, std::string_view what, bool ignore_case = false);

// Every occurrence of what replaced by with, left to right, without overlaps.
std::string replace_all(std::string_view text, std::string_view what, std::string_view with,
                        bool ignore_case = false);

// Pieces between delimiters: adjacent delimiters give empty pieces, a trailing delimiter
// gives none, an empty text gives no pieces. An empty delimiter gives the whole text.
std::vector<std::string> split_text(std::string_view text, std::string_view delimiter);

// Removes ASCII spaces and the full-width space (A1 A1) from the ends.
std::string trim_blanks(std::string_view text);
std::string trim_left_blanks(std::string_view text);
std::string trim_right_blanks(std::string_view text);

std::string to_lower_ascii(std::string_view text);
std::string to_upper_ascii(std::string_view text);

// Whether the bytes of text hold needle (lower-case ASCII) with ASCII letters in either case.
// Byte-wise: a GBK trail byte may take part, so true may be wrong, false never is.
bool contains_ascii_ignoring_case(std::string_view text, std::string_view needle);

// The first / last count bytes, shortened to whole characters.
std::string left_text(std::string_view text, int count);
std::string right_text(std::string_view text, int count);
// count bytes from 1-based position start (moved forward to a character start when it
// falls on a second byte), shortened to whole characters.
std::string middle_text(std::string_view text, int start, int count);

// The text with every byte that starts no whole character (a lead byte without its second
// byte, 0xFF) replaced by "?": written next to a separator or a quote, such a byte would
// take that for its second half in any GBK reader.
std::string whole_characters(std::string_view text);

// Every double quote doubled, so the text can stand inside a quoted CSV field. (A quote
// byte is never part of a double-byte character.)
std::string double_quotes(std::string_view text);

// Text before the first separator / after the last one; empty when it does not occur.
std::string text_before(std::string_view text, std::string_view separator);
std::string text_after_last(std::string_view text, std::string_view separator);

}  // namespace vq
