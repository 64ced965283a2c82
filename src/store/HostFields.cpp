#include "store/HostFields.h"

#include "probes/Base64.h"
#include "store/HostStore.h"

#include <algorithm>

namespace qm {

namespace {
QString Flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

HostFields HostFieldsFromRow(const HostTexts& row)
{
    HostFields f;
    f.host = row[ColHost];
    f.address = row[ColAddress];
    f.nickname = row[ColNickname];
    f.protocol = row[ColProtocol];
    f.port = ColumnNumber(row[ColPort]);
    f.frequency = ColumnNumber(row[ColFreq]);
    f.userId = row[ColUserId];
    f.password = QString::fromStdString(Base64Decode(row[ColPassword].toStdString()));
    f.domain = row[ColDomain];
    f.floatEnabled = ColumnNumber(row[ColFloatErrs]) != 0;
    f.sensitivitySlider = std::clamp(kSensitivitySliderMax - ColumnNumber(row[ColFloatErrsSens]),
                                     kSensitivitySliderMin, kSensitivitySliderMax);
    f.pollingEnabled = ColumnNumber(row[ColEnabled]) != 0;
    NotificationFields& n = f.notification;
    n.enabled = ColumnNumber(row[ColNotifyEnable]) != 0;
    n.soundEnabled = ColumnNumber(row[ColNotifySoundEnable]) != 0;
    n.soundFile = row[ColNotifySoundFile];
    n.mailEnabled = ColumnNumber(row[ColNotifyMailEnable]) != 0;
    n.mailTo = row[ColNotifyMailAddress];
    n.mailServer = row[ColNotifyMailServer];
    n.pagerEnabled = ColumnNumber(row[ColNotifyPagerEnable]) != 0;
    n.pagerSequence = row[ColNotifyPagerSequence];
    return f;
}

HostTexts HostRowFromFields(const HostFields& f, HostTexts row)
{
    row[ColHost] = f.host;
    row[ColAddress] = f.address;
    row[ColNickname] = f.nickname;
    row[ColProtocol] = f.protocol;
    row[ColPort] = QString::number(f.port);
    row[ColFreq] = QStringLiteral("%1 sec").arg(f.frequency);
    row[ColUserId] = f.userId;
    row[ColPassword] = QString::fromStdString(Base64Encode(f.password.toStdString()));
    row[ColDomain] = f.domain;
    row[ColFloatErrs] = Flag(f.floatEnabled);
    row[ColFloatErrsSens] = QString::number(kSensitivitySliderMax - f.sensitivitySlider);
    row[ColEnabled] = Flag(f.pollingEnabled);
    const NotificationFields& n = f.notification;
    row[ColNotifyEnable] = Flag(n.enabled);
    row[ColNotifySoundEnable] = Flag(n.soundEnabled);
    row[ColNotifySoundFile] = n.soundFile;
    row[ColNotifyMailEnable] = Flag(n.mailEnabled);
    row[ColNotifyMailAddress] = n.mailTo;
    row[ColNotifyMailServer] = n.mailServer;
    row[ColNotifyPagerEnable] = Flag(n.pagerEnabled);
    row[ColNotifyPagerSequence] = n.pagerSequence;

    // The last run's response time and message stay until the next result.
    const QString responseTime = row[ColResponseTime];
    const QString message = row[ColMessage];
    ResetRuntimeColumns(row, QStringLiteral("0%"));
    row[ColResponseTime] = responseTime;
    row[ColMessage] = message;
    return row;
}

std::optional<int> ParseWholeNumber(const QString& text, int max)
{
    if (text.isEmpty())
        return std::nullopt;
    long long value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > max)
            return std::nullopt;
    }
    return static_cast<int>(value);
}

} // namespace qm
