#pragma once

#include "Error.h"
#include "format/SecureFileIndex.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>

class QIODevice;

namespace Keldra::Core {

struct ContainerCryptoMetadata
{
    QString kdf;
    QString cipher;
    int kdfIterations = 250000;
    QByteArray salt;
    QByteArray nonce;
    QByteArray payloadNonce;
    QByteArray authTag;
    QByteArray encryptedMasterKey;
};

struct ContainerDocument
{
    int formatVersion = 3;
    ContainerCryptoMetadata crypto;
    SecureFileIndex fileIndex; // never written by buildHeader
    QByteArray encryptedIndex;
    QByteArray encryptedPayload;             // read from older headers only
    QHash<QString, QByteArray> filePayloads; // read from older headers only
    qint64 payloadOffset = 0;                // set by readDocument
};

// Given the open output positioned at the start of the payload area; returns false to abort.
using PayloadWriter = std::function<bool(QIODevice*)>;

// Moves a ContainerDocument between memory and the container file. Knows nothing about keys.
class ContainerManager
{
public:
    static constexpr const char* FileName = "keldra.kldr";

    [[nodiscard]] QString containerPath(const QString& folder) const;

    [[nodiscard]] QJsonObject cryptoMetadataToJson(const ContainerCryptoMetadata& metadata) const;
    [[nodiscard]] ContainerCryptoMetadata cryptoMetadataFromJson(const QJsonObject& object) const;
    [[nodiscard]] QByteArray buildHeader(const ContainerDocument& document) const;

    // ContainerUnavailable when the file cannot be opened, DamagedContainer
    // when it is not a container of this format; `out` is filled only on success.
    [[nodiscard]] Error readDocument(const QString& path, ContainerDocument* out) const;

    // Synced: the file and its name are on the drive when writeDocument returns,
    // and a failure leaves any earlier file of that name as it was. Scratch: a
    // private working copy left to the system's cache; a failure may leave a
    // partial file. Syncing a copy that is deleted right after only wears the
    // disk and doubles the time of a compaction.
    enum class WriteMode { Synced, Scratch };

    // The header is built after the writer returns, so the writer may still
    // complete `document`. A writer that returns false fails the write with
    // WriteFailed; a writer that needs another reason keeps its own.
    [[nodiscard]] Error writeDocument(const QString& path, const ContainerDocument& document,
                                      const PayloadWriter& writer, WriteMode mode = WriteMode::Synced) const;
    [[nodiscard]] Error writeDocument(const QString& path, const ContainerDocument& document) const;
    // Rewrites the length line and header region in place; payload bytes stay
    // untouched. A header that no longer fits the region is IndexFull and
    // nothing is written.
    [[nodiscard]] Error updateDocumentHeader(const QString& path, const ContainerDocument& document) const;
    // The same; a roll-back of this rewrite (a failure now, or the journal at
    // the next open) also truncates the container to sizeToRestore, so an
    // import's appended blocks go with it.
    [[nodiscard]] Error updateDocumentHeader(const QString& path, const ContainerDocument& document,
                                             qint64 sizeToRestore) const;

    // The same from a device holding the start of a container (at least up to
    // the payload), e.g. a header as a journal would restore it.
    [[nodiscard]] Error readDocument(QIODevice* device, ContainerDocument* out) const;

    // Authenticates the journals of header rewrites (HeaderJournal::keyFor of
    // the unlocked vault's master key); empty writes journals without a MAC.
    void setJournalKey(const QByteArray& key);

    ContainerManager() = default;
    ContainerManager(const ContainerManager&) = default;
    ContainerManager& operator=(const ContainerManager&) = default;
    ~ContainerManager();

private:
    QByteArray m_journalKey;
};

} // namespace Keldra::Core
