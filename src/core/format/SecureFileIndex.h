#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace Keldra::Core {

// One encrypted block of a file's content in the container's payload area.
struct VaultFileBlock
{
    qint64 offset = 0; // absolute offset in the container file
    qint64 plainSize = 0;
    qint64 encryptedSize = 0; // plainSize + 16-byte tag
    QByteArray nonce;
};

struct VaultFileEntry
{
    QString id;
    QString vaultPath; // key of the entry
    qint64 sizeBytes = 0;
    QDateTime lastModifiedUtc;
    QByteArray sha256;
    QList<VaultFileBlock> blocks;
};

struct VaultDirectoryEntry
{
    QString path; // key of the entry
    QDateTime createdUtc;
    QDateTime modifiedUtc;
};

// The vault's table of contents. Keys are compared exactly; callers normalise paths first.
class SecureFileIndex
{
public:
    [[nodiscard]] QList<VaultFileEntry> entries() const;
    [[nodiscard]] QList<VaultDirectoryEntry> directories() const;

    [[nodiscard]] bool contains(const QString& vaultPath) const;
    // The entry stored under exactly this key, or null; valid until the index changes.
    [[nodiscard]] const VaultFileEntry* find(const QString& vaultPath) const;
    [[nodiscard]] bool containsDirectory(const QString& path) const;

    bool addOrReplace(const VaultFileEntry& entry);
    bool addDirectory(const VaultDirectoryEntry& directory);
    bool remove(const QString& vaultPath);
    bool removeDirectory(const QString& path);
    void clear();

    [[nodiscard]] QByteArray toJson() const;
    // Never fails: malformed input gives an empty or partial index.
    [[nodiscard]] static SecureFileIndex fromJson(const QByteArray& json);
    // For an index that will be written back: false unless the text is a
    // JSON object whose file and folder lists, where present, are lists of
    // objects. Saving a partial reading would drop every record it missed.
    [[nodiscard]] static bool parseWhole(const QByteArray& json, SecureFileIndex* out);

private:
    static SecureFileIndex fromRoot(const QJsonObject& root);
    void rebuildPositions();

    QList<VaultFileEntry> m_entries;
    QList<VaultDirectoryEntry> m_directories;
    // Key -> list position, so lookups stay constant-time with thousands of
    // files; the lists stay the source of order.
    QHash<QString, qsizetype> m_entryAt;
    QHash<QString, qsizetype> m_directoryAt;
};

} // namespace Keldra::Core
