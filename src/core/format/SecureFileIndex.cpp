#include "format/SecureFileIndex.h"

#include "format/JsonTextWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

namespace Keldra::Core {

namespace {

constexpr int IndexFormatVersion = 1;

QDateTime dateFromJson(const QJsonValue& value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

// Numbers and digit strings both read as integers; anything else is 0.
qint64 integerFromJson(const QJsonValue& value)
{
    return value.toVariant().toLongLong();
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

VaultDirectoryEntry directoryFromJson(const QJsonObject& object)
{
    VaultDirectoryEntry directory;
    directory.path = object.value(QLatin1String("path")).toString();
    directory.createdUtc = dateFromJson(object.value(QLatin1String("createdUtc")));
    directory.modifiedUtc = dateFromJson(object.value(QLatin1String("modifiedUtc")));
    return directory;
}

void writeBlock(JsonTextWriter& json, const VaultFileBlock& block)
{
    json.beginObject();
    json.key(QLatin1String("encryptedSize"));
    json.value(block.encryptedSize);
    json.key(QLatin1String("nonce"));
    json.asciiValue(block.nonce.toBase64());
    json.key(QLatin1String("offset"));
    json.value(block.offset);
    json.key(QLatin1String("plainSize"));
    json.value(block.plainSize);
    json.endObject();
}

void writeEntry(JsonTextWriter& json, const VaultFileEntry& entry)
{
    json.beginObject();
    json.key(QLatin1String("blocks"));
    json.beginArray();
    for (const VaultFileBlock& block : entry.blocks)
        writeBlock(json, block);
    json.endArray();
    json.key(QLatin1String("id"));
    json.value(entry.id);
    json.key(QLatin1String("lastModifiedUtc"));
    json.dateValue(entry.lastModifiedUtc);
    json.key(QLatin1String("sha256"));
    json.asciiValue(entry.sha256.toHex());
    json.key(QLatin1String("sizeBytes"));
    json.value(entry.sizeBytes);
    json.key(QLatin1String("vaultPath"));
    json.value(entry.vaultPath);
    json.endObject();
}

void writeDirectory(JsonTextWriter& json, const VaultDirectoryEntry& directory)
{
    json.beginObject();
    json.key(QLatin1String("createdUtc"));
    json.dateValue(directory.createdUtc);
    json.key(QLatin1String("modifiedUtc"));
    json.dateValue(directory.modifiedUtc);
    json.key(QLatin1String("path"));
    json.value(directory.path);
    json.endObject();
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
    return m_entryAt.contains(vaultPath);
}

const VaultFileEntry* SecureFileIndex::find(const QString& vaultPath) const
{
    const auto found = m_entryAt.constFind(vaultPath);
    return found == m_entryAt.constEnd() ? nullptr : &m_entries.at(*found);
}

bool SecureFileIndex::containsDirectory(const QString& path) const
{
    return m_directoryAt.contains(path);
}

bool SecureFileIndex::addOrReplace(const VaultFileEntry& entry)
{
    if (entry.vaultPath.isEmpty())
        return false;
    const auto found = m_entryAt.constFind(entry.vaultPath);
    if (found != m_entryAt.constEnd()) {
        m_entries[*found] = entry;
        return true;
    }
    m_entryAt.insert(entry.vaultPath, m_entries.size());
    m_entries.append(entry);
    return true;
}

bool SecureFileIndex::addDirectory(const VaultDirectoryEntry& directory)
{
    if (directory.path.isEmpty())
        return false;
    const auto found = m_directoryAt.constFind(directory.path);
    if (found != m_directoryAt.constEnd()) {
        m_directories[*found] = directory;
        return true;
    }
    m_directoryAt.insert(directory.path, m_directories.size());
    m_directories.append(directory);
    return true;
}

bool SecureFileIndex::remove(const QString& vaultPath)
{
    const auto found = m_entryAt.constFind(vaultPath);
    if (found == m_entryAt.constEnd())
        return false;
    m_entries.removeAt(*found);
    rebuildPositions();
    return true;
}

bool SecureFileIndex::removeDirectory(const QString& path)
{
    const auto found = m_directoryAt.constFind(path);
    if (found == m_directoryAt.constEnd())
        return false;
    m_directories.removeAt(*found);
    rebuildPositions();
    return true;
}

void SecureFileIndex::clear()
{
    m_entries.clear();
    m_directories.clear();
    m_entryAt.clear();
    m_directoryAt.clear();
}

// Positions after a removal shift by one; recounting is linear and removals are rare.
void SecureFileIndex::rebuildPositions()
{
    m_entryAt.clear();
    m_entryAt.reserve(m_entries.size());
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        m_entryAt.insert(m_entries.at(i).vaultPath, i);
    m_directoryAt.clear();
    m_directoryAt.reserve(m_directories.size());
    for (qsizetype i = 0; i < m_directories.size(); ++i)
        m_directoryAt.insert(m_directories.at(i).path, i);
}

QByteArray SecureFileIndex::toJson() const
{
    // Written directly as text: a QJsonObject tree of ten thousand entries
    // costs many times more than the text itself. The bytes are those of
    // QJsonDocument::toJson(Compact), keys in ascending order.
    JsonTextWriter json(m_entries.size() * 360 + m_directories.size() * 120 + 64);
    json.beginObject();
    json.key(QLatin1String("directories"));
    json.beginArray();
    for (const VaultDirectoryEntry& directory : m_directories)
        writeDirectory(json, directory);
    json.endArray();
    json.key(QLatin1String("files"));
    json.beginArray();
    for (const VaultFileEntry& entry : m_entries)
        writeEntry(json, entry);
    json.endArray();
    json.key(QLatin1String("formatVersion"));
    json.value(qint64(IndexFormatVersion));
    json.endObject();
    return json.take();
}

SecureFileIndex SecureFileIndex::fromJson(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return SecureFileIndex();
    return fromRoot(document.object());
}

SecureFileIndex SecureFileIndex::fromRoot(const QJsonObject& root)
{
    SecureFileIndex index;
    const QJsonArray files = root.value(QLatin1String("files")).toArray();
    for (const QJsonValue& file : files)
        index.addOrReplace(entryFromJson(file.toObject()));
    const QJsonArray directories = root.value(QLatin1String("directories")).toArray();
    for (const QJsonValue& directory : directories)
        index.addDirectory(directoryFromJson(directory.toObject()));
    return index;
}

bool SecureFileIndex::parseWhole(const QByteArray& json, SecureFileIndex* out)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject root = document.object();
    for (const QLatin1String name : {QLatin1String("files"), QLatin1String("directories")}) {
        const QJsonValue list = root.value(name);
        if (list.isUndefined())
            continue;
        if (!list.isArray())
            return false;
        const QJsonArray items = list.toArray();
        for (const QJsonValue& item : items) {
            if (!item.isObject())
                return false;
        }
    }
    if (out)
        *out = fromRoot(root);
    return true;
}

} // namespace Keldra::Core
