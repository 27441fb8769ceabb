#pragma once
// The program's one pattern matcher, in two dialects that are part of a pattern's meaning:
// - Perl: Boost.Regex Perl syntax on the GBK bytes; "." matches any byte (line breaks
//   included), "^"/"$" match at line breaks. Used to scan listing pages.
// - Script: ECMAScript-like syntax on the characters of the text (converted from GBK);
//   "\uXXXX" escapes name code points, "." does not match a line feed. Group texts come
//   back as GBK. Used on product descriptions and picture addresses.
// A matcher belongs to one thread.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vq {

class RegexMatcher {
public:
    enum class Dialect { Perl, Script };

    explicit RegexMatcher(Dialect dialect);
    ~RegexMatcher();
    RegexMatcher(const RegexMatcher&) = delete;
    RegexMatcher& operator=(const RegexMatcher&) = delete;

    // Compiles a GBK pattern and drops earlier matches. multiline and global apply to the
    // Script dialect only (Perl is always multiline and global). False on a syntax error;
    // a matcher whose compile failed finds nothing.
    bool compile(std::string_view pattern, bool ignore_case = true, bool multiline = true,
                 bool global = true);

    // Finds non-overlapping matches left to right, replacing the previous ones; returns
    // their number. An engine error (complexity or memory limit on a huge subject) ends
    // the search with the matches found so far.
    int find_all(std::string_view subject);

    int match_count() const;

    // Text of group n (0 = whole match) of match i (1-based). The Perl dialect cuts it
    // from subject, which must be the text handed to find_all; the Script dialect keeps
    // its own texts and ignores subject. Empty when the group did not take part or i/n
    // is out of range.
    std::string group_text(int i, int n, std::string_view subject = {}) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vq
