#include "store/HostStore.h"

#include "probes/Base64.h"
#include "store/ConfigSections.h"
#include "store/HostFields.h"
#include "store/SettingsStore.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace qm {

namespace {
QString HostSection(int index)
{
    return QStringLiteral("HOSTS\\%1").arg(index);
}
QString Name(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
QString Flag(int v)
{
    return v != 0 ? QStringLiteral("1") : QStringLiteral("0");
}

// The seconds of a "Freq" text: a whole number after optional blanks, with
// anything after it ignored; nothing when there is none, it is negative or it
// does not fit an int.
std::optional<int> FrequencySeconds(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && text[i] == QLatin1Char('+'))
        ++i;
    const qsizetype digits = i;
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    if (i == digits)
        return std::nullopt;
    return static_cast<int>(value);
}

// The host sections to read. A believable "Count" names them (missing ones
// repeat the previous host); any other, absurd, negative or not a number,
// reads only the sections that are stored, in index order.
std::vector<int> HostSectionIndexes(const SettingsStore& store)
{
    const QString text = store.readString(QStringLiteral("HOSTS"), QStringLiteral("Count"));
    bool parsed = text.isNull();
    const int count = parsed ? 0 : text.trimmed().toInt(&parsed);
    std::vector<int> indexes;
    if (parsed && count >= 0 && count <= kHostCountLimit) {
        for (int i = 0; i < count; ++i)
            indexes.push_back(i);
        return indexes;
    }
    const int end = parsed && count > 0 ? count : std::numeric_limits<int>::max();
    for (const QString& name : store.childSections(QStringLiteral("HOSTS"))) {
        const auto index = ParseWholeNumber(name, std::numeric_limits<int>::max());
        if (index && *index < end)
            indexes.push_back(*index);
    }
    std::sort(indexes.begin(), indexes.end());
    store.addLoadWarning(QStringLiteral("\"HOSTS\" \"Count\" is \"%1\": only the %2 stored host sections are read")
                             .arg(text.left(40))
                             .arg(indexes.size()));
    return indexes;
}
} // namespace

int ColumnNumber(const QString& text)
{
    // Leading white space and a sign, then digits up to the first non-digit.
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 2147483647LL)
            value = 2147483647LL;
    }
    return static_cast<int>(negative ? -value : value);
}

void ResetRuntimeColumns(HostTexts& texts, const QString& percentText)
{
    texts[ColThreadStatus] = QStringLiteral("Stopped...");
    texts[ColResponseTime].clear();
    texts[ColMessage].clear();
    texts[ColPolls] = QStringLiteral("0");
    texts[ColFailures] = QStringLiteral("0");
    texts[ColPercFailure] = percentText;
    texts[ColFloatStat] = QStringLiteral("0");
}

std::vector<HostTexts> LoadHosts(const SettingsStore& store)
{
    const std::vector<int> indexes = HostSectionIndexes(store);
    std::vector<HostTexts> hosts;
    hosts.reserve(indexes.size());
    HostTexts previous;
    for (const int i : indexes) {
        HostTexts texts;
        const QString section = HostSection(i);
        for (const auto& v : kStoredHostValues)
            texts[v.column] = store.readString(section, Name(v.name), previous[v.column]);
        previous = texts;
        // The poll thread waits the number before " sec"; a frequency it
        // cannot wait would poll back to back.
        if (const auto seconds = FrequencySeconds(texts[ColFreq])) {
            texts[ColFreq] = QStringLiteral("%1 sec").arg(*seconds);
        } else {
            store.addLoadWarning(QStringLiteral("host \"%1\": frequency \"%2\" is not a number of seconds; %3 sec is used")
                                     .arg(texts[ColHost].left(255), texts[ColFreq].left(40))
                                     .arg(kDefaultHostFrequency));
            texts[ColFreq] = QStringLiteral("%1 sec").arg(kDefaultHostFrequency);
        }
        ResetRuntimeColumns(texts, QStringLiteral("0.00%"));
        hosts.push_back(std::move(texts));
    }
    return hosts;
}

void SaveHosts(SettingsStore& store, const std::vector<HostTexts>& hosts)
{
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const QString section = HostSection(static_cast<int>(i));
        for (const auto& v : kStoredHostValues)
            store.writeString(section, Name(v.name), hosts[i][v.column]);
    }
    store.writeInt(QStringLiteral("HOSTS"), QStringLiteral("Count"), static_cast<int>(hosts.size()));
}

ColumnPreferences LoadColumnPreferences(const SettingsStore& store)
{
    ColumnPreferences prefs;
    for (std::size_t i = 0; i < kColumnPreferenceNames.size(); ++i)
        prefs.shown[i] = store.readInt(QStringLiteral("PREFERENCES"), Name(kColumnPreferenceNames[i]), 1) != 0;
    return prefs;
}

void SaveColumnPreferences(SettingsStore& store, const ColumnPreferences& prefs)
{
    for (std::size_t i = 0; i < kColumnPreferenceNames.size(); ++i)
        store.writeInt(QStringLiteral("PREFERENCES"), Name(kColumnPreferenceNames[i]), prefs.shown[i] ? 1 : 0);
}

HostTexts NewHostFromDefaults(const SettingsStore& store)
{
    const AuthenticationDefaults auth = LoadAuthenticationDefaults(store);
    const FloatDefaults flt = LoadFloatDefaults(store);
    const NotificationFields notify = LoadNotificationDefaults(store);

    HostTexts t;
    t[ColPort] = QStringLiteral("0");
    t[ColFreq] = QStringLiteral("%1 sec").arg(LoadFrequencyDefault(store));
    t[ColUserId] = auth.userId;
    // The default password is stored as typed; the row holds it encoded.
    t[ColPassword] = QString::fromStdString(Base64Encode(auth.password.toStdString()));
    t[ColDomain] = auth.domain;
    t[ColFloatErrs] = Flag(flt.enabled);
    // The wizard's slider runs 1..11 and the row keeps 11 minus its position.
    t[ColFloatErrsSens] = QString::number(11 - std::clamp(flt.sensitivity, 1, 11));
    t[ColEnabled] = QStringLiteral("1");
    t[ColNotifyEnable] = Flag(notify.enabled);
    t[ColNotifySoundEnable] = Flag(notify.soundEnabled);
    t[ColNotifySoundFile] = notify.soundFile;
    t[ColNotifyMailEnable] = Flag(notify.mailEnabled);
    t[ColNotifyMailAddress] = notify.mailTo;
    t[ColNotifyMailServer] = notify.mailServer;
    t[ColNotifyPagerEnable] = Flag(notify.pagerEnabled);
    t[ColNotifyPagerSequence] = notify.pagerSequence;
    ResetRuntimeColumns(t, QStringLiteral("0%"));
    return t;
}

} // namespace qm
