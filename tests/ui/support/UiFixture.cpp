#include "support/UiFixture.h"

#include "store/HostStore.h"

namespace qm::test {

HostTexts MakeHostRow(const QString& host, const QString& protocol, int port, int freqSeconds)
{
    HostTexts t;
    t[ColHost] = host;
    t[ColAddress] = host;
    t[ColProtocol] = protocol;
    t[ColPort] = QString::number(port);
    t[ColFreq] = QStringLiteral("%1 sec").arg(freqSeconds);
    t[ColFloatErrs] = QStringLiteral("1");
    t[ColFloatErrsSens] = QStringLiteral("1");
    t[ColEnabled] = QStringLiteral("1");
    for (int c : {ColNotifyEnable, ColNotifySoundEnable, ColNotifyMailEnable, ColNotifyPagerEnable})
        t[static_cast<std::size_t>(c)] = QStringLiteral("0");
    ResetRuntimeColumns(t, QStringLiteral("0%"));
    return t;
}

} // namespace qm::test
