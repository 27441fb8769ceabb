#pragma once
// The "配置" page: the picture options, the package format and the price and title rules,
// loaded once at start-up and saved with "保存配置". The two check boxes take effect at once
// (workers read them live); the rest from the next run on.

#include <QWidget>

#include <vector>

#include "model/listing_rules.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace vq::gui {

class ApiAuthGroup;
class WindowCore;
class WindowServices;

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    SettingsPage(WindowCore& core, WindowServices& services, QWidget* parent = nullptr);

    // From the options file into the controls, the live options and the run settings.
    void load_options();
    // "保存配置": to the options file and the run settings, then the message of the result.
    // Rules the core refuses are not saved at all; the message names the field.
    void save_options();

    QCheckBox* download_box() const { return download_; }        // "下载描述图片"
    QCheckBox* taobao_only_box() const { return taobaoOnly_; }   // "只下载淘宝空间图片"
    QComboBox* failure_policy_box() const { return policy_; }
    QRadioButton* taobao_format_button() const { return taobaoFormat_; }    // type 5
    QRadioButton* alibaba_format_button() const { return alibabaFormat_; }  // type 4
    QRadioButton* today_format_button() const { return todayFormat_; }      // type 6
    QPushButton* save_button() const { return save_; }
    // "价格与标题规则"
    QLineEdit* price_factor_box() const { return priceFactor_; }
    QLineEdit* price_add_box() const { return priceAdd_; }
    QComboBox* price_ending_box() const { return priceEnding_; }  // none, yuan, .9, .99
    QLineEdit* title_prefix_box() const { return titlePrefix_; }
    QLineEdit* title_suffix_box() const { return titleSuffix_; }
    QPlainTextEdit* title_replacements_box() const { return titleReplacements_; }  // OLD=NEW lines
    QSpinBox* keep_pictures_box() const { return keepPictures_; }  // 0 = all
    ApiAuthGroup* api_auth_group() const { return apiAuth_; }  // "接口与授权"
    // Shown while a run goes on: what is saved applies to the next run.
    QLabel* run_note() const { return runNote_; }

private:
    // The widget of a rule field; refused ones are marked, with the reason on hover.
    QWidget* rule_widget(RuleField field) const;
    void mark_refused(const std::vector<RuleField>& refused, const QString& why);

    WindowCore& core_;
    WindowServices& services_;
    QCheckBox* download_ = nullptr;
    QCheckBox* taobaoOnly_ = nullptr;
    QComboBox* policy_ = nullptr;
    QRadioButton* taobaoFormat_ = nullptr;
    QRadioButton* alibabaFormat_ = nullptr;
    QRadioButton* todayFormat_ = nullptr;
    QPushButton* save_ = nullptr;
    QLabel* runNote_ = nullptr;
    QLineEdit* priceFactor_ = nullptr;
    QLineEdit* priceAdd_ = nullptr;
    QComboBox* priceEnding_ = nullptr;
    QLineEdit* titlePrefix_ = nullptr;
    QLineEdit* titleSuffix_ = nullptr;
    QPlainTextEdit* titleReplacements_ = nullptr;
    QSpinBox* keepPictures_ = nullptr;
    ApiAuthGroup* apiAuth_ = nullptr;
};

}  // namespace vq::gui
