#include "store/CipherPages.h"

#include <openssl/evp.h>

namespace {

constexpr int kPageSize = 4096;
constexpr int kSaltSize = 16;
constexpr int kIVSize = 16;
constexpr int kReserve = 80; // IV + HMAC-SHA512
constexpr int kIterations = 256000;
constexpr int kWalHeader = 32;
constexpr int kFrameHeader = 24;

QByteArray deriveKey(const QByteArray& passphrase, const QByteArray& salt) {
    QByteArray key(32, '\0');
    PKCS5_PBKDF2_HMAC(passphrase.constData(), static_cast<int>(passphrase.size()),
                      reinterpret_cast<const unsigned char*>(salt.constData()), kSaltSize,
                      kIterations, EVP_sha512(), static_cast<int>(key.size()),
                      reinterpret_cast<unsigned char*>(key.data()));
    return key;
}

QByteArray decryptPage(const QByteArray& page, const QByteArray& key, bool firstPage) {
    const int offset = firstPage ? kSaltSize : 0;
    const QByteArray iv = page.mid(kPageSize - kReserve, kIVSize);
    const QByteArray cipherText = page.mid(offset, kPageSize - kReserve - offset);
    QByteArray plain(cipherText.size() + 32, '\0');
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int written = 0;
    int finalWritten = 0;
    EVP_DecryptInit_ex(context, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.constData()),
                       reinterpret_cast<const unsigned char*>(iv.constData()));
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_DecryptUpdate(context, reinterpret_cast<unsigned char*>(plain.data()), &written,
                      reinterpret_cast<const unsigned char*>(cipherText.constData()),
                      static_cast<int>(cipherText.size()));
    EVP_DecryptFinal_ex(context, reinterpret_cast<unsigned char*>(plain.data()) + written,
                        &finalWritten);
    EVP_CIPHER_CTX_free(context);
    plain.resize(written + finalWritten);
    return plain;
}

} // namespace

QByteArray CipherPages::decryptDatabase(const QByteArray& file, const QByteArray& passphrase) {
    if (file.size() < kPageSize)
        return {};
    const QByteArray key = deriveKey(passphrase, file.left(kSaltSize));
    QByteArray plain;
    for (qsizetype at = 0; at + kPageSize <= file.size(); at += kPageSize)
        plain += decryptPage(file.mid(at, kPageSize), key, at == 0);
    return plain;
}

QByteArray CipherPages::decryptLog(const QByteArray& log, const QByteArray& databaseFile,
                                   const QByteArray& passphrase) {
    if (databaseFile.size() < kSaltSize || log.size() < kWalHeader)
        return {};
    const QByteArray key = deriveKey(passphrase, databaseFile.left(kSaltSize));
    QByteArray plain;
    for (qsizetype at = kWalHeader; at + kFrameHeader + kPageSize <= log.size();
         at += kFrameHeader + kPageSize) {
        const QByteArray header = log.mid(at, kFrameHeader);
        const quint32 pageNumber = (quint32(quint8(header[0])) << 24) |
                                   (quint32(quint8(header[1])) << 16) |
                                   (quint32(quint8(header[2])) << 8) | quint32(quint8(header[3]));
        plain += decryptPage(log.mid(at + kFrameHeader, kPageSize), key, pageNumber == 1);
    }
    return plain;
}
