#include "ui/HostPageFloat.h"

#include "ui/HostPageSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace qm::ui {

HostPageFloat::HostPageFloat(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageFloat"), QStringLiteral("Float Error Threshold"), parent)
{
    setTitle(QStringLiteral("SET FLOAT ERROR OPTIONS"));
    setSubTitle(QStringLiteral("Use float errors to quickly and easily identify hosts that are regularly failing tests. "));

    m_enable = new QCheckBox(QStringLiteral("Enable Float Errors"), this);
    m_enable->setObjectName(QStringLiteral("floatCheck"));
    m_sensitivity = NewSensitivitySlider(this);
    m_enable->setChecked(state.fields.floatEnabled);
    m_sensitivity->setValue(state.fields.sensitivitySlider);
    m_sensitivity->setEnabled(state.fields.floatEnabled);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_enable);
    layout->addWidget(new QLabel(QStringLiteral("Float Error Sensitivity"), this));
    layout->addWidget(SliderWithEnds(m_sensitivity, this));
    layout->addStretch();

    connect(m_enable, &QCheckBox::toggled, this, [this](bool on) {
        m_state.fields.floatEnabled = on;
        m_sensitivity->setEnabled(on);
    });
    connect(m_sensitivity, &QSlider::valueChanged, this,
            [this](int value) { m_state.fields.sensitivitySlider = value; });
}

} // namespace qm::ui
