#include "ui/ConfigPageDatabase.h"

#include "store/ConfigSections.h"
#include "store/DatabaseTarget.h"
#include "ui/HostPageSupport.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace qm::ui {

ConfigPageDatabase::ConfigPageDatabase(QWidget* parent)
    : ConfigPage(QStringLiteral("configPageDatabase"), QStringLiteral("Database Configuration"), parent)
{
    m_driver = new QComboBox(this);
    m_driver->setObjectName(QStringLiteral("databaseDriverCombo"));
    m_driver->addItem(QStringLiteral("SQLite file"), DatabaseTarget::kSqlite);
    m_driver->addItem(QStringLiteral("PostgreSQL server"), DatabaseTarget::kPostgres);
    m_file = NewTextEdit(QStringLiteral("databaseFileEdit"), this);
    m_browse = new QPushButton(QStringLiteral("Browse"), this);
    m_browse->setObjectName(QStringLiteral("databaseBrowseButton"));
    m_browse->setAutoDefault(false);
    m_host = NewTextEdit(QStringLiteral("databaseHostEdit"), this);
    m_port = NewNumberEdit(QStringLiteral("databasePortEdit"), this);
    m_name = NewTextEdit(QStringLiteral("databaseNameEdit"), this);
    m_user = NewTextEdit(QStringLiteral("databaseUserEdit"), this);
    m_password = NewTextEdit(QStringLiteral("databasePasswordEdit"), this, true);
    m_keepDays = NewNumberEdit(QStringLiteral("databaseKeepDaysEdit"), this);
    m_keepDays->setToolTip(QStringLiteral("Results older than this many days are removed; 0 keeps all."));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Database:"), this), 0, 0);
    grid->addWidget(m_driver, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Database File:"), this), 1, 0);
    grid->addWidget(m_file, 1, 1);
    grid->addWidget(m_browse, 1, 2);
    const std::pair<const char*, QLineEdit*> serverFields[] = {
        {"Server:", m_host}, {"Port:", m_port}, {"Database Name:", m_name},
        {"User:", m_user},   {"Password:", m_password},
    };
    int row = 2;
    for (const auto& [label, edit] : serverFields) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        grid->addWidget(edit, row++, 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("Keep Results (days):"), this), row, 0);
    grid->addWidget(m_keepDays, row++, 1);
    grid->setRowStretch(row, 1);
    connect(m_browse, &QPushButton::clicked, this, &ConfigPageDatabase::browse);
    connect(m_driver, &QComboBox::currentIndexChanged, this, &ConfigPageDatabase::showDriver);
    showDriver();
}

bool ConfigPageDatabase::onServer() const
{
    return m_driver->currentData().toString() == DatabaseTarget::kPostgres;
}

void ConfigPageDatabase::showDriver()
{
    const bool server = onServer();
    m_file->setEnabled(!server);
    m_browse->setEnabled(!server);
    for (QLineEdit* edit : {m_host, m_port, m_name, m_user, m_password})
        edit->setEnabled(server);
}

void ConfigPageDatabase::load(const SettingsStore& store)
{
    const DatabaseTarget target = LoadDatabaseTarget(store);
    m_file->setText(target.file);
    m_driver->setCurrentIndex(m_driver->findData(target.driver));
    m_host->setText(target.host);
    m_port->setText(QString::number(target.port));
    m_name->setText(target.name);
    m_user->setText(target.user);
    m_password->setText(target.password);
    m_keepDays->setText(QString::number(LoadKeepDays(store)));
    showDriver();
}

QString ConfigPageDatabase::problem() const
{
    if (!ParseWholeNumber(m_keepDays->text(), kMaxKeepDays))
        return WholeNumberMessage(QStringLiteral("days to keep results"), kMaxKeepDays);
    // 0 stands for the usual port.
    if (!onServer() || ParseWholeNumber(m_port->text(), kMaxPort))
        return {};
    return WholeNumberMessage(QStringLiteral("database server port"), kMaxPort);
}

void ConfigPageDatabase::save(SettingsStore& store) const
{
    SaveDatabaseFile(store, m_file->text());
    DatabaseTarget target;
    target.driver = m_driver->currentData().toString();
    target.host = m_host->text().trimmed();
    target.port = ParseWholeNumber(m_port->text(), kMaxPort).value_or(DatabaseTarget::kDefaultPort);
    target.name = m_name->text().trimmed();
    target.user = m_user->text().trimmed();
    target.password = m_password->text();
    SaveDatabaseServer(store, target);
    SaveKeepDays(store, ParseWholeNumber(m_keepDays->text(), kMaxKeepDays).value_or(0));
}

void ConfigPageDatabase::browse()
{
    const QFileInfo current(m_file->text());
    auto* dialog = new QFileDialog(this, QStringLiteral("Database File"),
                                   m_file->text().isEmpty() ? QString() : current.absolutePath());
    dialog->setObjectName(QStringLiteral("databaseFileDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::AnyFile); // a new name creates the database
    dialog->setDefaultSuffix(QStringLiteral("mdb"));
    dialog->setNameFilters({QStringLiteral("SQLite Databases (*.mdb *.db *.sqlite *.sqlite3)"),
                            QStringLiteral("All Files (*)")});
    dialog->selectFile(QStringLiteral("Kestrune_Database"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) { m_file->setText(file); });
    dialog->open();
}

} // namespace qm::ui
