#include "support/HostRows.h"

#include "store/HostStore.h"

#include <gtest/gtest.h>

namespace qm::test {

HostTexts MakeRow(const QString& host, const QString& protocol, int port, int freqSeconds)
{
    HostTexts t;
    t[ColHost] = host;
    t[ColAddress] = host;
    t[ColProtocol] = protocol;
    t[ColPort] = QString::number(port);
    t[ColFreq] = QStringLiteral("%1 sec").arg(freqSeconds);
    t[ColFloatErrs] = QStringLiteral("0");
    t[ColFloatErrsSens] = QStringLiteral("0");
    t[ColEnabled] = QStringLiteral("1");
    for (int c : {ColNotifyEnable, ColNotifySoundEnable, ColNotifyMailEnable, ColNotifyPagerEnable})
        t[static_cast<std::size_t>(c)] = QStringLiteral("0");
    ResetRuntimeColumns(t, QStringLiteral("0.00%"));
    return t;
}

std::unique_ptr<ProbeResult> MakeResult(const std::string& message, uint32_t ms, bool warning)
{
    auto r = std::make_unique<ProbeResult>();
    r->message = message;
    r->responseTime = ms;
    r->warning = warning;
    return r;
}

void ExpectColumns(const HostTexts& row, std::initializer_list<std::pair<int, QString>> expected)
{
    for (const auto& [column, text] : expected)
        EXPECT_EQ(row[static_cast<std::size_t>(column)], text) << "column " << column;
}

} // namespace qm::test
