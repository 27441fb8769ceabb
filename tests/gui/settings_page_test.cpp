// The settings page against real options files, and the navigation strip's click areas.

#include <QtTest>

#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QUrlQuery>

#include "api/api_token.hpp"
#include "gui/api_auth_group.hpp"
#include "gui/nav_strip.hpp"
#include "gui/qt_text.hpp"
#include "gui/run_panel.hpp"
#include "gui/settings_page.hpp"
#include "gui/window_core.hpp"
#include "gui_fixture.hpp"
#include "support/ini_file.hpp"

using vq::gui::SettingsPage;
using vq::gui::WindowCore;

namespace {

constexpr const char* kMissing = "<missing>";

void write_options(const guitest::TempHome& home, const QString& text) {
    const std::string path = home.gbk() + "/options/options.ini";
    QVERIFY(vq::write_file_atomic(path, vq::utf8_to_gbk(text.toStdString())));
}

}  // namespace

class SettingsPageTest : public QObject {
    Q_OBJECT

private slots:
    void load_then_save_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("download");
        QTest::addColumn<bool>("taobaoOnly");
        QTest::addColumn<bool>("taobaoOnlyEnabled");
        QTest::addColumn<QString>("fall");
        QTest::addColumn<int>("policy");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("saveTitle");
        QTest::addColumn<QString>("saveMessage");

        const QString saved = QStringLiteral("已经保存！");
        const QString hint = QStringLiteral("提示");
        const QString retry = QStringLiteral("重新下载 仍失败删除");
        QTest::newRow("missing file") << kMissing << false << false << false << retry << 3 << 5
                                      << hint << saved;
        QTest::newRow("both checked")
            << QStringLiteral("[DL_PIC]\r\ndownload=真\r\ntaobao_only=真\r\n") << true << true
            << true << retry << 3 << 5 << hint << saved;
        QTest::newRow("taobao only without download")
            << QStringLiteral("[DL_PIC]\r\ndownload=假\r\ntaobao_only=真\r\n") << false << true
            << false << retry << 3 << 5 << hint << saved;
        QTest::newRow("fall 2") << QStringLiteral("[DL_PIC]\r\nfall=2\r\n") << false << false
                                << false << QStringLiteral("删除图片") << 2 << 5 << hint << saved;
        QTest::newRow("fall out of range")
            << QStringLiteral("[DL_PIC]\r\nfall=7\r\n") << false << false << false << QString()
            << 0 << 5 << QStringLiteral("信息：") << QStringLiteral("请设置图片下载失败处理方式");
        QTest::newRow("type 4") << QStringLiteral("[SAVE]\r\ntype=4\r\n") << false << false
                                << false << retry << 3 << 4 << hint << saved;
        QTest::newRow("type 04") << QStringLiteral("[SAVE]\r\ntype=04\r\n") << false << false
                                 << false << retry << 3 << 5 << hint << saved;
        QTest::newRow("type 6") << QStringLiteral("[SAVE]\r\ntype=6\r\n") << false << false
                                << false << retry << 3 << 6 << hint << saved;
    }

    // What the file says reaches the controls, the live options and the run settings; saving
    // from those controls then answers with the core's message.
    void load_then_save() {
        QFETCH(QString, file);
        QFETCH(bool, download);
        QFETCH(bool, taobaoOnly);
        QFETCH(bool, taobaoOnlyEnabled);
        QFETCH(QString, fall);
        QFETCH(int, policy);
        QFETCH(int, format);
        QFETCH(QString, saveTitle);
        QFETCH(QString, saveMessage);

        guitest::TempHome home;
        if (file != QLatin1String(kMissing)) write_options(home, file);
        guitest::RecordingServices services;
        WindowCore core(home.gbk());
        SettingsPage page(core, services);
        page.load_options();

        QCOMPARE(page.download_box()->isChecked(), download);
        QCOMPARE(page.taobao_only_box()->isChecked(), taobaoOnly);
        QCOMPARE(page.taobao_only_box()->isEnabled(), taobaoOnlyEnabled);
        QCOMPARE(page.failure_policy_box()->currentText(), fall);
        QCOMPARE(page.failure_policy_box()->currentIndex() == -1, fall.isEmpty());
        QCOMPARE(page.alibaba_format_button()->isChecked(), format == 4);
        QCOMPARE(page.taobao_format_button()->isChecked(), format == 5);
        QCOMPARE(page.today_format_button()->isChecked(), format == 6);
        QCOMPARE(page.today_format_button()->text(), QStringLiteral("生成淘宝助理新版数据包（63列）"));
        // The 1688 format works; nothing may say otherwise.
        QCOMPARE(page.alibaba_format_button()->text(), QStringLiteral("生成阿里巴巴商机助理数据包"));
        QCOMPARE(core.options.downloadDescriptionPictures.load(), download);
        QCOMPARE(core.options.taobaoOnly.load(), taobaoOnly);
        QCOMPARE(static_cast<int>(core.state.pictureFailurePolicy.load()), policy);
        QCOMPARE(vq::format_number(core.state.outputFormat.load()), format);

        QTest::mouseClick(page.save_button(), Qt::LeftButton);
        QCOMPARE(services.messages.size(), 1);
        QCOMPARE(services.messages[0].title, saveTitle);
        QCOMPARE(services.messages[0].text, saveMessage);
        QCOMPARE(static_cast<int>(core.state.pictureFailurePolicy.load()), policy);
    }

    void saved_file_loads_into_the_same_controls() {
        guitest::TempHome home;
        guitest::RecordingServices services;
        {
            WindowCore core(home.gbk());
            SettingsPage page(core, services);
            page.load_options();
            page.download_box()->setChecked(true);
            page.taobao_only_box()->setChecked(true);
            page.failure_policy_box()->setCurrentIndex(0);
            page.alibaba_format_button()->setChecked(true);
            page.save_options();
            QCOMPARE(services.messages.size(), 1);
            QCOMPARE(services.messages[0].title, QStringLiteral("提示"));
            QCOMPARE(services.messages[0].text, QStringLiteral("已经保存！"));
            QVERIFY(core.state.pictureFailurePolicy.load() == vq::FailurePolicy::KeepAddress);
            QCOMPARE(vq::format_number(core.state.outputFormat.load()), 4);
        }

        WindowCore core(home.gbk());
        SettingsPage page(core, services);
        page.load_options();
        QVERIFY(page.download_box()->isChecked());
        QVERIFY(page.taobao_only_box()->isChecked());
        QVERIFY(page.taobao_only_box()->isEnabled());
        QCOMPARE(page.failure_policy_box()->currentText(), QStringLiteral("保持不变"));
        QVERIFY(page.alibaba_format_button()->isChecked());
        QVERIFY(core.state.pictureFailurePolicy.load() == vq::FailurePolicy::KeepAddress);
        QCOMPARE(vq::format_number(core.state.outputFormat.load()), 4);
    }

    // Workers read the boxes live, and the second box is usable exactly while the first
    // is ticked, without a save and a restart.
    void check_boxes_take_effect_at_once() {
        guitest::TempHome home;
        guitest::RecordingServices services;
        WindowCore core(home.gbk());
        SettingsPage page(core, services);
        page.load_options();
        QVERIFY(!page.taobao_only_box()->isEnabled());

        QTest::mouseClick(page.download_box(), Qt::LeftButton);
        QVERIFY(core.options.downloadDescriptionPictures.load());
        QVERIFY(page.taobao_only_box()->isEnabled());

        QTest::mouseClick(page.taobao_only_box(), Qt::LeftButton);
        QVERIFY(core.options.taobaoOnly.load());
        QTest::mouseClick(page.download_box(), Qt::LeftButton);
        QVERIFY(!core.options.downloadDescriptionPictures.load());
        QVERIFY(!page.taobao_only_box()->isEnabled());
    }

    // The rules group saves into the file and the run settings, and a new window shows
    // them again; a prefix ending in a blank keeps it.
    void rules_save_and_load_again() {
        guitest::TempHome home;
        guitest::RecordingServices services;
        {
            WindowCore core(home.gbk());
            SettingsPage page(core, services);
            page.load_options();
            QCOMPARE(page.price_factor_box()->text(), QStringLiteral("1"));
            QCOMPARE(page.keep_pictures_box()->value(), 0);
            page.price_factor_box()->setText(QStringLiteral("1.3"));
            page.price_add_box()->setText(QStringLiteral("2"));
            page.price_ending_box()->setCurrentIndex(3);
            page.title_prefix_box()->setText(QStringLiteral("【现货】 "));
            page.title_replacements_box()->setPlainText(QStringLiteral("批发=\n\n一件代发=包邮"));
            page.keep_pictures_box()->setValue(5);
            QTest::mouseClick(page.save_button(), Qt::LeftButton);
            QCOMPARE(services.messages.size(), 1);
            QCOMPARE(services.messages[0].text, QStringLiteral("已经保存！"));
            const vq::ListingRules rules = core.state.rules();
            QCOMPARE(rules.keepPictures, 5);
            QCOMPARE(rules.titleReplacements.size(), std::size_t{2});
            QCOMPARE(vq::apply_price_rule("10", rules).text, std::string("15.99"));
        }

        WindowCore core(home.gbk());
        SettingsPage page(core, services);
        page.load_options();
        QCOMPARE(page.price_factor_box()->text(), QStringLiteral("1.3"));
        QCOMPARE(page.price_add_box()->text(), QStringLiteral("2"));
        QCOMPARE(page.price_ending_box()->currentIndex(), 3);
        QCOMPARE(page.title_prefix_box()->text(), QStringLiteral("【现货】 "));
        QCOMPARE(page.title_replacements_box()->toPlainText(),
                 QStringLiteral("批发=\n一件代发=包邮"));
        QCOMPARE(page.keep_pictures_box()->value(), 5);
        QCOMPARE(vq::gbk_to_utf8(core.state.rules().titlePrefix), std::string("【现货】 "));
    }

    void refused_rules_are_not_saved_data() {
        QTest::addColumn<QString>("factor");
        QTest::addColumn<QString>("add");
        QTest::addColumn<QString>("replacements");
        QTest::addColumn<QString>("field");
        QTest::newRow("factor 0") << "0" << "0" << "" << "价格倍数";
        QTest::newRow("factor not a number") << "abc" << "0" << "" << "价格倍数";
        QTest::newRow("add not a number") << "1" << "5元" << "" << "加价";
        QTest::newRow("line without =") << "1" << "0" << "批发=\n一件代发" << "标题替换";
    }

    // Saving refuses the whole page, names the field, and writes nothing.
    void refused_rules_are_not_saved() {
        QFETCH(QString, factor);
        QFETCH(QString, add);
        QFETCH(QString, replacements);
        QFETCH(QString, field);
        guitest::TempHome home;
        guitest::RecordingServices services;
        WindowCore core(home.gbk());
        SettingsPage page(core, services);
        page.load_options();
        page.price_factor_box()->setText(factor);
        page.price_add_box()->setText(add);
        page.title_replacements_box()->setPlainText(replacements);
        page.alibaba_format_button()->setChecked(true);
        QTest::mouseClick(page.save_button(), Qt::LeftButton);
        QCOMPARE(services.messages.size(), 1);
        QCOMPARE(services.messages[0].title, QStringLiteral("提示"));
        QVERIFY2(services.messages[0].text.startsWith(field), qPrintable(services.messages[0].text));
        QVERIFY(!QFile::exists(home.file(QStringLiteral("options/options.ini"))));
        QCOMPARE(vq::format_number(core.state.outputFormat.load()), 5);
    }

    // Rules in the file the program cannot use: every bad field is named and marked, its
    // text shown as it stands (not as "不变"), and the window refuses to run without them
    // until they are mended and saved.
    void refused_rules_in_the_file_stop_the_window_from_running() {
        guitest::TempHome home;
        guitest::RecordingServices services;
        write_options(home, QStringLiteral("[RULES]\r\nprice_factor=abc\r\nprice_ending=.95\r\n"
                                           "title_prefix=【现货】\r\n"));
        WindowCore core(home.gbk());
        SettingsPage page(core, services);
        vq::gui::RunPanel panel(core, services);
        page.load_options();
        QVERIFY(page.price_factor_box()->property("refused").toBool());
        QVERIFY(page.price_ending_box()->property("refused").toBool());
        QVERIFY(!page.title_prefix_box()->property("refused").toBool());
        QCOMPARE(page.price_factor_box()->text(), QStringLiteral("abc"));
        QCOMPARE(page.price_ending_box()->currentText(), QStringLiteral("“.95”（无效）"));
        const QString both = vq::gui::qt_text(core.rulesError);
        QVERIFY2(both.contains(QStringLiteral("价格倍数")) && both.contains(QStringLiteral("价格尾数")),
                 qPrintable(both));

        core.list.append_row({"t", "1", "a", "1001"});
        QVERIFY(panel.apply_output_path(home.file(QStringLiteral("pkg.csv"))));
        panel.start_run();
        QCOMPARE(core.controller.state(), vq::RunState::Idle);
        QCOMPARE(services.messages.size(), 1);
        QVERIFY(services.messages[0].text.startsWith(QStringLiteral("价格与标题规则有误")));
        QVERIFY(services.messages[0].text.contains(QStringLiteral("价格倍数")));

        // Mended and saved: the marks go and so does the refusal.
        page.price_factor_box()->setText(QStringLiteral("1.2"));
        page.price_ending_box()->setCurrentIndex(1);
        QTest::mouseClick(page.save_button(), Qt::LeftButton);
        QVERIFY(!page.price_factor_box()->property("refused").toBool());
        QVERIFY(core.rulesError.empty());
    }

    // An options file that is a FIFO would block the window; it is read as none, and said.
    void an_options_file_that_is_no_regular_file_is_said() {
        guitest::TempHome home;
        guitest::RecordingServices services;
        const QString path = home.file(QStringLiteral("options/options.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        WindowCore core(home.gbk());
        QStringList logged;
        connect(&core.log, &vq::gui::GuiLog::appended, this,
                [&](const QString& text) { logged << text; });
        SettingsPage page(core, services);
        page.load_options();
        QVERIFY(page.taobao_format_button()->isChecked());  // the defaults
        QTRY_COMPARE(logged.size(), 1);
        QVERIFY2(logged[0].contains(QStringLiteral("选项文件不是普通文件：") + path), qPrintable(logged[0]));
    }

    // "接口与授权": whose token is kept, the secret never shown, the profile saved into
    // site.ini for the next run, the authorize page opened for the chosen app, and an address
    // from another authorize page refused.
    void api_and_authorization_group() {
        guitest::TempHome home;
        const std::string site = home.gbk() + "/options/site.ini";
        QVERIFY(vq::write_file_atomic(site, "[SITE]\r\ngateway_host=gw.example:1\r\n"));
        vq::set_site_settings(vq::load_site_settings(site));
        vq::ApiToken token;
        token.appKey = "222";
        token.accessToken = "acc";
        token.resourceOwner = "keeper";
        QVERIFY(vq::save_api_token(vq::api_token_path(home.gbk()), token));
        guitest::RecordingServices services;
        WindowCore core(home.gbk());
        core.state.set_credentials({{"111", "secret-one"}, {"222", "secret-two"}});
        SettingsPage page(core, services);
        page.load_options();
        vq::gui::ApiAuthGroup& group = *page.api_auth_group();
        QCOMPARE(group.title(), QStringLiteral("接口与授权"));
        QCOMPARE(group.profile_box()->currentData().toString(), QStringLiteral("offer.get"));
        QCOMPARE(group.app_key_box()->currentText(), QStringLiteral("222"));
        QCOMPARE(group.secret_box()->echoMode(), QLineEdit::Password);
        QCOMPARE(group.secret_box()->text(), QStringLiteral("secret-two"));
        QCOMPARE(group.state_label()->text(), QStringLiteral("已授权：keeper，长期有效"));

        group.profile_box()->setCurrentIndex(group.profile_box()->findData(QStringLiteral("fenxiao.productInfo")));
        QTest::mouseClick(page.save_button(), Qt::LeftButton);
        QCOMPARE(vq::read_ini_value(site, "SITE", "product_api"), std::string("fenxiao.productInfo"));
        QCOMPARE(vq::read_ini_value(site, "SITE", "gateway_host"), std::string("gw.example:1"));
        QVERIFY(vq::site_settings().product_api == vq::ProductApi::FenxiaoProductInfo);

        QTest::mouseClick(group.open_page_button(), Qt::LeftButton);
        QCOMPARE(services.opened.size(), 1);
        const QUrlQuery query(services.opened[0]);
        QCOMPARE(query.queryItemValue(QStringLiteral("client_id")), QStringLiteral("222"));
        QCOMPARE(query.queryItemValue(QStringLiteral("site")), QStringLiteral("1688"));
        QVERIFY(!query.queryItemValue(QStringLiteral("state")).isEmpty());
        group.reply_box()->setText(QStringLiteral("http://localhost/vq-callback?code=c&state=other"));
        const int before = services.messages.size();
        QTest::mouseClick(group.finish_button(), Qt::LeftButton);
        QCOMPARE(services.messages.size(), before + 1);
        QVERIFY(services.messages.last().text.contains(QStringLiteral("重新打开授权页面")));
        vq::set_site_settings(vq::SiteSettings{});
    }

    void navigation_items_answer_clicks() {
        vq::gui::NavStrip strip;
        strip.resize(1000, strip.sizeHint().height());
        QSignalSpy clicked(&strip, &vq::gui::NavStrip::itemClicked);
        for (int item = 1; item <= 7; ++item) {
            QTest::mouseClick(&strip, Qt::LeftButton, {}, strip.item_rect(item).center());
            QCOMPARE(clicked.size(), item);
            QCOMPARE(clicked.last().at(0).toInt(), item);
        }
        QVERIFY(strip.item_rect(7).right() < 1000);
        QVERIFY(strip.item_rect(7).left() > strip.item_rect(6).right());
    }
};

QTEST_MAIN(SettingsPageTest)
#include "settings_page_test.moc"
