#pragma once

#include "store/FtpUploadQueue.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace qm {

class OperatorPrompt;
class SettingsStore;

// Publishes one status document as the "ConfigXML" settings say: into the
// local folder, and/or by FTP through a staging file in the current
// directory. Files are replaced whole (written beside and renamed), so a web
// server never reads half a document. Uploads run on the queue's worker; the
// operator hears of every failure through plain message boxes.
class StatusExporter
{
public:
    enum class Result
    {
        Disabled,  // "ENABLE" is 0: nothing was built or written
        Written,   // every chosen destination was written or handed to the uploader
        FileError, // a file could not be written (shown); this document went no further
    };
    using UploadObserver =
        std::function<void(const QString& remoteName, const FtpUploader::Outcome& outcome)>;

    explicit StatusExporter(OperatorPrompt& prompt);

    // The export of one document ("server.xml" or "message.xml"); `build`
    // makes its bytes and runs only when the export is enabled.
    Result exportDocument(SettingsStore& settings, const QString& fileName,
                          const std::function<QByteArray()>& build);

    // Called on the main thread after each upload, once a failure has been
    // shown.
    void setUploadObserver(UploadObserver observer) { m_observer = std::move(observer); }
    bool uploadsBusy() const { return m_uploads.busy(); }

    // Replaces `path` with `bytes` through a temporary file and a rename.
    static bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

private:
    void uploadFinished(const QString& remoteName, const FtpUploader::Outcome& outcome);

    OperatorPrompt& m_prompt;
    UploadObserver m_observer;
    FtpUploadQueue m_uploads; // last: its worker stops before the rest goes
};

} // namespace qm
