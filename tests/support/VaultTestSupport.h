#pragma once

// Content and lookups shared by the vault tests.

#include "format/SecureFileIndex.h"
#include "vault/VaultManager.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#ifdef Q_OS_UNIX
#include <utime.h>
#endif

namespace VaultTest {

// Deterministic, not trivially repeating content, so a misplaced block shows.
inline QByteArray patternBytes(qint64 size, int seed)
{
    QByteArray bytes(static_cast<int>(size), Qt::Uninitialized);
    quint32 state = 2166136261u ^ static_cast<quint32>(seed);
    for (qint64 i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[static_cast<int>(i)] = static_cast<char>(state >> 24);
    }
    return bytes;
}

inline bool setModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

#ifdef Q_OS_UNIX
inline bool setDirectoryModified(const QString& path, const QDateTime& when)
{
    struct utimbuf times;
    times.actime = static_cast<time_t>(when.toSecsSinceEpoch());
    times.modtime = times.actime;
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}
#endif

inline bool findEntry(const Keldra::Core::VaultManager& vault, const QString& path,
                      Keldra::Core::VaultFileEntry* out = nullptr)
{
    const QList<Keldra::Core::VaultFileEntry> entries = vault.fileIndex().entries();
    for (const Keldra::Core::VaultFileEntry& entry : entries) {
        if (entry.vaultPath == path) {
            if (out)
                *out = entry;
            return true;
        }
    }
    return false;
}

inline QStringList filePaths(const Keldra::Core::VaultManager& vault)
{
    QStringList paths;
    const QList<Keldra::Core::VaultFileEntry> entries = vault.fileIndex().entries();
    for (const Keldra::Core::VaultFileEntry& entry : entries)
        paths.append(entry.vaultPath);
    return paths;
}

inline QStringList directoryPaths(const Keldra::Core::VaultManager& vault)
{
    QStringList paths;
    const QList<Keldra::Core::VaultDirectoryEntry> directories = vault.fileIndex().directories();
    for (const Keldra::Core::VaultDirectoryEntry& directory : directories)
        paths.append(directory.path);
    return paths;
}

} // namespace VaultTest
