#include "app/options.hpp"

#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/ini_file.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::string_view kPictureSection = "DL_PIC";
constexpr std::string_view kSaveSection = "SAVE";
constexpr std::string_view kRulesSection = "RULES";
constexpr std::string_view kReplaceKey = "title_replace";

const std::string& yes_text() { return "真"_gbk; }
const std::string& no_text() { return "假"_gbk; }

// The combo box lists the policies in the order of their numbers.
FailurePolicy policy_of_item(int item) { return static_cast<FailurePolicy>(item + 1); }
int item_of_policy(FailurePolicy policy) { return static_cast<int>(policy) - 1; }

std::string replace_key(std::size_t number) {
    return std::string(kReplaceKey) + std::to_string(number);
}

bool write_rules(std::string_view options_path, const ListingRules& rules) {
    const ListingRuleTexts texts = listing_rule_texts(rules);
    return update_ini_file(options_path, [&texts](IniFile& file) {
        const auto set = [&file](std::string_view key, std::string_view value) {
            return file.set_value(kRulesSection, key, quoted_ini_value(value));
        };
        bool ok = set("price_factor", texts.priceFactor) && set("price_add", texts.priceAdd) &&
                  set("price_ending", texts.priceEnding) &&
                  set("title_prefix", texts.titlePrefix) &&
                  set("title_suffix", texts.titleSuffix) &&
                  set("keep_pictures", texts.keepPictures);
        std::size_t n = 0;
        for (const std::string& line : texts.titleReplacements) {
            ok = ok && set(replace_key(++n), line);
        }
        // Lines the user took out of the box go from the file too.
        while (file.remove_value(kRulesSection, replace_key(++n))) {
        }
        return ok;
    });
}

}  // namespace

std::string failure_policy_item_text(int item) {
    switch (item) {
        case 0: return "保持不变"_gbk;
        case 1: return "删除图片"_gbk;
        case 2: return "重新下载 仍失败删除"_gbk;
        default: return {};
    }
}

std::string options_file_path(std::string_view program_folder) {
    std::string path(program_folder);
    if (!path.empty() && path.back() == '/') path.pop_back();
    return path + "/options/options.ini";
}

OptionControls load_options(std::string_view options_path, BatchState& state) {
    OptionControls controls;
    // Values are compared exactly: "TRUE" or "1" do not count as checked.
    controls.downloadPictures = read_ini_value(options_path, kPictureSection, "download") == yes_text();
    controls.taobaoOnly = read_ini_value(options_path, kPictureSection, "taobao_only") == yes_text();
    controls.taobaoOnlyEnabled = controls.downloadPictures;

    const std::string fall = read_ini_value(options_path, kPictureSection, "fall");
    const std::optional<FailurePolicy> policy =
        fall.empty() ? FailurePolicy::RetryThenRemove : parse_failure_policy(fall);
    // Any other value leaves the combo box and the policy as they are.
    if (policy) {
        controls.failurePolicyItem = item_of_policy(*policy);
        state.pictureFailurePolicy = *policy;
    }

    // Any other number is the default format, as before.
    const std::string type = read_ini_value(options_path, kSaveSection, "type");
    controls.format = type.size() == 1 ? format_from_number(type[0] - '0').value_or(kDefaultFormat)
                                       : kDefaultFormat;
    state.outputFormat = controls.format;

    controls.ruleTexts = read_rule_texts(options_path);
    ParsedRules parsed = read_rules(options_path);
    controls.rulesError = std::move(parsed.error);
    controls.rulesRefused = parsed.refused;
    controls.rules = parsed.rules;
    state.set_rules(std::move(parsed.rules));
    return controls;
}

ListingRuleTexts read_rule_texts(std::string_view options_path) {
    IniFile file;
    file.load(options_path);
    const auto value = [&file](std::string_view key) {
        return file.value(kRulesSection, key).value_or(std::string());
    };
    ListingRuleTexts texts;
    texts.priceFactor = value("price_factor");
    texts.priceAdd = value("price_add");
    texts.priceEnding = value("price_ending");
    texts.titlePrefix = value("title_prefix");
    texts.titleSuffix = value("title_suffix");
    texts.keepPictures = value("keep_pictures");
    for (std::size_t n = 1;; ++n) {
        std::optional<std::string> line = file.value(kRulesSection, replace_key(n));
        if (!line) break;
        texts.titleReplacements.push_back(std::move(*line));
    }
    return texts;
}

ParsedRules read_rules(std::string_view options_path) {
    ParsedRules parsed = parse_listing_rules(read_rule_texts(options_path));
    if (!parsed.error.empty()) {
        parsed.error = std::string(options_path) + " [RULES]："_gbk + parsed.error;
    }
    return parsed;
}

SaveOptionsResult save_options(std::string_view options_path, const OptionControls& controls,
                               std::string_view combo_text, BatchState& state) {
    // A fresh installation has no options folder; without it nothing could be saved.
    const int slash = find_last_text(options_path, "/");
    if (slash > 1) make_directory(options_path.substr(0, static_cast<std::size_t>(slash - 1)));

    // A read-only or missing folder must not be confirmed as saved.
    bool written = write_ini_value(options_path, kPictureSection, "download",
                                   controls.downloadPictures ? yes_text() : no_text());
    written = write_ini_value(options_path, kPictureSection, "taobao_only",
                              controls.taobaoOnly ? yes_text() : no_text()) &&
              written;

    SaveOptionsResult result;
    const auto failed = [&result] {
        result.message = "配置保存失败！请检查程序目录下的options文件夹是否可写！"_gbk;
        result.title = "提示"_gbk;
        return result;
    };
    if (!written) return failed();
    if (combo_text.empty()) {
        result.message = "请设置图片下载失败处理方式"_gbk;
        result.title = "信息："_gbk;
        return result;
    }
    for (int item = 0; item < 3; ++item) {
        if (combo_text == failure_policy_item_text(item)) {
            const FailurePolicy policy = policy_of_item(item);
            if (!write_ini_value(options_path, kPictureSection, "fall", failure_policy_text(policy)))
                return failed();
            state.pictureFailurePolicy = policy;
        }
    }

    const PackageFormat format = controls.format;
    if (!write_ini_value(options_path, kSaveSection, "type", std::to_string(format_number(format))))
        return failed();
    state.outputFormat = format;

    IniFile file;
    file.load(options_path);
    if (!controls.rules.none_set() || file.has_section(kRulesSection)) {
        if (!write_rules(options_path, controls.rules)) return failed();
    }
    state.set_rules(controls.rules);

    result.saved = true;
    result.message = "已经保存！"_gbk;
    result.title = "提示"_gbk;
    return result;
}

}  // namespace vq
