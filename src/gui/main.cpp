// velmoraquillet: the desktop window.

#include <QApplication>
#include <QCommandLineParser>

#include "app/program_folder.hpp"
#include "gui/main_window.hpp"
#include "gui/startup.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "net/http_client.hpp"

int main(int argc, char** argv) {
    vq::init_http();  // before any thread makes a request
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VelmoraQuillet"));
    QApplication::setApplicationVersion(QStringLiteral(VQ_VERSION));
    // Closing the main window hides it; only the exit confirmation ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    vq::gui::apply_application_look(app);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"),
                                  QStringLiteral("Program folder (options, site settings)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption site(QStringLiteral("site"),
                                  QStringLiteral("Site settings file instead of options/site.ini."),
                                  QStringLiteral("FILE"));
    parser.addOption(home);
    parser.addOption(site);
    parser.process(app);

    const std::string folder = vq::program_folder(parser.value(home).toStdString());
    vq::load_site(parser.value(site).toStdString(), folder);

    vq::gui::DesktopServices services;
    vq::gui::WindowCore core(folder);
    vq::gui::MainWindow window(core, services);
    vq::gui::StartupSequence startup(core, window, services);
    QObject::connect(&startup, &vq::gui::StartupSequence::finished, &app, [](bool ok) {
        if (!ok) QCoreApplication::exit(1);
    });
    startup.start();
    return QApplication::exec();
}
