#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace qm {

// The per-user settings store: sections of named integer and string values.
// The default is the file QSettings chooses for organisation "Dravenholt",
// application "Quillmere"; tests and --settings name a file instead. The file
// holds passwords, so it is kept readable by its owner only.
class SettingsStore
{
public:
    explicit SettingsStore(const QString& fileName = {});
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Section names may nest with a backslash ("HOSTS\3").
    int readInt(const QString& section, const QString& name, int defaultValue) const;
    QString readString(const QString& section, const QString& name, const QString& defaultValue = {}) const;
    void writeInt(const QString& section, const QString& name, int value);
    void writeString(const QString& section, const QString& name, const QString& value);

    // Flushes to disk; returns false with a reason when the file cannot be written.
    bool sync(QString* error = nullptr);
    QString fileName() const;
    // Empty when the file was read (or does not exist yet); otherwise why it
    // could not be. A store that could not be read must not be written back.
    QString loadError() const;

private:
    static QString key(const QString& section, const QString& name);
    void restrictPermissions() const;

    std::unique_ptr<QSettings> m_settings;
};

} // namespace qm
