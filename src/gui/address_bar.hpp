#pragma once
// The address row of the "采集" page: the address label and box with its hints, the example
// button, "添加到列表" and "导入列表". Adding runs off the GUI thread; the button is disabled
// while the command runs and becomes "停止读取" while the listing readers it started read.

#include <QWidget>

#include <memory>
#include <thread>

#include "app/window_pages.hpp"
#include "net/http_client.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace vq::gui {

class WindowCore;
class WindowServices;

class AddressBar : public QWidget {
    Q_OBJECT
public:
    AddressBar(WindowCore& core, WindowServices& services, QWidget* parent = nullptr);
    ~AddressBar() override;  // stop()

    // Items 2 to 4 of the strip: label, the box's hint rule, then the address mode.
    void apply_page_switch(const PageSwitch& change);

    void on_address_box_pressed();
    void on_address_box_left();
    void fill_example();  // the example button: the site's example shop
    void add_to_list();   // "添加到列表"; "停止读取" while readers run
    // Stops the readers as exit does; the rows already added stay in the list.
    void stop_reading();
    void import_list();   // "导入列表"

    // True while an add command or the readers it started still run.
    bool adding() const { return adding_; }
    // Aborts a running add command and waits for its thread (readers are the core's).
    void stop();

    QLabel* address_label() const { return label_; }
    QLineEdit* address_box() const { return box_; }
    QToolButton* example_button() const { return example_; }
    QPushButton* add_button() const { return add_; }
    QPushButton* import_button() const { return import_; }

signals:
    // "添加到列表" is available again.
    void addFinished();
    // 导入列表 put a list in place of the old one.
    void listReplaced();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ReaderRelay;

    // GUI thread, after the add thread returned; job_started: it handed a job to the readers.
    void command_ended(bool job_started);
    void readers_ended();  // GUI thread, after the last reader ended
    void update_add_button();

    WindowCore& core_;
    WindowServices& services_;
    QLabel* label_ = nullptr;
    QLineEdit* box_ = nullptr;
    QToolButton* example_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* import_ = nullptr;
    bool adding_ = false;
    bool commandRunning_ = false;
    bool waitingReaders_ = false;  // a job this bar started may still be read
    std::thread command_;
    std::unique_ptr<CancelToken> cancel_;
    // Carries the readers' end over to the GUI thread; outlives this bar if need be.
    std::shared_ptr<ReaderRelay> relay_;
};

}  // namespace vq::gui
