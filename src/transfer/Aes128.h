#pragma once

// AES-128-CBC decryption of an encrypted media segment, with the PKCS#7 padding of its last
// block removed. The segment can be given whole, or piece by piece as it arrives.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace orvello {

class Aes128Decryptor {
public:
    // `key` and `iv` are 16 bytes each; anything else leaves the decryptor failed.
    Aes128Decryptor(QByteArrayView key, QByteArrayView iv);
    ~Aes128Decryptor();
    Aes128Decryptor(const Aes128Decryptor&) = delete;
    Aes128Decryptor& operator=(const Aes128Decryptor&) = delete;

    // Decrypts the next piece of the segment and appends the clear bytes ready so far to
    // `out`; the last block is held back until finish(), since it carries the padding.
    // False once the decryptor has failed.
    bool update(QByteArrayView piece, QByteArray& out);
    // Appends the last block without its padding. False, with the reason, when the segment's
    // length is no multiple of 16 or its padding is wrong (the key or the IV is not the one it
    // was encrypted with). The decryptor takes no more pieces afterwards.
    bool finish(QByteArray& out);

    bool failed() const { return !error_.isEmpty(); }
    QString error() const { return error_; }

private:
    void* context_ = nullptr; // EVP_CIPHER_CTX
    qint64 taken_ = 0;        // the encrypted bytes given so far
    bool finished_ = false;
    QString error_;
};

// A whole segment decrypted; false with the reason in `error` (when given) on failure, and
// `out` then holds nothing.
bool DecryptAes128(QByteArrayView segment, QByteArrayView key, QByteArrayView iv, QByteArray& out,
                   QString* error = nullptr);

} // namespace orvello
