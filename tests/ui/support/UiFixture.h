#pragma once

#include "store/HostColumns.h"

#include <QString>
#include <QTemporaryDir>

namespace qm::test {

// A stopped host row with the given settings, as the host wizard writes it.
HostTexts MakeHostRow(const QString& host, const QString& protocol, int port, int freqSeconds = 60);

// A temporary folder for the settings file and the results database of one
// test; nothing touches the user's own files.
class TempFiles
{
public:
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("Quillmere.conf")); }
    QString databaseFile() const { return m_dir.filePath(QStringLiteral("results.db")); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace qm::test
