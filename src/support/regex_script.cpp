#include <exception>

#include "support/encoding.hpp"
#include "support/regex_search.hpp"

namespace vq::regex_detail {

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

}  // namespace

struct ScriptProgram {
    boost::wregex re;
};

void ProgramDeleter::operator()(ScriptProgram* p) const {
    delete p;
}

ScriptProgramPtr compile_script(std::string_view pattern, bool ignore_case, bool multiline,
                                std::size_t& groups) {
    try {
        const std::wstring translated = translate_script_pattern(gbk_to_utf32(pattern));
        boost::wregex::flag_type flags = boost::wregex::ECMAScript;
        if (ignore_case) flags |= boost::regex::icase;
        if (!multiline) flags |= boost::wregex::no_mod_m;
        ScriptProgramPtr program(
            new ScriptProgram{boost::wregex(translated.begin(), translated.end(), flags)});
        groups = program->re.mark_count() + 1;
        return program;
    } catch (const std::exception&) {
        return nullptr;
    }
}

int search_script(const ScriptProgram& program, std::string_view subject, bool global,
                  std::size_t stride, std::vector<std::string>& texts) {
    int count = 0;
    try {
        const std::u32string chars = gbk_to_utf32(subject);
        const std::wstring wide(chars.begin(), chars.end());
        const wchar_t* const begin = wide.data();
        search_all(begin, begin + wide.size(), program.re, global, [&](const auto& m) {
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

}  // namespace vq::regex_detail
