#include "support/nginx/NginxServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <cstring>
#include <vector>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace orvello::test {

namespace {

constexpr int kStartAttempts = 5;
constexpr auto kStartTimeout = std::chrono::seconds(10);

// A port that was free a moment ago. Another process may take it before nginx binds it;
// start() then tries again with a new one.
quint16 pickFreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool acceptsConnections(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const bool ok = socket.waitForConnected(200);
    socket.abort();
    return ok;
}

QString quoted(const QString& path) {
    return QLatin1Char('"') + path + QLatin1Char('"');
}

} // namespace

NginxServer::NginxServer() : m_dir(std::make_unique<QTemporaryDir>()) {
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder: ") + m_dir->errorString();
        return;
    }
    QDir root(m_dir->path());
    for (const char* sub : {"conf", "logs", "temp", "html", "scratch"})
        root.mkpath(QString::fromLatin1(sub));
}

NginxServer::~NginxServer() {
    stop();
}

QString NginxServer::binary() {
    const QString fromEnv = qEnvironmentVariable("ORVELLO_NGINX");
    return fromEnv.isEmpty() ? QStringLiteral("/usr/sbin/nginx") : fromEnv;
}

void NginxServer::addServerConfig(const QString& directives) {
    m_extraConfig += directives;
    m_extraConfig += QLatin1Char('\n');
}

QString NginxServer::documentRoot() const {
    return m_dir->path() + QStringLiteral("/html");
}

QString NginxServer::scratchDir() const {
    return m_dir->path() + QStringLiteral("/scratch");
}

QString NginxServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QString NginxServer::errorLog() const {
    QFile log(m_dir->path() + QStringLiteral("/logs/error.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll());
}

QString NginxServer::configText(quint16 port) const {
    const QString base = m_dir->path();
    QString conf;
    // Workers of a root master switch to an unprivileged user, which can't enter the
    // private temporary folder; keep them as the user that owns it.
    if (::geteuid() == 0)
        conf += QStringLiteral("user root;\n");
    conf += QStringLiteral("daemon off;\n"
                           "master_process on;\n"
                           "worker_processes 1;\n");
    conf += QStringLiteral("pid %1;\n").arg(quoted(base + "/logs/nginx.pid"));
    conf += QStringLiteral("lock_file %1;\n").arg(quoted(base + "/logs/nginx.lock"));
    conf += QStringLiteral("error_log %1 notice;\n").arg(quoted(base + "/logs/error.log"));
    conf += QStringLiteral("events { worker_connections 64; }\n"
                           "http {\n");
    conf += QStringLiteral("    access_log %1;\n").arg(quoted(base + "/logs/access.log"));
    // The packaged defaults point at system folders; keep every temporary file private.
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += QStringLiteral("    %1_temp_path %2;\n")
                    .arg(QLatin1String(kind), quoted(base + "/temp/" + QLatin1String(kind)));
    conf += QStringLiteral("    types {\n"
                           "        text/html html htm;\n"
                           "        text/plain txt;\n"
                           "        video/x-flv flv;\n"
                           "        video/mp4 mp4;\n"
                           "        video/webm webm;\n"
                           "        application/octet-stream bin;\n"
                           "    }\n"
                           "    default_type application/octet-stream;\n"
                           "    sendfile on;\n"
                           "    tcp_nopush on;\n"
                           "    keepalive_timeout 30s;\n"
                           "    server {\n");
    conf += QStringLiteral("        listen 127.0.0.1:%1;\n").arg(port);
    conf += QStringLiteral("        server_name localhost;\n");
    conf += QStringLiteral("        root %1;\n").arg(quoted(documentRoot()));
    conf += m_extraConfig;
    conf += QStringLiteral("    }\n"
                           "}\n");
    return conf;
}

bool NginxServer::start() {
    if (isRunning())
        return true;
    if (!m_dir->isValid())
        return false;
    if (!QFileInfo(binary()).isExecutable()) {
        m_error = binary() + QStringLiteral(" is missing (the nginx-light package provides it)");
        return false;
    }
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        const quint16 port = pickFreePort();
        if (port == 0) {
            m_error = QStringLiteral("no free loopback port");
            return false;
        }
        if (startOn(port)) {
            m_port = port;
            m_error.clear();
            return true;
        }
        // A lost race for the port is worth another try; any other failure is not.
        if (!m_error.contains(QLatin1String("Address already in use")))
            return false;
    }
    return false;
}

bool NginxServer::startOn(quint16 port) {
    const QString confPath = m_dir->path() + QStringLiteral("/conf/nginx.conf");
    QFile conf(confPath);
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        conf.write(configText(port).toUtf8()) < 0 || !conf.flush()) {
        m_error = QStringLiteral("cannot write ") + confPath;
        return false;
    }
    conf.close();
    QFile::remove(m_dir->path() + QStringLiteral("/logs/error.log"));

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // If this process dies without running the destructor, the server goes with it.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start(binary(), {QStringLiteral("-p"), m_dir->path() + QLatin1Char('/'),
                                QStringLiteral("-c"), confPath});
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("cannot run ") + binary() + QStringLiteral(": ") +
                  m_process->errorString();
        m_process.reset();
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (acceptsConnections(port))
            return true;
        // Doubles as the pause between probes; true means nginx has already given up.
        if (m_process->waitForFinished(20)) {
            m_error = QStringLiteral("nginx ended at start: ") +
                      QString::fromLocal8Bit(m_process->readAll()) + errorLog();
            m_process.reset();
            return false;
        }
    }
    m_error = QStringLiteral("nginx did not accept connections on port %1 in time: ").arg(port) +
              errorLog();
    stop();
    return false;
}

void NginxServer::stop() {
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate(); // fast shutdown: the master ends its workers first
            if (!m_process->waitForFinished(5000)) {
                m_process->kill();
                m_process->waitForFinished(2000);
            }
        }
        m_process.reset();
    }
    m_port = 0;
}

QString NginxServer::createFile(const QString& relPath, qint64 size, std::uint64_t seed) {
    const QString path = documentRoot() + QLatin1Char('/') + relPath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    constexpr qint64 kChunk = 1 << 20;
    std::vector<char> chunk(std::size_t(std::min(size, kChunk)));
    for (qint64 done = 0; done < size;) {
        const qint64 n = std::min(kChunk, size - done);
        pattern::fill(seed, done, chunk.data(), n);
        if (file.write(chunk.data(), n) != n)
            return {};
        done += n;
    }
    return file.flush() ? path : QString();
}

QString NginxServer::createFile(const QString& relPath, const QByteArray& content) {
    const QString path = documentRoot() + QLatin1Char('/') + relPath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size() || !file.flush())
        return {};
    return path;
}

namespace pattern {

namespace {
std::uint64_t word(std::uint64_t seed, std::uint64_t index) {
    // splitmix64 of the word index, offset by the seed
    std::uint64_t z = index + seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

char byteAt(std::uint64_t seed, qint64 offset) {
    return char(word(seed, std::uint64_t(offset) / 8) >> (8 * (offset % 8)));
}
} // namespace

void fill(std::uint64_t seed, qint64 offset, char* out, qint64 len) {
    qint64 i = 0;
    // Unaligned head and tail byte by byte, whole words in between.
    for (; i < len && (offset + i) % 8 != 0; ++i)
        out[i] = byteAt(seed, offset + i);
    for (; i + 8 <= len; i += 8) {
        const std::uint64_t w = word(seed, std::uint64_t(offset + i) / 8);
        for (int b = 0; b < 8; ++b)
            out[i + b] = char(w >> (8 * b));
    }
    for (; i < len; ++i)
        out[i] = byteAt(seed, offset + i);
}

QByteArray bytes(std::uint64_t seed, qint64 offset, qint64 len) {
    QByteArray result(len, Qt::Uninitialized);
    fill(seed, offset, result.data(), len);
    return result;
}

bool fileMatches(const QString& path, qint64 size, std::uint64_t seed, QString* problem) {
    auto fail = [problem](const QString& text) {
        if (problem)
            *problem = text;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    if (file.size() != size)
        return fail(
            QStringLiteral("%1 holds %2 bytes, expected %3").arg(path).arg(file.size()).arg(size));
    constexpr qint64 kChunk = 1 << 20;
    std::vector<char> expected(std::size_t(std::min(size, kChunk)));
    for (qint64 done = 0; done < size;) {
        const QByteArray got = file.read(std::min(kChunk, size - done));
        if (got.isEmpty())
            return fail(QStringLiteral("read error in %1 at %2").arg(path).arg(done));
        fill(seed, done, expected.data(), got.size());
        if (std::memcmp(got.constData(), expected.data(), std::size_t(got.size())) != 0) {
            qint64 at = 0;
            while (got[at] == expected[std::size_t(at)])
                ++at;
            return fail(QStringLiteral("%1 differs from the served content at byte %2")
                            .arg(path)
                            .arg(done + at));
        }
        done += got.size();
    }
    return true;
}

} // namespace pattern

} // namespace orvello::test
