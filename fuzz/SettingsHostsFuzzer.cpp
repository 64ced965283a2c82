// Loads arbitrary bytes as the settings file: the host list, the column
// preferences and the defaults of a new host, then every host as the wizard
// shows it. Whatever the file holds, each host must come out with a
// frequency the poll thread can wait ("N sec").
#include "store/ConfigSections.h"
#include "store/HostFields.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

bool WaitableFrequency(const QString& text)
{
    if (!text.endsWith(QLatin1String(" sec")) || text.size() == 4)
        return false;
    for (qsizetype i = 0; i < text.size() - 4; ++i)
        if (!text[i].isDigit())
            return false;
    return true;
}

// A folder of this process's own; in memory when the system offers one.
QString WorkFolder()
{
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString folder = QStringLiteral("%1/qm-settings-fuzz-%2").arg(base).arg(::getpid());
    QDir().mkpath(folder);
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = WorkFolder() + QStringLiteral("/fuzz.conf");
    static qint64 serial = 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
        // Qt keeps a parsed file and reads it again only when its size or
        // time changed: every input gets a time of its own.
        file.setFileTime(QDateTime::fromSecsSinceEpoch(++serial), QFileDevice::FileModificationTime);
    }
    const qm::SettingsStore store(path);
    for (const qm::HostTexts& host : qm::LoadHosts(store)) {
        if (!WaitableFrequency(host[qm::ColFreq]))
            std::abort();
        (void)qm::HostFieldsFromRow(host);
    }
    (void)qm::LoadColumnPreferences(store);
    (void)qm::HostFieldsFromRow(qm::NewHostFromDefaults(store));
    (void)qm::LoadXmlExportSettings(store);
    (void)store.loadWarnings();
    return 0;
}
