#include "transfer/Aes128.h"

#include <openssl/evp.h>

#include <algorithm>

namespace orvello {

namespace {

constexpr qsizetype kBlock = 16;
// The most bytes one call into the cipher takes, well within its int lengths.
constexpr qsizetype kMaxCall = qsizetype(1) << 24;

EVP_CIPHER_CTX* Context(void* context) {
    return static_cast<EVP_CIPHER_CTX*>(context);
}

} // namespace

Aes128Decryptor::Aes128Decryptor(QByteArrayView key, QByteArrayView iv) {
    if (key.size() != kBlock) {
        error_ = QStringLiteral("The key is %1 bytes long instead of 16.").arg(key.size());
        return;
    }
    if (iv.size() != kBlock) {
        error_ = QStringLiteral("The IV is %1 bytes long instead of 16.").arg(iv.size());
        return;
    }
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    context_ = context;
    if (!context || EVP_DecryptInit_ex(context, EVP_aes_128_cbc(), nullptr,
                                       reinterpret_cast<const unsigned char*>(key.data()),
                                       reinterpret_cast<const unsigned char*>(iv.data())) != 1)
        error_ = QStringLiteral("The decryption could not be set up.");
}

Aes128Decryptor::~Aes128Decryptor() {
    EVP_CIPHER_CTX_free(Context(context_));
}

bool Aes128Decryptor::update(QByteArrayView piece, QByteArray& out) {
    if (failed() || finished_)
        return false;
    while (!piece.isEmpty()) {
        const qsizetype n = std::min(piece.size(), kMaxCall);
        const qsizetype before = out.size();
        // The cipher writes at most the bytes given plus one block it held back.
        out.resize(before + n + kBlock);
        int written = 0;
        if (EVP_DecryptUpdate(Context(context_),
                              reinterpret_cast<unsigned char*>(out.data() + before), &written,
                              reinterpret_cast<const unsigned char*>(piece.data()), int(n)) != 1) {
            out.resize(before);
            error_ = QStringLiteral("The segment could not be decrypted.");
            return false;
        }
        out.resize(before + written);
        taken_ += n;
        piece = piece.sliced(n);
    }
    return true;
}

bool Aes128Decryptor::finish(QByteArray& out) {
    if (failed() || finished_)
        return false;
    finished_ = true;
    if (taken_ == 0 || taken_ % kBlock != 0) {
        error_ = QStringLiteral("The encrypted segment is %1 bytes long, not a whole number of "
                                "16-byte blocks.")
                     .arg(taken_);
        return false;
    }
    const qsizetype before = out.size();
    out.resize(before + kBlock);
    int written = 0;
    if (EVP_DecryptFinal_ex(Context(context_),
                            reinterpret_cast<unsigned char*>(out.data() + before), &written) != 1) {
        out.resize(before);
        error_ = QStringLiteral("The segment's padding is wrong: it does not decrypt with its "
                                "key.");
        return false;
    }
    out.resize(before + written);
    return true;
}

bool DecryptAes128(QByteArrayView segment, QByteArrayView key, QByteArrayView iv, QByteArray& out,
                   QString* error) {
    out.clear();
    out.reserve(segment.size() + kBlock);
    Aes128Decryptor decryptor(key, iv);
    if (decryptor.update(segment, out) && decryptor.finish(out))
        return true;
    out.clear();
    if (error)
        *error = decryptor.error();
    return false;
}

} // namespace orvello
