#pragma once
// The options file: picture handling, package format and listing rules, as the settings
// page shows them.

#include <string>
#include <string_view>

#include "model/batch_model.hpp"

namespace vq {

// The settings page's control states.
struct OptionControls {
    bool downloadPictures = false;    // "下载描述图片"
    bool taobaoOnly = false;          // "只下载淘宝空间图片"
    bool taobaoOnlyEnabled = false;   // enabled state of the second box
    // Combo box item 0 "保持不变", 1 "删除图片", 2 "重新下载 仍失败删除"; -1 = leave as is.
    int failurePolicyItem = -1;
    PackageFormat format = kDefaultFormat;  // the selected radio button
    // Loaded: the [RULES] texts as the file holds them, and why they were refused (GBK,
    // naming the field and the file; then no rule is in force). Saved: rules.
    ListingRuleTexts ruleTexts;
    std::string rulesError;
    std::vector<RuleField> rulesRefused;  // the fields rulesError names
    ListingRules rules;
};

// The combo box items in order, GBK.
std::string failure_policy_item_text(int item);

// program folder + "/options/options.ini"
std::string options_file_path(std::string_view program_folder);

// Reads the four keys (missing file or key = empty text) into control states and sets
// pictureFailurePolicy (only for a recognised fall) and outputFormat in state; reads the
// [RULES] section and sets state's rules (none when a text is refused).
OptionControls load_options(std::string_view options_path, BatchState& state);

// The [RULES] section: price_factor, price_add, price_ending, title_prefix, title_suffix,
// keep_pictures, and title_replace1, title_replace2, ... ("OLD=NEW" each, read up to the
// first missing number). Missing keys read as empty texts.
ListingRuleTexts read_rule_texts(std::string_view options_path);

// The [RULES] texts parsed; a refusal names the field and the file.
ParsedRules read_rules(std::string_view options_path);

struct SaveOptionsResult {
    bool saved = false;     // false: the combo box text was empty (download/taobao_only
                            // were written all the same), or the file could not be written
    std::string message;    // GBK: "已经保存！", "请设置图片下载失败处理方式" or the failure
    std::string title;      // GBK: "提示" or "信息："
};

// Writes download, taobao_only, fall (from combo_text) and type key by key, creating
// the "options" folder when missing, and sets the two values in state. Then controls.rules
// go to [RULES] in one write and to state, unless they change nothing and the file has no
// such section (a file without rules stays as it was).
SaveOptionsResult save_options(std::string_view options_path, const OptionControls& controls,
                               std::string_view combo_text, BatchState& state);

}  // namespace vq
