#include "support/regex_matcher.hpp"

#include <boost/regex.hpp>

#include <cstddef>
#include <exception>
#include <optional>

#include "support/encoding.hpp"

namespace vq {

namespace {

// The Script dialect copies code points into wide text, which only holds them all when
// wchar_t is 32 bits wide.
static_assert(sizeof(wchar_t) == sizeof(char32_t), "Script dialect needs a 32-bit wchar_t");

bool is_hex_digit(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F');
}

// Rewrites a Script pattern into Boost's Perl syntax: "\uXXXX" names a code point
// ("\u" alone is Boost's upper-case class) and "." must not match a line feed, but
// unlike Boost's not-dot-newline mode it still matches a carriage return.
std::wstring translate_script_pattern(std::u32string_view p) {
    std::wstring out;
    out.reserve(p.size() + 16);
    bool in_bracket = false;
    std::size_t bracket_start = 0;  // index just after "[" or "[^"
    for (std::size_t i = 0; i < p.size(); ++i) {
        const char32_t c = p[i];
        if (c == U'\\' && i + 1 < p.size()) {
            if (p[i + 1] == U'u' && i + 5 < p.size() && is_hex_digit(p[i + 2]) &&
                is_hex_digit(p[i + 3]) && is_hex_digit(p[i + 4]) && is_hex_digit(p[i + 5])) {
                out += L"\\x{";
                out.append(p.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                           p.begin() + static_cast<std::ptrdiff_t>(i) + 6);
                out += L'}';
                i += 5;
            } else {
                out += L'\\';
                out += static_cast<wchar_t>(p[i + 1]);
                ++i;
            }
            continue;
        }
        if (in_bracket) {
            // Boost reads "]" right after "[" or "[^" as a literal, and "[:", "[.", "[="
            // open class names that end at their own ":]", ".]", "=]".
            if (c == U']' && i != bracket_start) {
                in_bracket = false;
            } else if (c == U'[' && i + 1 < p.size() &&
                       (p[i + 1] == U':' || p[i + 1] == U'.' || p[i + 1] == U'=')) {
                const char32_t close[] = {p[i + 1], U']', 0};
                const std::size_t end = p.find(close, i + 2);
                if (end != std::u32string_view::npos) {
                    out.append(p.begin() + static_cast<std::ptrdiff_t>(i),
                               p.begin() + static_cast<std::ptrdiff_t>(end) + 2);
                    i = end + 1;
                    continue;
                }
            }
            out += static_cast<wchar_t>(c);
            continue;
        }
        if (c == U'[') {
            in_bracket = true;
            bracket_start = i + 1;
            if (bracket_start < p.size() && p[bracket_start] == U'^') ++bracket_start;
        }
        if (c == U'.') {
            out += L"[^\\n]";
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

// Where the next search starts: at the end of a match, or one character past an empty
// one so the search moves on; null when an empty match sits at the end.
template <class CharT>
const CharT* next_start(const CharT* first, const CharT* second, const CharT* end) {
    if (first != second) return second;
    return second == end ? nullptr : second + 1;
}

}  // namespace

struct RegexMatcher::Impl {
    Dialect dialect;
    std::string pattern;
    bool global = true;

    std::optional<boost::regex> perl_re;
    std::optional<boost::wregex> script_re;

    int count = 0;
    // Groups per match, the whole match included.
    std::size_t stride = 0;
    // Perl: (start, length) per group, flat, start -1 for a group that did not take part.
    std::vector<std::ptrdiff_t> spans;
    // Script: group texts (GBK), flat.
    std::vector<std::string> texts;

    explicit Impl(Dialect d) : dialect(d) {}

    void clear_matches() {
        count = 0;
        spans.clear();
        texts.clear();
    }

    int find_perl(std::string_view subject);
    int find_script(std::string_view subject);
};

int RegexMatcher::Impl::find_perl(std::string_view subject) {
    const boost::regex& re = *perl_re;
    const char* const begin = subject.data();
    const char* const end = begin + subject.size();
    const char* pos = begin;
    boost::cmatch m;
    try {
        for (;;) {
            // Searching within the whole subject (not a copy of its rest) keeps "^" and
            // "\b" right at the restart point and the work linear in the page size.
            auto flags = boost::match_default;
            if (pos != begin) flags |= boost::match_prev_avail;
            if (!boost::regex_search(pos, end, m, re, flags, begin)) break;
            for (std::size_t g = 0; g < stride; ++g) {
                const auto& sub = m[static_cast<int>(g)];
                if (sub.matched) {
                    spans.push_back(sub.first - begin);
                    spans.push_back(sub.second - sub.first);
                } else {
                    spans.push_back(-1);
                    spans.push_back(0);
                }
            }
            ++count;
            pos = next_start(m[0].first, m[0].second, end);
            if (pos == nullptr) break;
        }
    } catch (const std::exception&) {
        // Complexity, stack or memory limit: keep what was found.
    }
    return count;
}

int RegexMatcher::Impl::find_script(std::string_view subject) {
    const boost::wregex& re = *script_re;
    try {
        const std::u32string chars = gbk_to_utf32(subject);
        const std::wstring wide(chars.begin(), chars.end());
        const wchar_t* const begin = wide.data();
        const wchar_t* const end = begin + wide.size();
        const wchar_t* pos = begin;
        boost::wcmatch m;
        for (;;) {
            auto flags = boost::match_default;
            if (pos != begin) flags |= boost::match_prev_avail;
            if (!boost::regex_search(pos, end, m, re, flags, begin)) break;
            for (std::size_t g = 0; g < stride; ++g) {
                const auto& sub = m[static_cast<int>(g)];
                if (sub.matched) {
                    const auto at = static_cast<std::size_t>(sub.first - begin);
                    const auto len = static_cast<std::size_t>(sub.second - sub.first);
                    texts.push_back(utf32_to_gbk(std::u32string_view(chars).substr(at, len)));
                } else {
                    texts.emplace_back();
                }
            }
            ++count;
            if (!global) break;
            pos = next_start(m[0].first, m[0].second, end);
            if (pos == nullptr) break;
        }
    } catch (const std::exception&) {
        // As in the Perl dialect: an engine limit ends the search, matches so far stay.
    }
    return count;
}

RegexMatcher::RegexMatcher(Dialect dialect) : impl_(std::make_unique<Impl>(dialect)) {}

RegexMatcher::~RegexMatcher() = default;

bool RegexMatcher::compile(std::string_view pattern, bool ignore_case, bool multiline,
                           bool global) {
    Impl& d = *impl_;
    d.clear_matches();
    d.perl_re.reset();
    d.script_re.reset();
    d.stride = 0;
    d.pattern.assign(pattern);
    d.global = global;
    try {
        if (d.dialect == Dialect::Perl) {
            boost::regex::flag_type flags = boost::regex::perl;
            if (ignore_case) flags |= boost::regex::icase;
            d.perl_re.emplace(d.pattern.begin(), d.pattern.end(), flags);
            d.stride = d.perl_re->mark_count() + 1;
        } else {
            const std::wstring translated = translate_script_pattern(gbk_to_utf32(d.pattern));
            boost::wregex::flag_type flags = boost::wregex::ECMAScript;
            if (ignore_case) flags |= boost::regex::icase;
            if (!multiline) flags |= boost::wregex::no_mod_m;
            d.script_re.emplace(translated.begin(), translated.end(), flags);
            d.stride = d.script_re->mark_count() + 1;
        }
    } catch (const std::exception&) {
        d.perl_re.reset();
        d.script_re.reset();
        return false;
    }
    return true;
}

int RegexMatcher::find_all(std::string_view subject) {
    Impl& d = *impl_;
    d.clear_matches();
    if (d.perl_re) return d.find_perl(subject);
    if (d.script_re) return d.find_script(subject);
    return 0;
}

int RegexMatcher::match_count() const {
    return impl_->count;
}

std::string RegexMatcher::group_text(int i, int n, std::string_view subject) const {
    const Impl& d = *impl_;
    if (i < 1 || i > d.count || n < 0 || static_cast<std::size_t>(n) >= d.stride) return {};
    const std::size_t slot =
        static_cast<std::size_t>(i - 1) * d.stride + static_cast<std::size_t>(n);
    if (d.dialect == Dialect::Script) return d.texts[slot];
    const std::ptrdiff_t start = d.spans[2 * slot];
    const std::ptrdiff_t length = d.spans[2 * slot + 1];
    if (start < 0 || static_cast<std::size_t>(start) >= subject.size()) return {};
    return std::string(
        subject.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(length)));
}

}  // namespace vq
