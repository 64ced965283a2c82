#include "ui/ConfigPageFloat.h"

#include "store/ConfigSections.h"
#include "ui/HostPageSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace qm::ui {

ConfigPageFloat::ConfigPageFloat(QWidget* parent)
    : ConfigPage(QStringLiteral("configPageFloat"), QStringLiteral("Float Error Defaults"), parent)
{
    m_enable = new QCheckBox(QStringLiteral("Enable Float Errors"), this);
    m_enable->setObjectName(QStringLiteral("floatCheck"));
    m_sensitivity = NewSensitivitySlider(this);
    m_sensitivity->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_enable);
    layout->addWidget(new QLabel(QStringLiteral("Float Error Sensitivity"), this));
    layout->addWidget(SliderWithEnds(m_sensitivity, this));
    layout->addStretch();
    connect(m_enable, &QCheckBox::toggled, m_sensitivity, &QSlider::setEnabled);
}

void ConfigPageFloat::load(const SettingsStore& store)
{
    const FloatDefaults v = LoadFloatDefaults(store);
    m_enable->setChecked(v.enabled);
    m_sensitivity->setEnabled(v.enabled);
    m_sensitivity->setValue(v.sensitivity); // an unset 0 shows as the lowest position
}

void ConfigPageFloat::save(SettingsStore& store) const
{
    SaveFloatDefaults(store, {m_enable->isChecked(), m_sensitivity->value()});
}

} // namespace qm::ui
