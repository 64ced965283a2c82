#include "ui/ConfigPageDatabase.h"

#include "store/ConfigSections.h"
#include "ui/HostPageSupport.h"

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
    m_file = NewTextEdit(QStringLiteral("databaseFileEdit"), this);
    auto* browse = new QPushButton(QStringLiteral("Browse"), this);
    browse->setObjectName(QStringLiteral("databaseBrowseButton"));
    browse->setAutoDefault(false);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Database File:"), this), 0, 0);
    grid->addWidget(m_file, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->setRowStretch(1, 1);
    connect(browse, &QPushButton::clicked, this, &ConfigPageDatabase::browse);
}

void ConfigPageDatabase::load(const SettingsStore& store)
{
    m_file->setText(LoadDatabaseFile(store));
}

void ConfigPageDatabase::save(SettingsStore& store) const
{
    SaveDatabaseFile(store, m_file->text());
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
