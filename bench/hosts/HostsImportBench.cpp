// Bulk hosts: times `quillmere-monitor hosts import` of a CSV file of COUNT
// hosts (default 10,000 HTTP entries on loopback addresses, looked up as
// "hosts add" does) into an empty settings file, then `hosts export`.
//
//   hosts_import_bench [COUNT]

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

namespace {

// CPU milliseconds of the ended child processes so far.
double ChildCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Runs the monitor program; returns the wall-clock milliseconds or -1.
qint64 Run(const QStringList& args, QByteArray* out = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(QStringLiteral(QUILLMERE_MONITOR_BIN), args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", p.readAllStandardError().constData());
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return clock.elapsed();
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count < 1 || count > 10000)
        return 2;
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("hosts.csv"));
    const QString settings = dir.filePath(QStringLiteral("quillmere.conf"));
    QFile file(csv);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write("Host,Protocol,Port,Freq,Nickname\n");
    for (int i = 0; i < count; ++i)
        file.write(QStringLiteral("127.%1.%2.%3,HTTP,80,60 sec,entry %4\n")
                       .arg(i / 65536 + 1)
                       .arg(i / 256 % 256)
                       .arg(i % 256)
                       .arg(i)
                       .toUtf8());
    file.close();

    const double cpu0 = ChildCpuMs();
    const qint64 importMs =
        Run({QStringLiteral("--settings"), settings, QStringLiteral("hosts"), QStringLiteral("import"), csv});
    const double importCpu = ChildCpuMs() - cpu0;
    QByteArray exported;
    const qint64 exportMs =
        Run({QStringLiteral("--settings"), settings, QStringLiteral("hosts"), QStringLiteral("export")},
            &exported);
    const double exportCpu = ChildCpuMs() - cpu0 - importCpu;
    if (importMs < 0 || exportMs < 0)
        return 1;
    std::printf("hosts import of %d hosts: %lld ms (%.0f ms of CPU; one process, one settings "
                "write)\n",
                count, static_cast<long long>(importMs), importCpu);
    std::printf("hosts export of %lld hosts: %lld ms (%.0f ms of CPU)\n",
                static_cast<long long>(exported.count('\n') - 1), static_cast<long long>(exportMs),
                exportCpu);
    return 0;
}
