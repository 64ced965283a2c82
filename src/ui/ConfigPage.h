#pragma once

#include "platform/OperatorPrompt.h"

#include <QWidget>

namespace qm {
class SettingsStore;
}

namespace qm::ui {

// A page of the configuration sheet: one section of the settings store. It is
// loaded when first shown; OK saves every value of the section of each page
// that was loaded.
class ConfigPage : public QWidget
{
    Q_OBJECT
public:
    ConfigPage(const QString& objectName, const QString& title, QWidget* parent = nullptr);

    void ensureLoaded(const SettingsStore& store);
    bool loaded() const { return m_loaded; }
    virtual void save(SettingsStore& store) const = 0;
    // Why the page cannot be left as it is (an integer field holding
    // something else); empty when it can.
    virtual QString problem() const { return {}; }

protected:
    virtual void load(const SettingsStore& store) = 0;

private:
    bool m_loaded = false;
};

} // namespace qm::ui
