#include "support/regex_matcher.hpp"

#include <boost/regex.hpp>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <iterator>
#include <optional>
#include <stdexcept>

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

// Boost bounds a search by states, but its bound grows with the pattern size squared
// times the text length: a 4 MiB page full of near-misses of a lazy pattern ran for
// 40 seconds. Counting every character step the engine takes gives a bound linear in
// the text; running out of it is an engine error like any other.
struct StepBudgetExceeded : std::runtime_error {
    StepBudgetExceeded() : std::runtime_error("regex step budget exceeded") {}
};

constexpr std::int64_t kStepsPerChar = 64;
constexpr std::int64_t kBaseSteps = std::int64_t{4} << 20;

template <class CharT>
class BudgetIterator {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = CharT;
    using difference_type = std::ptrdiff_t;
    using pointer = const CharT*;
    using reference = const CharT&;

    BudgetIterator() = default;
    BudgetIterator(const CharT* p, std::int64_t* budget) : p_(p), budget_(budget) {}

    const CharT* get() const { return p_; }
    reference operator*() const { return *p_; }
    reference operator[](difference_type n) const { return p_[n]; }

    BudgetIterator& operator+=(difference_type n) {
        spend(n < 0 ? -n : n);
        p_ += n;
        return *this;
    }
    BudgetIterator& operator-=(difference_type n) { return *this += -n; }
    BudgetIterator& operator++() { return *this += 1; }
    BudgetIterator& operator--() { return *this += -1; }
    BudgetIterator operator++(int) {
        BudgetIterator t = *this;
        ++*this;
        return t;
    }
    BudgetIterator operator--(int) {
        BudgetIterator t = *this;
        --*this;
        return t;
    }
    friend BudgetIterator operator+(BudgetIterator it, difference_type n) { return it += n; }
    friend BudgetIterator operator+(difference_type n, BudgetIterator it) { return it += n; }
    friend BudgetIterator operator-(BudgetIterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const BudgetIterator& a, const BudgetIterator& b) {
        return a.p_ - b.p_;
    }
    friend bool operator==(const BudgetIterator& a, const BudgetIterator& b) {
        return a.p_ == b.p_;
    }
    friend auto operator<=>(const BudgetIterator& a, const BudgetIterator& b) {
        return a.p_ <=> b.p_;
    }

private:
    void spend(difference_type n) {
        *budget_ -= n;
        if (*budget_ < 0) throw StepBudgetExceeded();
    }

    const CharT* p_ = nullptr;
    std::int64_t* budget_ = nullptr;
};

// Non-overlapping matches left to right, each handed to on_match. Searching within the whole
// subject (not a copy of its rest) keeps "^" and "\b" right at each restart point. An
// empty match moves the start on by one character.
template <class CharT, class Regex, class OnMatch>
void search_all(const CharT* first, const CharT* last, const Regex& re, bool global,
                OnMatch&& on_match) {
    using It = BudgetIterator<CharT>;
    std::int64_t budget = kBaseSteps + kStepsPerChar * static_cast<std::int64_t>(last - first);
    const It begin(first, &budget), end(last, &budget);
    It pos = begin;
    boost::match_results<It> m;
    for (;;) {
        auto flags = boost::match_default;
        if (pos != begin) flags |= boost::match_prev_avail;
        if (!boost::regex_search(pos, end, m, re, flags, begin)) return;
        on_match(m);
        if (!global) return;
        if (m[0].first != m[0].second) {
            pos = m[0].second;
        } else if (m[0].second == end) {
            return;
        } else {
            pos = It(m[0].second.get() + 1, &budget);
        }
    }
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
    const char* const begin = subject.data();
    try {
        search_all(begin, begin + subject.size(), *perl_re, true, [&](const auto& m) {
            for (std::size_t g = 0; g < stride; ++g) {
                const auto& sub = m[static_cast<int>(g)];
                spans.push_back(sub.matched ? sub.first.get() - begin : -1);
                spans.push_back(sub.matched ? sub.second - sub.first : 0);
            }
            ++count;
        });
    } catch (const std::exception&) {
        // Complexity, stack or memory limit: keep what was found.
    }
    return count;
}

int RegexMatcher::Impl::find_script(std::string_view subject) {
    try {
        const std::u32string chars = gbk_to_utf32(subject);
        const std::wstring wide(chars.begin(), chars.end());
        const wchar_t* const begin = wide.data();
        search_all(begin, begin + wide.size(), *script_re, global, [&](const auto& m) {
            for (std::size_t g = 0; g < stride; ++g) {
                const auto& sub = m[static_cast<int>(g)];
                texts.push_back(sub.matched ? utf32_to_gbk(std::u32string_view(chars).substr(
                                                  static_cast<std::size_t>(sub.first.get() - begin),
                                                  static_cast<std::size_t>(sub.second - sub.first)))
                                            : std::string());
            }
            ++count;
        });
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
