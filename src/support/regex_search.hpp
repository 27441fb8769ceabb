#pragma once
// What both dialects of RegexMatcher share: the budgeted search over Boost.Regex and the
// compiled programs. Each dialect lives in its own file (regex_perl.cpp, regex_script.cpp)
// because instantiating Boost's matcher for one character type is a large compile on its
// own; only the matcher's files use these.

#include <boost/regex.hpp>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vq::regex_detail {

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


struct PerlProgram;
struct ScriptProgram;
struct ProgramDeleter {
    void operator()(PerlProgram* p) const;
    void operator()(ScriptProgram* p) const;
};
using PerlProgramPtr = std::unique_ptr<PerlProgram, ProgramDeleter>;
using ScriptProgramPtr = std::unique_ptr<ScriptProgram, ProgramDeleter>;

// A compiled GBK pattern and its group count (the whole match included); null on a syntax
// error.
PerlProgramPtr compile_perl(const std::string& pattern, bool ignore_case, std::size_t& groups);
ScriptProgramPtr compile_script(std::string_view pattern, bool ignore_case, bool multiline,
                                std::size_t& groups);

// Non-overlapping matches left to right, stride groups each. Perl appends (start, length)
// pairs to spans (start -1 for a group that did not take part); Script appends the group
// texts as GBK. An engine limit ends the search with the matches found so far. Returns the
// number of matches.
int search_perl(const PerlProgram& program, std::string_view subject, std::size_t stride,
                std::vector<std::ptrdiff_t>& spans);
int search_script(const ScriptProgram& program, std::string_view subject, bool global,
                  std::size_t stride, std::vector<std::string>& texts);

}  // namespace vq::regex_detail
