#pragma once
// The main window "VelmoraQuillet V<version>": the navigation strip, the four pages, the
// notification-area icon, closing to the tray and the exit confirmation.

#include <QMainWindow>

#include <functional>

#include "app/window_pages.hpp"

class QApplication;
class QLabel;
class QStackedWidget;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;

namespace vq::gui {

class AddressBar;
class HelpPage;
class HomePage;
class ListPanel;
class NavStrip;
class RunPanel;
class SettingsPage;
class WindowCore;
class WindowServices;

// Fusion style, a CJK-capable font first, the program's icon.
void apply_application_look(QApplication& app);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // use_tray: show the notification-area icon when the desktop has one.
    MainWindow(WindowCore& core, WindowServices& services, bool use_tray = true,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Navigation item 1 to 7.
    void switch_page(int item);
    // The modal "退出程序？" window; ends the program when the user confirms. True then.
    bool confirm_exit();
    // What "确 定" does: stops the background work, then the exit hook (by default the
    // application's event loop ends). Tests replace the hook.
    void end_program();
    void set_exit_hook(std::function<void()> hook) { exitHook_ = std::move(hook); }

    // Start-up sizes: the window 625 pixels high, the page control 466; then the size,
    // place and list columns the window had when the program last ended, when there are.
    void apply_startup_sizes();
    // The program folder's options/window.ini, where they are kept.
    QString layout_path() const;

    // The tray icon (null when the window was made without one).
    QSystemTrayIcon* tray_icon() const { return tray_; }
    // Whether the desktop shows notification-area icons; closing hides the window only
    // then. Tests replace the check, as offscreen and virtual displays have no such area.
    void set_notification_area_check(std::function<bool()> check) {
        notificationArea_ = std::move(check);
    }
    WindowPage current_page() const;

    NavStrip* navigation() const { return nav_; }
    QLabel* description_label() const { return description_; }
    QStackedWidget* pages() const { return pages_; }
    QTabWidget* collect_tabs() const { return collectTabs_; }
    AddressBar* address_bar() const { return addressBar_; }
    ListPanel* list_panel() const { return listPanel_; }
    RunPanel* run_panel() const { return runPanel_; }
    SettingsPage* settings_page() const { return settingsPage_; }
    HelpPage* help_page() const { return helpPage_; }
    HomePage* home_page() const { return homePage_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void create_tray();

    WindowCore& core_;
    WindowServices& services_;
    NavStrip* nav_ = nullptr;
    QLabel* description_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QTabWidget* collectTabs_ = nullptr;
    HomePage* homePage_ = nullptr;
    QWidget* collectPage_ = nullptr;
    AddressBar* addressBar_ = nullptr;
    ListPanel* listPanel_ = nullptr;
    RunPanel* runPanel_ = nullptr;
    SettingsPage* settingsPage_ = nullptr;
    HelpPage* helpPage_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* trimTimer_ = nullptr;
    std::function<void()> exitHook_;
    std::function<bool()> notificationArea_;
    bool ending_ = false;
};

}  // namespace vq::gui
