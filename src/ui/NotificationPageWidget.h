#pragma once

#include "notify/NotificationTester.h"
#include "platform/OperatorPrompt.h"
#include "store/HostFields.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace qm::ui {

// The notification settings with their test buttons, as both the wizard's
// Notification page (one host) and the Notification Defaults page show them.
// The defaults add the sender address and the modem device; for one host
// those come from the defaults and are not shown.
//
// Enabling: with "Enable Notification" off, everything but the three test
// buttons is disabled; with it on, the other three boxes are enabled and each
// enables its own fields. The test actions (Play, Send Test Message, Test) run
// on the tester's thread; meanwhile the three buttons are disabled and the
// widget shows a busy cursor. Problems they report are told to the operator.
class NotificationPageWidget : public QWidget
{
    Q_OBJECT
public:
    enum class Mode { Host, Defaults };

    NotificationPageWidget(Mode mode, OperatorPrompt* prompt, QWidget* parent = nullptr);
    ~NotificationPageWidget() override;

    void setFields(const NotificationFields& fields);
    NotificationFields fields() const;
    void applyEnabling();

    // Takes effect for the next test action (tests point the mail elsewhere).
    void setTesterOptions(const NotificationTesterOptions& options);
    bool testRunning() const { return m_testRunning; }

Q_SIGNALS:
    void changed();

private:
    QCheckBox* newCheck(const QString& text, const QString& objectName);
    QPushButton* newButton(const QString& text, const QString& objectName);
    NotificationTester& tester();
    void browseSound();
    void browseModem();
    void play();
    void sendTestMail();
    void callPager();
    void setTestRunning(bool running);
    void testEnded(const std::vector<std::string>& reports, OperatorPrompt::Icon icon);
    void tell(OperatorPrompt::Icon icon, const QString& text);

    const Mode m_mode;
    OperatorPrompt* m_prompt;
    NotificationFields m_hidden; // what this mode does not show
    QCheckBox* m_enable;
    QCheckBox* m_mail;
    QCheckBox* m_sound;
    QCheckBox* m_pager;
    QLineEdit* m_mailTo;
    QLineEdit* m_mailFrom = nullptr;
    QLineEdit* m_mailServer;
    QLineEdit* m_soundFile;
    QLineEdit* m_pagerSequence;
    QLineEdit* m_modem = nullptr;
    QPushButton* m_soundBrowse;
    QPushButton* m_modemBrowse = nullptr;
    QPushButton* m_play;
    QPushButton* m_sendTest;
    QPushButton* m_pagerTest;
    bool m_testRunning = false;
    NotificationTesterOptions m_testerOptions;
    std::unique_ptr<NotificationTester> m_tester;
};

} // namespace qm::ui
