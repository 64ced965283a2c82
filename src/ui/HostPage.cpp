#include "ui/HostPage.h"

#include "ui/HostPageSupport.h"

namespace qm::ui {

HostPage::HostPage(HostWizardState& state, const QString& objectName, const QString& dialogTitle,
                   QWidget* parent)
    : QWizardPage(parent), m_state(state)
{
    setObjectName(objectName);
    setWindowTitle(dialogTitle);
}

void HostPage::tell(OperatorPrompt::Icon icon, const QString& text)
{
    TellOperator(this, m_state.prompt, icon, text);
}

} // namespace qm::ui
