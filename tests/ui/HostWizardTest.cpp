// The host wizard: Insert from the defaults, Properties of an existing row,
// the protocol rules, and a name that does not resolve.

#include "probes/Base64.h"
#include "probes/ProtocolTable.h"
#include "store/HostStore.h"
#include "support/HostRows.h"
#include "support/TestNamespace.h"
#include "support/UiFixture.h"
#include "ui/HostPageGeneral.h"
#include "ui/HostWizard.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QTimer>

namespace qm::test {
namespace {

using ui::HostWizard;

QString PageName(const HostWizard& w)
{
    return w.currentPage() ? w.currentPage()->objectName() : QString();
}

// Goes forward until the named page shows; false when a page refuses.
bool NextTo(HostWizard& w, const char* page)
{
    for (int i = 0; i < 9 && PageName(w) != QLatin1String(page); ++i) {
        const int before = w.currentId();
        w.next();
        if (w.currentId() == before)
            return false;
    }
    return PageName(w) == QLatin1String(page);
}

using HostWizardTest = UiTest;

TEST_F(HostWizardTest, InsertFromTheDefaultsGivesAStoppedRowAndCancelGivesNothing)
{
    m_store->writeInt(QStringLiteral("ConfigFrequency"), QStringLiteral("FREQUENCY"), 45);
    m_store->writeString(QStringLiteral("ConfigAuthenticationDefaults"), QStringLiteral("PSWD"), QStringLiteral("pw"));
    m_store->writeInt(QStringLiteral("ConfigFloatDefaults"), QStringLiteral("SENSITIVITY"), 4);
    HostWizard w(*m_store, NewHostFromDefaults(*m_store), true, nullptr, &m_prompt);
    w.open();
    EXPECT_EQ(PageName(w), QStringLiteral("hostPageStart"));

    ASSERT_TRUE(NextTo(w, "hostPageGeneral"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("New Host Wizard - General Properties"));
    LeaveHostBox(w, QStringLiteral(" 127.0.0.1 "));
    auto* address = Find<QLineEdit>(w, "addressEdit");
    ASSERT_TRUE(PumpEventsUntil([&] { return address->text() == QLatin1String("127.0.0.1"); }, 10s));
    EXPECT_FALSE(address->isEnabled());

    ASSERT_TRUE(NextTo(w, "hostPageProtocol"));
    auto* protocol = Find<QComboBox>(w, "protocolCombo");
    auto* port = Find<QLineEdit>(w, "portEdit");
    QStringList names;
    for (int i = 0; i < protocol->count(); ++i)
        names << protocol->itemText(i);
    EXPECT_EQ(names.size(), 18);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << names.join(' ').toStdString();
    EXPECT_FALSE(names.contains(QStringLiteral("TELNET")));
    // Nothing was chosen, so the first protocol is, with its port.
    EXPECT_EQ(protocol->currentIndex(), 0);
    EXPECT_EQ(port->text().toInt(), FindProtocol(names[0].toStdString())->defaultPort);
    protocol->setCurrentText(QStringLiteral("HTTP"));
    EXPECT_EQ(port->text(), QStringLiteral("80"));

    ASSERT_TRUE(NextTo(w, "hostPageFrequency"));
    auto* seconds = Find<QLineEdit>(w, "frequencyEdit");
    EXPECT_EQ(seconds->text(), QStringLiteral("45"));
    seconds->setText(QStringLiteral("3O"));
    EXPECT_FALSE(NextTo(w, "hostPageFloat"));
    ASSERT_EQ(m_prompt.texts().size(), 1u);
    EXPECT_NE(m_prompt.texts()[0].find("whole number"), std::string::npos);
    seconds->setText(QStringLiteral("30"));

    ASSERT_TRUE(NextTo(w, "hostPageFloat"));
    EXPECT_EQ(Find<QSlider>(w, "sensitivitySlider")->value(), 4);
    ASSERT_TRUE(NextTo(w, "hostPageEnd"));
    QAbstractButton* finish = w.button(QWizard::FinishButton);
    ASSERT_TRUE(finish->isVisible() && finish->isEnabled());
    finish->click();
    EXPECT_EQ(w.QDialog::result(), QDialog::Accepted);

    ExpectColumns(w.result(), {{ColHost, "127.0.0.1"}, {ColAddress, "127.0.0.1"}, {ColProtocol, "HTTP"},
                               {ColPort, "80"}, {ColThreadStatus, "Stopped..."}, {ColPolls, "0"}, {ColFailures, "0"},
                               {ColPercFailure, "0%"}, {ColFreq, "30 sec"}, {ColEnabled, "1"},
                               {ColPassword, QString::fromStdString(Base64Encode("pw"))}, {ColFloatErrsSens, "7"}});

    HostWizard cancelled(*m_store, NewHostFromDefaults(*m_store), true, nullptr, &m_prompt);
    cancelled.open();
    ASSERT_TRUE(NextTo(cancelled, "hostPageGeneral"));
    cancelled.button(QWizard::CancelButton)->click();
    EXPECT_EQ(cancelled.QDialog::result(), QDialog::Rejected);
    EXPECT_FALSE(cancelled.isVisible());
}

TEST_F(HostWizardTest, PropertiesLoadsTheRowAndTheProtocolDecidesPortAndCredentials)
{
    HostTexts row = MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), 8080);
    row[ColPassword] = QString::fromStdString(Base64Encode("s3cret"));
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColFloatErrsSens] = QStringLiteral("3");
    row[ColPolls] = QStringLiteral("12");
    HostWizard w(*m_store, row, false, nullptr, &m_prompt);
    w.open();

    // A changed name loses the old name's address until its look-up answers.
    ASSERT_TRUE(NextTo(w, "hostPageGeneral"));
    auto* host = Find<QLineEdit>(w, "hostEdit");
    host->setText(QStringLiteral("127.0.0.2"));
    EXPECT_TRUE(Find<QLineEdit>(w, "addressEdit")->text().isEmpty());
    host->setText(QStringLiteral("127.0.0.1"));
    LeaveHostBox(w, QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(PumpEventsUntil([&] { return Find<QLineEdit>(w, "addressEdit")->text() == QLatin1String("127.0.0.1"); }, 10s));

    ASSERT_TRUE(NextTo(w, "hostPageProtocol"));
    auto* protocol = Find<QComboBox>(w, "protocolCombo");
    auto* port = Find<QLineEdit>(w, "portEdit");
    EXPECT_EQ(protocol->currentText(), QStringLiteral("HTTP"));
    EXPECT_EQ(port->text(), QStringLiteral("80")); // walking through resets it

    auto* userId = Find<QLineEdit>(w, "userIdEdit");
    auto* password = Find<QLineEdit>(w, "passwordEdit");
    auto* domain = Find<QLineEdit>(w, "domainEdit");
    struct Case
    {
        const char* protocol;
        bool user, pass, dom;
    };
    for (const Case c : {Case{"SMTP", false, false, false}, Case{"POP3", true, true, false}}) {
        protocol->setCurrentText(QString::fromLatin1(c.protocol));
        ASSERT_TRUE(NextTo(w, "hostPageAuthentication"));
        EXPECT_EQ(userId->isEnabled(), c.user) << c.protocol;
        EXPECT_EQ(password->isEnabled(), c.pass) << c.protocol;
        EXPECT_EQ(domain->isEnabled(), c.dom) << c.protocol;
        w.back();
    }
    protocol->setCurrentText(QStringLiteral("ECHO"));
    EXPECT_FALSE(port->isEnabled());
    protocol->setCurrentText(QStringLiteral("HTTP"));
    EXPECT_TRUE(port->isEnabled());
    port->setText(QStringLiteral("8081")); // typed after choosing: kept

    ASSERT_TRUE(NextTo(w, "hostPageAuthentication"));
    EXPECT_EQ(password->text(), QStringLiteral("s3cret"));
    password->setText(QStringLiteral("n3w pass"));
    ASSERT_TRUE(NextTo(w, "hostPageFloat"));
    auto* slider = Find<QSlider>(w, "sensitivitySlider");
    EXPECT_EQ(slider->value(), 8);
    EXPECT_TRUE(slider->isEnabled());
    slider->setValue(11);
    Find<QCheckBox>(w, "floatCheck")->setChecked(false);
    EXPECT_FALSE(slider->isEnabled());

    ASSERT_TRUE(NextTo(w, "hostPageEnd"));
    w.button(QWizard::FinishButton)->click();
    ExpectColumns(w.result(), {{ColPort, "8081"}, {ColFloatErrsSens, "0"}, {ColFloatErrs, "0"},
                               {ColPassword, QString::fromStdString(Base64Encode("n3w pass"))}, {ColPolls, "0"}});
    EXPECT_TRUE(m_prompt.texts().empty());
}

TEST_F(HostWizardTest, AnUnresolvableHostKeepsFinishDisabledAndTheWindowResponsive)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    // The system's name servers are routed into the namespace's loopback,
    // where queries vanish: the look-up waits for the resolver to give up.
    QFile resolv(QStringLiteral("/etc/resolv.conf"));
    ASSERT_TRUE(resolv.open(QIODevice::ReadOnly));
    const QRegularExpression server(QStringLiteral("^nameserver\\s+(\\d+\\.\\d+\\.\\d+\\.\\d+)"),
                                    QRegularExpression::MultilineOption);
    for (auto it = server.globalMatch(QString::fromLatin1(resolv.readAll())); it.hasNext();) {
        const QStringList args{"-n", QString::fromStdString(ns.name()), "route", "add",
                               it.next().captured(1) + "/32", "dev", "lo"};
        EXPECT_EQ(QProcess::execute(QStringLiteral("/usr/sbin/ip"), args), 0);
    }
    qputenv("RES_OPTIONS", "timeout:1 attempts:1");

    HostWizard w(*m_store, NewHostFromDefaults(*m_store), true, nullptr, &m_prompt);
    w.open();
    ASSERT_TRUE(NextTo(w, "hostPageGeneral"));
    auto* page = Find<ui::HostPageGeneral>(w, "hostPageGeneral");
    // The look-up thread is started inside the namespace, whose resolver
    // traffic goes nowhere: the name never resolves, no query leaves.
    ASSERT_EQ(ns.runHere([&] { LeaveHostBox(w, QStringLiteral("qm-nowhere.invalid")); }), "");
    EXPECT_TRUE(page->lookupPending());
    EXPECT_EQ(page->cursor().shape(), Qt::WaitCursor);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    ASSERT_TRUE(PumpEventsUntil([&] { return !page->lookupPending(); }, 30s));
    EXPECT_GE(ticks, 5); // the event loop kept running during the look-up
    EXPECT_EQ(Find<QLineEdit>(w, "addressEdit")->text(), QString());
    EXPECT_NE(page->cursor().shape(), Qt::WaitCursor);

    ASSERT_TRUE(NextTo(w, "hostPageEnd"));
    EXPECT_FALSE(w.button(QWizard::FinishButton)->isEnabled());
    EXPECT_TRUE(m_prompt.texts().empty());
    qunsetenv("RES_OPTIONS");
}

} // namespace
} // namespace qm::test
