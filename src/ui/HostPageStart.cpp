#include "ui/HostPageStart.h"

#include "ui/HostPageSupport.h"
#include "ui/WizardArt.h"

#include <QLabel>
#include <QVBoxLayout>

namespace qm::ui {

HostPageStart::HostPageStart(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageStart"), QStringLiteral("Host Configuration Wizard"), parent)
{
    setPixmap(QWizard::WatermarkPixmap, WizardArt::watermark(devicePixelRatioF()));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(NewBannerTitle(QStringLiteral("Welcome to the Host Configuration Wizard"), this));
    layout->addStretch();
}

} // namespace qm::ui
