#include "app/monitor/HostsCsv.h"

#include "app/monitor/CommandLine.h"
#include "probes/ProbeSocket.h"
#include "probes/ProtocolTable.h"
#include "store/HostStore.h"

#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <optional>

namespace qm::cli {

namespace {

QString Quoted(const QString& field)
{
    static const QRegularExpression kSpecial(QStringLiteral("[,\"\\r\\n]|^\\s|\\s$"));
    if (!kSpecial.match(field).hasMatch())
        return field;
    QString out = field;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

struct Record
{
    int line = 0; // where the record starts, from 1
    QStringList fields;
};

// RFC 4180 records: quoted fields may hold commas, quotes ("") and line
// breaks. Blank lines are skipped.
bool ParseCsv(const QString& text, std::vector<Record>& records, QString& error)
{
    int line = 1;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        Record record{line, {}};
        QString field;
        bool quoted = false, endOfRecord = false;
        while (!endOfRecord) {
            if (i >= n) {
                if (quoted) {
                    error = QStringLiteral("line %1: a quoted field is not closed").arg(record.line);
                    return false;
                }
                endOfRecord = true;
                break;
            }
            const QChar c = text[i++];
            if (quoted) {
                if (c == u'"' && i < n && text[i] == u'"') {
                    field += c;
                    ++i;
                } else if (c == u'"') {
                    quoted = false;
                } else {
                    line += c == u'\n';
                    field += c;
                }
            } else if (c == u'"' && field.isEmpty()) {
                quoted = true;
            } else if (c == u',') {
                record.fields << field;
                field.clear();
            } else if (c == u'\n' || c == u'\r') {
                if (c == u'\r' && i < n && text[i] == u'\n')
                    ++i;
                ++line;
                endOfRecord = true;
            } else {
                field += c;
            }
        }
        record.fields << field;
        if (record.fields.size() > 1 || !record.fields.first().isEmpty())
            records.push_back(std::move(record));
    }
    return true;
}

bool IsFlag(const QString& text)
{
    return text == QLatin1String("0") || text == QLatin1String("1");
}

// Checks one host as "hosts add" checks its options; empty when it passes.
QString CheckHost(HostTexts& row, ProbeSocket& resolver, std::string& resolverMessage)
{
    row[ColHost] = row[ColHost].trimmed();
    if (row[ColHost].isEmpty())
        return QStringLiteral("Host is empty");
    const ProtocolInfo* info = FindProtocol(row[ColProtocol].toStdString());
    if (info == nullptr)
        return QStringLiteral("unknown protocol \"%1\"").arg(row[ColProtocol]);
    if (row[ColPort].isEmpty())
        row[ColPort] = QString::number(info->defaultPort);
    else if (row[ColPort] != QString::number(info->defaultPort) &&
             !ParseNumber(row[ColPort], 1, 65535))
        return QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(row[ColPort]);
    QString freq = row[ColFreq].trimmed();
    if (freq.endsWith(QLatin1String(" sec")))
        freq.chop(4);
    const auto seconds = ParseNumber(freq, 0, 86400 * 365);
    if (!seconds)
        return QStringLiteral("frequency \"%1\" is not a number of seconds").arg(row[ColFreq]);
    row[ColFreq] = QStringLiteral("%1 sec").arg(*seconds);
    if (!ParseNumber(row[ColFloatErrsSens], 0, 10))
        return QStringLiteral("Float Errs Sens \"%1\" is not a down threshold from 0 to 10")
            .arg(row[ColFloatErrsSens]);
    for (const HostColumn flag : {ColFloatErrs, ColEnabled, ColNotifyEnable, ColNotifySoundEnable,
                                  ColNotifyMailEnable, ColNotifyPagerEnable})
        if (!IsFlag(row[flag]))
            return QStringLiteral("%1 is \"%2\", not 0 or 1").arg(ColumnTitle(flag), row[flag]);
    static const QRegularExpression kBase64(QStringLiteral("^[A-Za-z0-9+/]*={0,2}$"));
    if (row[ColPassword].size() % 4 != 0 || !kBase64.match(row[ColPassword]).hasMatch())
        return QStringLiteral("Password is not Base64 text");
    if (row[ColAddress].isEmpty()) {
        // Like the host wizard, a host whose name does not resolve is not added.
        row[ColAddress] = QString::fromStdString(resolver.LookupAddressText(row[ColHost].toStdString()));
        if (row[ColAddress].isEmpty())
            return QString::fromStdString(resolverMessage);
    } else if (!IsAddressLiteral(row[ColAddress].toStdString())) {
        return QStringLiteral("Address \"%1\" is not an IP address").arg(row[ColAddress]);
    }
    return {};
}

// Collects the resolver's failure report instead of posting it anywhere.
class CapturingSink final : public ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<ProbeResult>) override {}
    void reportFailure(uint32_t, std::unique_ptr<ProbeResult> r) override { message = r->message; }
    std::string message;
};

} // namespace

QString HostsToCsv(const std::vector<HostTexts>& hosts)
{
    QStringList lines;
    QStringList titles;
    for (const auto& v : kStoredHostValues)
        titles << ColumnTitle(v.column);
    lines << titles.join(QLatin1Char(','));
    for (const HostTexts& h : hosts) {
        QStringList fields;
        for (const auto& v : kStoredHostValues)
            fields << Quoted(h[v.column]);
        lines << fields.join(QLatin1Char(','));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool HostsFromCsv(const SettingsStore& store, const QString& text, std::vector<HostTexts>& hosts,
                  QString& error)
{
    hosts.clear();
    std::vector<Record> records;
    if (!ParseCsv(text, records, error))
        return false;
    if (records.empty()) {
        error = QStringLiteral("line 1: no header row");
        return false;
    }
    std::map<QString, HostColumn> stored;
    for (const auto& v : kStoredHostValues)
        stored.emplace(ColumnTitle(v.column), v.column);
    std::vector<HostColumn> columns;
    for (const QString& title : records.front().fields) {
        const auto it = stored.find(title.trimmed());
        if (it == stored.end() ||
            std::find(columns.begin(), columns.end(), it->second) != columns.end()) {
            error = QStringLiteral("line %1: \"%2\" is not a column title, or is given twice")
                        .arg(records.front().line)
                        .arg(title);
            return false;
        }
        columns.push_back(it->second);
    }
    if (std::find(columns.begin(), columns.end(), ColHost) == columns.end() ||
        std::find(columns.begin(), columns.end(), ColProtocol) == columns.end()) {
        error = QStringLiteral("line %1: the header needs the columns Host and Protocol")
                    .arg(records.front().line);
        return false;
    }

    HostTexts defaults = NewHostFromDefaults(store);
    // Without a Port column each host gets its protocol's port, not the
    // defaults' placeholder.
    defaults[ColPort].clear();
    CapturingSink sink;
    ProbeSocket resolver(sink);
    std::vector<HostTexts> rows;
    rows.reserve(records.size() - 1);
    for (std::size_t r = 1; r < records.size(); ++r) {
        const Record& record = records[r];
        if (record.fields.size() != static_cast<qsizetype>(columns.size())) {
            error = QStringLiteral("line %1: %2 fields where the header has %3")
                        .arg(record.line)
                        .arg(record.fields.size())
                        .arg(columns.size());
            return false;
        }
        HostTexts row = defaults;
        for (std::size_t c = 0; c < columns.size(); ++c)
            row[columns[c]] = record.fields[static_cast<qsizetype>(c)];
        if (const QString problem = CheckHost(row, resolver, sink.message); !problem.isEmpty()) {
            error = QStringLiteral("line %1: %2").arg(record.line).arg(problem);
            return false;
        }
        rows.push_back(std::move(row));
    }
    hosts = std::move(rows);
    return true;
}

} // namespace qm::cli
