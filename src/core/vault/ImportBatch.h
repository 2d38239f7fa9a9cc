#pragma once

#include "vault/BatchProgress.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Keldra::Core {

struct ImportBatchItem
{
    QString sourcePath;
    QString vaultPath;
    qint64 sizeBytes = 0;
};

// The files and folders one import brings into a vault, gathered before
// anything is written so the whole batch can be checked at once.
class ImportBatch
{
public:
    // `cp -r` meaning: each source lands inside vaultFolder ("" = root) under its own name; a
    // directory as a sub-folder with its whole tree. Links, sockets, FIFOs and devices are never
    // followed or read (recorded in skipped()); unreadable entries are recorded too.
    static ImportBatch fromSources(const QStringList& sourcePaths, const QString& vaultFolder);
    void addFile(const QString& sourcePath, const QString& vaultPath); // an explicit pair
    void addDirectory(const QString& vaultPath);                       // folder record to create
    const QList<ImportBatchItem>& files() const { return m_files; }
    const QStringList& directories() const { return m_directories; }
    const QList<SkippedItem>& skipped() const { return m_skipped; }
    qint64 totalBytes() const { return m_totalBytes; }

    // How often a long import stores what it has so far: after this many
    // payload bytes or this many milliseconds, whichever comes first. What
    // a crash loses is bounded by them; each costs one header write.
    static constexpr qint64 DefaultCheckpointBytes = Q_INT64_C(256) * 1024 * 1024;
    static constexpr qint64 DefaultCheckpointMsecs = 5000;
    void setCheckpointInterval(qint64 bytes, qint64 msecs)
    {
        m_checkpointBytes = bytes;
        m_checkpointMsecs = msecs;
    }
    qint64 checkpointBytes() const { return m_checkpointBytes; }
    qint64 checkpointMsecs() const { return m_checkpointMsecs; }

private:
    void addTree(const QString& directoryPath, const QString& vaultPath);
    void skip(const QString& path, SkippedItem::Why why, const Error& error = Error());

    QList<ImportBatchItem> m_files;
    QStringList m_directories;
    QList<SkippedItem> m_skipped;
    qint64 m_totalBytes = 0;
    qint64 m_checkpointBytes = DefaultCheckpointBytes;
    qint64 m_checkpointMsecs = DefaultCheckpointMsecs;
};

struct ImportBatchSummary
{
    int imported = 0; // new files
    int replaced = 0; // files that replaced one of the same path
    int foldersCreated = 0;
    qint64 bytes = 0;
    QList<SkippedItem> skipped; // the batch's own skipped() plus what the import skipped
    int filesThatFit = -1;      // on IndexFull: how many of the batch's files the index could take
};

} // namespace Keldra::Core
