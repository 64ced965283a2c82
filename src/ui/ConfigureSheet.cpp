#include "ui/ConfigureSheet.h"

#include "store/SettingsStore.h"
#include "ui/ConfigPageAuthentication.h"
#include "ui/ConfigPageDatabase.h"
#include "ui/ConfigPageFloat.h"
#include "ui/ConfigPageFrequency.h"
#include "ui/ConfigPageNotification.h"
#include "ui/ConfigPageXml.h"
#include "ui/HostPageSupport.h"
#include "ui/NotificationPageWidget.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qm::ui {

ConfigureSheet::ConfigureSheet(SettingsStore& store, QWidget* parent, OperatorPrompt* prompt)
    : QDialog(parent), m_store(store), m_prompt(prompt)
{
    setObjectName(QStringLiteral("configureSheet"));
    setWindowTitle(QStringLiteral("Configure"));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("configTabs"));
    m_tabs->setUsesScrollButtons(false); // all six tabs in view
    m_pages = {new ConfigPageAuthentication, new ConfigPageDatabase, new ConfigPageFloat,
               new ConfigPageNotification(prompt), new ConfigPageFrequency, new ConfigPageXml};
    for (ConfigPage* page : m_pages)
        m_tabs->addTab(page, page->windowTitle());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &ConfigureSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConfigureSheet::reject);
    connect(m_tabs, &QTabWidget::currentChanged, this, &ConfigureSheet::tabChanged);
    m_pages.front()->ensureLoaded(m_store); // the page the sheet opens on
}

void ConfigureSheet::setTesterOptions(const NotificationTesterOptions& options)
{
    if (auto* page = findChild<ConfigPageNotification*>())
        page->panel()->setTesterOptions(options);
}

bool ConfigureSheet::refuseToLeave(ConfigPage* page)
{
    const QString problem = page->problem();
    if (problem.isEmpty())
        return false;
    TellOperator(this, m_prompt, OperatorPrompt::Icon::Warning, problem);
    return true;
}

void ConfigureSheet::tabChanged(int index)
{
    if (m_returning || index < 0)
        return;
    if (refuseToLeave(m_pages[static_cast<std::size_t>(m_current)])) {
        m_returning = true;
        m_tabs->setCurrentIndex(m_current);
        m_returning = false;
        return;
    }
    m_current = index;
    m_pages[static_cast<std::size_t>(index)]->ensureLoaded(m_store);
}

void ConfigureSheet::accept()
{
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        if (m_pages[i]->loaded() && !m_pages[i]->problem().isEmpty()) {
            m_returning = true;
            m_tabs->setCurrentIndex(static_cast<int>(i));
            m_current = static_cast<int>(i);
            m_returning = false;
            refuseToLeave(m_pages[i]);
            return;
        }
    }
    for (ConfigPage* page : m_pages)
        if (page->loaded())
            page->save(m_store);
    QString error;
    if (!m_store.sync(&error))
        TellOperator(parentWidget(), m_prompt, OperatorPrompt::Icon::Stop, error);
    QDialog::accept();
}

} // namespace qm::ui
