#include "ui/HostPageProtocol.h"

#include "probes/ProtocolTable.h"
#include "ui/HostPageSupport.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include <algorithm>
#include <vector>

namespace qm::ui {

namespace {
bool OneOf(const QString& name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == QLatin1String(n); });
}
} // namespace

HostPageProtocol::HostPageProtocol(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageProtocol"), QStringLiteral("Protocol Configuration"), parent)
{
    setTitle(QStringLiteral("SET PROTOCOL PROPERTIES"));
    setSubTitle(QStringLiteral("Select the protocol and port you would like to test on your host."));

    m_protocol = new QComboBox(this);
    m_protocol->setObjectName(QStringLiteral("protocolCombo"));
    std::vector<ProtocolInfo> offered;
    for (const ProtocolInfo& p : ProtocolTable())
        if (p.offered)
            offered.push_back(p);
    std::sort(offered.begin(), offered.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const ProtocolInfo& p : offered)
        m_protocol->addItem(QString::fromLatin1(p.name.data(), static_cast<qsizetype>(p.name.size())), p.defaultPort);
    m_protocol->setCurrentIndex(m_protocol->findText(state.fields.protocol, Qt::MatchExactly));

    m_port = NewNumberEdit(QStringLiteral("portEdit"), this);
    m_port->setText(QString::number(state.fields.port));

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Protocol:"), m_protocol);
    form->addRow(QStringLiteral("Port:"), m_port);

    connect(m_protocol, &QComboBox::currentIndexChanged, this, [this] { applyProtocol(); });
    connect(m_port, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (const auto port = ParseWholeNumber(text, kMaxPort))
            m_state.fields.port = *port;
    });
}

void HostPageProtocol::activate()
{
    if (m_protocol->currentIndex() < 0 && m_protocol->count() > 0) {
        m_protocol->setCurrentIndex(0); // applies it
        return;
    }
    applyProtocol();
}

void HostPageProtocol::applyProtocol()
{
    const QString name = m_protocol->currentText();
    m_state.fields.protocol = name;
    if (OneOf(name, {"HTTP", "HTTPS", "FTP", "POP3", "IMAP4"})) {
        m_state.userIdAllowed = m_state.passwordAllowed = true;
        m_state.domainAllowed = false;
    } else if (OneOf(name, {"ECHO", "SYSLOG", "SMTP", "ESMTP", "NNTP", "TIME"})) {
        m_state.userIdAllowed = m_state.passwordAllowed = m_state.domainAllowed = false;
    }
    m_port->setEnabled(name != QLatin1String("ECHO"));
    if (m_protocol->currentIndex() < 0) {
        tell(OperatorPrompt::Icon::Plain,
             QStringLiteral("Please select a protocol before attempting to load a default port."));
        return;
    }
    m_port->setText(QString::number(m_protocol->currentData().toInt()));
}

bool HostPageProtocol::validatePage()
{
    if (ParseWholeNumber(m_port->text(), kMaxPort))
        return true;
    tell(OperatorPrompt::Icon::Warning, WholeNumberMessage(QStringLiteral("port"), kMaxPort));
    m_port->setFocus();
    return false;
}

} // namespace qm::ui
