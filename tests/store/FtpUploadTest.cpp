// FTP upload of the status documents to a real FTP server (pyftpdlib) on
// loopback, in active mode with a user and password.

#include "StoreTestSupport.h"

#include "store/FtpUploader.h"
#include "store/SettingsStore.h"
#include "store/StatusExporter.h"
#include "support/Command.h"
#include "support/EventPump.h"
#include "support/ServerProcess.h"

#include <QFileInfo>

#include <atomic>
#include <future>

namespace qm::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Users: "monitor" may write, "reader" may only look. DEBUG logging shows
// every command the client sends. Uploads arrive at 1 MB/s at most, so that
// a large one is still under way when a test cuts it off.
constexpr const char* kServerScript = R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.DEBUG)
port, root = int(sys.argv[1]), sys.argv[2]
users = DummyAuthorizer()
users.add_user("monitor", "pa ss:w@rd", root, perm="elradfmw")
users.add_user("reader", "look", root, perm="elr")
ThrottledDTPHandler.read_limit = 1024 * 1024
FTPHandler.dtp_handler = ThrottledDTPHandler
FTPHandler.authorizer = users
FTPServer(("127.0.0.1", port), FTPHandler).serve_forever()
)";

class FtpUploadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(RequireProgram(kPython, "python3"), "");
        ASSERT_EQ(RunCommand(std::string(kPython) + " -c \"import pyftpdlib\"", 20).status, 0)
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
        useGoodSettings();
        m_exporter.setUploadObserver([this](const QString&, const FtpUploader::Outcome& outcome) {
            m_finished.push_back(outcome);
        });
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("ftp://127.0.0.1:%1%2").arg(m_port).arg(path);
    }
    void useGoodSettings()
    {
        m_settings.writeString("ConfigXML", "FTP_URL", url("/status"));
        m_settings.writeString("ConfigXML", "FTP_USERID", "monitor");
        m_settings.writeString("ConfigXML", "FTP_PASSWORD", "pa ss:w@rd");
    }

    // Exports one document and waits for its upload to finish.
    FtpUploader::Outcome exportAndWait(const QString& name, const QByteArray& bytes)
    {
        const std::size_t before = m_finished.size();
        EXPECT_EQ(m_exporter.exportDocument(m_settings, name, [&] { return bytes; }),
                  StatusExporter::Result::Written);
        EXPECT_TRUE(
            PumpEventsUntil([&] { return m_finished.size() > before; }, std::chrono::seconds(60)));
        return m_finished.empty() ? FtpUploader::Outcome{} : m_finished.back();
    }

    ScopedCurrentDir m_cwd;
    QString m_root;
    int m_port = 0;
    ServerProcess m_server;
    SettingsStore m_settings{m_cwd.path() + "/settings.ini"};
    ScriptedPrompt m_prompt;
    std::vector<FtpUploader::Outcome> m_finished;
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
    ASSERT_TRUE(exportAndWait("message.xml", message).ok) << Shown(m_prompt);

    EXPECT_EQ(ReadBytes(m_root + "/status/server.xml"), server);
    EXPECT_EQ(ReadBytes(m_root + "/status/message.xml"), message);
    // The staging copies in the current directory hold the same bytes.
    EXPECT_EQ(ReadBytes(m_cwd.path() + "/server.xml"), server);
    EXPECT_EQ(ReadBytes(m_cwd.path() + "/message.xml"), message);
    EXPECT_FALSE(QFile::exists(m_root + "/server.xml"));
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);

    const std::string log = m_server.log();
    EXPECT_TRUE(log.find("<- EPRT") != std::string::npos ||
                log.find("<- PORT") != std::string::npos)
        << log;
    EXPECT_EQ(log.find("<- PASV"), std::string::npos) << log;
    EXPECT_EQ(log.find("<- EPSV"), std::string::npos) << log;
    EXPECT_NE(log.find("<- TYPE A"), std::string::npos) << log;
    EXPECT_NE(log.find("<- CWD /status"), std::string::npos) << log;
}

// A document goes up under a temporary name and replaces the old one by a
// rename once complete: an upload cut off midway leaves the old one whole.
TEST_F(FtpUploadTest, AnUploadCutOffLeavesThePreviousDocumentWhole)
{
    const FtpUploader::Target target{url("/status"), "monitor", "pa ss:w@rd"};
    const QByteArray before = "<sessions>\n</sessions>\n";
    ASSERT_TRUE(FtpUploader::Upload(target, "server.xml", before).ok) << m_server.log();
    const std::string log = m_server.log();
    EXPECT_NE(log.find("<- STOR server.xml.part"), std::string::npos) << log;
    EXPECT_NE(log.find("<- RNTO server.xml"), std::string::npos) << log;

    std::atomic<bool> cancel{false};
    const QByteArray large(8 << 20, 'x'); // eight seconds at the server's pace
    auto upload = std::async(std::launch::async,
                             [&] { return FtpUploader::Upload(target, "server.xml", large, &cancel); });
    const QString part = m_root + "/status/server.xml.part";
    EXPECT_TRUE(PumpEventsUntil([&] { return QFileInfo(part).size() > 0; }, std::chrono::seconds(20)));
    cancel = true;
    ASSERT_EQ(upload.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(upload.get().ok);
    EXPECT_EQ(ReadBytes(m_root + "/status/server.xml"), before);
}

// Each failure gives one plain message box with its text, and nothing lands
// outside the chosen folder; the next export with good settings uploads again.
TEST_F(FtpUploadTest, EachFailureIsShownOnceAndTheNextExportUploadsAgain)
{
    const struct
    {
        std::vector<std::pair<QString, QString>> settings;
        std::string start, contains;
    } cases[] = {
        {{{"FTP_URL", "ftp//127.0.0.1/status"}},
         "FTP ERROR: AfxParseURL(ftp//127.0.0.1/status)",
         ""},
        {{{"FTP_URL", QStringLiteral("ftp://127.0.0.1:%1/status").arg(FreeLoopbackPort())}},
         "FTP ERROR: Connecting to 127.0.0.1 -> ",
         ""},
        {{{"FTP_PASSWORD", "guess"}}, "FTP ERROR: Connecting to 127.0.0.1 -> ", "530"},
        {{{"FTP_URL", url("/no-such-folder")}}, "GetCurrentDirectory failed 550", ""},
        {{{"FTP_USERID", "reader"}, {"FTP_PASSWORD", "look"}},
         "m_pFTPConnection->PutFile failed 550",
         ""},
    };
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        for (const auto& [key, value] : c.settings)
            m_settings.writeString("ConfigXML", key, value);
        const std::size_t before = m_prompt.texts().size();
        EXPECT_FALSE(exportAndWait("server.xml", "<sessions>\n</sessions>\n").ok);
        const auto shown = m_prompt.messages();
        ASSERT_EQ(shown.size(), before + 1) << Shown(m_prompt);
        EXPECT_EQ(shown.back().icon, OperatorPrompt::Icon::Plain);
        EXPECT_EQ(shown.back().text.rfind(c.start, 0), 0u) << shown.back().text;
        EXPECT_NE(shown.back().text.find(c.contains), std::string::npos) << shown.back().text;
        EXPECT_FALSE(QFile::exists(m_root + "/server.xml"));

        useGoodSettings();
        const QByteArray fresh = "<sessions>\n</sessions>\n" + QByteArray::number(++round);
        EXPECT_TRUE(exportAndWait("server.xml", fresh).ok) << Shown(m_prompt);
        EXPECT_EQ(ReadBytes(m_root + "/status/server.xml"), fresh);
        EXPECT_EQ(m_prompt.texts().size(), before + 1) << Shown(m_prompt);
    }
}

TEST(FtpUrlTest, ParsesServerPortAndFolder)
{
    const struct
    {
        const char *url, *server;
        int port;
        const char* path;
    } good[] = {{"ftp://files.example.org", "files.example.org", 21, "/"},
                {"FTP://127.0.0.1:2121/web/status%20pages", "127.0.0.1", 2121, "/web/status pages"},
                {"ftp://[::1]:21/x", "::1", 21, "/x"}};
    for (const auto& g : good) {
        const auto parsed = FtpUploader::ParseUrl(g.url);
        ASSERT_TRUE(parsed) << g.url;
        EXPECT_EQ(std::tuple(parsed->server, parsed->port, parsed->path),
                  std::tuple(QString(g.server), g.port, QString(g.path)));
    }
    for (const char* bad : {"ftp://", "ftp:///x", "ftp://:21/x", "ftp://h:0/", "ftp://h:65536/",
                            "ftp://h:/", "ftp://h:2x/", "http://h/", "ftp://h x/", "ftp://user@h/",
                            "ftp://a:1:2/", "ftp://[::1/", "ftp://h/a%0D%0ADELE%20b"})
        EXPECT_FALSE(FtpUploader::ParseUrl(bad)) << bad;
}

} // namespace
} // namespace qm::test
