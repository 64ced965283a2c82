#include "ui/ConfigPageXml.h"

#include "metrics/ListenAddress.h"
#include "store/ConfigSections.h"
#include "ui/HostPageSupport.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <limits>

namespace qm::ui {

namespace {
constexpr int kMaxSeconds = std::numeric_limits<int>::max();
}

ConfigPageXml::ConfigPageXml(QWidget* parent)
    : ConfigPage(QStringLiteral("configPageXml"), QStringLiteral("XML Configuration"), parent)
{
    m_enable = new QCheckBox(QStringLiteral("Enable XML Updates"), this);
    m_enable->setObjectName(QStringLiteral("xmlEnableCheck"));
    m_frequency = NewNumberEdit(QStringLiteral("xmlFrequencyEdit"), this);
    m_localRadio = new QRadioButton(QStringLiteral("Local Destination Folder"), this);
    m_localRadio->setObjectName(QStringLiteral("localRadio"));
    m_localFolder = NewTextEdit(QStringLiteral("localFolderEdit"), this);
    m_browse = new QPushButton(QStringLiteral("Browse"), this);
    m_browse->setObjectName(QStringLiteral("folderBrowseButton"));
    m_browse->setAutoDefault(false);
    m_ftpRadio = new QRadioButton(QStringLiteral("FTP Destination Folder URL"), this);
    m_ftpRadio->setObjectName(QStringLiteral("ftpRadio"));
    m_ftpUrl = NewTextEdit(QStringLiteral("ftpUrlEdit"), this);
    m_ftpUser = NewTextEdit(QStringLiteral("ftpUserEdit"), this);
    m_ftpPassword = NewTextEdit(QStringLiteral("ftpPasswordEdit"), this, true);
    auto* metrics = new QGroupBox(QStringLiteral("Prometheus Metrics"), this);
    metrics->setObjectName(QStringLiteral("metricsGroup"));
    metrics->setToolTip(QStringLiteral("Takes effect at the next Start of monitoring."));
    m_metricsEnable = new QCheckBox(QStringLiteral("Serve Metrics at /metrics"), metrics);
    m_metricsEnable->setObjectName(QStringLiteral("metricsEnableCheck"));
    m_metricsListen = NewTextEdit(QStringLiteral("metricsListenEdit"), metrics);
    m_metricsListen->setPlaceholderText(QString::fromLatin1(kDefaultMetricsListen));
    auto* metricsGrid = new QGridLayout(metrics);
    metricsGrid->addWidget(m_metricsEnable, 0, 0, 1, 2);
    metricsGrid->addWidget(new QLabel(QStringLiteral("Listen Address (ADDRESS:PORT):"), metrics), 1, 0);
    metricsGrid->addWidget(m_metricsListen, 1, 1);
    auto* radios = new QButtonGroup(this);
    radios->addButton(m_localRadio);
    radios->addButton(m_ftpRadio);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_enable, 0, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Update Frequency (seconds):"), this), 1, 0);
    grid->addWidget(m_frequency, 1, 1);
    grid->addWidget(m_localRadio, 2, 0, 1, 3);
    grid->addWidget(m_localFolder, 3, 0, 1, 2);
    grid->addWidget(m_browse, 3, 2);
    grid->addWidget(m_ftpRadio, 4, 0, 1, 3);
    grid->addWidget(m_ftpUrl, 5, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("UserID:"), this), 6, 0);
    grid->addWidget(m_ftpUser, 6, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Password:"), this), 7, 0);
    grid->addWidget(m_ftpPassword, 7, 1, 1, 2);
    grid->addWidget(metrics, 8, 0, 1, 3);
    grid->setRowStretch(9, 1);

    connect(m_enable, &QCheckBox::toggled, this, &ConfigPageXml::applyEnabling);
    connect(m_localRadio, &QRadioButton::toggled, this, &ConfigPageXml::applyEnabling);
    connect(m_ftpRadio, &QRadioButton::toggled, this, &ConfigPageXml::applyEnabling);
    connect(m_metricsEnable, &QCheckBox::toggled, m_metricsListen, &QLineEdit::setEnabled);
    connect(m_browse, &QPushButton::clicked, this, &ConfigPageXml::browseFolder);
    applyEnabling();
}

void ConfigPageXml::load(const SettingsStore& store)
{
    const XmlExportSettings x = LoadXmlExportSettings(store);
    m_enable->setChecked(x.enabled);
    m_frequency->setText(QString::number(x.frequency));
    m_localRadio->setChecked(x.localRadio);
    m_ftpRadio->setChecked(x.ftpRadio);
    m_localFolder->setText(x.localFolder);
    m_ftpUrl->setText(x.ftpUrl);
    m_ftpUser->setText(x.ftpUserId);
    m_ftpPassword->setText(x.ftpPassword);
    const MetricsSettings m = LoadMetricsSettings(store);
    m_metricsEnable->setChecked(m.enabled);
    m_metricsListen->setText(m.listen);
    m_metricsListen->setEnabled(m.enabled);
    applyEnabling();
}

void ConfigPageXml::save(SettingsStore& store) const
{
    XmlExportSettings x;
    x.enabled = m_enable->isChecked();
    x.frequency = ParseWholeNumber(m_frequency->text(), kMaxSeconds).value_or(0);
    x.localRadio = m_localRadio->isChecked();
    x.ftpRadio = m_ftpRadio->isChecked();
    x.localFolder = m_localFolder->text();
    x.ftpUrl = m_ftpUrl->text();
    x.ftpUserId = m_ftpUser->text();
    x.ftpPassword = m_ftpPassword->text();
    SaveXmlExportSettings(store, x);
    MetricsSettings m;
    m.enabled = m_metricsEnable->isChecked();
    if (const QString listen = m_metricsListen->text().trimmed(); !listen.isEmpty())
        m.listen = listen;
    SaveMetricsSettings(store, m);
}

QString ConfigPageXml::problem() const
{
    QString error;
    const QString listen = m_metricsListen->text().trimmed();
    if (m_metricsEnable->isChecked() && !listen.isEmpty() && !ParseListenAddress(listen, &error))
        return error;
    return ParseWholeNumber(m_frequency->text(), kMaxSeconds)
               ? QString()
               : WholeNumberMessage(QStringLiteral("update frequency in seconds"), kMaxSeconds);
}

void ConfigPageXml::applyEnabling()
{
    const bool on = m_enable->isChecked();
    const bool local = on && m_localRadio->isChecked();
    const bool ftp = on && m_ftpRadio->isChecked();
    m_frequency->setEnabled(on);
    m_localRadio->setEnabled(on);
    m_ftpRadio->setEnabled(on);
    m_localFolder->setEnabled(local);
    m_browse->setEnabled(local);
    m_ftpUrl->setEnabled(ftp);
    m_ftpUser->setEnabled(ftp);
    m_ftpPassword->setEnabled(ftp);
}

void ConfigPageXml::browseFolder()
{
    const QString current = m_localFolder->text();
    auto* dialog = new QFileDialog(this, QStringLiteral("Browse for Folder"),
                                   QDir(current).exists() ? current : QDir::homePath());
    dialog->setObjectName(QStringLiteral("folderDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog); // it carries the status line
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);

    // "Current Selection" and the status line under the folder view.
    auto* prompt = new QLabel(QStringLiteral("Current Selection"), dialog);
    prompt->setObjectName(QStringLiteral("folderPrompt"));
    auto* status = new QLabel(FolderStatusText(dialog->directory().absolutePath()), dialog);
    status->setObjectName(QStringLiteral("folderStatus"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        const int row = grid->rowCount();
        grid->addWidget(prompt, row, 0, 1, grid->columnCount());
        grid->addWidget(status, row + 1, 0, 1, grid->columnCount());
    }
    connect(dialog, &QFileDialog::currentChanged, status,
            [status](const QString& path) { status->setText(FolderStatusText(path)); });
    connect(dialog, &QFileDialog::directoryEntered, status,
            [status](const QString& path) { status->setText(FolderStatusText(path)); });
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty())
            m_localFolder->setText(QDir::toNativeSeparators(folder));
    });
    dialog->open();
}

} // namespace qm::ui
