// vq copy: a copy run from a list file to a package, without a window.

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <iterator>
#include <unistd.h>

#include "api/site_settings.hpp"
#include "run/batch_controller.hpp"
#include "model/list_file.hpp"
#include "app/list_commands.hpp"
#include "app/options.hpp"
#include "app/startup.hpp"
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
    "            1 the package could not be written\n"
    "            2 bad arguments, no key pairs from the configuration server, an unusable\n"
    "              output path or list file, a package --append cannot add to\n"
    "            130 stopped with Ctrl-C (nothing is written)\n";

constexpr const char* kUsage =
    "usage: vq copy --list FILE [--out PATH.csv] [--format 4|5]\n"
    "               [--desc-pictures | --no-desc-pictures] [--taobao-only | --no-taobao-only]\n"
    "               [--policy 1|2|3] [--append] [--sequential-pictures] [--home DIR]\n"
    "               [--site FILE] [--log FILE]\n"
    "               [--price-factor X] [--price-add Y] [--price-ending none|yuan|.9|.99]\n"
    "               [--title-prefix TEXT] [--title-suffix TEXT] [--title-replace OLD=NEW]...\n"
    "               [--keep-pictures N]\n";

// A rule flag as given (UTF-8) and the field of the rules it sets.
struct RuleFlag {
    std::string name;
    RuleField field;
    std::string value;
};

struct CopyArguments {
    std::string list, out, home, site, log;
    int format = 0;   // 0 = as the options file says
    int policy = 0;
    int descPictures = -1;  // -1 = as the options file says
    int taobaoOnly = -1;
    bool append = false;
    bool sequentialPictures = false;
    std::vector<RuleFlag> rules;  // in the order given; each wins over the options file
};

constexpr std::pair<const char*, RuleField> kRuleFlags[] = {
    {"--price-factor", RuleField::PriceFactor},   {"--price-add", RuleField::PriceAdd},
    {"--price-ending", RuleField::PriceEnding},   {"--title-prefix", RuleField::TitlePrefix},
    {"--title-suffix", RuleField::TitleSuffix},   {"--title-replace", RuleField::TitleReplacement},
    {"--keep-pictures", RuleField::KeepPictures},
};

bool parse(const std::vector<std::string>& args, CopyArguments& parsed) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        std::string number;
        if (arg == "--list") {
            if (!value(parsed.list)) return false;
        } else if (arg == "--out") {
            if (!value(parsed.out)) return false;
        } else if (arg == "--home") {
            if (!value(parsed.home)) return false;
        } else if (arg == "--site") {
            if (!value(parsed.site)) return false;
        } else if (arg == "--log") {
            if (!value(parsed.log)) return false;
        } else if (arg == "--format") {
            if (!value(number) || (number != "4" && number != "5")) return false;
            parsed.format = number[0] - '0';
        } else if (arg == "--policy") {
            if (!value(number) || number.size() != 1 || number[0] < '1' || number[0] > '3') {
                return false;
            }
            parsed.policy = number[0] - '0';
        } else if (arg == "--desc-pictures" || arg == "--no-desc-pictures") {
            parsed.descPictures = arg == "--desc-pictures";
        } else if (arg == "--sequential-pictures") {
            parsed.sequentialPictures = true;
        } else if (arg == "--append") {
            parsed.append = true;
        } else if (arg == "--taobao-only" || arg == "--no-taobao-only") {
            parsed.taobaoOnly = arg == "--taobao-only";
        } else {
            const auto* flag = std::find_if(std::begin(kRuleFlags), std::end(kRuleFlags),
                                            [&arg](const auto& f) { return arg == f.first; });
            std::string text;
            if (flag == std::end(kRuleFlags) || !value(text)) return false;
            parsed.rules.push_back({arg, flag->second, std::move(text)});
        }
    }
    return !parsed.list.empty();
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
        if (!ok) return {ListingRules{}, flag.name + "："_gbk + rule_refusal(flag.field, text)};
    }
    ParsedRules parsed = parse_listing_rules(texts);
    if (!parsed.error.empty()) parsed.error = options_path + " [RULES]："_gbk + parsed.error;
    return parsed;
}

}  // namespace

int copy_command(const std::vector<std::string>& args) {
    if (asks_for_help(args)) return print_help(kUsage, kExitCodes);
    CopyArguments arguments;
    if (!parse(args, arguments)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

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
    if (load_remote_configuration(state, site.config_server, site.site_ini) == 0) {
        print_error("预定信息 加载失败，请重新启动--"_gbk);
        print_error(configuration_source_note(site.config_server, site.site_ini));
        return 2;
    }

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
    state.set_output(output.folder, output.name);
    SharedText outputPath(output.path);

    const OptionControls controls = load_options(options_file_path(home), state);
    LiveOptions options;
    options.downloadDescriptionPictures = controls.downloadPictures;
    options.taobaoOnly = controls.taobaoOnly;
    if (arguments.descPictures >= 0) options.downloadDescriptionPictures = arguments.descPictures;
    if (arguments.taobaoOnly >= 0) options.taobaoOnly = arguments.taobaoOnly;
    if (arguments.format) state.outputFormat = arguments.format;
    if (arguments.policy) state.pictureFailurePolicy = arguments.policy;
    state.set_rules(std::move(rules.rules));

    const std::string list_path = absolute_gbk_path(arguments.list);
    ListFileRead entries = read_list_file_contents(list_path);
    if (!entries.ok()) {
        print_error(file_read_failure(entries.file, kMostListBytes, "宝贝列表文件"_gbk, list_path));
        return 2;
    }

    std::FILE* log_file = nullptr;
    if (!open_log_file(arguments.log, log_file)) return 2;

    Console console(stdout, stderr, log_file, isatty(STDERR_FILENO) != 0);
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

    const InterruptCatcher interrupt;

    int code = 0;
    {
        BatchController controller(ports);
        StartOptions start_options;
        start_options.append = arguments.append;
        const StartResult start = controller.start_run(start_options);
        if (!start.started) {
            print_error(start.message.empty() ? "宝贝列表为空，没有可复制的宝贝！"_gbk : start.message);
            code = 2;
        } else {
            RunTotals totals;
            const bool ended = console.wait_for_completion(&InterruptCatcher::interrupted, totals);
            if (ended && !totals.stopReason.empty()) {
                // Stopped by the disk: no totals that would read as a finished run.
                console.clear_progress();
                print_error(totals.stopReason + "，没有写入数据包。"_gbk);
                code = 1;
            } else if (ended) {
                std::printf("%s%d\n%s%d\n%s%d\n%s%d\n", terminal_text("下载总数： "_gbk).c_str(),
                            totals.productCount, terminal_text("成功下载： "_gbk).c_str(),
                            totals.succeeded, terminal_text("下载失败： "_gbk).c_str(),
                            totals.failed, terminal_text("图片失败："_gbk).c_str(),
                            totals.failedPictures);
                if (totals.skipped > 0) {
                    std::printf("%s%d\n", terminal_text("重复跳过："_gbk).c_str(), totals.skipped);
                }
                if (!totals.checkSummary.empty()) {
                    std::printf("%s\n", terminal_text(totals.checkSummary).c_str());
                }
                if (!totals.failedListPath.empty()) {
                    std::printf("%s%s\n", terminal_text("失败列表："_gbk).c_str(),
                                terminal_text(totals.failedListPath).c_str());
                }
                code = totals.packageWritten ? 0 : 1;
            } else {
                controller.stop_run();
                console.clear_progress();
                print_error("已停止：没有写入数据包。"_gbk);
                code = 130;
            }
        }
    }
    std::fflush(stdout);
    if (log_file) std::fclose(log_file);
    return code;
}

}  // namespace vq::cli
