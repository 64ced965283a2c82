#include "store/StatusExporter.h"

#include "platform/OperatorPrompt.h"
#include "store/SettingsStore.h"

#include <QDir>
#include <QSaveFile>

namespace qm {

namespace {
const QString kSection = QStringLiteral("ConfigXML");
} // namespace

StatusExporter::StatusExporter(OperatorPrompt& prompt)
    : m_prompt(prompt), m_uploads([this](const QString& name, const FtpUploader::Outcome& outcome) {
          uploadFinished(name, outcome);
      })
{
}

bool StatusExporter::WriteFileAtomically(const QString& path, const QByteArray& bytes,
                                         QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error =
                QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

StatusExporter::Result StatusExporter::exportDocument(SettingsStore& settings,
                                                      const QString& fileName,
                                                      const std::function<QByteArray()>& build)
{
    if (settings.readInt(kSection, QStringLiteral("ENABLE"), 0) == 0)
        return Result::Disabled;
    const QByteArray document = build();

    QString error;
    if (settings.readInt(kSection, QStringLiteral("LOCAL_RADIO"), 0) == 1) {
        const QString folder = settings.readString(kSection, QStringLiteral("LOCAL_FOLDER"));
        if (!WriteFileAtomically(QDir(folder).filePath(fileName), document, &error)) {
            m_prompt.inform(OperatorPrompt::Icon::Plain, error.toStdString());
            return Result::FileError;
        }
    }
    if (settings.readInt(kSection, QStringLiteral("FTP_RADIO"), 0) == 1) {
        // The staging copy shows what was last sent; the upload itself takes
        // the bytes captured here, so a later export cannot change them.
        if (!WriteFileAtomically(QDir::current().filePath(fileName), document, &error)) {
            m_prompt.inform(OperatorPrompt::Icon::Plain, error.toStdString());
            return Result::FileError;
        }
        FtpUploadQueue::Job job;
        job.target.url =
            settings.readString(kSection, QStringLiteral("FTP_URL"), QStringLiteral("ftp://"));
        job.target.user = settings.readString(kSection, QStringLiteral("FTP_USERID"),
                                              QStringLiteral("anonymous"));
        job.target.password = settings.readString(kSection, QStringLiteral("FTP_PASSWORD"));
        job.remoteName = fileName;
        job.data = document;
        m_uploads.submit(std::move(job));
    }
    return Result::Written;
}

void StatusExporter::uploadFinished(const QString& remoteName, const FtpUploader::Outcome& outcome)
{
    if (!outcome.ok)
        m_prompt.inform(OperatorPrompt::Icon::Plain, outcome.message.toStdString());
    if (m_observer)
        m_observer(remoteName, outcome);
}

} // namespace qm
