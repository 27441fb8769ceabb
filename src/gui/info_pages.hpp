#pragma once
// The "开始" (home) and "帮助" (help) pages. Links open in the desktop's web browser.

#include <QWidget>

class QTextBrowser;

namespace vq::gui {

class WindowServices;

class HomePage : public QWidget {
    Q_OBJECT
public:
    explicit HomePage(QWidget* parent = nullptr);

signals:
    // The user picked a navigation item from the page (2 to 6).
    void itemRequested(int item);
};

class HelpPage : public QWidget {
    Q_OBJECT
public:
    explicit HelpPage(WindowServices& services, QWidget* parent = nullptr);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_ = nullptr;
};

}  // namespace vq::gui
