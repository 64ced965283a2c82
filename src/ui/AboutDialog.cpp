#include "ui/AboutDialog.h"

#include "platform/SystemStats.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm::ui {

namespace {

QLineEdit* AddField(QFormLayout* form, const char* label, const char* objectName)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(objectName));
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignRight);
    form->addRow(QLatin1String(label), edit);
    return edit;
}

} // namespace

AboutDialog::AboutDialog(const QString& databaseFile, QWidget* parent)
    : QDialog(parent), m_databaseFile(databaseFile)
{
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("About Velk"));

    auto* version = new QLabel(
        QStringLiteral("Quillmere %1").arg(QCoreApplication::applicationVersion()), this);
    version->setObjectName(QStringLiteral("versionLabel"));

    auto* disk = new QGroupBox(QStringLiteral("Hard Drive Statistics"), this);
    disk->setObjectName(QStringLiteral("diskGroup"));
    auto* diskForm = new QFormLayout(disk);
    m_diskFree = AddField(diskForm, "Hard Drive Freespace", "diskFreeEdit");
    m_diskTotal = AddField(diskForm, "Hard Drive Total Space", "diskTotalEdit");

    auto* memory = new QGroupBox(QStringLiteral("Memory Statistics"), this);
    memory->setObjectName(QStringLiteral("memoryGroup"));
    auto* memoryForm = new QFormLayout(memory);
    m_availPhysical = AddField(memoryForm, "Available Physical Memory:", "availPhysicalEdit");
    m_availVirtual = AddField(memoryForm, "Available Virtual Memory:", "availVirtualEdit");
    m_availPageFile = AddField(memoryForm, "Page File Available Memory:", "availPageFileEdit");
    m_totalPageFile = AddField(memoryForm, "Page File Memory:", "totalPageFileEdit");
    m_totalPhysical = AddField(memoryForm, "Physical Memory:", "totalPhysicalEdit");
    m_totalVirtual = AddField(memoryForm, "Virtual Memory:", "totalVirtualEdit");

    auto* close = new QPushButton(QStringLiteral("CLOSE"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(version);
    layout->addWidget(disk);
    layout->addWidget(memory);
    layout->addLayout(buttons);
}

void AboutDialog::showEvent(QShowEvent* event)
{
    refresh();
    QDialog::showEvent(event);
}

void AboutDialog::refresh()
{
    const auto text = [](const std::string& s) { return QString::fromStdString(s); };
    SystemStats stats;
    // A disk that cannot be queried shows zero figures; the tip tells why.
    stats.queryDisk(m_databaseFile.toStdString());
    m_diskFree->setText(text(SystemStats::DiskMegabytesText(stats.diskFreeBytes())));
    m_diskTotal->setText(text(SystemStats::DiskMegabytesText(stats.diskTotalBytes())));
    m_diskFree->setToolTip(text(stats.diskError()));
    m_diskTotal->setToolTip(text(stats.diskError()));

    m_availPhysical->setText(text(SystemStats::MemoryMegabytesText(stats.availablePhysical())));
    m_availVirtual->setText(text(SystemStats::MemoryMegabytesText(stats.availableVirtual())));
    m_availPageFile->setText(text(SystemStats::MemoryMegabytesText(stats.availablePageFile())));
    m_totalPageFile->setText(text(SystemStats::MemoryMegabytesText(stats.totalPageFile())));
    m_totalPhysical->setText(text(SystemStats::MemoryMegabytesText(stats.totalPhysical())));
    m_totalVirtual->setText(text(SystemStats::MemoryMegabytesText(stats.totalVirtual())));
}

} // namespace qm::ui
