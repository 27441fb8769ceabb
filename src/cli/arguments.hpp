#pragma once
// A command's options, declared once with CLI11: its usage and help are made from the
// declarations, and wrong arguments are refused with a message naming the argument.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::cli {

class CommandLine {
public:
    // name as in "vq NAME"; exit_codes ends the help.
    CommandLine(std::string name, std::string exit_codes);

    // Where the command declares its options. Every option keeps the last of repeated
    // values unless it says otherwise; "--help" and "-h" are handled by parse().
    CLI::App& app() { return app_; }

    // "usage: vq NAME" and every option, wrapped and indented under the first line.
    std::string usage() const;
    // The usage, each described option with its description, and the exit codes.
    std::string help() const;

    // Nothing when the command goes on with its declared values filled. Otherwise the
    // exit code after printing: the help to stdout (0, or 2 when stdout refused it) when
    // "--help" or "-h" is anywhere; "vq NAME: what is wrong" and the usage to stderr (2).
    std::optional<int> parse(const std::vector<std::string>& args);

private:
    std::string name_;
    std::string exitCodes_;
    CLI::App app_;
};

// Accepts exactly one of the texts; refuses others as "X is not one of A, B".
CLI::Validator one_of(std::vector<std::string> accepted);

// Refuses an empty value.
CLI::Validator not_empty();

}  // namespace vq::cli
