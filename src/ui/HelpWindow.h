#pragma once

#include <QString>
#include <QWidget>

#include <vector>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace qm::ui {

// The program's manual: a top-level window with the page on the right and,
// on the left, the tabs Contents (the tree that Startup.html's contents list
// describes), Index (meta keywords and anchored headings of every page) and
// Search (pages holding all the words typed). The pages are read from disk
// the first time the window is shown.
class HelpWindow : public QWidget
{
    Q_OBJECT

public:
    // Where the pages are: $QUILLMERE_HELP_DIR if set, else <exe dir>/../share/quillmere/help,
    // else the build tree's share/quillmere/help (found relative to the executable). Empty if none has Startup.html.
    static QString helpDirectory();

    explicit HelpWindow(const QString& directory, QWidget* parent = nullptr);
    ~HelpWindow() override;

    bool isValid() const; // the directory holds Startup.html
    QString directory() const { return m_directory; }

    // Shows the window with the contents tab and Startup.html; false when it cannot be shown.
    bool showContents();
    // The Search tab with an empty query, focus in the box.
    void showSearch();
    // The Index tab.
    void showIndex();
    // A page of the manual, e.g. "LogViewer.html" or "HostList.html#sorting".
    void showTopic(const QString& page);

private:
    struct Page
    {
        QString file;  // "LogViewer.html"
        QString title; // its <title>
        QString text;  // title and body as plain text, for the search
    };
    struct IndexEntry
    {
        QString keyword;
        QString target; // "Page.html" or "Page.html#anchor"
        QString pageTitle;
    };

    // Reads the pages once; false when the directory has no Startup.html.
    bool ensureLoaded();
    void fillContents(const QString& startupHtml);
    void fillIndex(const std::vector<IndexEntry>& entries);
    // Raises the window and loads a page when none is shown yet.
    bool present();
    void open(const QString& target);
    void openSearchResult(QListWidgetItem* item);
    void runSearch(const QString& query);
    void filterIndex(const QString& filter);
    void selectInContents(const QUrl& source);
    QString pageTitle(const QString& file) const;

    QString m_directory;
    bool m_loaded = false;
    std::vector<Page> m_pages;

    QTextBrowser* m_browser = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTreeWidget* m_contents = nullptr;
    QLineEdit* m_indexFilter = nullptr;
    QListWidget* m_index = nullptr;
    QLineEdit* m_searchEdit = nullptr;
    QListWidget* m_searchResults = nullptr;
};

} // namespace qm::ui
