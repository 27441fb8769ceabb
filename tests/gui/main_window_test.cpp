#include <QtTest>

#include "gui_fixture.hpp"

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
