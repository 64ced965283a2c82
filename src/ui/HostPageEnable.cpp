#include "ui/HostPageEnable.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace qm::ui {

HostPageEnable::HostPageEnable(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageEnable"), QStringLiteral("Enable Polling"), parent)
{
    setTitle(QStringLiteral("ENABLE/DISABLE POLLING"));
    setSubTitle(QStringLiteral("Use this option to enable or diable polling on this host.  This option may be changed\n"
                               "easly from the HOST pull-down menu."));

    auto* enable = new QCheckBox(QStringLiteral("Enable polling of this host"), this);
    enable->setObjectName(QStringLiteral("enableCheck"));
    enable->setChecked(state.fields.pollingEnabled);
    // A new host always starts enabled; Host > Disable Polling switches it off.
    enable->setEnabled(!state.isNew);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enable);
    layout->addStretch();
    connect(enable, &QCheckBox::toggled, this, [this](bool on) { m_state.fields.pollingEnabled = on; });
}

} // namespace qm::ui
