#include "support/regex_matcher.hpp"

#include "support/regex_search.hpp"

namespace vq {

struct RegexMatcher::Impl {
    Dialect dialect;
    bool global = true;

    regex_detail::PerlProgramPtr perl;
    regex_detail::ScriptProgramPtr script;

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
};

RegexMatcher::RegexMatcher(Dialect dialect) : impl_(std::make_unique<Impl>(dialect)) {}

RegexMatcher::~RegexMatcher() = default;

bool RegexMatcher::compile(std::string_view pattern, bool ignore_case, bool multiline,
                           bool global) {
    Impl& d = *impl_;
    d.clear_matches();
    d.perl.reset();
    d.script.reset();
    d.stride = 0;
    d.global = global;
    std::size_t groups = 0;
    if (d.dialect == Dialect::Perl) {
        d.perl = regex_detail::compile_perl(std::string(pattern), ignore_case, groups);
        if (!d.perl) return false;
    } else {
        d.script = regex_detail::compile_script(pattern, ignore_case, multiline, groups);
        if (!d.script) return false;
    }
    d.stride = groups;
    return true;
}

int RegexMatcher::find_all(std::string_view subject) {
    Impl& d = *impl_;
    d.clear_matches();
    if (d.perl) d.count = regex_detail::search_perl(*d.perl, subject, d.stride, d.spans);
    if (d.script)
        d.count = regex_detail::search_script(*d.script, subject, d.global, d.stride, d.texts);
    return d.count;
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
