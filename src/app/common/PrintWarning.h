#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::app {

// Whether standard error is the systemd journal: a service manager that
// connects stderr to the journal sets JOURNAL_STREAM to "DEVICE:INODE" of that
// stream, and stderr still being that very file means nothing redirected it
// since (a child that inherited the variable but writes elsewhere does not
// match). Decided once per process.
inline bool StderrIsJournal()
{
    static const bool journal = [] {
        const QByteArray value = qgetenv("JOURNAL_STREAM");
        const qsizetype colon = value.indexOf(':');
        if (colon <= 0)
            return false;
        bool deviceOk = false;
        bool inodeOk = false;
        const qulonglong device = value.left(colon).toULongLong(&deviceOk);
        const qulonglong inode = value.mid(colon + 1).toULongLong(&inodeOk);
        struct stat st{};
        if (!deviceOk || !inodeOk || ::fstat(STDERR_FILENO, &st) != 0)
            return false;
        return static_cast<qulonglong>(st.st_dev) == device && static_cast<qulonglong>(st.st_ino) == inode;
    }();
    return journal;
}

// Journal priorities a line on stderr can carry (syslog levels).
enum class Severity
{
    Error = 3,
    Warning = 4,
    Info = 6,
};

// Writes `text` to stderr, one line for each of its lines. In the journal each
// line starts with its priority ("<4>" for a warning), which the journal
// strips and keeps as the line's priority, so "journalctl -p warning" finds
// it; anywhere else the text is written as it is.
inline void PrintDiagnostic(Severity severity, const QString& text)
{
    QByteArray out;
    const QByteArray prefix =
        StderrIsJournal() ? "<" + QByteArray::number(static_cast<int>(severity)) + ">" : QByteArray();
    for (const QString& line : text.split(QLatin1Char('\n')))
        out += prefix + line.toLocal8Bit() + '\n';
    // One write for all lines, so that lines of other threads do not cut in.
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stderr);
    std::fflush(stderr);
}

inline void PrintWarning(const QString& text)
{
    PrintDiagnostic(Severity::Warning, text);
}

} // namespace qm::app
