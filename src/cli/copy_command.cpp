// vq copy: a copy run from a list file to a package, without a window.

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <iterator>
#include <optional>
#include <unistd.h>

#include "api/api_token.hpp"
#include "api/site_settings.hpp"
#include "run/batch_controller.hpp"
#include "model/list_file.hpp"
#include "app/list_commands.hpp"
#include "app/options.hpp"
#include "app/startup.hpp"
#include "cli/arguments.hpp"
#include "cli/cli_common.hpp"
#include "cli/commands.hpp"
#include "cli/console.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

// Listed by --help under the usage.
constexpr const char* kExitCodes =
    "exit codes: 0 done (also when the check found problems: its summary says so)\n"
    "            1 the package could not be written, the disk refused a picture and\n"
    "              the run stopped, or no product succeeded\n"
    "            2 bad arguments, no key pairs from the configuration server, an unusable\n"
    "              output path or list file, a package already at --out (without\n"
    "              --overwrite or --append), a package another run is using, a package\n"
    "              --append cannot add to\n"
    "            130 stopped with Ctrl-C: the finished products are in the package,\n"
    "              the others in the continuation list (<package>.failed.txt) that\n"
    "              --append continues; a second Ctrl-C within a second ends at once,\n"
    "              writing nothing more\n";

// A rule flag as given (UTF-8) and the field of the rules it sets.
struct RuleFlag {
    std::string name;
    RuleField field;
    std::string value;
};

struct CopyArguments {
    std::string list, out, home, site, log;
    std::string format;  // empty = as the options file says
    std::string policy;
    bool descPictures = false, taobaoOnly = false;
    bool append = false;
    bool overwrite = false;
    bool sequentialPictures = false;
    bool inParts = false;
    std::vector<RuleFlag> rules;  // in the order given; each wins over the options file
};

struct RuleOption {
    const char* name;
    RuleField field;
    const char* value;
    const char* description;
};

// Their values are checked with the options file's (rules_in_force), not here, so that a
// flag and the file's key are refused alike.
constexpr RuleOption kRuleOptions[] = {
    {"--price-factor", RuleField::PriceFactor, "X",
     "every price becomes price × X + Y (X above 0)"},
    {"--price-add", RuleField::PriceAdd, "Y", "Y yuan added after the factor; may be negative"},
    {"--price-ending", RuleField::PriceEnding, "none|yuan|.9|.99",
     "then none: two decimals, rounded half up; yuan: up to the next whole yuan; .9, .99: the "
     "smallest x.90 or x.99 not below it"},
    {"--title-prefix", RuleField::TitlePrefix, "TEXT", "put before every title"},
    {"--title-suffix", RuleField::TitleSuffix, "TEXT", "put after every title"},
    {"--title-replace", RuleField::TitleReplacement, "OLD=NEW",
     "replaces every OLD in titles by NEW (OLD= removes it); repeat it for several, in order; "
     "any takes the place of all those in options/options.ini"},
    {"--keep-pictures", RuleField::KeepPictures, "N",
     "fetches and lists only the first N main pictures (0 keeps all)"},
};

struct CopyOptions {
    CLI::Option* descPictures = nullptr;
    CLI::Option* taobaoOnly = nullptr;
    std::vector<std::pair<const CLI::Option*, RuleField>> rules;
};

CopyOptions declare(CLI::App& app, CopyArguments& parsed) {
    CopyOptions options;
    app.add_option("--list", parsed.list,
                   "the list file: GBK lines title||id||price||address, as the window exports them")
        ->type_name("FILE")
        ->required()
        ->check(not_empty());
    app.add_option("--out", parsed.out,
                   "the package table; its pictures go to the folder of its name beside it "
                   "(default: aliT<seconds>.csv in the program folder)")
        ->type_name("PATH.csv");
    app.add_option("--format", parsed.format,
                   "4: the 1688 assistant's UTF-16 tab table; 5: the Taobao assistant 5.x CSV, "
                   "the default; 6: today's Taobao assistant, a UTF-16 tab table of 63 columns "
                   "(without the flag, as options/options.ini says)")
        ->type_name("4|5|6")
        ->check(one_of({"4", "5", "6"}));
    options.descPictures = app.add_flag("--desc-pictures,!--no-desc-pictures", parsed.descPictures,
                                        "fetches the description's pictures into the picture "
                                        "folder and points the description at them, or leaves "
                                        "them at their web address (without either, as "
                                        "options/options.ini says)");
    options.taobaoOnly = app.add_flag("--taobao-only,!--no-taobao-only", parsed.taobaoOnly,
                                      "fetches only the description pictures on Taobao's picture "
                                      "space; the others keep their web address");
    app.add_option("--policy", parsed.policy,
                   "a description picture that could not be fetched: 1 keeps its web address; "
                   "2 is removed from the description; 3 is fetched once more and removed when "
                   "that fails too (without the flag, as options/options.ini says; 3 when it "
                   "says nothing)")
        ->type_name("1|2|3")
        ->check(one_of({"1", "2", "3"}));
    CLI::Option* append = app.add_flag(
        "--append", parsed.append,
        "adds the rows after those of the package at --out and the pictures to its folder");
    app.add_flag("--overwrite", parsed.overwrite,
                 "replaces a package already at --out (without it or --append, a table that is "
                 "there is refused)")
        ->excludes(append);
    app.add_flag("--in-parts", parsed.inParts,
                 "runs a list of more than 1000 products in parts of 1000, each added to the "
                 "package when it is done (without it such a list is refused)");
    app.add_flag("--sequential-pictures", parsed.sequentialPictures,
                 "fetches a product's pictures one at a time and each picture again for every "
                 "product naming it (for comparison)");
    app.add_option("--home", parsed.home,
                   "the program folder (default: VQ_HOME, else the executable's folder)")
        ->type_name("DIR");
    app.add_option("--site", parsed.site, "the site settings (default: options/site.ini)")
        ->type_name("FILE");
    app.add_option("--log", parsed.log, "also writes the log lines there, as GBK with CR LF")
        ->type_name("FILE");
    for (const RuleOption& rule : kRuleOptions) {
        CLI::Option* option = app.add_option(rule.name, rule.description)->type_name(rule.value);
        if (rule.field == RuleField::TitleReplacement) {
            option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        }
        options.rules.emplace_back(option, rule.field);
    }
    return options;
}

// The rule flags in the order given, each time one came.
std::vector<RuleFlag> rule_flags(const CLI::App& app, const CopyOptions& options) {
    std::vector<RuleFlag> flags;
    std::vector<std::size_t> used(options.rules.size(), 0);
    for (const CLI::Option* given : app.parse_order()) {
        for (std::size_t i = 0; i < options.rules.size(); ++i) {
            if (options.rules[i].first != given) continue;
            const std::vector<std::string>& values = given->results();
            if (used[i] < values.size()) {
                flags.push_back({given->get_name(), options.rules[i].second, values[used[i]++]});
            }
        }
    }
    return flags;
}

// The options file's rules with the flags over them. Each flag is checked on its own, so
// the message names the flag; what is left to refuse comes from the file.
ParsedRules rules_in_force(const std::vector<RuleFlag>& flags, const std::string& options_path) {
    ListingRuleTexts texts = read_rule_texts(options_path);
    bool replacements_given = false;
    for (const RuleFlag& flag : flags) {
        const std::string text = utf8_to_gbk(flag.value);
        bool ok = true;
        switch (flag.field) {
            case RuleField::PriceFactor:
                ok = parse_price_factor(text).has_value();
                texts.priceFactor = text;
                break;
            case RuleField::PriceAdd:
                ok = parse_price_add(text).has_value();
                texts.priceAdd = text;
                break;
            case RuleField::PriceEnding:
                ok = parse_price_ending(text).has_value();
                texts.priceEnding = text;
                break;
            case RuleField::TitlePrefix:
                ok = acceptable_title_text(text);
                texts.titlePrefix = text;
                break;
            case RuleField::TitleSuffix:
                ok = acceptable_title_text(text);
                texts.titleSuffix = text;
                break;
            case RuleField::TitleReplacement:
                ok = parse_title_replacement(text).has_value();
                // The flags' replacements take the place of the file's, not their side.
                if (!replacements_given) texts.titleReplacements.clear();
                replacements_given = true;
                texts.titleReplacements.push_back(text);
                break;
            case RuleField::KeepPictures:
                ok = parse_keep_pictures(text).has_value();
                texts.keepPictures = text;
                break;
        }
        if (!ok) {
            ParsedRules refused;
            refused.error = flag.name + "："_gbk + rule_refusal(flag.field, text);
            refused.refused.push_back(flag.field);
            return refused;
        }
    }
    ParsedRules parsed = parse_listing_rules(texts);
    if (!parsed.error.empty()) parsed.error = options_path + " [RULES]："_gbk + parsed.error;
    return parsed;
}

// What the run left on disk, as the exit code says it: 0 a finished package, 1 a run that
// could not write it all, 130 a stop.
int report_totals(const RunTotals& totals, const OutputPathChoice& output) {
    const auto line = [](const std::string& caption, const std::string& value) {
        std::printf("%s%s\n", terminal_text(caption).c_str(), terminal_text(value).c_str());
    };
    // What is in the table when not all of the run is: the parts written before.
    const std::string unwritten =
        totals.rowsWritten > 0
            ? "数据包中只有之前写入的 "_gbk + std::to_string(totals.rowsWritten) + " 个宝贝。"_gbk
            : "没有写入数据包。"_gbk;
    const std::string unsaved = unsaved_rest_note(totals);
    if (!totals.stopReason.empty()) {
        // Ended by the disk or by no product at all: no totals that would read as a finished run.
        print_error(totals.stopReason + "，"_gbk + unwritten);
        if (!totals.failedListPath.empty()) {
            line(totals.notDone > 0 ? "待续列表："_gbk : "失败列表："_gbk, totals.failedListPath);
        }
        if (!unsaved.empty()) print_error(unsaved);
        return 1;
    }
    line("下载总数： "_gbk, std::to_string(totals.productCount));
    line("成功下载： "_gbk, std::to_string(totals.succeeded));
    line("下载失败： "_gbk, std::to_string(totals.failed));
    if (totals.stopped) line("未完成："_gbk, std::to_string(totals.notDone));
    line("图片失败："_gbk, std::to_string(totals.failedPictures));
    if (totals.skipped > 0) line("重复跳过："_gbk, std::to_string(totals.skipped));
    if (!totals.checkSummary.empty()) line({}, totals.checkSummary);
    // Without --out the package's name is made up here: say where it went.
    if (totals.packageWritten || totals.rowsWritten > 0) {
        line("数据包："_gbk, output.path);
        line("图片文件夹："_gbk, output.folder + output.name);
    }
    if (!totals.failedListPath.empty()) {
        line(totals.stopped ? "待续列表："_gbk : "失败列表："_gbk, totals.failedListPath);
    }
    if (!unsaved.empty()) print_error(unsaved);
    if (totals.stopped) {
        if (!totals.packageWritten) {
            print_error("已停止："_gbk + unwritten);
        } else {
            print_error(totals.failedListPath.empty() ? "已停止：已完成的宝贝已写入数据包。"_gbk
                                                      : "已停止：已完成的宝贝已写入数据包，其余的在待续列表中。"_gbk);
        }
        return 130;
    }
    if (!totals.packageWritten) print_error("数据包文件未能写入："_gbk + output.path);
    return totals.packageWritten ? 0 : 1;
}

}  // namespace

int copy_command(const std::vector<std::string>& args) {
    CopyArguments arguments;
    CommandLine line("copy", kExitCodes);
    const CopyOptions declared = declare(line.app(), arguments);
    if (const std::optional<int> code = line.parse(args)) return *code;
    arguments.rules = rule_flags(line.app(), declared);

    const std::string home = program_folder(arguments.home);
    // An options file that is a FIFO, a device or too large would read as empty, and the
    // run would go ahead without its rules.
    const std::string options_path = options_file_path(home);
    if (file_exists(options_path)) {
        const FileRead options = read_regular_file(options_path, kMostSettingsBytes);
        if (options.status == FileReadStatus::NotRegular || options.status == FileReadStatus::TooLarge) {
            print_error(file_read_failure(options, kMostSettingsBytes, "选项文件"_gbk, options_path));
            return 2;
        }
    }
    // Refused before anything is fetched: a run with a rule quietly dropped would make a
    // package at the wholesale price.
    ParsedRules rules = rules_in_force(arguments.rules, options_path);
    if (!rules.error.empty()) {
        print_error(rules.error);
        return 2;
    }

    init_http();
    load_site(arguments.site, home);

    BatchState state;
    const SiteSettings site = site_settings();
    if (!load_key_pairs_or_say(state, site)) return 2;

    const std::string chosen =
        arguments.out.empty() ? default_output_path(home) : absolute_gbk_path(arguments.out);
    const OutputPathChoice output = derive_output_path(chosen);
    if (!output.ok) {
        print_error(output.message);
        return 2;
    }
    // A run into a folder that is not there would fetch everything and then fail to write.
    if (!std::filesystem::is_directory(native_path(output.folder))) {
        print_error("保存路径的文件夹不存在："_gbk + output.folder);
        return 2;
    }
    // A package already there is someone's work: replaced only when asked for.
    if (!arguments.append && !arguments.overwrite && file_exists(output.path)) {
        print_error("数据包已存在："_gbk + output.path + "（用 --overwrite 覆盖，或用 --append 追加）"_gbk);
        return 2;
    }
    state.set_output(output.folder, output.name);
    SharedText outputPath(output.path);

    const OptionControls controls = load_options(options_file_path(home), state);
    LiveOptions options;
    options.downloadDescriptionPictures = controls.downloadPictures;
    options.taobaoOnly = controls.taobaoOnly;
    if (declared.descPictures->count())
        options.downloadDescriptionPictures = arguments.descPictures;
    if (declared.taobaoOnly->count()) options.taobaoOnly = arguments.taobaoOnly;
    if (!arguments.format.empty()) {
        state.outputFormat = format_from_number(std::stoi(arguments.format)).value_or(kDefaultFormat);
    }
    if (const std::optional<FailurePolicy> policy = parse_failure_policy(arguments.policy))
        state.pictureFailurePolicy = *policy;
    state.set_rules(std::move(rules.rules));

    const std::string list_path = absolute_gbk_path(arguments.list);
    ListFileRead entries = read_list_file_contents(list_path, true);
    if (!entries.ok()) {
        print_error(file_read_failure(entries.file, kMostListBytes, "宝贝列表文件"_gbk, list_path));
        return 2;
    }
    // A line that is no row is a product the run would silently leave out.
    if (print_unreadable_lines(entries.contents.unreadableLines, list_path)) return 2;

    std::FILE* log_file = nullptr;
    if (!open_log_file(arguments.log, log_file)) return 2;

    Console console(stdout, stderr, log_file, isatty(STDERR_FILENO) != 0);
    if (entries.wasUtf8) {
        console.append_log(log_time_stamp(system_clock()) + "  列表文件是 UTF-8 编码，已按 UTF-8 读取："_gbk +
                           list_path + "\r\n");
    }
    ProductList list;
    list.replace_all(take_offer_rows(entries.contents, &console));
    RunPorts ports;
    ports.list = &list;
    ports.state = &state;
    ports.options = &options;
    ports.outputPath = &outputPath;
    ports.log = &console;
    ports.observer = &console;
    ports.picturesAhead = !arguments.sequentialPictures;
    ports.tokenPath = api_token_path(home);

    const InterruptCatcher interrupt;

    int code = 0;
    {
        BatchController controller(ports);
        StartOptions start_options;
        start_options.append = arguments.append;
        start_options.inParts = arguments.inParts;
        const StartResult start = controller.start_run(start_options);
        if (!start.started) {
            print_error(start.message.empty() ? "宝贝列表为空，没有可复制的宝贝！"_gbk : start.message);
            if (list.row_count() > BatchController::kMostProducts) {
                print_error("用 --in-parts 分批下载到同一个数据包。"_gbk);
            }
            code = 2;
        } else {
            RunTotals totals;
            bool interrupted = false;
            if (!console.wait_for_completion(&InterruptCatcher::interrupted, totals)) {
                interrupted = true;
                console.clear_progress();
                print_error("正在停止：已完成的宝贝写入数据包，其余存入待续列表……（1 秒内再按 Ctrl-C 立即退出）"_gbk);
                // Returns when the stop, or the completion it came too late for, has reported.
                controller.stop_run();
                console.wait_for_completion({}, totals);
            }
            code = report_totals(totals, output);
            if (interrupted && !totals.stopped) print_error("任务在停止之前已经完成。"_gbk);
        }
    }
    std::fflush(stdout);
    if (log_file) std::fclose(log_file);
    return code;
}

}  // namespace vq::cli
