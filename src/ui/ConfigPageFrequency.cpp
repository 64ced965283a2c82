#include "ui/ConfigPageFrequency.h"

#include "store/ConfigSections.h"
#include "ui/HostPageSupport.h"

#include <QFormLayout>
#include <QLineEdit>

#include <limits>

namespace qm::ui {

namespace {
constexpr int kMaxSeconds = std::numeric_limits<int>::max();
}

ConfigPageFrequency::ConfigPageFrequency(QWidget* parent)
    : ConfigPage(QStringLiteral("configPageFrequency"), QStringLiteral("Frequency Defaults"), parent)
{
    m_seconds = NewNumberEdit(QStringLiteral("frequencyEdit"), this);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Polling Frequency (seconds):"), m_seconds);
}

void ConfigPageFrequency::load(const SettingsStore& store)
{
    m_seconds->setText(QString::number(LoadFrequencyDefault(store)));
}

void ConfigPageFrequency::save(SettingsStore& store) const
{
    SaveFrequencyDefault(store, ParseWholeNumber(m_seconds->text(), kMaxSeconds).value_or(0));
}

QString ConfigPageFrequency::problem() const
{
    return ParseWholeNumber(m_seconds->text(), kMaxSeconds)
               ? QString()
               : WholeNumberMessage(QStringLiteral("polling frequency in seconds"), kMaxSeconds);
}

} // namespace qm::ui
