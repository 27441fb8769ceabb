#include "gui/settings_page.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/options.hpp"
#include "gui/qt_text.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"

namespace vq::gui {

namespace {

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
        "#settingsPage QGroupBox QLabel, #settingsPage QGroupBox QComboBox"
        "  { font-weight: normal; color: #202a33; }"
        "#settingsPage QLabel#settingsNote { color: #8a6a3c; }"
        "#settingsPage QLabel#settingsIntro { color: #4d6577; }"));

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(24, 14, 24, 14);
    // One column of steady width, so the page reads as one block on a wide window.
    auto* content = new QWidget(this);
    content->setMinimumWidth(680);
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
    alibabaFormat_ = new QRadioButton(QStringLiteral("生成阿里巴巴商机助理数据包(暂不可用)"), output);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(taobaoFormat_);
    group->addButton(alibabaFormat_);
    taobaoFormat_->setChecked(true);
    formats->addWidget(taobaoFormat_);
    formats->addWidget(alibabaFormat_);
    column->addWidget(output);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    save_ = new QPushButton(QStringLiteral("保存配置"), content);
    save_->setMinimumSize(110, 30);
    buttons->addWidget(save_);
    column->addSpacing(4);
    column->addLayout(buttons);
    column->addStretch(1);

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
    const OptionControls controls = vq::load_options(core_.options_path(), core_.state);
    download_->setChecked(controls.downloadPictures);
    taobaoOnly_->setChecked(controls.taobaoOnly);
    taobaoOnly_->setEnabled(controls.taobaoOnlyEnabled);
    if (controls.failurePolicyItem >= 0) policy_->setCurrentIndex(controls.failurePolicyItem);
    (controls.format == 4 ? alibabaFormat_ : taobaoFormat_)->setChecked(true);
    core_.options.downloadDescriptionPictures.store(download_->isChecked());
    core_.options.taobaoOnly.store(taobaoOnly_->isChecked());
}

void SettingsPage::save_options() {
    OptionControls controls;
    controls.downloadPictures = download_->isChecked();
    controls.taobaoOnly = taobaoOnly_->isChecked();
    controls.taobaoOnlyEnabled = taobaoOnly_->isEnabled();
    controls.failurePolicyItem = policy_->currentIndex();
    controls.format = alibabaFormat_->isChecked() ? 4 : 5;
    const SaveOptionsResult result = vq::save_options(
        core_.options_path(), controls, gbk_text(policy_->currentText()), core_.state);
    services_.message(this, qt_text(result.title), qt_text(result.message));
}

}  // namespace vq::gui
