#pragma once

#include "metrics/MetricsRegistry.h"

#include <QByteArray>

namespace qm {

// The Prometheus text exposition format, version 0.0.4.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// A label value as it goes between the double quotes: UTF-8 with backslash,
// double quote and line feed escaped.
QByteArray EscapeLabelValue(const QString& value);

// Every family with its # HELP and # TYPE lines, samples grouped by family.
QByteArray RenderMetrics(const MetricsSnapshot& snapshot);

} // namespace qm
