#include "vault/ImportBatch.h"

#include "vault/VaultPath.h"

#include <QDir>
#include <QFileInfo>

namespace Keldra::Core {

namespace {

using Why = SkippedItem::Why;

// Never follows it: a link inside a tree may lead out of it or around in a circle.
bool isLink(const QFileInfo& info)
{
    return info.isSymLink() || info.isJunction();
}

} // namespace

ImportBatch ImportBatch::fromSources(const QStringList& sourcePaths, const QString& vaultFolder)
{
    ImportBatch batch;
    for (const QString& sourcePath : sourcePaths) {
        // A trailing separator names the folder itself ("fotos/" is "fotos").
        const QFileInfo info(QDir::cleanPath(sourcePath));
        const QString vaultPath = VaultPath::join(vaultFolder, info.fileName());
        if (isLink(info)) {
            batch.skip(sourcePath, Why::Link);
        } else if (!info.exists()) {
            batch.skip(sourcePath, Why::Unreadable,
                       Error(Error::Reason::SourceUnreadable, QStringLiteral("no such file or folder")));
        } else if (!info.isFile() && !info.isDir()) {
            batch.skip(sourcePath, Why::Special);
        } else if (vaultPath.isEmpty()) {
            batch.skip(sourcePath, Why::InvalidName);
        } else if (info.isDir()) {
            batch.addTree(info.filePath(), vaultPath);
        } else if (!info.isReadable()) {
            batch.skip(sourcePath, Why::Unreadable,
                       Error(Error::Reason::SourceUnreadable, QStringLiteral("permission denied")));
        } else {
            batch.addFile(info.filePath(), vaultPath);
        }
    }
    return batch;
}

void ImportBatch::addTree(const QString& directoryPath, const QString& vaultPath)
{
    const QFileInfo directory(directoryPath);
    if (!directory.isReadable() || !directory.isExecutable()) {
        skip(directoryPath, Why::Unreadable,
             Error(Error::Reason::SourceUnreadable, QStringLiteral("folder cannot be listed")));
        return;
    }
    // Recorded even when it holds files: an empty folder needs it, and one
    // whose every file is skipped should still arrive.
    addDirectory(vaultPath);
    // System lists sockets, FIFOs, devices and dangling links, so they are
    // counted as skipped instead of silently missing.
    const QFileInfoList children =
        QDir(directoryPath)
            .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& child : children) {
        const QString childVaultPath = VaultPath::join(vaultPath, child.fileName());
        if (isLink(child))
            skip(child.filePath(), Why::Link);
        else if (!child.isFile() && !child.isDir())
            skip(child.filePath(), Why::Special);
        else if (childVaultPath.isEmpty())
            skip(child.filePath(), Why::InvalidName);
        else if (child.isDir())
            addTree(child.filePath(), childVaultPath);
        else if (!child.isReadable())
            skip(child.filePath(), Why::Unreadable,
                 Error(Error::Reason::SourceUnreadable, QStringLiteral("permission denied")));
        else
            addFile(child.filePath(), childVaultPath);
    }
}

void ImportBatch::addFile(const QString& sourcePath, const QString& vaultPath)
{
    const qint64 size = qMax<qint64>(0, QFileInfo(sourcePath).size());
    m_files.append(ImportBatchItem{sourcePath, vaultPath, size});
    m_totalBytes += size;
}

void ImportBatch::addDirectory(const QString& vaultPath)
{
    m_directories.append(vaultPath);
}

void ImportBatch::skip(const QString& path, SkippedItem::Why why, const Error& error)
{
    m_skipped.append(SkippedItem{path, why, error});
}

} // namespace Keldra::Core
