#include "ui/HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

using qm::ui::HelpWindow;

namespace {

// The pages in the source tree are the files the build copies.
const QString kPages = QStringLiteral(QUILLMERE_SOURCE_DIR "/help");

// Link targets and anchor names of a page, as Qt's own HTML reader sees them.
struct PageAnchors
{
    QStringList hrefs;
    QSet<QString> names;
};

PageAnchors ReadAnchors(const QString& file)
{
    QFile f(QDir(kPages).filePath(file));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(f.readAll()));
    PageAnchors anchors;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.anchorHref().isEmpty())
                anchors.hrefs << format.anchorHref();
            for (const QString& name : format.anchorNames())
                anchors.names.insert(name);
        }
    return anchors;
}

QStringList VisibleTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        if (!list->item(i)->isHidden())
            texts << list->item(i)->text();
    return texts;
}

QString ShownFile(const HelpWindow& window)
{
    return QFileInfo(window.findChild<QTextBrowser*>(QStringLiteral("helpBrowser"))->source().toLocalFile()).fileName();
}

} // namespace

// The help directory is found beside the build, or where the variable says,
// unless it has no start page; the contents list every page, and every link
// of every page leads to an existing page and anchor.
TEST(HelpWindowTest, FindsTheManualAndEveryPageAndLinkResolves)
{
    const QByteArray saved = qgetenv("QUILLMERE_HELP_DIR");
    const auto restore = qScopeGuard([&] {
        saved.isEmpty() ? qunsetenv("QUILLMERE_HELP_DIR") : qputenv("QUILLMERE_HELP_DIR", saved);
    });
    // A folder without Startup.html is passed over, and cannot be shown.
    QTemporaryDir other;
    QFile page(other.filePath(QStringLiteral("Other.html")));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html><head><title>Other</title></head><body>x</body></html>");
    page.close();
    HelpWindow invalid(other.path());
    EXPECT_FALSE(invalid.isValid());
    EXPECT_FALSE(invalid.showContents());
    invalid.showSearch();
    EXPECT_FALSE(invalid.isVisible());
    EXPECT_FALSE(HelpWindow(QString()).showContents());
    qputenv("QUILLMERE_HELP_DIR", other.path().toUtf8());
    const QString built = HelpWindow::helpDirectory();
    EXPECT_TRUE(built.endsWith(QStringLiteral("share/quillmere/help"))) << built.toStdString();
    EXPECT_TRUE(QFileInfo::exists(built + QStringLiteral("/Startup.html")));
    qputenv("QUILLMERE_HELP_DIR", kPages.toUtf8());
    EXPECT_EQ(QDir(HelpWindow::helpDirectory()).canonicalPath(), QDir(kPages).canonicalPath());

    HelpWindow window(kPages);
    ASSERT_TRUE(window.showContents());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quillmere Help"));
    EXPECT_EQ(ShownFile(window), QStringLiteral("Startup.html"));

    const QStringList files = QDir(kPages).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 15);
    QSet<QString> listed;
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("contentsTree"));
    ASSERT_NE(tree, nullptr);
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        const QString target = (*it)->data(0, Qt::UserRole).toString();
        listed.insert(target.section(QLatin1Char('#'), 0, 0));
        EXPECT_FALSE((*it)->text(0).endsWith(QStringLiteral(".html"))) << target.toStdString() << " has no <title>";
    }
    QStringList unlisted;
    for (const QString& file : files)
        if (!listed.contains(file))
            unlisted << file;
    EXPECT_TRUE(unlisted.isEmpty()) << "not in the contents: " << unlisted.join(QStringLiteral(", ")).toStdString();

    std::map<QString, PageAnchors> pages;
    for (const QString& file : files)
        pages[file] = ReadAnchors(file);
    QStringList broken;
    int links = 0;
    for (const auto& [file, anchors] : pages)
        for (const QString& href : anchors.hrefs) {
            ++links;
            if (!QUrl(href).scheme().isEmpty())
                continue; // external
            const QString target = href.section(QLatin1Char('#'), 0, 0).isEmpty() ? file : href.section(QLatin1Char('#'), 0, 0);
            const QString anchor = href.section(QLatin1Char('#'), 1);
            const auto page = pages.find(target);
            if (page == pages.end() || (!anchor.isEmpty() && !page->second.names.contains(anchor)))
                broken << file + QStringLiteral(" -> ") + href;
        }
    EXPECT_GT(links, 2 * files.size());
    EXPECT_TRUE(broken.isEmpty()) << broken.join(QStringLiteral(", ")).toStdString();

    window.showTopic(QStringLiteral("HostList.html#sorting"));
    EXPECT_EQ(ShownFile(window), QStringLiteral("HostList.html"));
    EXPECT_EQ(tree->currentItem()->data(0, Qt::UserRole).toString(), QStringLiteral("HostList.html"));
}

TEST(HelpWindowTest, SearchNeedsEveryWordAndIndexFilterNarrows)
{
    HelpWindow window(kPages);
    window.showSearch();
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("helpTabs"));
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("searchEdit"));
    auto* results = window.findChild<QListWidget*>(QStringLiteral("searchResults"));
    ASSERT_TRUE(tabs && edit && results);
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), QStringLiteral("Search"));
    EXPECT_TRUE(edit->text().isEmpty());

    edit->setText(QStringLiteral("preauth")); // "PREAUTH" on the mail page only
    ASSERT_EQ(VisibleTexts(results), QStringList{QStringLiteral("POP3, IMAP4, SMTP and ESMTP")});
    Q_EMIT results->itemActivated(results->item(0));
    EXPECT_EQ(ShownFile(window), QStringLiteral("ProtocolMail.html"));
    EXPECT_EQ(window.findChild<QTextBrowser*>(QStringLiteral("helpBrowser"))->textCursor().selectedText().toLower(),
              QStringLiteral("preauth"));
    edit->setText(QStringLiteral("PREAUTH modem")); // both words on no page
    EXPECT_EQ(results->count(), 0);
    edit->setText(QStringLiteral("modem dialout"));
    EXPECT_TRUE(VisibleTexts(results).contains(QStringLiteral("Notifications: Sound, Mail and Pager")));
    edit->setText(QStringLiteral("qzxwvuts"));
    EXPECT_EQ(results->count(), 0);

    window.showIndex();
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), QStringLiteral("Index"));
    auto* index = window.findChild<QListWidget*>(QStringLiteral("indexList"));
    auto* filter = window.findChild<QLineEdit*>(QStringLiteral("indexFilter"));
    ASSERT_TRUE(index && filter);
    const int all = VisibleTexts(index).size();
    filter->setText(QStringLiteral("TRACE"));
    const QStringList narrowed = VisibleTexts(index);
    EXPECT_GT(narrowed.size(), 0);
    EXPECT_LT(narrowed.size(), all);
    for (const QString& text : narrowed)
        EXPECT_TRUE(text.contains(QStringLiteral("trace"), Qt::CaseInsensitive)) << text.toStdString();
    Q_EMIT index->itemActivated(index->currentItem());
    EXPECT_EQ(ShownFile(window), index->currentItem()->data(Qt::UserRole).toString().section(QLatin1Char('#'), 0, 0));
}
