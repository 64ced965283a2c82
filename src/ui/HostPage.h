#pragma once

#include "platform/OperatorPrompt.h"
#include "store/HostFields.h"

#include <QWizardPage>

namespace qm {
class SettingsStore;
}

namespace qm::ui {

// What the wizard's pages share: the host being edited, the three flags the
// Protocol page sets for the Authentication page, and the services.
struct HostWizardState
{
    HostFields fields;
    bool userIdAllowed = false;
    bool passwordAllowed = false;
    bool domainAllowed = false;
    bool isNew = false; // Insert: a new host is always enabled
    SettingsStore* store = nullptr;
    OperatorPrompt* prompt = nullptr;
};

// A page of the host wizard. Pages write their fields into the shared state
// as they change. The wizard calls activate() each time the page becomes the
// current one, going forward or back.
class HostPage : public QWizardPage
{
    Q_OBJECT
public:
    // dialogTitle: the page's own title, shown in the window title.
    HostPage(HostWizardState& state, const QString& objectName, const QString& dialogTitle,
             QWidget* parent = nullptr);

    virtual void activate() {}
    // Going back keeps what was entered.
    void cleanupPage() override {}

protected:
    void tell(OperatorPrompt::Icon icon, const QString& text);

    HostWizardState& m_state;
};

} // namespace qm::ui
