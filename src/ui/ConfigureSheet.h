#pragma once

#include "platform/OperatorPrompt.h"

#include <QDialog>

#include <vector>

class QTabWidget;

namespace qm {
class SettingsStore;
struct NotificationTesterOptions;
}

namespace qm::ui {

class ConfigPage;

// The "Configure" sheet: six pages of program-wide settings. Each page loads
// its section when it is first shown; OK writes the sections of the pages
// that were shown, Cancel nothing. A page whose integer field holds anything
// but digits cannot be left, nor the sheet closed with OK. Messages go to
// `prompt` when one is given, else to message boxes over the sheet.
class ConfigureSheet : public QDialog
{
    Q_OBJECT
public:
    ConfigureSheet(SettingsStore& store, QWidget* parent = nullptr, OperatorPrompt* prompt = nullptr);

    // For the test buttons of Notification Defaults (tests point the mail elsewhere).
    void setTesterOptions(const NotificationTesterOptions& options);

    void accept() override;

private:
    void tabChanged(int index);
    bool refuseToLeave(ConfigPage* page);

    SettingsStore& m_store;
    OperatorPrompt* m_prompt;
    QTabWidget* m_tabs;
    std::vector<ConfigPage*> m_pages;
    int m_current = 0;
    bool m_returning = false;
};

} // namespace qm::ui
