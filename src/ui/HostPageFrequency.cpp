#include "ui/HostPageFrequency.h"

#include "ui/HostPageSupport.h"

#include <QFormLayout>
#include <QLineEdit>

#include <limits>

namespace qm::ui {

namespace {
constexpr int kMaxSeconds = std::numeric_limits<int>::max();
}

HostPageFrequency::HostPageFrequency(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageFrequency"), QStringLiteral("Poll Frequency"), parent)
{
    setTitle(QStringLiteral("SET TESTING FREQUENCY"));
    setSubTitle(QStringLiteral("Set the number of seconds that Quillmere will pause between tests."));

    m_seconds = NewNumberEdit(QStringLiteral("frequencyEdit"), this);
    m_seconds->setText(QString::number(state.fields.frequency));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Frequency (seconds):"), m_seconds);

    connect(m_seconds, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (const auto seconds = ParseWholeNumber(text, kMaxSeconds))
            m_state.fields.frequency = *seconds;
    });
}

bool HostPageFrequency::validatePage()
{
    if (ParseWholeNumber(m_seconds->text(), kMaxSeconds))
        return true;
    tell(OperatorPrompt::Icon::Warning, WholeNumberMessage(QStringLiteral("frequency in seconds"), kMaxSeconds));
    m_seconds->setFocus();
    return false;
}

} // namespace qm::ui
