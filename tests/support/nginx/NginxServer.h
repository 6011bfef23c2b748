#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace orvello::test {

// A private nginx on a free loopback port, for tests and benchmarks that need a real web
// server. Everything it uses (configuration, pid file, logs, temporary folders and the
// document root) lives in one temporary folder that is removed with the object. The
// server runs in the foreground as a child process and is stopped by the destructor; it
// is also told to end if this process dies first, so a crashed test leaves nothing behind.
class NginxServer {
public:
    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // The binary used: $ORVELLO_NGINX when set, else /usr/sbin/nginx.
    static QString binary();

    // Extra directives placed inside the server block, e.g. a location with added
    // headers. Only has an effect before start().
    void addServerConfig(const QString& directives);

    // Writes the configuration, starts nginx and waits until it accepts connections.
    // On failure returns false and describes why in errorString().
    bool start();
    // Stops the server and waits for it to end. Safe to call more than once.
    void stop();
    bool isRunning() const { return m_port != 0; }
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path, which should start with "/".
    QString url(const QString& path) const;
    QString documentRoot() const;
    // A folder beside the server's own files for the caller's output (downloads).
    QString scratchDir() const;

    // Creates documentRoot()/relPath (folders included) holding size bytes of the
    // deterministic content of pattern(seed). Returns the full path, or an empty text
    // when the file could not be written.
    QString createFile(const QString& relPath, qint64 size, std::uint64_t seed = 1);
    // Creates documentRoot()/relPath with exactly these bytes.
    QString createFile(const QString& relPath, const QByteArray& content);

    // Contents of the server's error log, for failure messages.
    QString errorLog() const;

private:
    bool startOn(quint16 port);
    QString configText(quint16 port) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_extraConfig;
    QString m_error;
    quint16 m_port = 0;
};

// The deterministic content used for served files: byte i of the content for a seed is a
// pseudo-random function of i and the seed, so a block that is lost, repeated or moved is
// noticed, and any part of a file can be checked without keeping a copy of it.
namespace pattern {
// Fills out with the content bytes [offset, offset + out.size()).
void fill(std::uint64_t seed, qint64 offset, char* out, qint64 len);
QByteArray bytes(std::uint64_t seed, qint64 offset, qint64 len);
// Checks that the file at path holds exactly size bytes of the content for seed. On a
// mismatch returns false and, when problem is given, describes the first difference.
bool fileMatches(const QString& path, qint64 size, std::uint64_t seed, QString* problem = nullptr);
} // namespace pattern

} // namespace orvello::test
