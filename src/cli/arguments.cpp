#include "cli/arguments.hpp"

#include <cstdio>

#include "cli/cli_common.hpp"

namespace vq::cli {

namespace {

constexpr std::size_t kWidth = 92;
constexpr std::size_t kDescriptionColumn = 26;

// Terminal columns of UTF-8 text: a Chinese character takes two.
std::size_t columns(std::string_view text) {
    std::size_t width = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) == 0x80) continue;
        width += byte >= 0xE0 ? 2 : 1;
    }
    return width;
}

// Words onto lines of at most kWidth columns; lines after the first start with indent
// spaces. start is the column the first word begins at.
std::string wrap(const std::vector<std::string>& words, std::size_t start, std::size_t indent) {
    std::string text;
    std::size_t column = start;
    bool first = true;
    for (const std::string& word : words) {
        const std::size_t width = columns(word);
        if (!first && column + 1 + width > kWidth) {
            text += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            text += ' ';
            ++column;
        }
        text += word;
        column += width;
        first = false;
    }
    return text;
}

std::vector<std::string> split_words(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// An option as the usage shows it, without brackets: "--format 4|5",
// "--desc-pictures | --no-desc-pictures", "ADDRESS".
std::string option_text(const CLI::Option& option) {
    if (option.get_positional()) return option.get_name();
    std::string text;
    for (const std::string& name : option.get_lnames()) {
        if (!text.empty()) text += " | ";
        text += "--" + name;
    }
    if (option.get_items_expected_max() > 0) text += " " + option.get_type_name();
    return text;
}

// How the usage shows it: optional ones in brackets, repeatable ones with "...".
std::string usage_text(const CLI::Option& option) {
    std::string text = option_text(option);
    if (!option.get_required()) text = "[" + text + "]";
    if (option.get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll) text += "...";
    return text;
}

}  // namespace

CommandLine::CommandLine(std::string name, std::string exit_codes)
    : name_(std::move(name)), exitCodes_(std::move(exit_codes)), app_("", "vq " + name_) {
    // Help is asked for anywhere on the line and wins over everything else (parse()).
    app_.set_help_flag();
    // Unknown arguments are collected, so the message can name the first of them.
    app_.allow_extras();
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app_.option_defaults()->disable_flag_override();
}

std::string CommandLine::usage() const {
    const std::string start = "usage: vq " + name_;
    std::vector<std::string> words;
    for (const CLI::Option* option : app_.get_options()) words.push_back(usage_text(*option));
    return start + " " + wrap(words, start.size() + 1, start.size() + 1) + "\n";
}

std::string CommandLine::help() const {
    std::string text = usage();
    std::string options;
    for (const CLI::Option* option : app_.get_options()) {
        if (option->get_description().empty()) continue;
        std::string line = "  " + option_text(*option);
        if (columns(line) + 2 > kDescriptionColumn) {
            line += "\n" + std::string(kDescriptionColumn, ' ');
        } else {
            line += std::string(kDescriptionColumn - columns(line), ' ');
        }
        line +=
            wrap(split_words(option->get_description()), kDescriptionColumn, kDescriptionColumn);
        options += line + "\n";
    }
    if (!options.empty()) text += "\n" + options;
    return text + "\n" + exitCodes_;
}

std::optional<int> CommandLine::parse(const std::vector<std::string>& args) {
    if (asks_for_help(args)) return print_help(help(), "");
    // CLI11 would read a value starting with "-" as an option: "--title-prefix -x" takes
    // "-x" as its value, as it always did, once written "--title-prefix=-x".
    std::vector<std::string> joined;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const CLI::Option* option = arg.starts_with("--") && arg.find('=') == std::string::npos
                                        ? app_.get_option_no_throw(arg)
                                        : nullptr;
        if (option && !option->get_positional() && option->get_items_expected_max() > 0 &&
            i + 1 < args.size() && args[i + 1].starts_with("-")) {
            joined.push_back(arg + "=" + args[++i]);
        } else {
            joined.push_back(arg);
        }
    }
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(joined.rbegin(), joined.rend());
    std::string message;
    try {
        app_.parse(reversed);
    } catch (const CLI::ParseError& error) {
        message = error.what();
    }
    // An unknown argument first: a misspelt option would otherwise show as one missing.
    const std::vector<std::string> extras = app_.remaining();
    if (!extras.empty()) {
        const std::string& extra = extras.front();
        message = extra.size() > 1 && extra[0] == '-'
                      ? "unknown option: " + extra.substr(0, extra.find('='))
                      : "unexpected argument: " + extra;
    }
    if (message.empty()) return std::nullopt;
    std::fprintf(stderr, "vq %s: %s\n", name_.c_str(), message.c_str());
    std::fputs(usage().c_str(), stderr);
    return 2;
}

CLI::Validator one_of(std::vector<std::string> accepted) {
    std::string shown;
    for (const std::string& value : accepted) shown += (shown.empty() ? "" : ", ") + value;
    return CLI::Validator(
        [accepted, shown](std::string& value) -> std::string {
            for (const std::string& each : accepted) {
                if (value == each) return {};
            }
            return value + " is not one of " + shown;
        },
        "");
}

CLI::Validator not_empty() {
    return CLI::Validator(
        [](std::string& value) -> std::string { return value.empty() ? "must not be empty" : ""; },
        "");
}

}  // namespace vq::cli
