// quillmere: the desktop program. Builds the monitoring core and opens the
// main window, whose close lets the notifications queued so far go out.

#include "app/common/StopSignals.h"
#include "engine/MonitorSystem.h"
#include "store/DatabaseTarget.h"
#include "store/SettingsStore.h"
#include "ui/CommandIcons.h"
#include "ui/GuiPrompt.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QPointer>

#include <cstdio>

int main(int argc, char** argv)
{
    // Answered before QApplication exists, so that it needs no display.
    for (int i = 1; i < argc && qstrcmp(argv[i], "--") != 0; ++i) {
        if (qstrcmp(argv[i], "--version") == 0 || qstrcmp(argv[i], "-v") == 0) {
            std::printf("quillmere %s\n", QUILLMERE_VERSION);
            return 0;
        }
    }
    // A session bus that refuses our connection must not abort the process
    // (libdbus does so by default when Qt drops such a connection).
    qputenv("DBUS_FATAL_WARNINGS", "0");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Dravenholt"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quillmere"));
    QApplication::setWindowIcon(qm::ui::applicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Monitors the availability of network services."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settingsOption(QStringLiteral("settings"),
                                            QStringLiteral("Use this settings file instead of the per-user one."),
                                            QStringLiteral("FILE"));
    parser.addOption(settingsOption);
    // The runner's spelling of the database file, so both programs take the
    // same command line.
    const QCommandLineOption databaseOption(QStringLiteral("database"),
                                            QStringLiteral("Results database file (the same as DATABASE)."),
                                            QStringLiteral("FILE"));
    parser.addOption(databaseOption);
    const QCommandLineOption databaseUrlOption(
        QStringLiteral("database-url"),
        QStringLiteral("Results database on a PostgreSQL server: postgresql://user@host:port/name "
                       "(the password comes from the settings, from PGPASSWORD or from ~/.pgpass)."),
        QStringLiteral("URL"));
    parser.addOption(databaseUrlOption);
    parser.addPositionalArgument(QStringLiteral("DATABASE"),
                                 QStringLiteral("Results database file instead of the configured one."),
                                 QStringLiteral("[DATABASE]"));
    parser.process(app);
    QStringList positional = parser.positionalArguments();
    if (parser.isSet(databaseOption))
        positional.prepend(parser.value(databaseOption));
    if (parser.isSet(databaseUrlOption))
        positional.prepend(parser.value(databaseUrlOption));
    // A URL is judged the same whichever option carries it.
    for (qsizetype i = 0; i < positional.size(); ++i) {
        QString error;
        if ((qm::IsDatabaseUrl(positional[i]) || (i == 0 && parser.isSet(databaseUrlOption)))
            && !qm::ParseDatabaseUrl(positional[i], &error)) {
            std::fprintf(stderr, "quillmere: %s\n", qPrintable(error));
            return 2;
        }
    }
    if (positional.size() > 1) {
        std::fprintf(stderr, "quillmere: one results database at most (see --help)\n");
        return 2;
    }

    qm::SettingsStore store(parser.value(settingsOption));
    if (const QString error = store.loadError(); !error.isEmpty()) {
        std::fprintf(stderr, "quillmere: %s\n", qPrintable(error));
        QMessageBox::critical(nullptr, QStringLiteral("Quillmere"), error);
        return 2;
    }

    // SIGINT and SIGTERM close the window as the operator would (a second one
    // while the close waits gives up the notifications still queued); they
    // are handled by the event loop, so one that comes during start-up waits
    // for the window.
    QPointer<qm::ui::MainWindow> mainWindow;
    qm::app::RouteStopSignals(&app, [&mainWindow] {
        if (mainWindow)
            mainWindow->close();
    });

    qm::ui::GuiPrompt prompt;
    int rc = 0;
    {
        qm::MonitorSystem system(store, {&prompt, &prompt}, positional.value(0));
        system.loadHosts();
        // The metrics endpoint follows its settings at start-up and at every Start.
        system.applyMetricsSettings();
        QObject::connect(&system.controller(), &qm::MonitorController::monitoringStarted, &app,
                         [&system] { system.applyMetricsSettings(); });
        qm::ui::MainWindow window(system, prompt);
        prompt.setWindow(&window);
        // Dialogs and the help window may still be open: the main window's
        // close ends the program.
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(&window, &qm::ui::MainWindow::closed, &app, &QApplication::quit);
        mainWindow = &window;
        window.show();
        rc = QApplication::exec();
        // Workers still waiting for an answer get No; no box shows any more.
        qm::app::RestoreStopSignals();
        prompt.shutdown();
        // The window's close has waited for the notifications (or given them
        // up); this only matters when the loop ended some other way.
        if (!system.notifications().finish(qm::MonitorSystem::kExitBoundMs))
            std::fprintf(stderr, "quillmere: notifications still under way at exit were cut off\n");
    }
    return rc;
}
