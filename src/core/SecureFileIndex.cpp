#include "SecureFileIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

namespace Keldra::Core {

namespace {

constexpr int IndexFormatVersion = 1;

QString dateToJson(const QDateTime& value)
{
    if (!value.isValid())
        return QString();
    return value.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime dateFromJson(const QJsonValue& value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

// Numbers and digit strings both read as integers; anything else is 0.
qint64 integerFromJson(const QJsonValue& value)
{
    return value.toVariant().toLongLong();
}

QJsonObject blockToJson(const VaultFileBlock& block)
{
    QJsonObject object;
    object.insert(QStringLiteral("offset"), block.offset);
    object.insert(QStringLiteral("plainSize"), block.plainSize);
    object.insert(QStringLiteral("encryptedSize"), block.encryptedSize);
    object.insert(QStringLiteral("nonce"), QString::fromLatin1(block.nonce.toBase64()));
    return object;
}

VaultFileBlock blockFromJson(const QJsonObject& object)
{
    VaultFileBlock block;
    block.offset = integerFromJson(object.value(QLatin1String("offset")));
    block.plainSize = integerFromJson(object.value(QLatin1String("plainSize")));
    block.encryptedSize = integerFromJson(object.value(QLatin1String("encryptedSize")));
    block.nonce = QByteArray::fromBase64(object.value(QLatin1String("nonce")).toString().toLatin1());
    return block;
}

QJsonObject entryToJson(const VaultFileEntry& entry)
{
    QJsonArray blocks;
    for (const VaultFileBlock& block : entry.blocks)
        blocks.append(blockToJson(block));
    QJsonObject object;
    object.insert(QStringLiteral("id"), entry.id);
    object.insert(QStringLiteral("vaultPath"), entry.vaultPath);
    object.insert(QStringLiteral("sizeBytes"), entry.sizeBytes);
    object.insert(QStringLiteral("lastModifiedUtc"), dateToJson(entry.lastModifiedUtc));
    object.insert(QStringLiteral("sha256"), QString::fromLatin1(entry.sha256.toHex()));
    object.insert(QStringLiteral("blocks"), blocks);
    return object;
}

VaultFileEntry entryFromJson(const QJsonObject& object)
{
    VaultFileEntry entry;
    entry.id = object.value(QLatin1String("id")).toString();
    entry.vaultPath = object.value(QLatin1String("vaultPath")).toString();
    entry.sizeBytes = integerFromJson(object.value(QLatin1String("sizeBytes")));
    entry.lastModifiedUtc = dateFromJson(object.value(QLatin1String("lastModifiedUtc")));
    entry.sha256 = QByteArray::fromHex(object.value(QLatin1String("sha256")).toString().toLatin1());
    const QJsonArray blocks = object.value(QLatin1String("blocks")).toArray();
    for (const QJsonValue& block : blocks)
        entry.blocks.append(blockFromJson(block.toObject()));
    return entry;
}

QJsonObject directoryToJson(const VaultDirectoryEntry& directory)
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), directory.path);
    object.insert(QStringLiteral("createdUtc"), dateToJson(directory.createdUtc));
    object.insert(QStringLiteral("modifiedUtc"), dateToJson(directory.modifiedUtc));
    return object;
}

VaultDirectoryEntry directoryFromJson(const QJsonObject& object)
{
    VaultDirectoryEntry directory;
    directory.path = object.value(QLatin1String("path")).toString();
    directory.createdUtc = dateFromJson(object.value(QLatin1String("createdUtc")));
    directory.modifiedUtc = dateFromJson(object.value(QLatin1String("modifiedUtc")));
    return directory;
}

} // namespace

QList<VaultFileEntry> SecureFileIndex::entries() const
{
    return m_entries;
}

QList<VaultDirectoryEntry> SecureFileIndex::directories() const
{
    return m_directories;
}

bool SecureFileIndex::contains(const QString& vaultPath) const
{
    for (const VaultFileEntry& entry : m_entries) {
        if (entry.vaultPath == vaultPath)
            return true;
    }
    return false;
}

bool SecureFileIndex::containsDirectory(const QString& path) const
{
    for (const VaultDirectoryEntry& directory : m_directories) {
        if (directory.path == path)
            return true;
    }
    return false;
}

bool SecureFileIndex::addOrReplace(const VaultFileEntry& entry)
{
    if (entry.vaultPath.isEmpty())
        return false;
    for (VaultFileEntry& existing : m_entries) {
        if (existing.vaultPath == entry.vaultPath) {
            existing = entry;
            return true;
        }
    }
    m_entries.append(entry);
    return true;
}

bool SecureFileIndex::addDirectory(const VaultDirectoryEntry& directory)
{
    if (directory.path.isEmpty())
        return false;
    for (VaultDirectoryEntry& existing : m_directories) {
        if (existing.path == directory.path) {
            existing = directory;
            return true;
        }
    }
    m_directories.append(directory);
    return true;
}

bool SecureFileIndex::remove(const QString& vaultPath)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).vaultPath == vaultPath) {
            m_entries.removeAt(i);
            return true;
        }
    }
    return false;
}

bool SecureFileIndex::removeDirectory(const QString& path)
{
    for (qsizetype i = 0; i < m_directories.size(); ++i) {
        if (m_directories.at(i).path == path) {
            m_directories.removeAt(i);
            return true;
        }
    }
    return false;
}

void SecureFileIndex::clear()
{
    m_entries.clear();
    m_directories.clear();
}

QByteArray SecureFileIndex::toJson() const
{
    QJsonArray files;
    for (const VaultFileEntry& entry : m_entries)
        files.append(entryToJson(entry));
    QJsonArray directories;
    for (const VaultDirectoryEntry& directory : m_directories)
        directories.append(directoryToJson(directory));
    QJsonObject root;
    root.insert(QStringLiteral("formatVersion"), IndexFormatVersion);
    root.insert(QStringLiteral("files"), files);
    root.insert(QStringLiteral("directories"), directories);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

SecureFileIndex SecureFileIndex::fromJson(const QByteArray& json)
{
    SecureFileIndex index;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return index;
    const QJsonObject root = document.object();
    const QJsonArray files = root.value(QLatin1String("files")).toArray();
    for (const QJsonValue& file : files)
        index.addOrReplace(entryFromJson(file.toObject()));
    const QJsonArray directories = root.value(QLatin1String("directories")).toArray();
    for (const QJsonValue& directory : directories)
        index.addDirectory(directoryFromJson(directory.toObject()));
    return index;
}

} // namespace Keldra::Core
