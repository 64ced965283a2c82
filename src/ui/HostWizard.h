#pragma once

#include "platform/OperatorPrompt.h"
#include "store/HostColumns.h"
#include "ui/HostPage.h"

#include <QWizard>

namespace qm {
class SettingsStore;
struct NotificationTesterOptions;
}

namespace qm::ui {

// The nine-page "New Host Wizard". Insert: initial = NewHostFromDefaults(store),
// isNew = true. Properties: initial = the row's texts, isNew = false. After
// accepted(), result() holds the row texts to insert (Insert) or to write back
// (Properties), with the statistics reset and "Stopped...". Messages go to
// `prompt` when one is given, else to message boxes over the wizard.
class HostWizard : public QWizard
{
    Q_OBJECT
public:
    HostWizard(SettingsStore& store, const HostTexts& initial, bool isNew, QWidget* parent = nullptr,
               OperatorPrompt* prompt = nullptr);

    HostTexts result() const;
    bool isNew() const { return m_isNew; }

    // For the test buttons of the Notification page (tests point the mail elsewhere).
    void setTesterOptions(const NotificationTesterOptions& options);

private:
    void pageEntered(int id);

    const HostTexts m_initial;
    const bool m_isNew;
    HostWizardState m_state;
};

} // namespace qm::ui
