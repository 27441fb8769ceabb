#include "gui/api_auth_group.hpp"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <thread>

#include "api/api_token.hpp"
#include "api/site_settings.hpp"
#include "gui/qt_text.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "net/http_client.hpp"
#include "support/ini_file.hpp"

namespace vq::gui {

namespace {

constexpr ProductApi kProfiles[] = {ProductApi::OfferGet, ProductApi::CrossProductInfo,
                                    ProductApi::FenxiaoProductInfo};

QString profile_caption(ProductApi api) {
    switch (api) {
        case ProductApi::CrossProductInfo:
            return QStringLiteral("cross.productInfo（跨境商品详情，需要铺货关系）");
        case ProductApi::FenxiaoProductInfo:
            return QStringLiteral("fenxiao.productInfo（分销商品详情）");
        case ProductApi::OfferGet: break;
    }
    return QStringLiteral("offer.get（原接口，不需要授权）");
}

}  // namespace

ApiAuthGroup::ApiAuthGroup(WindowCore& core, WindowServices& services, QWidget* parent)
    : QGroupBox(QStringLiteral("接口与授权"), parent), core_(core), services_(services) {
    setObjectName(QStringLiteral("apiAuthGroup"));
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    const auto label = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };

    profile_ = new QComboBox(this);
    for (const ProductApi api : kProfiles) {
        profile_->addItem(profile_caption(api), QString::fromLatin1(product_api_name(api).data()));
    }
    grid->addWidget(label("接口方案："), 0, 0);
    grid->addWidget(profile_, 0, 1, 1, 3);

    appKey_ = new QComboBox(this);
    appKey_->setMinimumWidth(140);
    secret_ = new QLineEdit(this);
    // The secret is shown as dots only: it never appears on the screen.
    secret_->setEchoMode(QLineEdit::Password);
    secret_->setReadOnly(true);
    grid->addWidget(label("AppKey："), 1, 0);
    grid->addWidget(appKey_, 1, 1);
    grid->addWidget(label("密钥："), 1, 2);
    grid->addWidget(secret_, 1, 3);
    auto* keysNote = new QLabel(QStringLiteral("AppKey 和密钥来自密钥配置（配置服务器，或 site.ini 的 "
                                               "config_server 指定的自己的密钥文件）。"),
                                this);
    keysNote->setObjectName(QStringLiteral("settingsNote"));
    keysNote->setWordWrap(true);
    grid->addWidget(keysNote, 2, 1, 1, 3);

    openPage_ = new QPushButton(QStringLiteral("打开授权页面"), this);
    grid->addWidget(openPage_, 3, 1);
    reply_ = new QLineEdit(this);
    reply_->setPlaceholderText(QStringLiteral("授权后浏览器转到的地址（或其中的 code）粘贴到这里"));
    finish_ = new QPushButton(QStringLiteral("完成授权"), this);
    forget_ = new QPushButton(QStringLiteral("删除授权"), this);
    grid->addWidget(label("授权后的地址："), 4, 0);
    grid->addWidget(reply_, 4, 1, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(finish_);
    buttons->addWidget(forget_);
    grid->addLayout(buttons, 5, 1, 1, 3);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("tokenState"));
    state_->setWordWrap(true);
    grid->addWidget(label("授权状态："), 6, 0);
    grid->addWidget(state_, 6, 1, 1, 3);
    grid->setColumnStretch(3, 1);

    connect(appKey_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const std::vector<ApiCredential> pairs = core_.state.credentials();
        secret_->setText(index >= 0 && index < static_cast<int>(pairs.size())
                             ? qt_text(pairs[static_cast<std::size_t>(index)].appsecret)
                             : QString());
    });
    connect(openPage_, &QPushButton::clicked, this, &ApiAuthGroup::open_authorize_page);
    connect(finish_, &QPushButton::clicked, this, &ApiAuthGroup::finish_authorization);
    connect(forget_, &QPushButton::clicked, this, &ApiAuthGroup::forget_token);
}

std::string ApiAuthGroup::token_path() const {
    return api_token_path(core_.programFolder);
}

void ApiAuthGroup::load() {
    const SiteSettings site = site_settings();
    const int at = profile_->findData(QString::fromLatin1(product_api_name(site.product_api).data()));
    profile_->setCurrentIndex(at >= 0 ? at : 0);
    const std::optional<ApiToken> token = load_api_token(token_path());
    appKey_->clear();
    int chosen = 0;
    const std::vector<ApiCredential> pairs = core_.state.credentials();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        appKey_->addItem(qt_text(pairs[i].appkey));
        if (token && token->appKey == pairs[i].appkey) chosen = static_cast<int>(i);
    }
    appKey_->setCurrentIndex(pairs.empty() ? -1 : chosen);
    show_state();
}

void ApiAuthGroup::show_state() {
    state_->setText(qt_text(token_state_text(load_api_token(token_path()), epoch_seconds_now())));
    forget_->setEnabled(load_api_token(token_path()).has_value());
}

bool ApiAuthGroup::save_profile() {
    SiteSettings site = site_settings();
    const std::string path = site.site_ini.empty() ? site_settings_path(core_.programFolder) : site.site_ini;
    const std::string name = gbk_text(profile_->currentData().toString());
    if (name == product_api_name(site.product_api) && site.unknown_product_api.empty()) return true;
    if (!write_ini_value(path, "SITE", "product_api", name)) {
        services_.message(this, QStringLiteral("提示"),
                          QStringLiteral("接口方案无法保存：%1").arg(qt_text(path)));
        return false;
    }
    set_site_settings(load_site_settings(path));
    return true;
}

void ApiAuthGroup::open_authorize_page() {
    const QString key = appKey_->currentText();
    if (key.isEmpty()) {
        services_.message(this, QStringLiteral("提示"), QStringLiteral("没有可授权的 AppKey：请先配置密钥。"));
        return;
    }
    pendingState_ = random_state();
    const std::string address = authorize_address(site_settings(), gbk_text(key), pendingState_);
    if (!services_.open_url(QUrl(QString::fromLatin1(address.c_str())))) {
        services_.message(this, QStringLiteral("提示"),
                          QStringLiteral("无法打开浏览器，请手动打开：\n%1").arg(QString::fromLatin1(address.c_str())));
    }
}

void ApiAuthGroup::finish_authorization() {
    const AuthorizeReply reply = read_authorize_reply(gbk_text(reply_->text()));
    if (reply.code.empty()) {
        services_.message(this, QStringLiteral("提示"), QStringLiteral("地址中没有授权码（code）。"));
        return;
    }
    if (!reply.state.empty() && reply.state != pendingState_) {
        services_.message(this, QStringLiteral("提示"),
                          QStringLiteral("这个地址不是本次打开的授权页面给的，请重新打开授权页面。"));
        return;
    }
    const int index = appKey_->currentIndex();
    const std::vector<ApiCredential> pairs = core_.state.credentials();
    if (index < 0 || index >= static_cast<int>(pairs.size())) return;
    const AppCredential app{pairs[static_cast<std::size_t>(index)].appkey,
                            pairs[static_cast<std::size_t>(index)].appsecret};
    finish_->setEnabled(false);
    state_->setText(QStringLiteral("正在换取授权……"));
    // The exchange goes over the network: off the window's thread, its end handed back.
    // The group waits for it when it goes (a stop cuts the request short).
    if (exchange_.joinable()) exchange_.join();
    cancel_ = std::make_unique<CancelToken>();
    const SiteSettings site = site_settings();
    const std::string path = token_path();
    const std::string code = reply.code;
    exchange_ = std::thread([this, token = cancel_.get(), site, app, path, code] {
        CancelScope scope(*token);
        const TokenReading reading = request_token(
            site, app,
            {{"grant_type", "authorization_code"},
             {"need_refresh_token", "true"},
             {"redirect_uri", site.redirect_uri},
             {"code", code}});
        QString message;
        if (!reading.token) {
            message = QStringLiteral("授权失败：%1").arg(qt_text(reading.error.message));
        } else if (!save_api_token(path, token_from_answer(*reading.token, app.appKey,
                                                           epoch_seconds_now()))) {
            message = QStringLiteral("授权无法保存：%1").arg(qt_text(path));
        }
        // Dropped by Qt when the group is gone by then.
        QMetaObject::invokeMethod(this, [this, message] {
            finish_->setEnabled(true);
            show_state();
            if (!message.isEmpty()) {
                services_.message(this, QStringLiteral("提示"), message);
            } else {
                reply_->clear();
                pendingState_.clear();
            }
            emit authorized(message);
        }, Qt::QueuedConnection);
    });
}

ApiAuthGroup::~ApiAuthGroup() {
    if (cancel_) cancel_->cancel();
    if (exchange_.joinable()) exchange_.join();
}

void ApiAuthGroup::forget_token() {
    if (!services_.confirm(this, QStringLiteral("提示"), QStringLiteral("删除保存的授权？"))) return;
    if (!forget_api_token(token_path())) {
        services_.message(this, QStringLiteral("提示"),
                          QStringLiteral("授权无法删除：%1").arg(qt_text(token_path())));
    }
    show_state();
}

}  // namespace vq::gui
