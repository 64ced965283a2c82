#include "store/FtpUploader.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace qm {

namespace {

bool HasBlankOrControl(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

bool ValidHostName(const QString& host, bool bracketed)
{
    if (host.isEmpty())
        return false;
    for (const QChar c : host) {
        const bool ok = c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_' ||
                        (bracketed && (c == u':' || c == u'%'));
        if (!ok)
            return false;
    }
    return true;
}

// What the server said so far, to tell which step an error ended.
struct Session
{
    const QByteArray* data = nullptr;
    qsizetype offset = 0;
    const std::atomic<bool>* cancel = nullptr;
    QByteArray lastCommand;
    int lastFailure = 0; // the last reply of 400 or more (a QUIT may follow it)
    bool loggedIn = false;
    bool changedDirectory = false;
    bool directoryRead = false;
    QString remoteDirectory;
};

size_t ReadData(char* buffer, size_t size, size_t count, void* user)
{
    auto* s = static_cast<Session*>(user);
    const qsizetype left = s->data->size() - s->offset;
    const qsizetype n = std::min<qsizetype>(left, static_cast<qsizetype>(size * count));
    std::memcpy(buffer, s->data->constData() + s->offset, static_cast<size_t>(n));
    s->offset += n;
    return static_cast<size_t>(n);
}

int Trace(CURL*, curl_infotype type, char* text, size_t size, void* user)
{
    auto* s = static_cast<Session*>(user);
    const QByteArray line(text, static_cast<qsizetype>(size));
    if (type == CURLINFO_HEADER_OUT) {
        const qsizetype end = line.indexOf(' ') >= 0 ? line.indexOf(' ') : line.indexOf('\r');
        s->lastCommand = line.left(end).toUpper();
        return 0;
    }
    if (type != CURLINFO_HEADER_IN || line.size() < 4 || line[3] != ' ')
        return 0; // only the last line of a reply carries "NNN "
    bool numeric = false;
    const int code = line.left(3).toInt(&numeric);
    if (!numeric)
        return 0;
    if (code >= 400)
        s->lastFailure = code;
    if (code == 230)
        s->loggedIn = true;
    else if (s->lastCommand == "CWD" && code / 100 == 2)
        s->changedDirectory = true;
    else if (s->lastCommand == "PWD" && s->changedDirectory && code == 257) {
        s->directoryRead = true;
        const qsizetype open = line.indexOf('"');
        const qsizetype close = line.lastIndexOf('"');
        if (open >= 0 && close > open)
            s->remoteDirectory = QString::fromUtf8(line.mid(open + 1, close - open - 1));
    }
    return 0;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* s = static_cast<Session*>(user);
    return s->cancel && s->cancel->load() ? 1 : 0;
}

struct CurlList
{
    curl_slist* list = nullptr;
    ~CurlList() { curl_slist_free_all(list); }
    void append(const QByteArray& item) { list = curl_slist_append(list, item.constData()); }
};

} // namespace

void FtpUploader::GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::optional<FtpUploader::Url> FtpUploader::ParseUrl(const QString& text)
{
    static const QString kScheme = QStringLiteral("ftp://");
    if (!text.startsWith(kScheme, Qt::CaseInsensitive) || HasBlankOrControl(text))
        return std::nullopt;
    const QString rest = text.mid(kScheme.size());
    const qsizetype slash = rest.indexOf(u'/');
    const QString authority = slash < 0 ? rest : rest.left(slash);

    Url url;
    QString portText;
    bool bracketed = false;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        url.server = authority.mid(1, close - 1);
        bracketed = true;
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':'))
                return std::nullopt;
            portText = after.mid(1);
            if (portText.isEmpty())
                return std::nullopt;
        }
    } else {
        if (authority.count(u':') > 1)
            return std::nullopt;
        const qsizetype colon = authority.indexOf(u':');
        url.server = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0) {
            portText = authority.mid(colon + 1);
            if (portText.isEmpty())
                return std::nullopt;
        }
    }
    if (!ValidHostName(url.server, bracketed))
        return std::nullopt;
    if (!portText.isEmpty()) {
        for (const QChar c : portText)
            if (!c.isDigit())
                return std::nullopt;
        bool ok = false;
        url.port = portText.toInt(&ok);
        if (!ok || url.port < 1 || url.port > 65535)
            return std::nullopt;
    }

    const QString rawPath = slash < 0 ? QStringLiteral("/") : rest.mid(slash);
    url.path = QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath.toUtf8()));
    for (const QChar c : url.path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return std::nullopt; // would end the FTP command early
    return url;
}

FtpUploader::Outcome FtpUploader::Upload(const Target& target, const QString& remoteName,
                                         const QByteArray& data, const std::atomic<bool>* cancel)
{
    Outcome outcome;
    const std::optional<Url> url = ParseUrl(target.url);
    if (!url) {
        outcome.message = QStringLiteral("FTP ERROR: AfxParseURL(%1)").arg(target.url);
        return outcome;
    }

    GlobalInit();
    CURL* curl = curl_easy_init();
    if (!curl) {
        outcome.message =
            QStringLiteral("FTP ERROR: Connecting to %1 -> cannot start the FTP client")
                .arg(url->server);
        return outcome;
    }

    // The bytes go to a temporary name first and replace the document by a
    // rename only once they are all there: a transfer cut short leaves the
    // previous document whole.
    const QByteArray partName = (remoteName + QLatin1String(kPartSuffix)).toUtf8();
    const QString host = url->server.contains(u':') ? u'[' + url->server + u']' : url->server;
    const QByteArray address = "ftp://" + host.toUtf8() + ':' + QByteArray::number(url->port) +
                               '/' + partName.toPercentEncoding();
    const QByteArray user =
        (target.user.isEmpty() ? QStringLiteral("anonymous") : target.user).toUtf8();
    const QByteArray password = target.password.toUtf8();
    const QByteArray activeAddress =
        (target.activeAddress.isEmpty() ? QStringLiteral("-") : target.activeAddress).toUtf8();

    // Change to the folder and read it back before the file is stored; the
    // file then goes to the current directory by its bare name.
    CurlList commands;
    commands.append("CWD " + url->path.toUtf8());
    commands.append("PWD");
    CurlList rename;
    rename.append("RNFR " + partName);
    rename.append("RNTO " + remoteName.toUtf8());

    Session session;
    session.data = &data;
    session.cancel = cancel;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(curl, CURLOPT_FTPPORT, activeAddress.constData());
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(curl, CURLOPT_QUOTE, commands.list);
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, rename.list);
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 1L);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadData);
    curl_easy_setopt(curl, CURLOPT_READDATA, &session);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L); // feeds the trace callback only
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Trace);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &session);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &session);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kReplyTimeoutS);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, kAcceptTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedTimeS);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTotalTimeoutMs);

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);

    outcome.remoteDirectory = session.remoteDirectory;
    if (result == CURLE_OK) {
        outcome.ok = true;
        return outcome;
    }
    const QString description =
        QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(result)).left(1024);
    if (!session.loggedIn)
        outcome.message =
            QStringLiteral("FTP ERROR: Connecting to %1 -> %2").arg(url->server, description);
    else if (!session.directoryRead)
        outcome.message =
            QStringLiteral("GetCurrentDirectory failed %1")
                .arg(session.lastFailure ? session.lastFailure : static_cast<int>(result));
    else // the server's refusal, or the transfer library's error when the server said nothing wrong
        outcome.message =
            QStringLiteral("m_pFTPConnection->PutFile failed %1")
                .arg(session.lastFailure ? session.lastFailure : static_cast<int>(result));
    return outcome;
}

} // namespace qm
