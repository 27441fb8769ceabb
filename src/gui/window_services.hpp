#pragma once
// What the window asks of the desktop: message boxes, file dialogs and the shell's "open".
// Tests put a recording double in its place, so no modal dialog ever blocks them.

#include <QString>
#include <QUrl>

class QWidget;

namespace vq::gui {

class WindowServices {
public:
    virtual ~WindowServices() = default;
    // A message box with an OK button; returns when the user has closed it.
    virtual void message(QWidget* parent, const QString& title, const QString& text) = 0;
    // A question with 是/否 buttons; true for 是.
    virtual bool confirm(QWidget* parent, const QString& title, const QString& text) = 0;
    // File dialogs. filter is in the "description|pattern" form (qt_file_filter turns it
    // into Qt's); default_suffix without the dot; folder is where the dialog opens (empty:
    // where Qt likes). An empty result means cancelled.
    virtual QString save_file_name(QWidget* parent, const QString& filter,
                                   const QString& default_suffix, const QString& folder) = 0;
    virtual QString open_file_name(QWidget* parent, const QString& filter,
                                   const QString& default_suffix, const QString& folder) = 0;
    // Opens a web address or a document with the desktop's handler; false when none took it.
    virtual bool open_url(const QUrl& url) = 0;
};

// The real desktop.
class DesktopServices : public WindowServices {
public:
    void message(QWidget* parent, const QString& title, const QString& text) override;
    bool confirm(QWidget* parent, const QString& title, const QString& text) override;
    QString save_file_name(QWidget* parent, const QString& filter, const QString& default_suffix,
                           const QString& folder) override;
    QString open_file_name(QWidget* parent, const QString& filter, const QString& default_suffix,
                           const QString& folder) override;
    bool open_url(const QUrl& url) override;
};

// "逗号分隔符文件(*.csv)|*.csv" → "逗号分隔符文件(*.csv)": Qt reads the patterns from the
// parentheses of the description.
QString qt_file_filter(const QString& filter);

}  // namespace vq::gui
