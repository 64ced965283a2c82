#pragma once

#include <QString>

#include <array>
#include <string_view>

namespace qm {

// The 27 text columns of a host row, by index.
enum HostColumn : int {
    ColHost = 0,
    ColAddress,
    ColNickname,
    ColProtocol,
    ColPort,
    ColThreadStatus,
    ColFreq,
    ColResponseTime,
    ColMessage,
    ColPolls,
    ColFailures,
    ColPercFailure,
    ColUserId,
    ColPassword,
    ColDomain,
    ColFloatErrs,
    ColFloatStat,
    ColFloatErrsSens,
    ColEnabled,
    ColNotifyEnable,
    ColNotifySoundEnable,
    ColNotifySoundFile,
    ColNotifyMailEnable,
    ColNotifyMailAddress,
    ColNotifyMailServer,
    ColNotifyPagerEnable,
    ColNotifyPagerSequence,
};
inline constexpr int kHostColumnCount = 27;

using HostTexts = std::array<QString, kHostColumnCount>;

// Column titles as the host list shows them.
inline constexpr std::array<std::string_view, kHostColumnCount> kHostColumnTitles{
    "Host", "Address", "Nickname", "Protocol", "Port", "Thread Status", "Freq", "Response Time",
    "Message", "Polls", "Failures", "%Failure", "UserID", "Password", "Domain", "Float Errs",
    "Float Stat", "Float Errs Sens", "Enabled", "Notify Enable", "Notify Sound Enable",
    "Notify Sound File", "Notify Mail Enable", "Notify Mail Address", "Notify Mail Server",
    "Notify Pager Enable", "Notify Pager Sequence"};

// The title of `column` as text.
inline QString ColumnTitle(int column)
{
    const std::string_view t = kHostColumnTitles[static_cast<std::size_t>(column)];
    return QString::fromLatin1(t.data(), static_cast<qsizetype>(t.size()));
}

struct StoredHostValue
{
    std::string_view name;
    HostColumn column;
};

// The per-host values of the store, in the order they are written and read.
inline constexpr std::array<StoredHostValue, 20> kStoredHostValues{{
    {"HOST", ColHost},
    {"ADDR", ColAddress},
    {"NICK", ColNickname},
    {"PROT", ColProtocol},
    {"PORT", ColPort},
    {"FREQ", ColFreq},
    {"USID", ColUserId},
    {"PSWD", ColPassword},
    {"DOMA", ColDomain},
    {"FLOT", ColFloatErrs},
    {"FSEN", ColFloatErrsSens},
    {"ENBL", ColEnabled},
    {"NOFY", ColNotifyEnable},
    {"NSEN", ColNotifySoundEnable},
    {"NSFL", ColNotifySoundFile},
    {"NMEN", ColNotifyMailEnable},
    {"NMAD", ColNotifyMailAddress},
    {"NMSV", ColNotifyMailServer},
    {"NPEN", ColNotifyPagerEnable},
    {"NPSQ", ColNotifyPagerSequence},
}};

// Decimal text to number the way the columns are read: leading digits only
// (after an optional sign), 0 for an empty or non-numeric text.
int ColumnNumber(const QString& text);

} // namespace qm
