#pragma once

// Content and lookups shared by the vault tests.

#include "core/format/SecureFileIndex.h"
#include "core/vault/VaultManager.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#ifdef Q_OS_WIN
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <utime.h>
#endif

namespace VaultTest {

// Where the last block of any file ends in a container whose payload starts
// at payloadStart: the bytes after it belong to no file, and the next import
// cuts them off, a failed one too.
inline qint64 usedEnd(const Keldra::Core::SecureFileIndex& index, qint64 payloadStart)
{
    qint64 end = payloadStart;
    const QList<Keldra::Core::VaultFileEntry> entries = index.entries();
    for (const Keldra::Core::VaultFileEntry& entry : entries) {
        for (const Keldra::Core::VaultFileBlock& block : entry.blocks)
            end = qMax(end, block.offset + block.encryptedSize);
    }
    return end;
}

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

// QFile cannot open a folder, so its time is set through the system.
inline bool setDirectoryModified(const QString& path, const QDateTime& when)
{
#ifdef Q_OS_WIN
    // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open a folder.
    const HANDLE folder = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    // 100 ns ticks since 1601-01-01.
    const quint64 ticks = static_cast<quint64>(when.toMSecsSinceEpoch() + 11644473600000LL) * 10000u;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const bool set = ::SetFileTime(folder, nullptr, &time, &time) != 0;
    ::CloseHandle(folder);
    return set;
#else
    struct utimbuf times;
    times.actime = static_cast<time_t>(when.toSecsSinceEpoch());
    times.modtime = times.actime;
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
#endif
}

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
