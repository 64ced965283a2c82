#include "ui/HostPageEnd.h"

#include "ui/HostPageSupport.h"
#include "ui/WizardArt.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qm::ui {

HostPageEnd::HostPageEnd(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageEnd"), QStringLiteral("Host Configuration Wizard"), parent)
{
    setPixmap(QWizard::WatermarkPixmap, WizardArt::watermark(devicePixelRatioF()));
    setFinalPage(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(NewBannerTitle(QStringLiteral("You have completed the Host Configuration Wizard !"), this));
    layout->addStretch();
}

bool HostPageEnd::isComplete() const
{
    return !m_state.fields.host.isEmpty() && !m_state.fields.address.isEmpty();
}

} // namespace qm::ui
