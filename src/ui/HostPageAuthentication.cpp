#include "ui/HostPageAuthentication.h"

#include "ui/HostPageSupport.h"

#include <QFormLayout>
#include <QLineEdit>

namespace qm::ui {

HostPageAuthentication::HostPageAuthentication(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageAuthentication"), QStringLiteral("Authentication"), parent)
{
    setTitle(QStringLiteral("SET AUTHENTICATION OPTIONS"));
    setSubTitle(QStringLiteral("Your host and protocol selection may require Quillmere to authenticate to\n"
                               "successfully complete the test.  "));

    m_userId = NewTextEdit(QStringLiteral("userIdEdit"), this);
    m_password = NewTextEdit(QStringLiteral("passwordEdit"), this, true);
    m_domain = NewTextEdit(QStringLiteral("domainEdit"), this);
    m_userId->setText(state.fields.userId);
    m_password->setText(state.fields.password);
    m_domain->setText(state.fields.domain);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("User ID:"), m_userId);
    form->addRow(QStringLiteral("Password:"), m_password);
    form->addRow(QStringLiteral("E-Mail Domain:"), m_domain);

    connect(m_userId, &QLineEdit::textChanged, this, [this](const QString& t) { m_state.fields.userId = t; });
    connect(m_password, &QLineEdit::textChanged, this, [this](const QString& t) { m_state.fields.password = t; });
    connect(m_domain, &QLineEdit::textChanged, this, [this](const QString& t) { m_state.fields.domain = t; });
}

void HostPageAuthentication::activate()
{
    m_userId->setEnabled(m_state.userIdAllowed);
    m_password->setEnabled(m_state.passwordAllowed);
    m_domain->setEnabled(m_state.domainAllowed);
}

} // namespace qm::ui
