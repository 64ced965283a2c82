#pragma once

#include "notify/Notifier.h"

#include <QString>

#include <cstdint>

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
    // Results that could not be written so far: refused rows, rows of failed
    // commits, and rows dropped while a server was unreachable.
    virtual uint64_t writeErrors() const { return 0; }
};

} // namespace qm
