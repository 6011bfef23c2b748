// The pieces of an HLS segment: AES-128-CBC decryption with its padding, and where the
// MPEG-TS packets begin.
#include "support/QtPrint.h"
#include "support/RunProgram.h"
#include "transfer/Aes128.h"
#include "transfer/TsSync.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace orvello;

namespace {

// NIST SP 800-38A, F.2.2 (CBC-AES128.Decrypt), and the PKCS#7 block that pads its plaintext.
const QByteArray kNistKey = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");
const QByteArray kNistIv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
const QByteArray kNistCipher =
    QByteArray::fromHex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"
                        "8cb82807230e1321d3fae00d18cc2012");
const QByteArray kNistPlain =
    QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

// What `openssl enc -aes-128-cbc` makes of `plain`; empty when the command is missing.
QByteArray OpensslEncrypt(const QByteArray& plain, const QByteArray& key, const QByteArray& iv) {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    QTemporaryDir dir;
    QFile in(dir.filePath(QStringLiteral("plain")));
    if (openssl.isEmpty() || !in.open(QIODevice::WriteOnly) || in.write(plain) != plain.size())
        return {};
    in.close();
    const QString out = dir.filePath(QStringLiteral("cipher"));
    const test::Ran ran = test::RunProgram(
        openssl, {"enc", "-aes-128-cbc", "-K", QString::fromLatin1(key.toHex()), "-iv",
                  QString::fromLatin1(iv.toHex()), "-in", in.fileName(), "-out", out});
    QFile cipher(out);
    EXPECT_TRUE(ran.ok()) << ran.output.toStdString();
    return cipher.open(QIODevice::ReadOnly) ? cipher.readAll() : QByteArray();
}

} // namespace

TEST(Aes128Test, DecryptsWholeOrInPiecesAndRefusesWhatDoesNotDecrypt) {
    QByteArray plain(1000, Qt::Uninitialized);
    for (int i = 0; i < plain.size(); ++i)
        plain[i] = char(i * 7 + i / 13);
    const QByteArray key = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray iv = QByteArray::fromHex("0f0e0d0c0b0a09080706050403020100");
    const QByteArray opensslCipher = OpensslEncrypt(plain, key, iv);
    ASSERT_FALSE(opensslCipher.isEmpty()) << "the openssl command is needed (apt-get install "
                                             "openssl)";
    const struct {
        const char* name;
        QByteArray cipher, key, iv;
        qsizetype piece; // the size of the pieces given to update(); 0 for the whole at once
        QByteArray plain;
        const char* error; // a part of the reason, or nothing for a success
    } rows[] = {
        {"NIST vector", kNistCipher, kNistKey, kNistIv, 0, kNistPlain, nullptr},
        {"NIST vector, byte by byte", kNistCipher, kNistKey, kNistIv, 1, kNistPlain, nullptr},
        {"NIST vector, in pieces of 17", kNistCipher, kNistKey, kNistIv, 17, kNistPlain, nullptr},
        {"openssl enc", opensslCipher, key, iv, 0, plain, nullptr},
        {"openssl enc, in pieces of 100", opensslCipher, key, iv, 100, plain, nullptr},
        {"wrong key", kNistCipher, key, kNistIv, 0, {}, "padding"},
        {"length not a multiple of 16",
         kNistCipher.chopped(1),
         kNistKey,
         kNistIv,
         0,
         {},
         "16-byte"},
        {"nothing", {}, kNistKey, kNistIv, 0, {}, "16-byte"},
        {"short key", kNistCipher, kNistKey.chopped(1), kNistIv, 0, {}, "15 bytes"},
        {"long IV", kNistCipher, kNistKey, kNistIv + 'x', 0, {}, "17 bytes"},
    };
    for (const auto& row : rows) {
        QByteArray out;
        QString error;
        bool ok = false;
        if (row.piece == 0) {
            ok = DecryptAes128(row.cipher, row.key, row.iv, out, &error);
        } else {
            Aes128Decryptor decryptor(row.key, row.iv);
            ok = true;
            for (QByteArrayView rest = row.cipher; ok && !rest.isEmpty();) {
                const qsizetype n = std::min(row.piece, rest.size());
                ok = decryptor.update(rest.first(n), out);
                rest = rest.sliced(n);
            }
            ok = decryptor.finish(out) && ok;
            error = decryptor.error();
        }
        EXPECT_EQ(ok, row.error == nullptr) << row.name;
        EXPECT_EQ(out.toHex(), row.plain.toHex()) << row.name;
        EXPECT_TRUE(!row.error || error.contains(QLatin1String(row.error)))
            << row.name << ": " << error.toStdString();
    }
}

TEST(TsStartTest, FindsThePacketsBehindWhatIsPutInFront) {
    QByteArray packets;
    for (int i = 0; i < 20; ++i)
        packets += '\x47' + QByteArray(kTsPacketBytes - 1, char(i));
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    ASSERT_TRUE(png.size() > 60 && png.size() < 1000 && png.contains('\x47')) << png.size();
    const struct {
        const char* name;
        QByteArray segment;
        qsizetype start;
    } rows[] = {
        {"packets as they are", packets, 0},
        {"a picture in front", png + packets, png.size()},
        {"sync bytes two packets apart only",
         "\x47" + QByteArray(187, 'x') + "\x47" + QByteArray(187, 'x') + "y" + packets, 377},
        {"two whole packets", packets.first(2 * kTsPacketBytes), 0},
        {"two packets and a part", packets.first(2 * kTsPacketBytes + 1), -1},
        {"no sync bytes", QByteArray(50000, '\0'), -1},
        {"packets too far in", QByteArray(kTsSyncSearchBytes, 'x') + packets, -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TsStart(row.segment), row.start) << row.name;
}
