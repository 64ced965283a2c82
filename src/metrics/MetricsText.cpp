#include "metrics/MetricsText.h"

#include <QLocale>

#include <cmath>
#include <functional>

namespace qm {

namespace {

QByteArray LabelBlock(const MetricsEntry& e)
{
    const MetricsLabels& l = e.labels;
    QByteArray out = "{host=\"";
    out += EscapeLabelValue(l.host);
    out += "\",protocol=\"";
    out += EscapeLabelValue(l.protocol);
    out += "\",port=\"";
    out += EscapeLabelValue(l.port);
    out += "\",nickname=\"";
    out += EscapeLabelValue(l.nickname);
    // Entries with the same host, protocol, port and nickname (two checks of
    // one server) would otherwise be one series: an `entry` label with the
    // entry's own number tells them apart. Only they get it, so every other
    // series keeps the labels it always had; the number stays the entry's
    // while it is in the list, so its series goes on across scrapes and runs.
    if (e.labelsShared) {
        out += "\",entry=\"";
        out += QByteArray::number(static_cast<qulonglong>(e.id));
    }
    out += "\"} ";
    return out;
}

void AppendHeader(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// One family of per-entry samples; entries for which value() gives NaN have no
// sample. labels[i] is the label set of entry i, escaped once for all families.
void AppendFamily(QByteArray& out, const MetricsSnapshot& s, const std::vector<QByteArray>& labels,
                  const char* name, const char* type, const char* help,
                  const std::function<double(const MetricsEntry&)>& value)
{
    AppendHeader(out, name, type, help);
    for (std::size_t i = 0; i < s.entries.size(); ++i) {
        const double v = value(s.entries[i]);
        if (std::isnan(v))
            continue;
        out += name;
        out += labels[i];
        out += QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
        out += '\n';
    }
}

void AppendProcessFigure(QByteArray& out, const char* name, const char* type, const char* help,
                         uint64_t value)
{
    AppendHeader(out, name, type, help);
    out += name;
    out += ' ';
    out += QByteArray::number(static_cast<qulonglong>(value));
    out += '\n';
}

} // namespace

QByteArray EscapeLabelValue(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

QByteArray RenderMetrics(const MetricsSnapshot& s)
{
    std::vector<QByteArray> labels;
    labels.reserve(s.entries.size());
    qsizetype size = 1024;
    for (const MetricsEntry& e : s.entries) {
        labels.push_back(LabelBlock(e));
        size += 6 * (labels.back().size() + 40);
    }
    QByteArray out;
    out.reserve(size);
    AppendFamily(out, s, labels, "quillmere_up", "gauge", "Whether the last poll of the entry succeeded (1) or failed (0).",
                 [](const MetricsEntry& e) { return e.up ? 1.0 : 0.0; });
    AppendFamily(out, s, labels, "quillmere_down", "gauge", "Whether the entry is floated down (1) or not (0).",
                 [](const MetricsEntry& e) { return e.down ? 1.0 : 0.0; });
    AppendFamily(out, s, labels, "quillmere_health_level", "gauge",
                 "Health level of the entry: 0 green to 11 red, 12 no result.",
                 [](const MetricsEntry& e) { return double(e.health); });
    AppendFamily(out, s, labels, "quillmere_response_time_seconds", "gauge",
                 "Response time of the last successful poll of the entry.", [](const MetricsEntry& e) {
                     return e.responseSeconds < 0 ? std::nan("") : e.responseSeconds;
                 });
    AppendFamily(out, s, labels, "quillmere_polls_total", "counter", "Polls of the entry since the program started.",
                 [](const MetricsEntry& e) { return double(e.polls); });
    AppendFamily(out, s, labels, "quillmere_failures_total", "counter",
                 "Failed polls of the entry since the program started.",
                 [](const MetricsEntry& e) { return double(e.failures); });
    AppendProcessFigure(out, "quillmere_results_handled_total", "counter",
                        "Poll results handled by the main thread.", s.resultsHandled);
    AppendProcessFigure(out, "quillmere_event_queue_depth", "gauge",
                        "Events waiting for the main thread when it last took them.", s.queueDepth);
    AppendProcessFigure(out, "quillmere_database_write_errors_total", "counter",
                        "Results the results database could not take.", s.databaseWriteErrors);
    return out;
}

} // namespace qm
