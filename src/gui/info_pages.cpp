#include "gui/info_pages.hpp"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/nav_strip.hpp"
#include "gui/pictures.hpp"
#include "gui/window_services.hpp"

namespace vq::gui {

namespace {

// The banner, redrawn to the width it is given.
class Banner : public QWidget {
public:
    explicit Banner(QWidget* parent) : QWidget(parent) {
        setFixedHeight(104);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (picture_.deviceIndependentSize().toSize() != size()) picture_ = banner_picture(size());
        QPainter p(this);
        p.drawPixmap(0, 0, picture_);
    }

private:
    QPixmap picture_;
};

QWidget* step_row(int number, const QString& title, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* badge = new QLabel(QString::number(number), row);
    badge->setObjectName(QStringLiteral("stepNumber"));
    badge->setAlignment(Qt::AlignCenter);
    badge->setFixedSize(28, 28);
    layout->addWidget(badge, 0, Qt::AlignTop);
    auto* words = new QLabel(QStringLiteral("<b>%1</b><br>%2").arg(title, text), row);
    words->setObjectName(QStringLiteral("stepText"));
    words->setWordWrap(true);
    layout->addWidget(words, 1);
    return row;
}

QString card_text(int item) {
    switch (item) {
        case 2: return QStringLiteral("逐个添加宝贝地址");
        case 3: return QStringLiteral("一个分类或搜索列表");
        case 4: return QStringLiteral("整个店铺的全部宝贝");
        case 5: return QStringLiteral("图片选项与数据包格式");
        case 6: return QStringLiteral("使用说明与常见问题");
        default: return {};
    }
}

const char* kHelpHtml = R"(
<style>
  body { color: #202a33; }
  h2 { color: #1d4f73; margin-top: 4px; }
  h3 { color: #1d6fa5; margin-top: 16px; margin-bottom: 4px; }
  p, li { line-height: 140%; }
  .key { color: #c2571a; font-weight: bold; }
  code { background-color: #eef4f8; }
</style>
<h2>VelmoraQuillet V)" VQ_VERSION R"( 使用说明</h2>
<p>本程序把 1688 上的宝贝资料复制成淘宝助理可以导入的数据包。使用分两步：先把要复制的宝贝放进
<span class="key">宝贝列表</span>，再点击<span class="key">生成数据包</span>。</p>

<h3>一、三种采集方式</h3>
<ul>
  <li><b>单品采集</b>：在地址框里填写一个宝贝页面的地址，点击“添加到列表”，宝贝会立即加入列表。
      可以一个一个地继续添加。</li>
  <li><b>列表采集</b>：填写某个店铺里一个分类或搜索结果列表的地址，程序会读取这个列表的每一页，
      把其中的宝贝都加入列表。</li>
  <li><b>店铺采集</b>：填写店铺的首页地址，程序会读取整个店铺的全部宝贝。</li>
</ul>
<p>列表和店铺的页面在后台读取，读取时窗口照常可用，宝贝会陆续出现在列表中。读取期间按钮变为
“停止读取”，点击即停止，已经加入的宝贝留在列表中；全部读完后按钮恢复为“添加到列表”。
一次最多读取 1000 页。地址框旁的小按钮会填入一个示例店铺地址。</p>

<h3>二、宝贝列表文件</h3>
<ul>
  <li><b>导出列表</b>把当前列表保存为文本文件，<b>导入列表</b>用文件中的宝贝替换当前列表。</li>
  <li>文件为 GBK 编码的文本文件，每行一个宝贝，格式为
      <code>名称||ID||价格||地址</code>。可以用记事本编辑后再导入。</li>
  <li>在列表上点击右键可以打开宝贝链接、复制宝贝地址或名称、删除选中的宝贝。</li>
  <li><b>用EXCEL打开宝贝列表</b>会在程序目录下写出 <code>temp.xlsx</code>（名称、价格、地址三列）
      并用电子表格程序打开。</li>
</ul>

<h3>三、配置</h3>
<ul>
  <li><b>下载描述图片</b>：把宝贝描述里的图片下载到本地，并让描述使用本地图片。</li>
  <li><b>只下载淘宝空间图片</b>：只下载存放在淘宝图片空间的描述图片，其余图片保持原地址。</li>
  <li><b>描述图片下载失败处理方式</b>：“保持不变”保留原图片地址；“删除图片”从描述中去掉下载失败的图片；
      “重新下载 仍失败删除”先再试一次，仍然失败才删除。建议选择带删除的选项。</li>
  <li><b>生成选项</b>：选择数据包的格式，通常选择“生成淘宝助理5.X数据”。</li>
</ul>
<p>两个图片勾选项立即生效；处理方式和数据包格式在点击“保存配置”后生效，并在下次启动时自动载入。</p>

<h3>四、生成数据包</h3>
<ul>
  <li>在“保存路径”中选择数据包文件（点击“更改”）。点击<b>生成数据包</b>后，程序在该位置写出一个表格文件，
      并在它旁边建立一个同名文件夹存放宝贝图片。导入淘宝助理时请保持两者在同一目录。</li>
  <li>每次最多采集 1000 个宝贝。宝贝较多时，先导出列表，用记事本把文件分成几份（每份不超过 1000 行），
      再逐份导入、分几次生成数据包，每次选择不同的保存路径。</li>
  <li>采集过程中可以<b>暂停</b>、<b>继续</b>或<b>停止</b>。停止后不会写出数据包。</li>
  <li>全部完成后会弹出“复制完成！”窗口，显示下载总数、成功数和失败数；详细过程见“操作记录”。</li>
</ul>

<h3>五、相关网站</h3>
<ul>
  <li><a href="https://www.1688.com/">1688 批发网</a></li>
  <li><a href="https://helpcenter.taobao.com/">淘宝帮助中心</a></li>
  <li><a href="https://open.1688.com/">1688 开放平台</a></li>
</ul>
)";

}  // namespace

HomePage::HomePage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("homePage"));
    setStyleSheet(QStringLiteral(
        "#homePage QFrame#homePanel { background: #ffffff; border: 1px solid #d3e0ea; border-radius: 8px; }"
        "#homePage QLabel#panelTitle { color: #1d4f73; font-size: 15px; font-weight: bold; }"
        "#homePage QLabel#stepNumber { background: #f38b23; color: white; border-radius: 14px;"
        "  font-weight: bold; }"
        "#homePage QLabel#stepText { color: #2b3a46; }"
        "#homePage QLabel#homeTip { color: #7a8b97; }"
        "#homePage QToolButton { background: #f6fafc; border: 1px solid #d3e0ea; border-radius: 8px;"
        "  padding: 6px 10px; color: #2b3a46; text-align: left; }"
        "#homePage QToolButton:hover { background: #eaf5f7; border-color: #17a29e; }"
        "#homePage QToolButton:pressed { background: #d9eef1; }"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->setSpacing(14);
    layout->addWidget(new Banner(this));

    auto* body = new QHBoxLayout;
    body->setContentsMargins(20, 0, 20, 0);
    body->setSpacing(16);
    layout->addLayout(body, 1);

    auto* steps = new QFrame(this);
    steps->setObjectName(QStringLiteral("homePanel"));
    auto* stepLayout = new QVBoxLayout(steps);
    stepLayout->setContentsMargins(18, 14, 18, 14);
    stepLayout->setSpacing(16);
    auto* stepsTitle = new QLabel(QStringLiteral("三步完成采集"), steps);
    stepsTitle->setObjectName(QStringLiteral("panelTitle"));
    stepLayout->addWidget(stepsTitle);
    stepLayout->addWidget(step_row(
        1, QStringLiteral("填好宝贝列表"),
        QStringLiteral("选择单品、列表或店铺采集，输入地址后点击“添加到列表”；也可以导入以前保存的列表。"),
        steps));
    stepLayout->addWidget(step_row(
        2, QStringLiteral("检查配置"),
        QStringLiteral("在“配置”页选择描述图片的下载方式和数据包格式，然后点击“保存配置”。"), steps));
    stepLayout->addWidget(step_row(
        3, QStringLiteral("生成数据包"),
        QStringLiteral("在采集页确认保存路径，点击“生成数据包”，完成后即可导入淘宝助理。"), steps));
    stepLayout->addStretch(1);
    auto* note = new QLabel(
        QStringLiteral("采集的每一步都会写入采集页的“操作记录”，遇到问题时可以先查看那里。"), steps);
    note->setObjectName(QStringLiteral("homeTip"));
    note->setWordWrap(true);
    stepLayout->addWidget(note);
    body->addWidget(steps, 5);

    auto* shortcuts = new QFrame(this);
    shortcuts->setObjectName(QStringLiteral("homePanel"));
    auto* grid = new QGridLayout(shortcuts);
    grid->setContentsMargins(18, 14, 18, 14);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    auto* shortcutsTitle = new QLabel(QStringLiteral("快速开始"), shortcuts);
    shortcutsTitle->setObjectName(QStringLiteral("panelTitle"));
    grid->addWidget(shortcutsTitle, 0, 0, 1, 2);
    for (int item = 2; item <= 6; ++item) {
        auto* card = new QToolButton(shortcuts);
        card->setObjectName(QStringLiteral("homeItem%1").arg(item));
        card->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        card->setIcon(QIcon(navigation_picture(item, 34)));
        card->setIconSize(QSize(34, 34));
        card->setText(NavStrip::caption(item) + QLatin1Char('\n') + card_text(item));
        card->setCursor(Qt::PointingHandCursor);
        card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        card->setMinimumHeight(60);
        const int index = item - 2;
        grid->addWidget(card, 1 + index / 2, index % 2);
        connect(card, &QToolButton::clicked, this, [this, item] { emit itemRequested(item); });
    }
    auto* tip = new QLabel(QStringLiteral("点击上方导航栏也能切换页面"), shortcuts);
    tip->setObjectName(QStringLiteral("homeTip"));
    tip->setWordWrap(true);
    tip->setAlignment(Qt::AlignCenter);
    grid->addWidget(tip, 3, 1);
    grid->setRowStretch(4, 1);
    body->addWidget(shortcuts, 6);
}

HelpPage::HelpPage(WindowServices& services, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("helpPage"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("helpBrowser"));
    // Links go to the desktop's browser; this view never navigates away from the guide.
    browser_->setOpenLinks(false);
    browser_->setOpenExternalLinks(false);
    browser_->setStyleSheet(QStringLiteral(
        "#helpBrowser { background: #ffffff; border: 1px solid #d3e0ea; border-radius: 6px;"
        "  padding: 10px 16px; }"));
    // The source is wrapped for reading; in Chinese text a line break would show as a gap.
    QString html = QString::fromUtf8(kHelpHtml);
    html.remove(QRegularExpression(QStringLiteral("\\n\\s*")));
    browser_->setHtml(html);
    connect(browser_, &QTextBrowser::anchorClicked, this,
            [&services](const QUrl& url) { services.open_url(url); });
    layout->addWidget(browser_);
}

}  // namespace vq::gui
