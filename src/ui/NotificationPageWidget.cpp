#include "ui/NotificationPageWidget.h"

#include "ui/HostPageSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace qm::ui {

NotificationPageWidget::NotificationPageWidget(Mode mode, OperatorPrompt* prompt, QWidget* parent)
    : QWidget(parent), m_mode(mode), m_prompt(prompt)
{
    setObjectName(QStringLiteral("notificationPanel"));
    const bool defaults = mode == Mode::Defaults;
    m_enable = newCheck(QStringLiteral("Enable Notification"), QStringLiteral("notifyCheck"));
    m_mail = newCheck(QStringLiteral("Enable E-Mail"), QStringLiteral("mailCheck"));
    m_sound = newCheck(QStringLiteral("Enable Sound"), QStringLiteral("soundCheck"));
    m_pager = newCheck(QStringLiteral("Enable Pager"), QStringLiteral("pagerCheck"));
    m_mailTo = NewTextEdit(QStringLiteral("mailToEdit"), this);
    m_mailServer = NewTextEdit(QStringLiteral("smtpEdit"), this);
    m_soundFile = NewTextEdit(QStringLiteral("soundFileEdit"), this);
    m_pagerSequence = NewTextEdit(QStringLiteral("pagerSequenceEdit"), this);
    m_soundBrowse = newButton(QStringLiteral("Browse"), QStringLiteral("soundBrowseButton"));
    m_play = newButton(QStringLiteral("Play"), QStringLiteral("playButton"));
    m_sendTest = newButton(QStringLiteral("Send Test Message"), QStringLiteral("sendTestButton"));
    m_pagerTest = newButton(QStringLiteral("Test"), QStringLiteral("pagerTestButton"));

    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addField = [&](const QString& label, QWidget* field, QWidget* button1 = nullptr, QWidget* button2 = nullptr) {
        grid->addWidget(new QLabel(label, this), row, 1);
        grid->addWidget(field, row, 2);
        if (button1)
            grid->addWidget(button1, row, 3);
        if (button2)
            grid->addWidget(button2, row, 4);
        ++row;
    };
    grid->setColumnMinimumWidth(0, 16);
    grid->addWidget(m_enable, row++, 0, 1, 5);
    grid->addWidget(m_mail, row++, 0, 1, 5);
    addField(defaults ? QStringLiteral("E-Mail To Address:") : QStringLiteral("E-Mail Address:"), m_mailTo);
    if (defaults) {
        m_mailFrom = NewTextEdit(QStringLiteral("mailFromEdit"), this);
        addField(QStringLiteral("E-Mail From Address:"), m_mailFrom);
    }
    addField(QStringLiteral("E-Mail SMTP Server:"), m_mailServer, m_sendTest);
    grid->addWidget(m_sound, row++, 0, 1, 5);
    addField(QStringLiteral("Sound File:"), m_soundFile, m_soundBrowse, m_play);
    grid->addWidget(m_pager, row++, 0, 1, 5);
    addField(QStringLiteral("Pager Number Sequence:"), m_pagerSequence, m_pagerTest);
    if (defaults) {
        m_modem = NewTextEdit(QStringLiteral("modemEdit"), this);
        m_modemBrowse = newButton(QStringLiteral("Browse"), QStringLiteral("modemBrowseButton"));
        addField(QStringLiteral("Modem Device:"), m_modem, m_modemBrowse);
        connect(m_modemBrowse, &QPushButton::clicked, this, &NotificationPageWidget::browseModem);
    }
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(row, 1);

    for (QLineEdit* edit : findChildren<QLineEdit*>()) {
        edit->setMinimumWidth(220);
        connect(edit, &QLineEdit::textChanged, this, &NotificationPageWidget::changed);
    }
    connect(m_soundBrowse, &QPushButton::clicked, this, &NotificationPageWidget::browseSound);
    connect(m_play, &QPushButton::clicked, this, &NotificationPageWidget::play);
    connect(m_sendTest, &QPushButton::clicked, this, &NotificationPageWidget::sendTestMail);
    connect(m_pagerTest, &QPushButton::clicked, this, &NotificationPageWidget::callPager);
    applyEnabling();
}

NotificationPageWidget::~NotificationPageWidget() = default;

QCheckBox* NotificationPageWidget::newCheck(const QString& text, const QString& objectName)
{
    auto* box = new QCheckBox(text, this);
    box->setObjectName(objectName);
    connect(box, &QCheckBox::toggled, this, [this] {
        applyEnabling();
        Q_EMIT changed();
    });
    return box;
}

QPushButton* NotificationPageWidget::newButton(const QString& text, const QString& objectName)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

void NotificationPageWidget::setFields(const NotificationFields& f)
{
    m_hidden = f;
    m_enable->setChecked(f.enabled);
    m_mail->setChecked(f.mailEnabled);
    m_sound->setChecked(f.soundEnabled);
    m_pager->setChecked(f.pagerEnabled);
    m_mailTo->setText(f.mailTo);
    m_mailServer->setText(f.mailServer);
    m_soundFile->setText(f.soundFile);
    m_pagerSequence->setText(f.pagerSequence);
    if (m_mailFrom)
        m_mailFrom->setText(f.mailFrom);
    if (m_modem)
        m_modem->setText(f.modemDevice);
    applyEnabling();
}

NotificationFields NotificationPageWidget::fields() const
{
    NotificationFields f = m_hidden;
    f.enabled = m_enable->isChecked();
    f.mailEnabled = m_mail->isChecked();
    f.soundEnabled = m_sound->isChecked();
    f.pagerEnabled = m_pager->isChecked();
    f.mailTo = m_mailTo->text();
    f.mailServer = m_mailServer->text();
    f.soundFile = m_soundFile->text();
    f.pagerSequence = m_pagerSequence->text();
    if (m_mailFrom)
        f.mailFrom = m_mailFrom->text();
    if (m_modem)
        f.modemDevice = m_modem->text();
    return f;
}

void NotificationPageWidget::applyEnabling()
{
    const bool on = m_enable->isChecked();
    const bool mail = on && m_mail->isChecked();
    const bool sound = on && m_sound->isChecked();
    const bool pager = on && m_pager->isChecked();
    m_mail->setEnabled(on);
    m_sound->setEnabled(on);
    m_pager->setEnabled(on);
    for (QWidget* w : {static_cast<QWidget*>(m_mailTo), static_cast<QWidget*>(m_mailServer),
                       static_cast<QWidget*>(m_mailFrom)})
        if (w)
            w->setEnabled(mail);
    m_soundFile->setEnabled(sound);
    m_soundBrowse->setEnabled(sound);
    m_pagerSequence->setEnabled(pager);
    if (m_modem) {
        m_modem->setEnabled(pager);
        m_modemBrowse->setEnabled(pager);
    }
}

void NotificationPageWidget::setTesterOptions(const NotificationTesterOptions& options)
{
    m_testerOptions = options;
    if (!m_testRunning)
        m_tester.reset();
}

NotificationTester& NotificationPageWidget::tester()
{
    if (!m_tester)
        m_tester = std::make_unique<NotificationTester>(m_testerOptions);
    return *m_tester;
}

void NotificationPageWidget::browseSound()
{
    const QString sounds = QStringLiteral("/usr/share/sounds");
    auto* dialog = new QFileDialog(this, QStringLiteral("Sound File"),
                                   QDir(sounds).exists() ? sounds : QDir::homePath());
    dialog->setObjectName(QStringLiteral("soundFileDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // What the sound player reads: WAV first, then the other formats it knows.
    dialog->setNameFilters({QStringLiteral("Wave Sounds (*.wav)"),
                            QStringLiteral("Sound Files (*.wav *.flac *.ogg *.oga *.aif *.aiff *.au *.snd *.caf *.w64)"),
                            QStringLiteral("All Files (*)")});
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) { m_soundFile->setText(file); });
    dialog->open();
}

void NotificationPageWidget::browseModem()
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("modemMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QDir dev(QStringLiteral("/dev"));
    const QStringList devices = dev.entryList({QStringLiteral("ttyACM*"), QStringLiteral("ttyUSB*")},
                                              QDir::System | QDir::Files, QDir::Name);
    for (const QString& name : devices) {
        const QString path = dev.filePath(name);
        menu->addAction(path, this, [this, path] { m_modem->setText(path); });
    }
    if (devices.isEmpty())
        menu->addAction(QStringLiteral("No modem found (/dev/ttyACM*, /dev/ttyUSB*)"))->setEnabled(false);
    menu->popup(m_modemBrowse->mapToGlobal(QPoint(0, m_modemBrowse->height())));
}

void NotificationPageWidget::play()
{
    const QString file = m_soundFile->text();
    if (file.isEmpty()) {
        tell(OperatorPrompt::Icon::Plain, QStringLiteral("Please select a sound file to play."));
        return;
    }
    if (tester().playSound(file, [this](const auto& reports) { testEnded(reports, OperatorPrompt::Icon::Plain); }))
        setTestRunning(true);
}

void NotificationPageWidget::sendTestMail()
{
    const NotificationFields f = fields();
    if (tester().sendTestMail(f.mailServer, f.mailTo, f.mailFrom, [this](const auto& reports) { testEnded(reports, OperatorPrompt::Icon::Warning); }))
        setTestRunning(true);
}

void NotificationPageWidget::callPager()
{
    const NotificationFields f = fields();
    if (tester().callPager(f.modemDevice, f.pagerSequence, [this](const auto& reports) { testEnded(reports, OperatorPrompt::Icon::Warning); }))
        setTestRunning(true);
}

void NotificationPageWidget::setTestRunning(bool running)
{
    m_testRunning = running;
    for (QPushButton* b : {m_play, m_sendTest, m_pagerTest})
        b->setEnabled(!running);
    if (running)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void NotificationPageWidget::testEnded(const std::vector<std::string>& reports, OperatorPrompt::Icon icon)
{
    setTestRunning(false);
    QStringList texts;
    for (const auto& r : reports)
        texts << QString::fromStdString(r);
    if (!texts.isEmpty())
        tell(icon, texts.join(QLatin1Char('\n')));
}

void NotificationPageWidget::tell(OperatorPrompt::Icon icon, const QString& text)
{
    TellOperator(this, m_prompt, icon, text);
}

} // namespace qm::ui
