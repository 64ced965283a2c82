#pragma once

#include "store/HostColumns.h"

#include <QString>

#include <optional>

namespace qm {

// What the notification pages edit: the per-host columns, plus the sender
// address and the modem device, which only the notification defaults keep.
struct NotificationFields
{
    bool enabled = false;
    bool mailEnabled = false;
    bool soundEnabled = false;
    bool pagerEnabled = false;
    QString mailTo;
    QString mailFrom;
    QString mailServer;
    QString soundFile;
    QString pagerSequence;
    QString modemDevice;
};

// A host as the wizard's pages show it: numbers as numbers, the password in
// clear and the float sensitivity as the slider position.
struct HostFields
{
    QString host;
    QString address;
    QString nickname;
    QString protocol;
    int port = 0;
    int frequency = 0; // seconds
    QString userId;
    QString password;
    QString domain;
    bool floatEnabled = false;
    int sensitivitySlider = 1; // 1 ("low") .. 11 ("high")
    bool pollingEnabled = false;
    NotificationFields notification;
};

inline constexpr int kSensitivitySliderMin = 1;
inline constexpr int kSensitivitySliderMax = 11;

// Reads the mapped columns of a host row: numbers by their leading digits,
// the password base64-decoded, the slider at 11 minus "Float Errs Sens".
HostFields HostFieldsFromRow(const HostTexts& row);

// Writes the fields into the row's mapped columns and resets its statistics
// ("Stopped...", "0", "0", "0%"); "Response Time" and "Message" are kept.
HostTexts HostRowFromFields(const HostFields& fields, HostTexts row);

// The value of an integer field: digits only, at most `max`; nothing for any
// other text (empty, signs, blanks, letters, too large).
std::optional<int> ParseWholeNumber(const QString& text, int max);

} // namespace qm
