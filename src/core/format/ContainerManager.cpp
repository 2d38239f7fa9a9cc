#include "format/ContainerManager.h"

#include "crypto/SecureMemory.h"
#include "storage/ContainerFile.h"
#include "storage/ContainerHeaderWriter.h"
#include "storage/DriveError.h"

#include "format/Base64.h"
#include "format/ContainerFormat.h"
#include "format/JsonStringLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace Keldra::Core {

namespace {

using namespace ContainerFormat;

const QString HeaderMagic = QStringLiteral("KELDRA");
constexpr int ContainerFormatVersion = 3;
constexpr int DefaultKdfIterations = 250000;
// A length line is 21 bytes in every file we write; anything far longer is not a container.
constexpr qint64 MaxLengthLine = 4096;
constexpr qint64 ZeroChunk = 64 * 1024;

bool writeAll(QIODevice& device, const QByteArray& bytes)
{
    return device.write(bytes) == bytes.size();
}

bool writeZeros(QIODevice& device, qint64 count)
{
    static const QByteArray zeros(ZeroChunk, '\0');
    while (count > 0) {
        const qint64 chunk = qMin(count, ZeroChunk);
        if (device.write(zeros.constData(), chunk) != chunk)
            return false;
        count -= chunk;
    }
    return true;
}

// Length line, header bytes and zero padding, starting right after the magic.
bool writeHeaderRegion(QIODevice& device, const QByteArray& header)
{
    return device.seek(MagicSize) && writeAll(device, lengthLine(header.size())) &&
           writeAll(device, header) && writeZeros(device, HeaderRegionSize - header.size());
}

QByteArray base64Field(const QJsonObject& object, const char* key)
{
    return QByteArray::fromBase64(object.value(QLatin1String(key)).toString().toLatin1());
}

QString base64String(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

Error notAContainer(const QString& why)
{
    return Error(Error::Reason::DamagedContainer, why);
}

Error headerTooLarge(qint64 size)
{
    return Error(Error::Reason::IndexFull, QStringLiteral("header of %1 bytes").arg(size));
}

} // namespace

QString ContainerManager::containerPath(const QString& folder) const
{
    return QDir(folder).filePath(QLatin1String(FileName));
}

QJsonObject ContainerManager::cryptoMetadataToJson(const ContainerCryptoMetadata& metadata) const
{
    QJsonObject object;
    object.insert(QStringLiteral("kdf"), metadata.kdf);
    object.insert(QStringLiteral("cipher"), metadata.cipher);
    object.insert(QStringLiteral("kdfIterations"), metadata.kdfIterations);
    object.insert(QStringLiteral("salt"), base64String(metadata.salt));
    object.insert(QStringLiteral("nonce"), base64String(metadata.nonce));
    object.insert(QStringLiteral("payloadNonce"), base64String(metadata.payloadNonce));
    object.insert(QStringLiteral("authTag"), base64String(metadata.authTag));
    object.insert(QStringLiteral("encryptedMasterKey"), base64String(metadata.encryptedMasterKey));
    return object;
}

ContainerCryptoMetadata ContainerManager::cryptoMetadataFromJson(const QJsonObject& object) const
{
    ContainerCryptoMetadata metadata;
    metadata.kdf = object.value(QLatin1String("kdf")).toString();
    metadata.cipher = object.value(QLatin1String("cipher")).toString();
    metadata.kdfIterations = object.value(QLatin1String("kdfIterations")).toInt(DefaultKdfIterations);
    metadata.salt = base64Field(object, "salt");
    metadata.nonce = base64Field(object, "nonce");
    metadata.payloadNonce = base64Field(object, "payloadNonce");
    metadata.authTag = base64Field(object, "authTag");
    metadata.encryptedMasterKey = base64Field(object, "encryptedMasterKey");
    return metadata;
}

QByteArray ContainerManager::buildHeader(const ContainerDocument& document) const
{
    QJsonObject root;
    root.insert(QStringLiteral("magic"), HeaderMagic);
    root.insert(QStringLiteral("formatVersion"), document.formatVersion);
    root.insert(QStringLiteral("crypto"), cryptoMetadataToJson(document.crypto));
    root.insert(QStringLiteral("encryptedIndex"), QString());
    const QByteArray small = QJsonDocument(root).toJson(QJsonDocument::Compact);

    // The encrypted index is nearly all of the header: its Base64 text is
    // spliced in rather than passed through QJsonDocument as a QString.
    // Base64 needs no escaping, so the bytes are the same. The member is the
    // last match: only "formatVersion" and "magic" follow it.
    static const QByteArray EmptyIndex = QByteArrayLiteral("\"encryptedIndex\":\"\"");
    const qsizetype at = small.lastIndexOf(EmptyIndex);
    if (at < 0)
        return small;
    const qsizetype split = at + EmptyIndex.size() - 1;
    const QByteArray index = Base64::encode(document.encryptedIndex);
    QByteArray header;
    header.reserve(small.size() + index.size());
    header.append(small.constData(), split)
        .append(index)
        .append(small.constData() + split, small.size() - split);
    return header;
}

ContainerManager::~ContainerManager()
{
    wipe(m_journalKey);
}

void ContainerManager::setJournalKey(const QByteArray& key)
{
    wipe(m_journalKey);
    m_journalKey = key;
}

Error ContainerManager::readDocument(const QString& path, ContainerDocument* out) const
{
    if (!out)
        return Error(Error::Reason::Internal, QStringLiteral("no document to read into"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error(Error::Reason::ContainerUnavailable, file.errorString());
    return readDocument(&file, out);
}

Error ContainerManager::readDocument(QIODevice* device, ContainerDocument* out) const
{
    if (!out || !device)
        return Error(Error::Reason::Internal, QStringLiteral("no document to read into"));
    QIODevice& file = *device;
    if (file.read(MagicSize) != Magic)
        return notAContainer(QStringLiteral("no container magic"));

    const QByteArray line = file.readLine(MaxLengthLine);
    if (line.size() >= MaxLengthLine - 1 && !line.endsWith('\n'))
        return notAContainer(QStringLiteral("length line too long"));
    bool ok = false;
    const qint64 headerLength = line.trimmed().toLongLong(&ok, 10);
    if (!ok || headerLength < 1 || headerLength > HeaderRegionSize)
        return notAContainer(QStringLiteral("header length out of range"));

    // Only the header itself is read: the rest of the region is padding that
    // nothing looks at (and need not be zero). It must still be there in full.
    const qint64 payloadOffset = MagicSize + line.size() + HeaderRegionSize;
    if (file.size() < payloadOffset)
        return notAContainer(QStringLiteral("header region cut short"));
    const QByteArray header = file.read(headerLength);
    if (header.size() < headerLength)
        return notAContainer(QStringLiteral("header cut short"));

    // The encrypted index is cut out before parsing and decoded straight from
    // the bytes; QJsonDocument parses the small rest. Anything unusual about
    // the member (escapes, duplicates) takes the ordinary path.
    JsonStringLocator::Span indexSpan;
    const bool indexLocated =
        JsonStringLocator::findBase64Member(header, QLatin1String("encryptedIndex"), &indexSpan);
    QJsonDocument json;
    if (indexLocated) {
        QByteArray rest;
        rest.reserve(header.size() - indexSpan.length);
        rest.append(header.constData(), indexSpan.begin)
            .append(header.constData() + indexSpan.begin + indexSpan.length,
                    header.size() - indexSpan.begin - indexSpan.length);
        json = QJsonDocument::fromJson(rest);
    } else {
        json = QJsonDocument::fromJson(header);
    }
    if (!json.isObject())
        return notAContainer(QStringLiteral("header is not a JSON object"));
    const QJsonObject root = json.object();
    if (root.value(QLatin1String("magic")).toString() != HeaderMagic ||
        root.value(QLatin1String("formatVersion")).toInt(0) != ContainerFormatVersion)
        return notAContainer(QStringLiteral("wrong header magic or format version"));

    ContainerDocument document;
    document.formatVersion = ContainerFormatVersion;
    document.crypto = cryptoMetadataFromJson(root.value(QLatin1String("crypto")).toObject());
    // Older writers kept the index in plain text; read it so such vaults still open.
    document.fileIndex = SecureFileIndex::fromJson(
        QJsonDocument(root.value(QLatin1String("fileIndex")).toObject()).toJson(QJsonDocument::Compact));
    if (indexLocated) {
        const QByteArrayView text(header.constData() + indexSpan.begin, indexSpan.length);
        if (!Base64::decodeCanonical(text, &document.encryptedIndex))
            document.encryptedIndex = QByteArray::fromBase64(text.toByteArray());
    } else {
        document.encryptedIndex = base64Field(root, "encryptedIndex");
    }
    document.encryptedPayload = base64Field(root, "encryptedPayload");
    const QJsonObject payloads = root.value(QLatin1String("filePayloads")).toObject();
    for (auto it = payloads.constBegin(); it != payloads.constEnd(); ++it)
        document.filePayloads.insert(it.key(), QByteArray::fromBase64(it.value().toString().toLatin1()));
    document.payloadOffset = payloadOffset;

    *out = document;
    return Error();
}

Error ContainerManager::writeDocument(const QString& path, const ContainerDocument& document,
                                      const PayloadWriter& writer, WriteMode mode) const
{
    QSaveFile saveFile(path);
    QFile scratchFile(path);
    QFileDevice& file = mode == WriteMode::Synced ? static_cast<QFileDevice&>(saveFile) : scratchFile;
    const QIODevice::OpenMode openMode =
        mode == WriteMode::Synced ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Truncate;
    // The system's own code is read right after the call that failed.
    const auto writeError = [&file](const QString& what) {
        return DriveError::fromFile(file, DriveError::last(), what);
    };
    DriveError::clear();
    if (!file.open(openMode))
        return writeError(QStringLiteral("create"));
    // Placeholder length line and region first, so the payload lands at its final offset.
    if (!writeAll(file, QByteArray(Magic)) || !writeAll(file, lengthLine(0)) ||
        !writeZeros(file, HeaderRegionSize))
        return writeError(QStringLiteral("header region"));
    if (writer && !writer(&file))
        return Error(Error::Reason::WriteFailed, QStringLiteral("payload"));

    // Built only now: the writer may have completed the caller's document (compaction relies on it).
    const QByteArray header = buildHeader(document);
    if (header.size() > HeaderRegionSize)
        return headerTooLarge(header.size());
    DriveError::clear();
    if (!writeHeaderRegion(file, header))
        return writeError(QStringLiteral("header"));
    if (mode == WriteMode::Scratch) {
        if (!scratchFile.flush())
            return writeError(QStringLiteral("flush"));
        scratchFile.close();
        if (scratchFile.error() != QFileDevice::NoError)
            return writeError(QStringLiteral("close"));
        return Error();
    }
    // The save file is synced before it is renamed; the folder makes the new name last.
    if (!saveFile.commit())
        return writeError(QStringLiteral("commit"));
    return ContainerFile::syncFolderOf(path);
}

Error ContainerManager::writeDocument(const QString& path, const ContainerDocument& document) const
{
    return writeDocument(path, document, PayloadWriter());
}

Error ContainerManager::updateDocumentHeader(const QString& path, const ContainerDocument& document) const
{
    return updateDocumentHeader(path, document, -1);
}

Error ContainerManager::updateDocumentHeader(const QString& path, const ContainerDocument& document,
                                             qint64 sizeToRestore) const
{
    const QByteArray header = buildHeader(document);
    if (header.size() > HeaderRegionSize)
        return headerTooLarge(header.size());
    // In place but never torn: the bytes it overwrites are journaled beside
    // the container first, and only the bytes that change are written. It
    // refuses files without "KELDRA3" and the 20-digit length line (the
    // region must start at offset 28) and never creates a missing file.
    return ContainerHeaderWriter::rewriteHeader(path, header, sizeToRestore, m_journalKey);
}

} // namespace Keldra::Core
