#include "gui/window_services.hpp"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace vq::gui {

namespace {

QString run_file_dialog(QWidget* parent, const QString& filter, const QString& suffix,
                        const QString& folder, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, QString(), folder);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setNameFilter(qt_file_filter(filter));
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

}  // namespace

void DesktopServices::message(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool DesktopServices::confirm(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == static_cast<QAbstractButton*>(yes);
}

QString DesktopServices::save_file_name(QWidget* parent, const QString& filter,
                                        const QString& default_suffix, const QString& folder) {
    return run_file_dialog(parent, filter, default_suffix, folder, QFileDialog::AcceptSave);
}

QString DesktopServices::open_file_name(QWidget* parent, const QString& filter,
                                        const QString& default_suffix, const QString& folder) {
    return run_file_dialog(parent, filter, default_suffix, folder, QFileDialog::AcceptOpen);
}

bool DesktopServices::open_url(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QString qt_file_filter(const QString& filter) {
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0) return filter;
    const QString description = filter.left(bar);
    const QString patterns = filter.mid(bar + 1);
    // Qt takes the patterns from the last parentheses; add them when the text has none.
    if (description.endsWith(QLatin1Char(')'))) return description;
    return description + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

}  // namespace vq::gui
