#pragma once

#include <QString>
#include <QStringList>

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
    // Ignored when the file could not be read (see loadError()).
    void writeInt(const QString& section, const QString& name, int value);
    void writeString(const QString& section, const QString& name, const QString& value);
    // The names of the sections directly below `section`, in no set order.
    QStringList childSections(const QString& section) const;

    // Flushes to disk; returns false with a reason when the file cannot be
    // written, or was not read whole and so is never written.
    bool sync(QString* error = nullptr);
    QString fileName() const;
    // Empty when the file was read (or does not exist yet); otherwise why it
    // could not be. What could be read is still served, but a store that could
    // not be read is never written back.
    QString loadError() const;

    // For the operator once the settings are loaded: the load error, if any,
    // then every damaged value a loader replaced, each text once.
    QStringList loadWarnings() const;
    void addLoadWarning(const QString& warning) const;

private:
    static QString key(const QString& section, const QString& name);
    void restrictPermissions() const;

    std::unique_ptr<QSettings> m_settings;
    QString m_loadError;
    mutable QStringList m_warnings;
};

} // namespace qm
