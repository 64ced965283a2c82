#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <optional>

namespace qm {

// Uploads one document to an FTP folder: log in, change to the folder, read
// the current directory back, store the bytes in ASCII mode under the name
// with kPartSuffix, then rename that file to the name (RNFR, RNTO), so the
// folder never holds half a document under its own name. Blocking, so it
// runs on a worker thread; every network wait is bounded.
class FtpUploader
{
public:
    // Bounds of the network waits.
    static constexpr long kConnectTimeoutMs = 10000; // TCP connect of the control connection
    static constexpr long kReplyTimeoutS = 15;       // each server reply
    static constexpr long kAcceptTimeoutMs = 10000;  // the server's data connection in active mode
    static constexpr long kLowSpeedTimeS = 15;       // a transfer stalled this long fails
    static constexpr long kTotalTimeoutMs = 120000;  // the whole upload

    // Appended to the document's name while its bytes are on the way.
    static constexpr const char* kPartSuffix = ".part";

    struct Url
    {
        QString server; // host name or address (IPv6 without brackets)
        int port = 21;
        QString path; // folder, "/" when the URL names none
    };

    struct Target
    {
        QString url;  // "ftp://server[:port]/path"
        QString user; // "anonymous" when empty
        QString password;
        // The address the data connection is offered on in active mode: "-"
        // for the local address of the control connection.
        QString activeAddress = QStringLiteral("-");
    };

    struct Outcome
    {
        bool ok = false;
        QString message;         // the operator's text when !ok
        QString remoteDirectory; // the folder the server reported after the change
    };

    // "ftp://server[:port]/path" (scheme in any case). Nothing when the text
    // is not such a URL: another scheme, no server, a bad port, blanks or
    // control characters. Percent escapes in the path are decoded.
    static std::optional<Url> ParseUrl(const QString& text);

    // Uploads `data` as `remoteName` into the folder of the target's URL.
    // Failures give "FTP ERROR: AfxParseURL(%s)", "FTP ERROR: Connecting to %s
    // -> %s", "GetCurrentDirectory failed %d" (the server's reply code) or
    // "m_pFTPConnection->PutFile failed %d". A set `cancel` flag ends the
    // upload early.
    static Outcome Upload(const Target& target, const QString& remoteName, const QByteArray& data,
                          const std::atomic<bool>* cancel = nullptr);

    // Initialises the transfer library; call once on the main thread before
    // any worker uploads (repeated calls do nothing).
    static void GlobalInit();
};

} // namespace qm
