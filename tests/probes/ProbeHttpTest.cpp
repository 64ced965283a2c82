// The web probes against real servers started by the test (nginx, Apache and
// lighttpd; nginx also over TLS with certificates of a test authority).
// ProbeDispatchTest has the replies they do not give.
#include "probes/ProbeRun.h"
#include "support/ScratchDir.h"
#include "support/ServerProcess.h"
#include "support/TestCertificates.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <sys/stat.h>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ProbeRun;
using test::Texts;

constexpr const char* kHtpasswd = "/usr/bin/htpasswd";
constexpr long kDay = 86400;

ProbeRun ProbeOnce(const std::string& host, int port, const std::string& user = {}, const std::string& password = {})
{
    return ProbeRun([&](ProbeSocket& p) { p.ProbeHttp(host, port, user, password); });
}

// One web server of the suite: a plain site on one port, the same site behind
// Basic authentication on another.
struct WebServer
{
    const char* name = nullptr; // also names its log files
    const char* program = nullptr;
    const char* package = nullptr;
    std::string serverTag = {}; // pattern of the Server header's value
    std::string problem = {};
    int port = 0;
    int authPort = 0;
    std::vector<int> morePorts = {};
    std::unique_ptr<test::ServerProcess> process = {};
};

// nginx, Apache and lighttpd, started once for the whole suite. nginx also
// serves a redirect and the TLS sites; the test authority's certificate is
// the only one in SSL_CERT_FILE.
class WebServers : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_problem.clear();
        if (s_problem = test::RequireProgram(kHtpasswd, "apache2-utils"); !s_problem.empty())
            return;
        s_scratch.emplace("qm-web");
        if ((s_dir = s_scratch->path()).empty()) {
            s_problem = "cannot create a scratch directory under /tmp";
            return;
        }
        std::filesystem::create_directory(s_dir + "/www");
        test::WriteFile(s_dir + "/www/index.html", "<html>up</html>\n");
        const std::string htpasswd = s_dir + "/htpasswd";
        const std::string cmd = std::string(kHtpasswd) + " -b -c " + htpasswd + " monitor 'pa:ss word' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            s_problem = "htpasswd could not write " + htpasswd;
            return;
        }
        ::chmod(htpasswd.c_str(), 0644);
        if (s_problem = MakeCertificates(); !s_problem.empty())
            return;
        ::setenv("SSL_CERT_FILE", (s_dir + "/trusted.pem").c_str(), 1);
        for (WebServer& s : s_servers) {
            s.port = test::FreeLoopbackPort();
            s.authPort = test::FreeLoopbackPort();
        }
        for (int* port : {&s_redirectPort, &s_tlsPort, &s_soonPort, &s_expiredPort, &s_otherNamePort, &s_strangerPort})
            *port = test::FreeLoopbackPort();

        const std::string& d = s_dir;
        const auto listen = [](int port) { return "127.0.0.1:" + std::to_string(port); };
        const auto tls = [&](int port, const std::string& cert, const std::string& extra = {}) {
            return "  server { listen " + listen(port) + " ssl" + extra + "; root " + d + "/www;\n" +
                   "           ssl_certificate " + d + "/" + cert + ".pem; ssl_certificate_key " + d + "/" + cert +
                   ".key; }\n";
        };
        test::WriteFile(d + "/nginx.conf",
                        "worker_processes 1;\n"
                        "error_log " + d + "/nginx-error.log;\n"
                        "pid " + d + "/nginx.pid;\n"
                        "lock_file " + d + "/nginx.lock;\n"
                        "events { worker_connections 32; }\n"
                        "http {\n"
                        "  access_log off;\n"
                        "  client_body_temp_path " + d + "/body;\n"
                        "  proxy_temp_path " + d + "/proxy;\n"
                        "  fastcgi_temp_path " + d + "/fastcgi;\n"
                        "  uwsgi_temp_path " + d + "/uwsgi;\n"
                        "  scgi_temp_path " + d + "/scgi;\n"
                        "  server { listen " + listen(s_servers[0].port) + "; root " + d + "/www; }\n"
                        "  server { listen " + listen(s_redirectPort) + "; return 302 http://localhost/elsewhere/; }\n"
                        "  server { listen " + listen(s_servers[0].authPort) + "; root " + d + "/www;\n"
                        "           auth_basic \"Quillmere test\"; auth_basic_user_file " + htpasswd + "; }\n"
                        // Without the server name a client gets the address's certificate.
                        + tls(s_tlsPort, "address", " default_server")
                        + tls(s_tlsPort, "named", "; server_name localhost")
                        + tls(s_soonPort, "soon") + tls(s_expiredPort, "expired")
                        + tls(s_otherNamePort, "other-name") + tls(s_strangerPort, "stranger") + "}\n");
        test::WriteFile(d + "/apache.conf",
                        "ServerRoot /usr/lib/apache2\n"
                        "ServerName localhost\n"
                        "PidFile " + d + "/apache.pid\n"
                        "Mutex file:" + d + "\n"
                        "ErrorLog " + d + "/apache-error.log\n"
                        "LoadModule mpm_event_module modules/mod_mpm_event.so\n"
                        "LoadModule authz_core_module modules/mod_authz_core.so\n"
                        "LoadModule authn_core_module modules/mod_authn_core.so\n"
                        "LoadModule authn_file_module modules/mod_authn_file.so\n"
                        "LoadModule auth_basic_module modules/mod_auth_basic.so\n"
                        "LoadModule authz_user_module modules/mod_authz_user.so\n"
                        "LoadModule dir_module modules/mod_dir.so\n"
                        "User www-data\nGroup www-data\n"
                        "Listen " + listen(s_servers[1].port) + "\n"
                        "Listen " + listen(s_servers[1].authPort) + "\n"
                        "DocumentRoot " + d + "/www\n"
                        "<VirtualHost " + listen(s_servers[1].authPort) + ">\n"
                        "  <Location />\n"
                        "    AuthType Basic\n    AuthName \"Quillmere test\"\n"
                        "    AuthUserFile " + htpasswd + "\n    Require valid-user\n"
                        "  </Location>\n"
                        "</VirtualHost>\n");
        test::WriteFile(d + "/lighttpd.conf",
                        "server.document-root = \"" + d + "/www\"\n"
                        "server.bind = \"127.0.0.1\"\n"
                        "server.port = " + std::to_string(s_servers[2].port) + "\n"
                        "server.pid-file = \"" + d + "/lighttpd.pid\"\n"
                        "server.errorlog = \"" + d + "/lighttpd-error.log\"\n"
                        "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
                        "index-file.names = (\"index.html\")\n"
                        "auth.backend = \"htpasswd\"\n"
                        "auth.backend.htpasswd.userfile = \"" + htpasswd + "\"\n"
                        "$SERVER[\"socket\"] == \"" + listen(s_servers[2].authPort) + "\" {\n"
                        "  auth.require = (\"/\" => (\"method\" => \"basic\", \"realm\" => \"Quillmere test\",\n"
                        "                             \"require\" => \"valid-user\"))\n"
                        "}\n");

        s_servers[0].morePorts = {s_redirectPort, s_tlsPort, s_soonPort, s_expiredPort, s_otherNamePort, s_strangerPort};
        Start(s_servers[0], {"-p", d + "/", "-c", d + "/nginx.conf", "-g", "daemon off;"});
        Start(s_servers[1], {"-X", "-f", d + "/apache.conf"});
        Start(s_servers[2], {"-D", "-f", d + "/lighttpd.conf"});
        for (WebServer& s : s_servers)
            Await(s);
    }

    // The trusted authority, a stranger one, and their server certificates.
    static std::string MakeCertificates()
    {
        const std::string& d = s_dir;
        test::TestCertificates trusted("Quillmere test authority");
        test::TestCertificates stranger("Unknown authority");
        if (!trusted.error().empty() || !stranger.error().empty())
            return trusted.error() + stranger.error();
        const auto issue = [&](test::TestCertificates& ca, const std::string& name, const char* altNames, long from,
                               long until) {
            return ca.issue(d + "/" + name + ".pem", d + "/" + name + ".key", altNames, from, until);
        };
        // An hour past whole days, so that the days left read the same all day.
        if (!trusted.writeAuthority(d + "/trusted.pem")
            || !issue(trusted, "address", "IP:127.0.0.1", -kDay, 90 * kDay + 3600)
            || !issue(trusted, "named", "DNS:localhost", -kDay, 90 * kDay + 3600)
            || !issue(trusted, "soon", "DNS:localhost", -kDay, 5 * kDay + 3600)
            || !issue(trusted, "expired", "DNS:localhost,IP:127.0.0.1", -30 * kDay, -kDay)
            || !issue(trusted, "other-name", "DNS:other.example", -kDay, 90 * kDay)
            || !issue(stranger, "stranger", "DNS:localhost", -kDay, 90 * kDay))
            return "the test certificates could not be written";
        return {};
    }

    static void Start(WebServer& s, std::vector<std::string> args)
    {
        if (s.problem = test::RequireProgram(s.program, s.package); !s.problem.empty())
            return;
        args.insert(args.begin(), s.program);
        s.process = std::make_unique<test::ServerProcess>();
        if (!s.process->start(args, s_dir + "/" + s.name + ".out"))
            s.problem = std::string(s.name) + " could not be started";
    }

    static void Await(WebServer& s)
    {
        if (!s.problem.empty())
            return;
        std::vector<int> ports = s.morePorts;
        ports.push_back(s.port);
        ports.push_back(s.authPort);
        for (int port : ports)
            if (!test::WaitForTcpPort(port, 5000ms)) {
                s.problem = std::string(s.name) + " did not start: " + s.process->log() +
                            test::ReadFile(s_dir + "/" + s.name + "-error.log");
                return;
            }
    }

    static void TearDownTestSuite()
    {
        for (WebServer& s : s_servers)
            s.process.reset();
        ::unsetenv("SSL_CERT_FILE");
        s_scratch.reset();
        s_dir.clear();
    }

    void SetUp() override { ASSERT_EQ(s_problem, ""); }

    static inline std::string s_problem;
    static inline std::optional<test::ScratchDir> s_scratch;
    static inline std::string s_dir;
    static inline WebServer s_servers[3]{
        {"nginx", "/usr/sbin/nginx", "nginx-light", R"(nginx/[\d.]+)"},
        {"apache", "/usr/sbin/apache2", "apache2", R"(Apache/2\.4\.\d+ \(Debian\))"},
        {"lighttpd", "/usr/sbin/lighttpd", "lighttpd", R"(lighttpd/1\.4\.\d+)"},
    };
    static inline int s_redirectPort = 0;
    static inline int s_tlsPort = 0;
    static inline int s_soonPort = 0;
    static inline int s_expiredPort = 0;
    static inline int s_otherNamePort = 0;
    static inline int s_strangerPort = 0;
};

TEST_F(WebServers, HttpServersJudgedOnTheirStatusLine)
{
    const Texts refused{"fail: HTTP/1.1 401 Unauthorized"};
    for (const WebServer& s : s_servers) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.problem, "");
        if (!s.problem.empty())
            continue;
        const std::regex ok("ok: HTTP/1\\.1 200 OK \\[" + s.serverTag + "\\]");
        const ProbeRun plain = ProbeOnce("localhost", s.port);
        ASSERT_EQ(plain.texts.size(), 1u);
        EXPECT_TRUE(std::regex_match(plain.texts[0], ok)) << plain.texts[0];
        EXPECT_LT(plain.responseTime, 5000u);
        const ProbeRun accepted = ProbeOnce("127.0.0.1", s.authPort, "monitor", "pa:ss word");
        ASSERT_EQ(accepted.texts.size(), 1u);
        EXPECT_TRUE(std::regex_match(accepted.texts[0], ok)) << accepted.texts[0];
        EXPECT_EQ(ProbeOnce("127.0.0.1", s.authPort, "monitor", "wrong").texts, refused);
    }
    EXPECT_EQ(ProbeOnce("127.0.0.1", s_redirectPort).texts, Texts{"fail: HTTP/1.1 302 Moved Temporarily"});
}

TEST_F(WebServers, HttpsVerdictsFollowTheServerCertificate)
{
    ASSERT_EQ(s_servers[0].problem, "");
    const std::string ok = R"(ok: HTTP/1\.1 200 OK \[nginx/[\d.]+\] \(certificate valid )";
    const struct
    {
        const char* what;
        const char* host;
        int port;
        int warnDays;
        std::string expected; // pattern of the one report
        bool warning;
    } cases[] = {
        // Only a client that sends the server name gets the named certificate.
        {"by name", "localhost", s_tlsPort, 14, ok + R"(90 more days\))", false},
        {"by address", "127.0.0.1", s_tlsPort, 14, ok + R"(90 more days\))", false},
        {"near its end", "localhost", s_soonPort, 14, ok + R"(5 more days\))", true},
        {"near its end, at the warning bound", "localhost", s_soonPort, 5, ok + R"(5 more days\))", false},
        {"near its end, a day inside the bound", "localhost", s_soonPort, 6, ok + R"(5 more days\))", true},
        {"expired", "localhost", s_expiredPort, 14, "fail: TLS: certificate has expired", false},
        {"expired, by address", "127.0.0.1", s_expiredPort, 14, "fail: TLS: certificate has expired", false},
        {"another name", "localhost", s_otherNamePort, 14, "fail: TLS: hostname mismatch", false},
        {"another name, by address", "127.0.0.1", s_otherNamePort, 14, "fail: TLS: IP address mismatch", false},
        {"unknown issuer", "localhost", s_strangerPort, 14, "fail: TLS: unable to get local issuer certificate",
         false},
        {"no TLS on the port", "localhost", s_servers[0].port, 14, "fail: TLS: .+", false},
    };
    for (const auto& c : cases) {
        PollArgs args = test::HostArgs(c.host, c.port);
        args.certWarnDays = c.warnDays;
        const ProbeRun run = test::RunNamed("HTTPS", args);
        ASSERT_EQ(run.texts.size(), 1u) << c.what;
        EXPECT_TRUE(std::regex_match(run.texts[0], std::regex(c.expected))) << c.what << ": " << run.texts[0];
        EXPECT_EQ(run.warning, c.warning) << c.what;
    }
}

} // namespace
} // namespace qm
