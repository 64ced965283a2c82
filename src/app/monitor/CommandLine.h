#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace qm::cli {

// Exit codes of quillmere-monitor.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; // a --once result failed, results or settings could not be written, metrics cannot listen
inline constexpr int kExitUsage = 2;   // bad command line or input

// A parsed command line: options (with or without a value) and the words
// that are not options, in order.
struct CommandLine
{
    std::map<QString, QString> options; // "--port" -> "8080"; flags map to ""
    QStringList words;
    QString error; // set when the line could not be parsed

    bool has(const QString& name) const { return options.count(name) != 0; }
    QString value(const QString& name) const;
};

// Options listed in withValue take the next argument (or "--opt=value").
CommandLine ParseCommandLine(const QStringList& args, const QStringList& withValue, const QStringList& flags);

// A whole number in [min, max], or nothing.
std::optional<int> ParseNumber(const QString& text, int min, int max);

// Diagnostics on stderr, "quillmere-monitor: " first; under the journal each
// line carries its priority, so "journalctl -p warning" finds the first two.
void PrintError(const QString& text);
void PrintWarning(const QString& text);
void PrintNote(const QString& text);
void PrintOut(const QString& text);

} // namespace qm::cli
