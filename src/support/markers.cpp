#include "support/markers.hpp"

#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {

std::string text_between(std::string_view text, std::string_view start, std::string_view end) {
    std::size_t from = 0;
    if (!start.empty()) {
        const int p = find_text(text, start);
        if (p < 0) return {};
        from = static_cast<std::size_t>(p) - 1 + start.size();
    }
    const std::string_view rest = text.substr(from);
    if (end.empty()) return std::string(rest);
    const int q = find_text(rest, end);
    return q < 0 ? std::string() : std::string(rest.substr(0, static_cast<std::size_t>(q) - 1));
}

std::string scrape_between(std::string_view text, std::string_view start, std::string_view end,
                           int start_position, bool case_sensitive) {
    // Markers cannot hold a quote where they are written down, so they spell it "#引号".
    const std::string& quote_word = "#引号"_gbk;
    const std::string open = replace_all(start, quote_word, "\"");
    const std::string close = replace_all(end, quote_word, "\"");
    const int from = start_position < 1 ? 1 : start_position;
    const bool ignore_case = !case_sensitive;

    std::size_t rest_offset = 0;
    if (open.empty()) {
        if (text.empty()) return {};
    } else {
        const int p = find_text(text, open, from, ignore_case);
        if (p < 0) return {};
        rest_offset = static_cast<std::size_t>(p) - 1 + open.size();
    }
    if (close.empty()) return {};
    const std::string_view rest = text.substr(rest_offset);
    const int q = find_text(rest, close, from, ignore_case);
    return q < 0 ? std::string() : std::string(rest.substr(0, static_cast<std::size_t>(q) - 1));
}

}  // namespace vq
