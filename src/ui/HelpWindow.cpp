#include "ui/HelpWindow.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <utility>

namespace qm::ui {

namespace {

const QString kStartPage = QStringLiteral("Startup.html");
constexpr int kTargetRole = Qt::UserRole;
constexpr auto kPatternOptions =
    QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption;

QString ReadText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The text of an HTML snippet with its entities decoded and blanks collapsed.
QString PlainText(const QString& html)
{
    return QTextDocumentFragment::fromHtml(html).toPlainText().simplified();
}

QString TitleOf(const QString& html)
{
    static const QRegularExpression title(QStringLiteral("<title>(.*?)</title>"), kPatternOptions);
    return PlainText(title.match(html).captured(1));
}

QStringList KeywordsOf(const QString& html)
{
    static const QRegularExpression meta(
        QStringLiteral("<meta\\s+name=\"keywords\"\\s+content=\"([^\"]*)\""), kPatternOptions);
    QStringList keywords;
    for (const QString& part : meta.match(html).captured(1).split(QLatin1Char(','))) {
        const QString keyword = PlainText(part);
        if (!keyword.isEmpty())
            keywords << keyword;
    }
    return keywords;
}

// Headings that carry an anchor: <h2><a name="sorting">Sorting</a></h2>.
std::vector<std::pair<QString, QString>> AnchoredHeadings(const QString& html)
{
    static const QRegularExpression heading(
        QStringLiteral("<h[1-6][^>]*>\\s*<a\\s+name=\"([^\"]+)\"\\s*>(.*?)</a>"), kPatternOptions);
    std::vector<std::pair<QString, QString>> found; // anchor, heading text
    for (auto it = heading.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        const QString text = PlainText(match.captured(2));
        if (!text.isEmpty())
            found.emplace_back(match.captured(1), text);
    }
    return found;
}

bool IsExternal(const QString& target)
{
    return QUrl(target).scheme().size() > 1; // http:, mailto:, ...; not a page of the manual
}

QWidget* Column(QWidget* top, QWidget* list)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(top);
    layout->addWidget(list);
    return page;
}

} // namespace

QString HelpWindow::helpDirectory()
{
    QStringList candidates;
    const QString fromEnvironment = qEnvironmentVariable("QUILLMERE_HELP_DIR");
    if (!fromEnvironment.isEmpty())
        candidates << fromEnvironment;
    // <exe dir>/../share for an installed program, then the ancestors further
    // up: a build tree keeps its programs in subfolders (src/app, tests/ui).
    QDir dir(QCoreApplication::applicationDirPath());
    for (int up = 0; up < 4 && dir.cdUp(); ++up)
        candidates << dir.filePath(QStringLiteral("share/quillmere/help"));
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(QDir(candidate).filePath(kStartPage)))
            return QDir(candidate).absolutePath();
    return {};
}

HelpWindow::HelpWindow(const QString& directory, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_directory(directory.isEmpty() ? QString() : QDir(directory).absolutePath())
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Quillmere Help"));

    auto makeButton = [this](const char* name, const QString& text, QStyle::StandardPixmap icon) {
        auto* button = new QToolButton;
        button->setObjectName(QLatin1String(name));
        button->setText(text);
        button->setToolTip(text);
        button->setIcon(style()->standardIcon(icon));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        return button;
    };
    auto* back = makeButton("backButton", tr("Back"), QStyle::SP_ArrowBack);
    auto* forward = makeButton("forwardButton", tr("Forward"), QStyle::SP_ArrowForward);
    auto* home = makeButton("homeButton", tr("Home"), QStyle::SP_DirHomeIcon);
    back->setEnabled(false);
    forward->setEnabled(false);

    m_browser = new QTextBrowser;
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setOpenExternalLinks(true); // handed to QDesktopServices
    m_browser->setSearchPaths({m_directory});

    m_contents = new QTreeWidget;
    m_contents->setObjectName(QStringLiteral("contentsTree"));
    m_contents->setHeaderHidden(true);

    m_indexFilter = new QLineEdit;
    m_indexFilter->setObjectName(QStringLiteral("indexFilter"));
    m_indexFilter->setPlaceholderText(tr("Type a keyword"));
    m_indexFilter->setClearButtonEnabled(true);
    m_index = new QListWidget;
    m_index->setObjectName(QStringLiteral("indexList"));

    m_searchEdit = new QLineEdit;
    m_searchEdit->setObjectName(QStringLiteral("searchEdit"));
    m_searchEdit->setPlaceholderText(tr("Words to find"));
    m_searchEdit->setClearButtonEnabled(true);
    m_searchResults = new QListWidget;
    m_searchResults->setObjectName(QStringLiteral("searchResults"));

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("helpTabs"));
    m_tabs->addTab(m_contents, tr("Contents"));
    m_tabs->addTab(Column(m_indexFilter, m_index), tr("Index"));
    m_tabs->addTab(Column(m_searchEdit, m_searchResults), tr("Search"));

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({290, 710});

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addWidget(home);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
    resize(1000, 680);

    connect(back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(home, &QToolButton::clicked, this, [this] { open(kStartPage); });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::selectInContents);

    auto openItem = [this](QTreeWidgetItem* item) {
        if (item != nullptr)
            open(item->data(0, kTargetRole).toString());
    };
    connect(m_contents, &QTreeWidget::itemClicked, this, openItem);
    connect(m_contents, &QTreeWidget::itemActivated, this, openItem);
    auto openListItem = [this](QListWidgetItem* item) {
        if (item != nullptr)
            open(item->data(kTargetRole).toString());
    };
    connect(m_index, &QListWidget::itemClicked, this, openListItem);
    connect(m_index, &QListWidget::itemActivated, this, openListItem);
    connect(m_indexFilter, &QLineEdit::textChanged, this, &HelpWindow::filterIndex);
    connect(m_indexFilter, &QLineEdit::returnPressed, this, [this, openListItem] { openListItem(m_index->currentItem()); });
    connect(m_searchEdit, &QLineEdit::textChanged, this, &HelpWindow::runSearch);
    connect(m_searchEdit, &QLineEdit::returnPressed, this, [this] { openSearchResult(m_searchResults->item(0)); });
    connect(m_searchResults, &QListWidget::itemClicked, this, &HelpWindow::openSearchResult);
    connect(m_searchResults, &QListWidget::itemActivated, this, &HelpWindow::openSearchResult);

    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
}

HelpWindow::~HelpWindow() = default;

bool HelpWindow::isValid() const
{
    return !m_directory.isEmpty() && QFileInfo::exists(QDir(m_directory).filePath(kStartPage));
}

bool HelpWindow::showContents()
{
    if (!ensureLoaded())
        return false;
    m_tabs->setCurrentWidget(m_contents);
    open(kStartPage);
    return present();
}

void HelpWindow::showSearch()
{
    if (!present())
        return;
    m_tabs->setCurrentIndex(2);
    m_searchEdit->clear();
    m_searchEdit->setFocus();
}

void HelpWindow::showIndex()
{
    if (!present())
        return;
    m_tabs->setCurrentIndex(1);
    m_indexFilter->setFocus();
}

void HelpWindow::showTopic(const QString& page)
{
    if (!ensureLoaded())
        return;
    open(page);
    present();
}

bool HelpWindow::ensureLoaded()
{
    if (m_loaded)
        return true;
    if (!isValid())
        return false;
    m_loaded = true;

    // A few dozen small local files: read at once, on first show.
    const QDir dir(m_directory);
    std::vector<IndexEntry> entries;
    for (const QString& file : dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name)) {
        const QString html = ReadText(dir.filePath(file));
        Page page{file, TitleOf(html), {}};
        if (page.title.isEmpty())
            page.title = file;
        page.text = page.title + QLatin1Char('\n') + QTextDocumentFragment::fromHtml(html).toPlainText();
        for (const QString& keyword : KeywordsOf(html))
            entries.push_back({keyword, file, page.title});
        for (const auto& [anchor, heading] : AnchoredHeadings(html))
            entries.push_back({heading, file + QLatin1Char('#') + anchor, page.title});
        m_pages.push_back(std::move(page));
    }
    fillContents(ReadText(dir.filePath(kStartPage)));
    fillIndex(entries);
    return true;
}

QString HelpWindow::pageTitle(const QString& file) const
{
    const auto it = std::find_if(m_pages.begin(), m_pages.end(), [&](const Page& p) { return p.file == file; });
    return it != m_pages.end() ? it->title : file;
}

// The start page first, then the tree of the start page's contents list
// (<ul class="contents">, nested lists giving the levels), titled by the
// pages' own titles.
void HelpWindow::fillContents(const QString& startupHtml)
{
    m_contents->clear();
    auto* start = new QTreeWidgetItem(m_contents, {pageTitle(kStartPage)});
    start->setData(0, kTargetRole, kStartPage);

    static const QRegularExpression list(QStringLiteral("<ul\\s+class=\"contents\""), kPatternOptions);
    static const QRegularExpression token(QStringLiteral("<(/?)ul\\b[^>]*>|<a\\s+href=\"([^\"]+)\""),
                                          kPatternOptions);
    const qsizetype begin = startupHtml.indexOf(list);
    if (begin < 0)
        return;
    int depth = 0;
    std::vector<QTreeWidgetItem*> lastAt; // the last item of each level
    for (auto it = token.globalMatch(startupHtml, begin); it.hasNext();) {
        const auto match = it.next();
        if (match.capturedStart(2) < 0) {
            if (match.captured(1).isEmpty())
                ++depth;
            else if (--depth == 0)
                break;
            continue;
        }
        const QString target = match.captured(2);
        if (depth < 1 || IsExternal(target))
            continue;
        QTreeWidgetItem* parent =
            depth >= 2 && lastAt.size() >= static_cast<std::size_t>(depth - 1) ? lastAt[depth - 2] : nullptr;
        auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_contents);
        item->setText(0, pageTitle(target.section(QLatin1Char('#'), 0, 0)));
        item->setData(0, kTargetRole, target);
        lastAt.resize(static_cast<std::size_t>(depth));
        lastAt.back() = item;
    }
    m_contents->expandAll();
}

// Sorted by keyword; a keyword found on several pages names its page. A page
// that lists a keyword and also has it as an anchored heading keeps the
// heading, which leads further into the page.
void HelpWindow::fillIndex(const std::vector<IndexEntry>& entries)
{
    std::map<std::pair<QString, QString>, IndexEntry> unique; // (keyword, page) -> entry
    std::map<QString, int> pagesPerKeyword;
    for (const IndexEntry& entry : entries) {
        const QString key = entry.keyword.toCaseFolded();
        auto [it, added] = unique.try_emplace({key, entry.target.section(QLatin1Char('#'), 0, 0)}, entry);
        if (added)
            ++pagesPerKeyword[key];
        else if (entry.target.contains(QLatin1Char('#')))
            it->second = entry;
    }
    std::vector<IndexEntry> sorted;
    for (const auto& [key, entry] : unique)
        sorted.push_back(entry);
    std::sort(sorted.begin(), sorted.end(), [](const IndexEntry& a, const IndexEntry& b) {
        const int byKeyword = a.keyword.compare(b.keyword, Qt::CaseInsensitive);
        return byKeyword != 0 ? byKeyword < 0 : a.pageTitle < b.pageTitle;
    });

    m_index->clear();
    for (const IndexEntry& entry : sorted) {
        const bool shared = pagesPerKeyword[entry.keyword.toCaseFolded()] > 1;
        auto* item = new QListWidgetItem(shared ? QStringLiteral("%1 (%2)").arg(entry.keyword, entry.pageTitle)
                                                : entry.keyword,
                                         m_index);
        item->setData(kTargetRole, entry.target);
        item->setToolTip(entry.pageTitle);
    }
    filterIndex(m_indexFilter->text());
}

bool HelpWindow::present()
{
    if (!ensureLoaded())
        return false;
    if (m_browser->source().isEmpty())
        open(kStartPage);
    show();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    return true;
}

void HelpWindow::open(const QString& target)
{
    if (IsExternal(target)) {
        QDesktopServices::openUrl(QUrl(target));
        return;
    }
    const QDir dir(m_directory);
    QString file = target.section(QLatin1Char('#'), 0, 0);
    QString anchor = target.section(QLatin1Char('#'), 1);
    if (file.isEmpty() || !QFileInfo::exists(dir.filePath(file))) {
        file = kStartPage;
        anchor.clear();
    }
    QUrl url = QUrl::fromLocalFile(dir.filePath(file));
    if (!anchor.isEmpty())
        url.setFragment(anchor);
    m_browser->setSource(url);
}

void HelpWindow::runSearch(const QString& query)
{
    m_searchResults->clear();
    const QStringList words = query.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    std::vector<const Page*> hits;
    for (const Page& page : m_pages)
        if (std::all_of(words.begin(), words.end(),
                        [&](const QString& word) { return page.text.contains(word, Qt::CaseInsensitive); }))
            hits.push_back(&page);
    std::sort(hits.begin(), hits.end(),
              [](const Page* a, const Page* b) { return a->title.localeAwareCompare(b->title) < 0; });
    for (const Page* page : hits) {
        auto* item = new QListWidgetItem(page->title, m_searchResults);
        item->setData(kTargetRole, page->file);
    }
}

// Opens the page and selects the first place where a word of the query occurs.
void HelpWindow::openSearchResult(QListWidgetItem* item)
{
    if (item == nullptr)
        return;
    open(item->data(kTargetRole).toString());
    for (const QString& word : m_searchEdit->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        const QTextCursor found = m_browser->document()->find(word);
        if (!found.isNull()) {
            m_browser->setTextCursor(found);
            m_browser->ensureCursorVisible();
            return;
        }
    }
}

void HelpWindow::filterIndex(const QString& filter)
{
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < m_index->count(); ++i) {
        QListWidgetItem* item = m_index->item(i);
        const bool shown = item->text().contains(filter.trimmed(), Qt::CaseInsensitive);
        item->setHidden(!shown);
        if (shown && first == nullptr)
            first = item;
    }
    m_index->setCurrentItem(first);
}

void HelpWindow::selectInContents(const QUrl& source)
{
    const QString file = QFileInfo(source.toLocalFile()).fileName();
    QTreeWidgetItem* match = nullptr;
    for (QTreeWidgetItemIterator it(m_contents); *it != nullptr && match == nullptr; ++it)
        if ((*it)->data(0, kTargetRole).toString().section(QLatin1Char('#'), 0, 0) == file)
            match = *it;
    const QSignalBlocker blocker(m_contents);
    if (match != nullptr)
        m_contents->setCurrentItem(match);
    else
        m_contents->clearSelection();
}

} // namespace qm::ui
