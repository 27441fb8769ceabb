#include "gui/settings_page.hpp"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/options.hpp"
#include "gui/api_auth_group.hpp"
#include "gui/qt_text.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::gui {

namespace {

// The price endings the program knows, the first items of the box.
constexpr int kPriceEndings = 4;

QLabel* note_label(const QString& text, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    note->setObjectName(QStringLiteral("settingsNote"));
    return note;
}

}  // namespace

SettingsPage::SettingsPage(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {
    setObjectName(QStringLiteral("settingsPage"));
    setStyleSheet(QStringLiteral(
        "#settingsPage QGroupBox { font-weight: bold; color: #1d4f73; border: 1px solid #c9d9e4;"
        "  border-radius: 6px; margin-top: 12px; padding: 14px 14px 10px 14px; background: #fbfdfe; }"
        "#settingsPage QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; }"
        "#settingsPage QGroupBox QCheckBox, #settingsPage QGroupBox QRadioButton,"
        "#settingsPage QGroupBox QLabel, #settingsPage QGroupBox QComboBox,"
        "#settingsPage QGroupBox QLineEdit, #settingsPage QGroupBox QPlainTextEdit,"
        "#settingsPage QGroupBox QSpinBox"
        "  { font-weight: normal; color: #202a33; }"
        "#settingsPage QLabel#settingsNote { color: #8a6a3c; }"
        "#settingsPage QLabel#settingsIntro { color: #4d6577; }"));

    // The page scrolls rather than squeezing its groups when the window is short.
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    auto* inner = new QWidget(scroll);
    inner->setAutoFillBackground(false);
    scroll->setWidget(inner);
    page->addWidget(scroll);

    auto* outer = new QHBoxLayout(inner);
    outer->setContentsMargins(24, 14, 24, 14);
    // One column of steady width, so the page reads as one block on a wide window.
    auto* content = new QWidget(inner);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    outer->addWidget(content, 0);
    outer->addStretch(1);

    auto* intro = new QLabel(QStringLiteral("两个图片勾选项立即生效；"
                                            "失败处理方式和数据包格式在点击“保存配置”后生效。"),
                             content);
    intro->setObjectName(QStringLiteral("settingsIntro"));
    column->addWidget(intro);
    runNote_ = new QLabel(QStringLiteral("正在生成数据包：本次仍按开始时的失败处理方式和数据包格式进行，"
                                         "保存的设置从下一次生成数据包起生效。"),
                          content);
    runNote_->setObjectName(QStringLiteral("settingsNote"));
    runNote_->setWordWrap(true);
    runNote_->hide();
    column->addWidget(runNote_);

    auto* pictures = new QGroupBox(QStringLiteral("宝贝图片选项"), content);
    auto* grid = new QGridLayout(pictures);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    download_ = new QCheckBox(QStringLiteral("下载描述图片"), pictures);
    grid->addWidget(download_, 0, 0, 1, 2);
    auto* taobaoRow = new QHBoxLayout;
    taobaoRow->setSpacing(6);
    taobaoOnly_ = new QCheckBox(QStringLiteral("只下载淘宝空间图片"), pictures);
    taobaoRow->addWidget(taobaoOnly_);
    taobaoRow->addWidget(note_label(QStringLiteral("（只有“下载描述图片”选择时才有效）"), pictures));
    taobaoRow->addStretch(1);
    grid->addLayout(taobaoRow, 1, 0, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("描述图片下载失败处理方式："), pictures), 2, 0);
    policy_ = new QComboBox(pictures);
    for (int item = 0; item < 3; ++item) policy_->addItem(qt_text(failure_policy_item_text(item)));
    // Nothing is selected until the options say so: an unrecognised value keeps it that way.
    policy_->setCurrentIndex(-1);
    policy_->setPlaceholderText(QStringLiteral("请选择"));
    policy_->setMinimumWidth(190);
    grid->addWidget(policy_, 2, 1);
    grid->addWidget(note_label(QStringLiteral("（建议选择带删除的选项）"), pictures), 2, 2);
    grid->setColumnStretch(3, 1);
    column->addWidget(pictures);

    auto* output = new QGroupBox(QStringLiteral("生成选项"), content);
    auto* formats = new QVBoxLayout(output);
    formats->setSpacing(10);
    taobaoFormat_ = new QRadioButton(QStringLiteral("生成淘宝助理5.X数据"), output);
    alibabaFormat_ = new QRadioButton(QStringLiteral("生成阿里巴巴商机助理数据包"), output);
    todayFormat_ = new QRadioButton(QStringLiteral("生成淘宝助理新版数据包（63列）"), output);
    todayFormat_->setObjectName(QStringLiteral("todayFormat"));
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(taobaoFormat_);
    group->addButton(alibabaFormat_);
    group->addButton(todayFormat_);
    taobaoFormat_->setChecked(true);
    formats->addWidget(taobaoFormat_);
    formats->addWidget(alibabaFormat_);
    formats->addWidget(todayFormat_);
    column->addWidget(output);

    auto* rules = new QGroupBox(QStringLiteral("价格与标题规则"), content);
    auto* rulesGrid = new QGridLayout(rules);
    rulesGrid->setHorizontalSpacing(8);
    rulesGrid->setVerticalSpacing(8);
    auto* rulesNote = note_label(QStringLiteral("价格 = 原价 × 倍数 + 加价，再按尾数处理（宝贝价格、"
                                                "价格区间、SKU价格都照此改动）；倍数 1、加价 0、"
                                                "其余留空即不改动。点击“保存配置”后，"
                                                "从下一次生成数据包起生效。"),
                                 rules);
    rulesNote->setWordWrap(true);
    rulesGrid->addWidget(rulesNote, 0, 0, 1, 6);
    const auto label = [rules](const char* text) {
        return new QLabel(QString::fromUtf8(text), rules);
    };
    priceFactor_ = new QLineEdit(QStringLiteral("1"), rules);
    priceAdd_ = new QLineEdit(QStringLiteral("0"), rules);
    priceEnding_ = new QComboBox(rules);
    priceEnding_->addItem(QStringLiteral("不变（两位小数，四舍五入）"), QStringLiteral("none"));
    priceEnding_->addItem(QStringLiteral("进到整元（如 13.00）"), QStringLiteral("yuan"));
    priceEnding_->addItem(QStringLiteral("尾数 .90（如 12.90）"), QStringLiteral(".9"));
    priceEnding_->addItem(QStringLiteral("尾数 .99（如 12.99）"), QStringLiteral(".99"));
    titlePrefix_ = new QLineEdit(rules);
    titleSuffix_ = new QLineEdit(rules);
    keepPictures_ = new QSpinBox(rules);
    keepPictures_->setRange(0, 999);
    keepPictures_->setSpecialValueText(QStringLiteral("全部"));
    keepPictures_->setSuffix(QStringLiteral(" 张"));
    rulesGrid->addWidget(label("价格倍数："), 1, 0);
    rulesGrid->addWidget(priceFactor_, 1, 1);
    rulesGrid->addWidget(label("加价（元）："), 1, 2);
    rulesGrid->addWidget(priceAdd_, 1, 3);
    rulesGrid->addWidget(label("价格尾数："), 1, 4);
    rulesGrid->addWidget(priceEnding_, 1, 5);
    rulesGrid->addWidget(label("标题前缀："), 2, 0);
    rulesGrid->addWidget(titlePrefix_, 2, 1);
    rulesGrid->addWidget(label("标题后缀："), 2, 2);
    rulesGrid->addWidget(titleSuffix_, 2, 3);
    rulesGrid->addWidget(label("保留主图："), 2, 4);
    rulesGrid->addWidget(keepPictures_, 2, 5);
    rulesGrid->addWidget(label("标题替换："), 3, 0, Qt::AlignTop);
    titleReplacements_ = new QPlainTextEdit(rules);
    titleReplacements_->setPlaceholderText(
        QStringLiteral("每行一条“旧词=新词”，新词留空即删除，例如：\n一件代发=\n厂家直销=正品"));
    titleReplacements_->setTabChangesFocus(true);
    titleReplacements_->setFixedHeight(72);
    rulesGrid->addWidget(titleReplacements_, 3, 1, 1, 5);
    rulesGrid->setColumnStretch(1, 1);
    rulesGrid->setColumnStretch(3, 1);
    rulesGrid->setColumnStretch(5, 1);
    column->addWidget(rules);

    apiAuth_ = new ApiAuthGroup(core_, services_, content);
    column->addWidget(apiAuth_);

    column->addStretch(1);

    // "保存配置" stays in sight below the scrolling groups, at the right edge of their column.
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(24, 6, 24, 10);
    auto* buttonRow = new QWidget(this);
    auto* buttons = new QHBoxLayout(buttonRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    save_ = new QPushButton(QStringLiteral("保存配置"), buttonRow);
    save_->setMinimumSize(110, 30);
    buttons->addWidget(save_);
    const int width = std::max(680, content->sizeHint().width());
    content->setFixedWidth(width);
    buttonRow->setFixedWidth(width);
    bottom->addWidget(buttonRow);
    bottom->addStretch(1);
    page->addLayout(bottom);

    // Workers read the two boxes the moment they need them, so every change counts at once.
    // The second box only matters with the first, so it follows it at once rather than
    // after a save and a restart.
    connect(download_, &QCheckBox::toggled, this, [this](bool on) {
        core_.options.downloadDescriptionPictures.store(on);
        taobaoOnly_->setEnabled(on);
    });
    connect(taobaoOnly_, &QCheckBox::toggled, this,
            [this](bool on) { core_.options.taobaoOnly.store(on); });
    connect(save_, &QPushButton::clicked, this, &SettingsPage::save_options);
    // A run keeps the format and policy it started with; the note says so while it runs.
    connect(&core_.observer, &GuiRunObserver::stateChanged, this, [this](int) {
        runNote_->setVisible(core_.controller.state() != RunState::Idle);
    });
}

void SettingsPage::load_options() {
    // A FIFO or a huge file in its place is read as no file at all; the user hears why.
    const std::string optionsPath = core_.options_path();
    if (file_exists(optionsPath)) {
        const FileRead read = read_regular_file(optionsPath, kMostSettingsBytes);
        if (!read.ok()) {
            core_.log.append_log(log_time_stamp(*core_.clock) + " " +
                                 file_read_failure(read, kMostSettingsBytes, "选项文件"_gbk,
                                                   optionsPath) +
                                 "，使用默认设置\r\n"_gbk);
        }
    }
    const OptionControls controls = vq::load_options(core_.options_path(), core_.state);
    download_->setChecked(controls.downloadPictures);
    taobaoOnly_->setChecked(controls.taobaoOnly);
    taobaoOnly_->setEnabled(controls.taobaoOnlyEnabled);
    if (controls.failurePolicyItem >= 0) policy_->setCurrentIndex(controls.failurePolicyItem);
    (controls.format == PackageFormat::Alibaba       ? alibabaFormat_
     : controls.format == PackageFormat::TaobaoToday ? todayFormat_
                                                     : taobaoFormat_)
        ->setChecked(true);
    core_.options.downloadDescriptionPictures.store(download_->isChecked());
    core_.options.taobaoOnly.store(taobaoOnly_->isChecked());
    apiAuth_->load();

    // The file's texts as they are, refused ones too, so the user sees what to mend.
    const ListingRuleTexts& texts = controls.ruleTexts;
    const auto or_default = [](const std::string& text, const QString& fallback) {
        return text.empty() ? fallback : qt_text(text);
    };
    priceFactor_->setText(or_default(texts.priceFactor, QStringLiteral("1")));
    priceAdd_->setText(or_default(texts.priceAdd, QStringLiteral("0")));
    // An ending the program does not know is shown as it stands, not as "不变".
    while (priceEnding_->count() > kPriceEndings) priceEnding_->removeItem(kPriceEndings);
    int ending = priceEnding_->findData(qt_text(texts.priceEnding));
    if (ending < 0 && !texts.priceEnding.empty()) {
        priceEnding_->addItem(QStringLiteral("“%1”（无效）").arg(qt_text(texts.priceEnding)),
                              qt_text(texts.priceEnding));
        ending = kPriceEndings;
    }
    priceEnding_->setCurrentIndex(ending >= 0 ? ending : 0);
    titlePrefix_->setText(qt_text(texts.titlePrefix));
    titleSuffix_->setText(qt_text(texts.titleSuffix));
    QStringList lines;
    for (const std::string& line : texts.titleReplacements) lines << qt_text(line);
    titleReplacements_->setPlainText(lines.join(QLatin1Char('\n')));
    keepPictures_->setValue(parse_keep_pictures(texts.keepPictures).value_or(0));
    core_.rulesError = controls.rulesError;
    mark_refused(controls.rulesRefused, qt_text(controls.rulesError));
    if (!controls.rulesError.empty()) {
        core_.log.append_log(log_time_stamp(*core_.clock) + " " + controls.rulesError +
                             "，改正并保存之前不能生成数据包\r\n"_gbk);
    }
}

QWidget* SettingsPage::rule_widget(RuleField field) const {
    switch (field) {
        case RuleField::PriceFactor: return priceFactor_;
        case RuleField::PriceAdd: return priceAdd_;
        case RuleField::PriceEnding: return priceEnding_;
        case RuleField::TitlePrefix: return titlePrefix_;
        case RuleField::TitleSuffix: return titleSuffix_;
        case RuleField::TitleReplacement: return titleReplacements_;
        case RuleField::KeepPictures: return keepPictures_;
    }
    return nullptr;
}

void SettingsPage::mark_refused(const std::vector<RuleField>& refused, const QString& why) {
    for (const RuleField field : {RuleField::PriceFactor, RuleField::PriceAdd,
                                  RuleField::PriceEnding, RuleField::TitlePrefix,
                                  RuleField::TitleSuffix, RuleField::TitleReplacement,
                                  RuleField::KeepPictures}) {
        QWidget* widget = rule_widget(field);
        const bool bad = std::find(refused.begin(), refused.end(), field) != refused.end();
        widget->setProperty("refused", bad);
        widget->setStyleSheet(bad ? QStringLiteral("border: 1px solid #c00000;") : QString());
        widget->setToolTip(bad ? why : QString());
    }
}

void SettingsPage::save_options() {
    OptionControls controls;
    controls.downloadPictures = download_->isChecked();
    controls.taobaoOnly = taobaoOnly_->isChecked();
    controls.taobaoOnlyEnabled = taobaoOnly_->isEnabled();
    controls.failurePolicyItem = policy_->currentIndex();
    controls.format = alibabaFormat_->isChecked() ? PackageFormat::Alibaba
                      : todayFormat_->isChecked() ? PackageFormat::TaobaoToday
                                                  : PackageFormat::Taobao;

    ListingRuleTexts texts;
    texts.priceFactor = gbk_text(priceFactor_->text());
    texts.priceAdd = gbk_text(priceAdd_->text());
    texts.priceEnding = gbk_text(priceEnding_->currentData().toString());
    texts.titlePrefix = gbk_text(titlePrefix_->text());
    texts.titleSuffix = gbk_text(titleSuffix_->text());
    for (const QString& line : titleReplacements_->toPlainText().split(QLatin1Char('\n'))) {
        texts.titleReplacements.push_back(gbk_text(line));
    }
    texts.keepPictures = std::to_string(keepPictures_->value());
    ParsedRules parsed = parse_listing_rules(texts);
    mark_refused(parsed.refused, qt_text(parsed.error));
    if (!parsed.error.empty()) {
        services_.message(this, QStringLiteral("提示"), qt_text(parsed.error));
        return;
    }
    controls.rules = std::move(parsed.rules);
    if (!apiAuth_->save_profile()) return;

    const SaveOptionsResult result = vq::save_options(
        core_.options_path(), controls, gbk_text(policy_->currentText()), core_.state);
    if (result.saved) core_.rulesError.clear();
    services_.message(this, qt_text(result.title), qt_text(result.message));
}

}  // namespace vq::gui
