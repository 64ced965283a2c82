// Opens every window and dialog of the desktop program over a settings file of
// monitored loopback services and saves a PNG of each: the material to look
// at before a change to the desktop lands.
//
//   quillmere_screenshot_tour --settings FILE --database FILE --out DIR [--wait SECONDS]
//
// Run it under a display (Xvfb) with QT_SCALE_FACTOR for other scales.

#include "engine/MonitorSystem.h"
#include "store/SettingsStore.h"
#include "ui/AboutDialog.h"
#include "ui/ConfigureSheet.h"
#include "ui/GuiPrompt.h"
#include "ui/HelpWindow.h"
#include "ui/HostListView.h"
#include "ui/HostWizard.h"
#include "ui/LogViewerDialog.h"
#include "ui/MainWindow.h"
#include "ui/TraceRouteDialog.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

namespace {

// Runs the event loop until `done` holds or `ms` have passed.
bool Pump(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1); // leave the core to the monitor's threads
    }
    return true;
}

// Lets layouts and pending paints settle, then saves the widget's picture.
void Shoot(QWidget* widget, const QString& dir, const QString& name)
{
    Pump([] { return false; }, 400);
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(path))
        std::fprintf(stderr, "tour: cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Dravenholt"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption settingsOption(QStringLiteral("settings"), QStringLiteral("settings file"), QStringLiteral("FILE"));
    const QCommandLineOption databaseOption(QStringLiteral("database"), QStringLiteral("results database"), QStringLiteral("FILE"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("folder of the pictures"), QStringLiteral("DIR"));
    const QCommandLineOption waitOption(QStringLiteral("wait"), QStringLiteral("seconds of monitoring first"), QStringLiteral("SECONDS"), QStringLiteral("12"));
    parser.addOptions({settingsOption, databaseOption, outOption, waitOption});
    parser.process(app);
    const QString out = parser.value(outOption);
    QDir().mkpath(out);

    qm::SettingsStore store(parser.value(settingsOption));
    qm::ui::GuiPrompt prompt;
    qm::MonitorSystem system(store, {&prompt, &prompt}, parser.value(databaseOption));
    system.loadHosts();
    for (int row = 0; row < system.hosts().rowCount(); row += 2)
        system.hosts().setChecked(row, true);
    qm::ui::MainWindow window(system, prompt);
    prompt.setWindow(&window);
    window.resize(1180, 680);
    window.show();
    window.action(qm::ui::MainWindow::MessagePane)->trigger();

    // The main window while monitoring runs.
    window.action(qm::ui::MainWindow::Start)->trigger();
    Pump([] { return false; }, parser.value(waitOption).toInt() * 1000);
    window.hostList()->selectionModel()->select(window.hostList()->model()->index(1, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Shoot(&window, out, QStringLiteral("main-window"));

    // The log viewer on the first host's service.
    {
        qm::ui::LogViewerDialog logs(system.database().GetDatabase(), prompt, &window);
        const qm::HostListModel& rows = system.hosts();
        if (rows.rowCount() > 0)
            logs.presetService(rows.text(0, qm::ColHost), rows.text(0, qm::ColProtocol), rows.text(0, qm::ColPort));
        logs.resize(760, 420);
        logs.show();
        auto* loading = logs.findChild<QWidget*>(QStringLiteral("loadingIndicator"));
        Pump([&] { return !loading || !loading->isVisible(); }, 10000);
        Shoot(&logs, out, QStringLiteral("log-viewer"));
    }

    // Trace route to the loopback address.
    {
        qm::ui::TraceRouteDialog trace(QStringLiteral("127.0.0.1"), prompt, &window);
        trace.show();
        trace.findChild<QPushButton*>(QStringLiteral("traceButton"))->click();
        auto* hops = trace.findChild<QLineEdit*>(QStringLiteral("hopsEdit"));
        Pump([&] { return !hops->text().isEmpty(); }, 20000);
        Shoot(&trace, out, QStringLiteral("trace-route"));
    }

    // Every page of the host wizard, opened on the last host (a web server)
    // as Host > Properties does; the monitoring stops first as it must.
    window.action(qm::ui::MainWindow::Stop)->trigger();
    Pump([&] { return system.controller().liveThreads() == 0; }, 15000);
    {
        const int row = system.hosts().rowCount() - 1;
        qm::ui::HostWizard wizard(store, system.hosts().texts(row), false, &window, &prompt);
        wizard.show();
        for (int page = 1; page <= 9; ++page) {
            Shoot(&wizard, out, QStringLiteral("wizard-%1").arg(page));
            wizard.next();
        }
    }

    // Every page of the configuration sheet.
    {
        qm::ui::ConfigureSheet sheet(store, &window, &prompt);
        sheet.show();
        auto* tabs = sheet.findChild<QTabWidget*>(QStringLiteral("configTabs"));
        for (int i = 0; tabs && i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            Shoot(&sheet, out, QStringLiteral("configure-%1").arg(i + 1));
        }
        sheet.reject();
    }

    // The About box.
    {
        qm::ui::AboutDialog about(system.database().fileName(), &window);
        about.show();
        Shoot(&about, out, QStringLiteral("about"));
    }

    // The help window: contents, then a search.
    {
        qm::ui::HelpWindow help(qm::ui::HelpWindow::helpDirectory());
        help.resize(900, 620);
        if (help.showContents()) {
            Shoot(&help, out, QStringLiteral("help-contents"));
            help.showSearch();
            if (auto* search = help.findChild<QLineEdit*>(QStringLiteral("searchEdit"))) {
                search->setText(QStringLiteral("float errors"));
                Q_EMIT search->returnPressed();
            }
            Shoot(&help, out, QStringLiteral("help-search"));
        } else {
            std::fprintf(stderr, "tour: the help pages were not found\n");
        }
    }

    prompt.shutdown();
    return 0;
}
