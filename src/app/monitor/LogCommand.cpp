#include "app/monitor/LogCommand.h"

#include "app/monitor/CommandLine.h"
#include "platform/OperatorPrompt.h"
#include "store/ConfigSections.h"
#include "store/DatabaseTarget.h"
#include "store/LogViewQueries.h"
#include "store/ResultsDatabase.h"

#include <QFileInfo>

namespace qm::cli {

namespace {

// Plain messages (the count of a clear) are the command's output; the rest
// are diagnostics.
class CommandPrompt final : public OperatorPrompt
{
public:
    void inform(Icon icon, const std::string& text) override
    {
        const QString t = QString::fromStdString(text);
        if (icon == Icon::Plain)
            PrintOut(t);
        else if (icon == Icon::Stop)
            PrintError(t);
        else
            PrintWarning(t);
        m_failed |= icon == Icon::Stop;
    }
    bool confirm(const std::string&) override { return false; }
    bool failed() const { return m_failed; }

private:
    bool m_failed = false;
};

int ShowService(LogViewQueries& queries, const QStringList& words)
{
    if (words.size() != 3) {
        PrintError(QStringLiteral("log show takes HOST PROTOCOL PORT"));
        return kExitUsage;
    }
    const LogViewQueries::ServiceLog log = queries.serviceLog(words[0], words[1], words[2]);
    PrintOut(QStringLiteral("Date Stamp\tMessage\tResponse\tFailure"));
    for (const LogViewQueries::Row& row : log.rows)
        PrintOut(QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(row.dateStamp, row.message, row.response, row.failure));
    PrintOut(QStringLiteral("Average Response Time: %1").arg(log.averageText()));
    PrintOut(QStringLiteral("# Polls %1").arg(log.pollsText()));
    return kExitOk;
}

int Prune(ResultsDatabase& db, const CommandPrompt& prompt, const QStringList& args)
{
    const CommandLine cl = ParseCommandLine(args, {QStringLiteral("--days")}, {});
    const auto days = cl.error.isEmpty() && cl.words.isEmpty()
                          ? ParseNumber(cl.value(QStringLiteral("--days")), 1, kMaxKeepDays)
                          : std::nullopt;
    if (!days) {
        PrintError(cl.error.isEmpty() ? QStringLiteral("log prune takes --days N (1 to %1)").arg(kMaxKeepDays)
                                      : cl.error);
        return kExitUsage;
    }
    if (db.startPrune(*days))
        while (db.pruneSlice()) {
        }
    PrintOut(QStringLiteral("%1 Records Deleted").arg(db.prunedRows()));
    return prompt.failed() ? kExitFailure : kExitOk;
}

} // namespace

int RunLogCommand(SettingsStore& store, const QString& databaseFile, const QStringList& args)
{
    static const QStringList kVerbs{QStringLiteral("hosts"), QStringLiteral("show"),
                                    QStringLiteral("clear"), QStringLiteral("prune")};
    if (args.isEmpty() || !kVerbs.contains(args.first())) {
        PrintError(QStringLiteral("log needs one of: hosts, show, clear, prune"));
        return kExitUsage;
    }
    QString error;
    const std::optional<DatabaseTarget> target = ResolveDatabaseTarget(store, databaseFile, &error);
    if (!target) {
        PrintError(error);
        return kExitUsage;
    }
    const QString path = target->file.isEmpty() ? ResultsDatabase::DefaultFileName() : target->file;
    if (!target->onServer() && !QFileInfo::exists(path)) {
        PrintError(QStringLiteral("no results database at %1").arg(path));
        return kExitUsage;
    }

    CommandPrompt prompt;
    ResultsDatabase db(prompt);
    if (!(target->onServer() ? db.openServer(*target) : db.openFile(path)))
        return kExitFailure;
    const QString verb = args.first();
    const QStringList rest = args.mid(1);
    if (verb == QLatin1String("prune"))
        return Prune(db, prompt, rest);
    if (!rest.isEmpty() && verb != QLatin1String("show")) {
        PrintError(QStringLiteral("unexpected argument %1").arg(rest.first()));
        return kExitUsage;
    }
    if (verb == QLatin1String("clear"))
        return db.ClearHistory() < 0 || prompt.failed() ? kExitFailure : kExitOk;

    LogViewQueries queries(db.GetDatabase(), prompt);
    int rc = kExitOk;
    if (verb == QLatin1String("hosts")) {
        for (const QString& host : queries.hosts())
            PrintOut(host);
    } else {
        rc = ShowService(queries, rest);
    }
    return prompt.failed() ? kExitFailure : rc;
}

} // namespace qm::cli
