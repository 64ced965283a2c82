#include "store/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <unistd.h>

namespace qm {

SettingsStore::SettingsStore(const QString& fileName)
{
    if (fileName.isEmpty())
        m_settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                 QStringLiteral("Dravenholt"), QStringLiteral("Quillmere"));
    else
        m_settings = std::make_unique<QSettings>(fileName, QSettings::IniFormat);

    // Create the file owner-only before anything is written into it.
    const QString path = m_settings->fileName();
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }

    // Qt reads some sections only when they are first asked for; reading every
    // key now finds a malformed file before anything could be written to it.
    (void)m_settings->allKeys();
    switch (m_settings->status()) {
    case QSettings::NoError: break;
    case QSettings::AccessError:
        m_loadError = QStringLiteral("cannot read the settings file %1").arg(path);
        break;
    case QSettings::FormatError:
        m_loadError = QStringLiteral("the settings file %1 is not in a readable format").arg(path);
        break;
    }
}

SettingsStore::~SettingsStore()
{
    sync();
}

QString SettingsStore::key(const QString& section, const QString& name)
{
    QString s = section;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return s + QLatin1Char('/') + name;
}

int SettingsStore::readInt(const QString& section, const QString& name, int defaultValue) const
{
    const QVariant v = m_settings->value(key(section, name));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? n : defaultValue;
}

QString SettingsStore::readString(const QString& section, const QString& name, const QString& defaultValue) const
{
    const QVariant v = m_settings->value(key(section, name));
    return v.isValid() ? v.toString() : defaultValue;
}

// Qt would rewrite a file it could not parse with only what it understood:
// a store that was not read whole takes no changes, so nothing is ever synced.
void SettingsStore::writeInt(const QString& section, const QString& name, int value)
{
    if (m_loadError.isEmpty())
        m_settings->setValue(key(section, name), value);
}

void SettingsStore::writeString(const QString& section, const QString& name, const QString& value)
{
    if (m_loadError.isEmpty())
        m_settings->setValue(key(section, name), value);
}

QStringList SettingsStore::childSections(const QString& section) const
{
    QString group = section;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    m_settings->beginGroup(group);
    const QStringList names = m_settings->childGroups();
    m_settings->endGroup();
    return names;
}

bool SettingsStore::sync(QString* error)
{
    if (!m_loadError.isEmpty()) {
        if (error)
            *error = m_loadError + QStringLiteral("; nothing was saved, the file is left as it is");
        return false;
    }
    m_settings->sync();
    restrictPermissions();
    if (m_settings->status() != QSettings::NoError) {
        if (error)
            *error = m_settings->status() == QSettings::AccessError
                         ? QStringLiteral("cannot write the settings file %1").arg(fileName())
                         : QStringLiteral("the settings file %1 is not in a readable format").arg(fileName());
        return false;
    }
    return true;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

QString SettingsStore::loadError() const
{
    return m_loadError;
}

QStringList SettingsStore::loadWarnings() const
{
    QStringList warnings;
    if (!m_loadError.isEmpty())
        warnings << m_loadError + QStringLiteral("; what could be read is used and nothing is saved to it");
    return warnings + m_warnings;
}

void SettingsStore::addLoadWarning(const QString& warning) const
{
    if (!m_warnings.contains(warning))
        m_warnings << warning;
}

void SettingsStore::restrictPermissions() const
{
    const QString path = fileName();
    if (QFileInfo::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace qm
