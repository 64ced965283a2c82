#pragma once

#include "notify/Notifier.h"

#include <QString>

namespace qm {

// Appends one poll result to the results database. Returns false when the
// result could not be recorded (the handler then ends there).
class ResultRecorder
{
public:
    virtual ~ResultRecorder() = default;
    virtual bool RecordResults(const QString& host, const QString& protocol, const QString& port,
                               const QString& frequency, const QString& time, const QString& message,
                               const QString& failure) = 0;
};

} // namespace qm
