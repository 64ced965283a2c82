#include "ui/ConfigPage.h"

namespace qm::ui {

ConfigPage::ConfigPage(const QString& objectName, const QString& title, QWidget* parent) : QWidget(parent)
{
    setObjectName(objectName);
    setWindowTitle(title);
}

void ConfigPage::ensureLoaded(const SettingsStore& store)
{
    if (m_loaded)
        return;
    load(store);
    m_loaded = true;
}

} // namespace qm::ui
