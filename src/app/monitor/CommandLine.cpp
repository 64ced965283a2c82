#include "app/monitor/CommandLine.h"

#include "app/common/PrintWarning.h"

#include <cstdio>

namespace qm::cli {

QString CommandLine::value(const QString& name) const
{
    const auto it = options.find(name);
    return it == options.end() ? QString() : it->second;
}

CommandLine ParseCommandLine(const QStringList& args, const QStringList& withValue, const QStringList& flags)
{
    CommandLine cl;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            cl.words += args.mid(i + 1);
            break;
        }
        if (!a.startsWith(QLatin1String("--")) || a.size() == 2) {
            cl.words << a;
            continue;
        }
        QString name = a;
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = a.indexOf(QLatin1Char('=')); eq > 0) {
            name = a.left(eq);
            value = a.mid(eq + 1);
            inlineValue = true;
        }
        if (withValue.contains(name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    cl.error = QStringLiteral("option %1 needs a value").arg(name);
                    return cl;
                }
                value = args[++i];
            }
            cl.options[name] = value;
        } else if (flags.contains(name) && !inlineValue) {
            cl.options[name] = QString();
        } else {
            cl.error = QStringLiteral("unknown option %1").arg(a);
            return cl;
        }
    }
    return cl;
}

std::optional<int> ParseNumber(const QString& text, int min, int max)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < min || n > max)
        return std::nullopt;
    return n;
}

void PrintError(const QString& text)
{
    app::PrintDiagnostic(app::Severity::Error, QStringLiteral("quillmere-monitor: ") + text);
}

void PrintWarning(const QString& text)
{
    app::PrintDiagnostic(app::Severity::Warning, QStringLiteral("quillmere-monitor: ") + text);
}

void PrintNote(const QString& text)
{
    app::PrintDiagnostic(app::Severity::Info, QStringLiteral("quillmere-monitor: ") + text);
}

void PrintOut(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace qm::cli
