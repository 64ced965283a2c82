#include "ui/HostWizard.h"

#include "ui/HostPageAuthentication.h"
#include "ui/HostPageEnable.h"
#include "ui/HostPageEnd.h"
#include "ui/HostPageFloat.h"
#include "ui/HostPageFrequency.h"
#include "ui/HostPageGeneral.h"
#include "ui/HostPageNotification.h"
#include "ui/HostPageProtocol.h"
#include "ui/HostPageStart.h"
#include "ui/NotificationPageWidget.h"
#include "ui/WizardArt.h"

namespace qm::ui {

namespace {
const QString kTitle = QStringLiteral("New Host Wizard");
}

HostWizard::HostWizard(SettingsStore& store, const HostTexts& initial, bool isNew, QWidget* parent,
                       OperatorPrompt* prompt)
    : QWizard(parent), m_initial(initial), m_isNew(isNew)
{
    setObjectName(QStringLiteral("hostWizard"));
    setWindowTitle(kTitle);
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::NoBackButtonOnStartPage, true);
    setPixmap(QWizard::LogoPixmap, WizardArt::logo(devicePixelRatioF()));
    // Wide enough for the welcome and completion titles on one line each.
    resize(680, 460);
    m_state.fields = HostFieldsFromRow(initial);
    m_state.isNew = isNew;
    if (isNew)
        m_state.fields.pollingEnabled = true;
    m_state.store = &store;
    m_state.prompt = prompt;

    addPage(new HostPageStart(m_state));
    auto* general = new HostPageGeneral(m_state);
    addPage(general);
    addPage(new HostPageProtocol(m_state));
    addPage(new HostPageAuthentication(m_state));
    addPage(new HostPageFrequency(m_state));
    addPage(new HostPageFloat(m_state));
    addPage(new HostPageNotification(m_state));
    addPage(new HostPageEnable(m_state));
    auto* end = new HostPageEnd(m_state);
    addPage(end);
    // The address may come back from its look-up while the last page shows.
    connect(general, &HostPageGeneral::hostChanged, end, &HostPageEnd::completeChanged);
    connect(this, &QWizard::currentIdChanged, this, &HostWizard::pageEntered);
}

void HostWizard::pageEntered(int id)
{
    auto* entered = qobject_cast<HostPage*>(page(id));
    if (!entered)
        return;
    setWindowTitle(kTitle + QStringLiteral(" - ") + entered->windowTitle());
    entered->activate();
}

HostTexts HostWizard::result() const
{
    return HostRowFromFields(m_state.fields, m_initial);
}

void HostWizard::setTesterOptions(const NotificationTesterOptions& options)
{
    if (auto* notification = findChild<HostPageNotification*>())
        notification->panel()->setTesterOptions(options);
}

} // namespace qm::ui
