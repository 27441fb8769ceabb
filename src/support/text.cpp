#include "support/text.hpp"

#include <cstring>

namespace vq {
namespace {

constexpr std::string_view kFullWidthBlank = "\xA1\xA1";

constexpr unsigned char fold(unsigned char b) {
    return (b >= 'A' && b <= 'Z') ? b + 32 : b;
}

// Finds successive occurrences of a needle in one text. Keeps the last known character
// start so that a sequence of searches walks the text's characters only once.
class GbkFinder {
public:
    GbkFinder(std::string_view text, std::string_view what, bool ignore_case)
        : text_(text), what_(what), ignore_case_(ignore_case) {}

    // 0-based offset of the first occurrence at or after from, or npos. An empty needle is
    // found at the first character start at or after from.
    std::size_t next(std::size_t from) {
        if (what_.empty()) {
            advance_to(from);
            return boundary_ <= text_.size() ? boundary_ : std::string_view::npos;
        }
        const auto* s = reinterpret_cast<const unsigned char*>(text_.data());
        const unsigned char first = static_cast<unsigned char>(what_[0]);
        const bool fold_first = ignore_case_ && fold(first) >= 'a' && fold(first) <= 'z';
        std::size_t pos = from;
        while (pos + what_.size() <= text_.size()) {
            const std::size_t last = text_.size() - what_.size();
            std::size_t p;
            if (!fold_first) {
                const void* hit = std::memchr(s + pos, first, last - pos + 1);
                if (hit == nullptr) return std::string_view::npos;
                p = static_cast<const unsigned char*>(hit) - s;
            } else {
                const unsigned char f = fold(first);
                p = pos;
                while (p <= last && fold(s[p]) != f) ++p;
                if (p > last) return std::string_view::npos;
            }
            advance_to(p);
            if (boundary_ == p && matches_at(p)) return p;
            pos = p + 1;
        }
        return std::string_view::npos;
    }

private:
    void advance_to(std::size_t pos) {
        while (boundary_ < pos && boundary_ < text_.size())
            boundary_ += gbk_char_length(text_, boundary_);
        if (boundary_ < pos) boundary_ = pos;  // past the end
    }

    bool matches_at(std::size_t p) const {
        const auto* a = reinterpret_cast<const unsigned char*>(text_.data()) + p;
        const auto* b = reinterpret_cast<const unsigned char*>(what_.data());
        if (!ignore_case_) return std::memcmp(a, b, what_.size()) == 0;
        // Fold only the needle's single-byte characters: a second byte that happens to be
        // an ASCII letter is part of a Chinese character and must match exactly.
        for (std::size_t j = 0; j < what_.size();) {
            if (is_gbk_lead_byte(b[j]) && j + 1 < what_.size()) {
                if (a[j] != b[j] || a[j + 1] != b[j + 1]) return false;
                j += 2;
            } else {
                if (fold(a[j]) != fold(b[j])) return false;
                ++j;
            }
        }
        return true;
    }

    std::string_view text_;
    std::string_view what_;
    bool ignore_case_;
    std::size_t boundary_ = 0;
};

bool is_blank_at(std::string_view text, std::size_t i) {
    return text[i] == ' ' || text.substr(i, 2) == kFullWidthBlank;
}

std::string change_case(std::string_view text, bool upper) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t len = gbk_char_length(out, i);
        if (len == 1) {
            char& c = out[i];
            if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        i += len;
    }
    return out;
}

// First character start at or after pos.
std::size_t boundary_at_or_after(std::string_view text, std::size_t pos) {
    std::size_t b = 0;
    while (b < pos && b < text.size()) b += gbk_char_length(text, b);
    return b;
}

// Longest run of whole characters from a character start that fits in count bytes.
std::string whole_chars(std::string_view text, std::size_t from, std::size_t count) {
    std::size_t end = from;
    while (end < text.size()) {
        const std::size_t len = gbk_char_length(text, end);
        if (end + len - from > count) break;
        end += len;
    }
    return std::string(text.substr(from, end - from));
}

}  // namespace

int find_text(std::string_view text, std::string_view what, int start, bool ignore_case) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size()) return -1;
    GbkFinder finder(text, what, ignore_case);
    const std::size_t pos = finder.next(from);
    return (pos == std::string_view::npos || pos >= text.size()) ? -1 : static_cast<int>(pos) + 1;
}

int find_last_text(std::string_view text, std::string_view what, bool ignore_case) {
    if (what.empty() || what.size() > text.size()) return -1;
    GbkFinder finder(text, what, ignore_case);
    std::size_t last = std::string_view::npos;
    for (std::size_t pos = finder.next(0); pos != std::string_view::npos;
         pos = finder.next(pos + 1)) {
        last = pos;
    }
    return last == std::string_view::npos ? -1 : static_cast<int>(last) + 1;
}

bool contains_text(std::string_view text, std::string_view what, bool ignore_case) {
    return find_text(text, what, 1, ignore_case) > 0;
}

std::string replace_all(std::string_view text, std::string_view what, std::string_view with,
                        bool ignore_case) {
    if (what.empty()) return std::string(text);
    GbkFinder finder(text, what, ignore_case);
    std::string out;
    out.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t pos = finder.next(0); pos != std::string_view::npos;
         pos = finder.next(pos + what.size())) {
        out.append(text.substr(done, pos - done));
        out.append(with);
        done = pos + what.size();
    }
    out.append(text.substr(done));
    return out;
}

std::vector<std::string> split_text(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (text.empty()) return pieces;
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    GbkFinder finder(text, delimiter, false);
    std::size_t done = 0;
    for (std::size_t pos = finder.next(0); pos != std::string_view::npos;
         pos = finder.next(pos + delimiter.size())) {
        pieces.emplace_back(text.substr(done, pos - done));
        done = pos + delimiter.size();
    }
    if (done < text.size()) pieces.emplace_back(text.substr(done));
    return pieces;
}

std::string trim_left_blanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank_at(text, i)) i += text[i] == ' ' ? 1 : 2;
    return std::string(text.substr(i));
}

std::string trim_right_blanks(std::string_view text) {
    // Walk from the start: only then is it known which A1 bytes form a full-width blank.
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = gbk_char_length(text, i);
        if (!is_blank_at(text, i)) end = i + len;
        i += len;
    }
    return std::string(text.substr(0, end));
}

std::string trim_blanks(std::string_view text) {
    return trim_right_blanks(trim_left_blanks(text));
}

std::string to_lower_ascii(std::string_view text) {
    return change_case(text, false);
}
std::string to_upper_ascii(std::string_view text) {
    return change_case(text, true);
}

bool contains_ascii_ignoring_case(std::string_view text, std::string_view needle) {
    if (needle.empty()) return true;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
        if (lower(text[at]) != needle[0]) continue;
        std::size_t k = 1;
        while (k < needle.size() && lower(text[at + k]) == needle[k]) ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

std::string left_text(std::string_view text, int count) {
    if (count <= 0) return {};
    return whole_chars(text, 0, static_cast<std::size_t>(count));
}

std::string right_text(std::string_view text, int count) {
    if (count <= 0) return {};
    const std::size_t n = static_cast<std::size_t>(count);
    if (n >= text.size()) return std::string(text);
    return std::string(text.substr(boundary_at_or_after(text, text.size() - n)));
}

std::string middle_text(std::string_view text, int start, int count) {
    if (count <= 0) return {};
    const std::size_t from =
        boundary_at_or_after(text, start < 1 ? 0 : static_cast<std::size_t>(start) - 1);
    if (from >= text.size()) return {};
    return whole_chars(text, from, static_cast<std::size_t>(count));
}

std::string text_before(std::string_view text, std::string_view separator) {
    const int pos = find_text(text, separator);
    return pos < 0 ? std::string() : std::string(text.substr(0, static_cast<std::size_t>(pos) - 1));
}

std::string text_after_last(std::string_view text, std::string_view separator) {
    const int pos = find_last_text(text, separator);
    return pos < 0 ? std::string()
                   : std::string(text.substr(static_cast<std::size_t>(pos) - 1 + separator.size()));
}

std::string whole_characters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = gbk_char_length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (length == 1 && (is_gbk_lead_byte(c) || c == 0xFF)) {
            out += '?';
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string double_quotes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out;
}

}  // namespace vq
