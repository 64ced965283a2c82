// FTP upload of the status documents to a real FTP server (pyftpdlib) on
// loopback, in active mode with a user and password.

#include "StoreTestSupport.h"

#include "store/FtpUploader.h"
#include "store/SettingsStore.h"
#include "store/StatusExporter.h"
#include "support/ServerProcess.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Users: "monitor" may write, "reader" may only look. DEBUG logging shows
// every command the client sends.
constexpr const char* kServerScript = R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.DEBUG)
port, root = int(sys.argv[1]), sys.argv[2]
users = DummyAuthorizer()
users.add_user("monitor", "pa ss:w@rd", root, perm="elradfmw")
users.add_user("reader", "look", root, perm="elr")
FTPHandler.authorizer = users
FTPServer(("127.0.0.1", port), FTPHandler).serve_forever()
)";

class FtpUploadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(RequireProgram(kPython, "python3"), "");
        QProcess probe;
        probe.start(kPython, {"-c", "import pyftpdlib"});
        ASSERT_TRUE(probe.waitForFinished(20000));
        ASSERT_EQ(probe.exitCode(), 0)
            << "the Python module pyftpdlib is missing: install the Debian package "
               "python3-pyftpdlib (scripts/install-deps.sh does)";

        m_root = m_cwd.path() + "/ftproot";
        ASSERT_TRUE(QDir().mkpath(m_root + "/status"));
        const std::string script = (m_cwd.path() + "/ftpd.py").toStdString();
        WriteFile(script, kServerScript);
        m_port = FreeLoopbackPort();
        ASSERT_TRUE(m_server.start({kPython, script, std::to_string(m_port), m_root.toStdString()},
                                   (m_cwd.path() + "/ftpd.log").toStdString()));
        ASSERT_TRUE(WaitForTcpPort(m_port, std::chrono::seconds(20))) << m_server.log();

        m_settings.writeInt("ConfigXML", "ENABLE", 1);
        m_settings.writeInt("ConfigXML", "FTP_RADIO", 1);
        m_settings.writeString("ConfigXML", "FTP_URL", url("/status"));
        m_settings.writeString("ConfigXML", "FTP_USERID", "monitor");
        m_settings.writeString("ConfigXML", "FTP_PASSWORD", "pa ss:w@rd");
        m_exporter.setUploadObserver(
            [this](const QString& name, const FtpUploader::Outcome& outcome) {
                m_finished.push_back({name, outcome});
            });
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("ftp://127.0.0.1:%1%2").arg(m_port).arg(path);
    }

    // Exports one document and waits for its upload to finish.
    FtpUploader::Outcome exportAndWait(const QString& name, const QByteArray& bytes)
    {
        const std::size_t before = m_finished.size();
        EXPECT_EQ(m_exporter.exportDocument(m_settings, name, [&] { return bytes; }),
                  StatusExporter::Result::Written);
        EXPECT_TRUE(
            PumpUntil([&] { return m_finished.size() > before; }, std::chrono::seconds(60)));
        return m_finished.empty() ? FtpUploader::Outcome{} : m_finished.back().second;
    }

    // One failure, one plain message box with the text; then the next export
    // uploads again.
    void expectFailureThenRecovery(const QString& expectedStart)
    {
        const FtpUploader::Outcome failed =
            exportAndWait("server.xml", "<sessions>\n</sessions>\n");
        EXPECT_FALSE(failed.ok);
        ASSERT_EQ(m_prompt.messages.size(), 1u) << m_prompt.all();
        EXPECT_EQ(m_prompt.messages[0].icon, OperatorPrompt::Icon::Plain);
        EXPECT_TRUE(QString::fromStdString(m_prompt.messages[0].text).startsWith(expectedStart))
            << m_prompt.all();

        m_settings.writeString("ConfigXML", "FTP_URL", url("/status"));
        m_settings.writeString("ConfigXML", "FTP_USERID", "monitor");
        m_settings.writeString("ConfigXML", "FTP_PASSWORD", "pa ss:w@rd");
        const QByteArray fresh = "<sessions>\n\t<session>\n\t</session>\n</sessions>\n";
        EXPECT_TRUE(exportAndWait("server.xml", fresh).ok) << m_prompt.all();
        EXPECT_EQ(ReadBytes(m_root + "/status/server.xml"), fresh);
        EXPECT_EQ(m_prompt.messages.size(), 1u) << m_prompt.all();
    }

    ScopedCurrentDir m_cwd;
    QString m_root;
    int m_port = 0;
    ServerProcess m_server;
    SettingsStore m_settings{m_cwd.path() + "/settings.ini"};
    RecordingPrompt m_prompt;
    std::vector<std::pair<QString, FtpUploader::Outcome>> m_finished;
    StatusExporter m_exporter{m_prompt};
};

TEST_F(FtpUploadTest, UploadsBothDocumentsByteIdenticalInActiveAsciiMode)
{
    const QByteArray server =
        QString::fromUtf8("<sessions>\n\t<session>\n\t    <image>images/Error_03.gif</image>\n"
                          "\t\t<host>caf&eacute; \u20ac</host>\n\t</session>\n</sessions>\n")
            .toUtf8();
    const QByteArray message = "<messages>\n</messages>\n";

    const FtpUploader::Outcome first = exportAndWait("server.xml", server);
    ASSERT_TRUE(first.ok) << first.message.toStdString() << "\n" << m_server.log();
    EXPECT_EQ(first.remoteDirectory, "/status");
    ASSERT_TRUE(exportAndWait("message.xml", message).ok) << m_prompt.all();

    EXPECT_EQ(ReadBytes(m_root + "/status/server.xml"), server);
    EXPECT_EQ(ReadBytes(m_root + "/status/message.xml"), message);
    // The staging copies in the current directory hold the same bytes.
    EXPECT_EQ(ReadBytes(m_cwd.path() + "/server.xml"), server);
    EXPECT_EQ(ReadBytes(m_cwd.path() + "/message.xml"), message);
    EXPECT_FALSE(QFile::exists(m_root + "/server.xml"));
    EXPECT_TRUE(m_prompt.messages.empty()) << m_prompt.all();

    const std::string log = m_server.log();
    EXPECT_TRUE(log.find("<- EPRT") != std::string::npos ||
                log.find("<- PORT") != std::string::npos)
        << log;
    EXPECT_EQ(log.find("<- PASV"), std::string::npos) << log;
    EXPECT_EQ(log.find("<- EPSV"), std::string::npos) << log;
    EXPECT_NE(log.find("<- TYPE A"), std::string::npos) << log;
    EXPECT_NE(log.find("<- CWD /status"), std::string::npos) << log;
}

TEST_F(FtpUploadTest, UnparsableUrl)
{
    m_settings.writeString("ConfigXML", "FTP_URL", "ftp//127.0.0.1/status");
    expectFailureThenRecovery("FTP ERROR: AfxParseURL(ftp//127.0.0.1/status)");
}

TEST_F(FtpUploadTest, RefusedConnection)
{
    m_settings.writeString("ConfigXML", "FTP_URL",
                           QStringLiteral("ftp://127.0.0.1:%1/status").arg(FreeLoopbackPort()));
    expectFailureThenRecovery("FTP ERROR: Connecting to 127.0.0.1 -> ");
}

TEST_F(FtpUploadTest, WrongPassword)
{
    m_settings.writeString("ConfigXML", "FTP_PASSWORD", "guess");
    expectFailureThenRecovery("FTP ERROR: Connecting to 127.0.0.1 -> ");
    EXPECT_NE(m_prompt.messages[0].text.find("530"), std::string::npos) << m_prompt.all();
}

TEST_F(FtpUploadTest, MissingRemoteFolder)
{
    m_settings.writeString("ConfigXML", "FTP_URL", url("/no-such-folder"));
    expectFailureThenRecovery("GetCurrentDirectory failed 550");
    EXPECT_FALSE(QFile::exists(m_root + "/server.xml"))
        << "nothing lands outside the chosen folder";
}

TEST_F(FtpUploadTest, RefusedStore)
{
    m_settings.writeString("ConfigXML", "FTP_USERID", "reader");
    m_settings.writeString("ConfigXML", "FTP_PASSWORD", "look");
    expectFailureThenRecovery("m_pFTPConnection->PutFile failed 550");
}

TEST(FtpUrlTest, ParsesServerPortAndFolder)
{
    const auto plain = FtpUploader::ParseUrl("ftp://files.example.org");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->server, "files.example.org");
    EXPECT_EQ(plain->port, 21);
    EXPECT_EQ(plain->path, "/");

    const auto full = FtpUploader::ParseUrl("FTP://127.0.0.1:2121/web/status%20pages");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->server, "127.0.0.1");
    EXPECT_EQ(full->port, 2121);
    EXPECT_EQ(full->path, "/web/status pages");

    const auto v6 = FtpUploader::ParseUrl("ftp://[::1]:21/x");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->server, "::1");

    for (const char* bad : {"ftp://", "ftp:///x", "ftp://:21/x", "ftp://h:0/", "ftp://h:65536/",
                            "ftp://h:/", "ftp://h:2x/", "http://h/", "ftp://h x/", "ftp://user@h/",
                            "ftp://a:1:2/", "ftp://[::1/", "ftp://h/a%0D%0ADELE%20b"})
        EXPECT_FALSE(FtpUploader::ParseUrl(bad)) << bad;
}

} // namespace
} // namespace qm::test
