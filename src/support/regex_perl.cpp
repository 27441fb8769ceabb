#include <exception>

#include "support/regex_search.hpp"

namespace vq::regex_detail {

struct PerlProgram {
    boost::regex re;
};

void ProgramDeleter::operator()(PerlProgram* p) const {
    delete p;
}

PerlProgramPtr compile_perl(const std::string& pattern, bool ignore_case, std::size_t& groups) {
    try {
        boost::regex::flag_type flags = boost::regex::perl;
        if (ignore_case) flags |= boost::regex::icase;
        PerlProgramPtr program(new PerlProgram{boost::regex(pattern.begin(), pattern.end(), flags)});
        groups = program->re.mark_count() + 1;
        return program;
    } catch (const std::exception&) {
        return nullptr;
    }
}

int search_perl(const PerlProgram& program, std::string_view subject, std::size_t stride,
                std::vector<std::ptrdiff_t>& spans) {
    const char* const begin = subject.data();
    int count = 0;
    try {
        search_all(begin, begin + subject.size(), program.re, true, [&](const auto& m) {
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

}  // namespace vq::regex_detail
