#include "ui/ConfigPageAuthentication.h"

#include "store/ConfigSections.h"
#include "ui/HostPageSupport.h"

#include <QFormLayout>
#include <QLineEdit>

namespace qm::ui {

ConfigPageAuthentication::ConfigPageAuthentication(QWidget* parent)
    : ConfigPage(QStringLiteral("configPageAuthentication"), QStringLiteral("Authentication Defaults"), parent)
{
    m_userId = NewTextEdit(QStringLiteral("userIdEdit"), this);
    m_password = NewTextEdit(QStringLiteral("passwordEdit"), this, true);
    m_domain = NewTextEdit(QStringLiteral("domainEdit"), this);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("UserID:"), m_userId);
    form->addRow(QStringLiteral("Password:"), m_password);
    form->addRow(QStringLiteral("EMail Domain:"), m_domain);
}

void ConfigPageAuthentication::load(const SettingsStore& store)
{
    const AuthenticationDefaults v = LoadAuthenticationDefaults(store);
    m_userId->setText(v.userId);
    m_password->setText(v.password);
    m_domain->setText(v.domain);
}

void ConfigPageAuthentication::save(SettingsStore& store) const
{
    SaveAuthenticationDefaults(store, {m_userId->text(), m_password->text(), m_domain->text()});
}

} // namespace qm::ui
