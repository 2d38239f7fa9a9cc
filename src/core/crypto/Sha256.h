#pragma once

#include <QByteArray>
#include <QByteArrayView>

struct evp_md_ctx_st;

namespace Keldra::Core {

// Incremental SHA-256 through OpenSSL's EVP interface. Qt's QCryptographicHash
// gives the same digest but hashes about ten times slower, which would cap
// imports well below the speed of the drive.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when OpenSSL could not set up the context or a call failed; every
    // later call then fails too and result() stays empty.
    [[nodiscard]] bool isValid() const;

    bool addData(QByteArrayView data);
    bool addData(const char* data, qint64 size);

    // The 32-byte digest of everything added since construction or reset().
    // Finishes the hash: call reset() before adding new data. Empty on failure.
    [[nodiscard]] QByteArray result();
    // Lower-case hexadecimal form of result().
    [[nodiscard]] QByteArray hexResult();

    void reset();

    [[nodiscard]] static QByteArray hash(QByteArrayView data);

private:
    evp_md_ctx_st* m_context = nullptr;
    bool m_valid = false;
    bool m_finished = false;
};

} // namespace Keldra::Core
