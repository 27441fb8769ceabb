#pragma once
// Bringing the program up: the start window with its status line and progress bar, the
// remote configuration (fetched off the GUI thread so the start window keeps painting),
// the default output path, the options, then the main window.

#include <QObject>
#include <QWidget>

#include <thread>

class QLabel;
class QProgressBar;

namespace vq::gui {

class MainWindow;
class WindowCore;
class WindowServices;

class StartWindow : public QWidget {
    Q_OBJECT
public:
    explicit StartWindow(QWidget* parent = nullptr);
    void set_status(const QString& text);
    void set_progress(int value);
    QLabel* status_label() const { return status_; }
    QProgressBar* progress_bar() const { return progress_; }

private:
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

class StartupSequence : public QObject {
    Q_OBJECT
public:
    StartupSequence(WindowCore& core, MainWindow& window, WindowServices& services,
                    QObject* parent = nullptr);
    ~StartupSequence() override;  // waits for the configuration fetch

    // Pin the process to the first processor at the end (on by default).
    void set_pin_processor(bool pin) { pin_ = pin; }
    // Begins; `finished` reports the end. Returns at once.
    void start();
    StartWindow* start_window() const { return startWindow_; }

signals:
    // ok: the main window is visible. Not ok: no key pair; the message was shown and the
    // program is to end.
    void finished(bool ok);

private:
    void configuration_loaded(int pairs);
    void finish();

    WindowCore& core_;
    MainWindow& window_;
    WindowServices& services_;
    StartWindow* startWindow_ = nullptr;
    std::thread fetch_;
    bool pin_ = true;
};

}  // namespace vq::gui
