#include "app/options.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/ini_file.hpp"

namespace vq {
namespace {

namespace fs = std::filesystem;

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-options-XXXXXX";
        home_ = mkdtemp(tmpl);
        path_ = options_file_path(home_);
    }
    void TearDown() override { fs::remove_all(home_); }

    void write_options(const std::string& bytes) {
        fs::create_directories(home_ + "/options");
        std::ofstream(path_, std::ios::binary) << bytes;
    }

    std::string home_;
    std::string path_;
};

TEST_F(OptionsTest, LoadDerivesControlsAndState) {
    const std::string yes = "真"_gbk;
    const std::string no = "假"_gbk;
    struct Case {
        const char* what;
        std::string file;  // empty: no file at all
        bool download, taobao, enabled;
        int item;
        int policy;  // the file's number; 0: left untouched
        int format;
    } cases[] = {
        {"no file", "", false, false, false, 2, 3, 5},
        {"both on", "[DL_PIC]\r\ndownload=" + yes + "\r\ntaobao_only=" + yes + "\r\n", true, true,
         true, 2, 3, 5},
        {"second on alone is disabled",
         "[DL_PIC]\r\ndownload=" + no + "\r\ntaobao_only=" + yes + "\r\n", false, true, false, 2, 3,
         5},
        {"exact comparison", "[DL_PIC]\r\ndownload=TRUE\r\ntaobao_only=1\r\n", false, false, false,
         2, 3, 5},
        {"fall 1", "[DL_PIC]\r\nfall=1\r\n", false, false, false, 0, 1, 5},
        {"fall 2", "[DL_PIC]\r\nfall=2\r\n", false, false, false, 1, 2, 5},
        {"fall 3", "[DL_PIC]\r\nfall=3\r\n", false, false, false, 2, 3, 5},
        {"unknown fall keeps combo and policy", "[DL_PIC]\r\nfall=9\r\n", false, false, false, -1,
         0, 5},
        {"fall 03 is unknown", "[DL_PIC]\r\nfall=03\r\n", false, false, false, -1, 0, 5},
        {"type 4", "[SAVE]\r\ntype=4\r\n", false, false, false, 2, 3, 4},
        {"type 5", "[SAVE]\r\ntype=5\r\n", false, false, false, 2, 3, 5},
        {"type 6", "[SAVE]\r\ntype=6\r\n", false, false, false, 2, 3, 6},
        {"type 7 is the default", "[SAVE]\r\ntype=7\r\n", false, false, false, 2, 3, 5},
        {"type empty", "[SAVE]\r\ntype=\r\n", false, false, false, 2, 3, 5},
        {"type 04", "[SAVE]\r\ntype=04\r\n", false, false, false, 2, 3, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home_ + "/options");
        if (!c.file.empty()) write_options(c.file);
        BatchState state;  // policy None, so an untouched one shows
        const OptionControls controls = load_options(path_, state);
        EXPECT_EQ(controls.downloadPictures, c.download);
        EXPECT_EQ(controls.taobaoOnly, c.taobao);
        EXPECT_EQ(controls.taobaoOnlyEnabled, c.enabled);
        EXPECT_EQ(controls.failurePolicyItem, c.item);
        EXPECT_EQ(vq::format_number(controls.format), c.format);
        EXPECT_EQ(static_cast<int>(state.pictureFailurePolicy.load()), c.policy);
        EXPECT_EQ(vq::format_number(state.outputFormat), c.format);
    }
}

TEST_F(OptionsTest, DefaultSaveWritesTheWholeFileIntoAMissingFolder) {
    ASSERT_FALSE(file_exists(home_ + "/options"));
    BatchState state;
    const SaveOptionsResult result =
        save_options(path_, OptionControls{}, failure_policy_item_text(2), state);
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.message, "已经保存！"_gbk);
    EXPECT_EQ(result.title, "提示"_gbk);
    EXPECT_EQ(read_file_bytes(path_).value_or("<unreadable>"),
              "[DL_PIC]\r\ndownload=" + "假"_gbk + "\r\ntaobao_only=" + "假"_gbk +
                  "\r\nfall=3\r\n[SAVE]\r\ntype=5\r\n");
    EXPECT_EQ(state.pictureFailurePolicy, FailurePolicy::RetryThenRemove);
    EXPECT_EQ(vq::format_number(state.outputFormat), 5);
}

TEST_F(OptionsTest, SaveThenLoadRoundTrips) {
    OptionControls chosen;
    chosen.downloadPictures = true;
    chosen.taobaoOnly = true;
    chosen.format = *vq::format_from_number(4);
    BatchState saved;
    EXPECT_TRUE(save_options(path_, chosen, "删除图片"_gbk, saved).saved);
    EXPECT_EQ(saved.pictureFailurePolicy, FailurePolicy::Remove);
    EXPECT_EQ(vq::format_number(saved.outputFormat), 4);

    BatchState loaded;
    const OptionControls controls = load_options(path_, loaded);
    EXPECT_TRUE(controls.downloadPictures);
    EXPECT_TRUE(controls.taobaoOnly);
    EXPECT_TRUE(controls.taobaoOnlyEnabled);
    EXPECT_EQ(controls.failurePolicyItem, 1);
    EXPECT_EQ(vq::format_number(controls.format), 4);
    EXPECT_EQ(loaded.pictureFailurePolicy, FailurePolicy::Remove);
    EXPECT_EQ(vq::format_number(loaded.outputFormat), 4);
}

TEST_F(OptionsTest, ComboTextDecidesWhetherFallAndTypeAreWritten) {
    OptionControls chosen;
    chosen.downloadPictures = true;
    chosen.format = *vq::format_from_number(4);

    // Empty: the check boxes are written, the rest is refused.
    BatchState state;
    state.pictureFailurePolicy = FailurePolicy::KeepAddress;
    SaveOptionsResult result = save_options(path_, chosen, "", state);
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.message, "请设置图片下载失败处理方式"_gbk);
    EXPECT_EQ(result.title, "信息："_gbk);
    EXPECT_EQ(read_file_bytes(path_).value_or("<unreadable>"),
              "[DL_PIC]\r\ndownload=" + "真"_gbk + "\r\ntaobao_only=" + "假"_gbk + "\r\n");
    EXPECT_EQ(state.pictureFailurePolicy, FailurePolicy::KeepAddress);
    EXPECT_EQ(vq::format_number(state.outputFormat), 5);  // the default, untouched

    // Unknown text: no fall, the policy kept, the format still saved.
    result = save_options(path_, chosen, "其他"_gbk, state);
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(read_ini_value(path_, "DL_PIC", "fall", "<none>"), "<none>");
    EXPECT_EQ(read_ini_value(path_, "SAVE", "type"), "4");
    EXPECT_EQ(state.pictureFailurePolicy, FailurePolicy::KeepAddress);
    EXPECT_EQ(vq::format_number(state.outputFormat), 4);
}

TEST_F(OptionsTest, AFailedWriteIsNotConfirmed) {
    // "options" exists as a file, so the folder cannot be made and nothing can be written.
    std::ofstream(home_ + "/options") << "x";
    BatchState state;
    const SaveOptionsResult result =
        save_options(path_, OptionControls{}, failure_policy_item_text(1), state);
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.message, "配置保存失败！请检查程序目录下的options文件夹是否可写！"_gbk);
    EXPECT_EQ(result.title, "提示"_gbk);
    EXPECT_EQ(state.pictureFailurePolicy, FailurePolicy::None);
}

// Rules go into a section of their own; the rest of a hand-edited file keeps every byte,
// a prefix ending in a blank comes back whole, and lines taken out of the box leave the
// file. Taking every rule off keeps the section, with default values.
TEST_F(OptionsTest, RulesSaveIntoTheirOwnSectionKeepingEveryOtherByte) {
    const std::string before = "; mine\n[DL_PIC]\ndownload = "_gbk + "真"_gbk +
                               "\ntaobao_only=" + "假"_gbk + "\nfall=3\n[SAVE]\ntype=5\n\n[X]\na=1\n";
    write_options(before);
    OptionControls chosen;
    chosen.downloadPictures = true;
    ListingRuleTexts texts;
    texts.priceFactor = "1.5";
    texts.priceEnding = ".99";
    texts.titlePrefix = "【现货】 "_gbk;
    const std::string removal = "批发="_gbk, change = "一件代发=包邮"_gbk;
    texts.titleReplacements = {removal, change};
    texts.keepPictures = "3";
    chosen.rules = parse_listing_rules(texts).rules;
    BatchState state;
    ASSERT_TRUE(save_options(path_, chosen, failure_policy_item_text(2), state).saved);
    const std::string rules_section = "[RULES]\nprice_factor=1.5\nprice_add=0\nprice_ending=.99\n"
                                      "title_prefix=\"" + "【现货】 "_gbk + "\"\ntitle_suffix=\n"
                                      "keep_pictures=3\ntitle_replace1=" + removal +
                                      "\ntitle_replace2=" + change + "\n";
    EXPECT_EQ(read_file_bytes(path_).value_or(""), before + rules_section);
    EXPECT_EQ(state.rules().titlePrefix, "【现货】 "_gbk);

    BatchState loaded;
    const OptionControls controls = load_options(path_, loaded);
    EXPECT_EQ(controls.rulesError, "");
    EXPECT_EQ(controls.ruleTexts.titlePrefix, "【现货】 "_gbk);
    EXPECT_EQ(controls.ruleTexts.titleReplacements, texts.titleReplacements);
    EXPECT_EQ(loaded.rules().keepPictures, 3);
    EXPECT_EQ(apply_price_rule("10", loaded.rules()).text, "15.99");

    chosen.rules.titleReplacements.pop_back();
    ASSERT_TRUE(save_options(path_, chosen, failure_policy_item_text(2), state).saved);
    EXPECT_EQ(read_file_bytes(path_).value_or(""),
              before + rules_section.substr(0, rules_section.find("title_replace2")));

    chosen.rules = ListingRules{};
    ASSERT_TRUE(save_options(path_, chosen, failure_policy_item_text(2), state).saved);
    EXPECT_EQ(read_file_bytes(path_).value_or(""),
              before + "[RULES]\nprice_factor=1\nprice_add=0\nprice_ending=none\n"
                       "title_prefix=\ntitle_suffix=\nkeep_pictures=0\n");
    EXPECT_TRUE(state.rules().none_set());
}

// A value the settings page would have refused puts no rule in force and says why.
TEST_F(OptionsTest, ARefusedRuleInTheFileSetsNoRules) {
    write_options("[RULES]\r\nprice_factor=0\r\ntitle_prefix=x\r\n");
    BatchState state;
    state.set_rules(parse_listing_rules({"2", "", "", "y", "", {}, ""}).rules);
    const OptionControls controls = load_options(path_, state);
    EXPECT_NE(controls.rulesError.find("[RULES]"), std::string::npos);
    EXPECT_NE(controls.rulesError.find("价格倍数"_gbk), std::string::npos);
    EXPECT_EQ(controls.ruleTexts.priceFactor, "0");
    EXPECT_TRUE(state.rules().none_set());
}

}  // namespace
}  // namespace vq
