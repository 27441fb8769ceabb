#pragma once
// "接口与授权" on the 配置 page: which product API a run uses, the app it goes through, and
// the user's authorization for today's methods (open the authorize page, paste the address
// the browser was sent to, see whose token is kept until when).

#include <QGroupBox>

#include <memory>
#include <string>
#include <thread>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vq {
class CancelToken;
}

namespace vq::gui {

class WindowCore;
class WindowServices;

class ApiAuthGroup : public QGroupBox {
    Q_OBJECT
public:
    ApiAuthGroup(WindowCore& core, WindowServices& services, QWidget* parent = nullptr);
    ~ApiAuthGroup() override;  // waits for an exchange under way, cutting it short

    // From site.ini, the key pairs and token.ini into the controls.
    void load();
    // The profile into site.ini ([SITE] product_api), current from the next run on; false
    // (after saying why) when the file cannot be written.
    bool save_profile();

    QComboBox* profile_box() const { return profile_; }
    QComboBox* app_key_box() const { return appKey_; }
    QLineEdit* secret_box() const { return secret_; }
    QPushButton* open_page_button() const { return openPage_; }
    QLineEdit* reply_box() const { return reply_; }
    QPushButton* finish_button() const { return finish_; }
    QPushButton* forget_button() const { return forget_; }
    QLabel* state_label() const { return state_; }

signals:
    // The exchange of a code has ended (on the window's thread); message is empty on success.
    void authorized(const QString& message);

private:
    void open_authorize_page();
    void finish_authorization();
    void forget_token();
    void show_state();
    std::string token_path() const;

    WindowCore& core_;
    WindowServices& services_;
    QComboBox* profile_ = nullptr;
    QComboBox* appKey_ = nullptr;
    QLineEdit* secret_ = nullptr;
    QPushButton* openPage_ = nullptr;
    QLineEdit* reply_ = nullptr;
    QPushButton* finish_ = nullptr;
    QPushButton* forget_ = nullptr;
    QLabel* state_ = nullptr;
    std::string pendingState_;  // of the authorize page last opened
    std::unique_ptr<CancelToken> cancel_;
    std::thread exchange_;
};

}  // namespace vq::gui
