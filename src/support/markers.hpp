#pragma once
// Marker cutters: the piece of a text between a start marker and an end marker.

#include <string>
#include <string_view>

namespace vq {

// Case-sensitive, first occurrences. Empty end: everything after start (the whole text
// when start is empty too). Empty start: everything before end. Empty when a marker
// that is needed does not occur.
std::string text_between(std::string_view text, std::string_view start, std::string_view end);

// Page scraping cutter. "#引号" in either marker stands for a double quote. Searches
// ignore ASCII case unless case_sensitive; start_position (1-based, 0 = beginning)
// applies to the start search and again to the end search within the rest. An empty
// start is found at the first character of a non-empty text; an empty end gives empty.
std::string scrape_between(std::string_view text, std::string_view start, std::string_view end,
                           int start_position = 0, bool case_sensitive = false);

}  // namespace vq
