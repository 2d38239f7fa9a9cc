#include "vault/ExportDestination.h"

#include "storage/ContainerRecovery.h"
#include "storage/HeaderJournal.h"
#include "vault/FileIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace Keldra::Core {

namespace {

using Reason = Error::Reason;

// Deeper chains of symbolic links are refused, as the system itself does.
constexpr int kMaxLinkDepth = 40;

// The name with its folder's symbolic links resolved: two names of one file
// that may not exist yet compare equal.
QString resolvedName(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        return QDir::cleanPath(info.absoluteFilePath());
    return QDir(folder).filePath(info.fileName());
}

// Whether something is at `path` that is not a regular file. Symbolic links
// are followed before this is asked.
bool existsAndIsNotRegular(const QString& path)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
#else
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return !S_ISREG(status.st_mode);
#endif
}

} // namespace

Error ExportDestination::resolve(const QString& destination, const QString& containerPath, QString* finalPath)
{
    if (destination.isEmpty())
        return Error(Reason::DestinationUnwritable, QStringLiteral("no destination"));
    // The name a rename would replace: the end of the chain of symbolic
    // links, as a save file finds it (a dangling link names the file to make).
    QFileInfo info(QFileInfo(destination).absoluteFilePath());
    int depth = 0;
    while (info.isSymLink()) {
        if (++depth > kMaxLinkDepth)
            return Error(Reason::DestinationUnwritable, QStringLiteral("too many symbolic links"));
        info.setFile(info.symLinkTarget());
    }
    const QString target = resolvedName(info.absoluteFilePath());
    if (const Error guarded = refuseVaultFiles(target, containerPath); !guarded.ok())
        return guarded;
    // Renaming over a device or a pipe would replace it by a regular file
    // holding the plaintext.
    if (existsAndIsNotRegular(target))
        return Error(Reason::DestinationUnwritable, QStringLiteral("not a regular file"));
    if (finalPath)
        *finalPath = target;
    return Error();
}

Error ExportDestination::resolveFolder(const QString& folder, const QString& containerPath,
                                       QString* finalPath)
{
    if (folder.isEmpty())
        return Error(Reason::DestinationUnwritable, QStringLiteral("no destination"));
    // A folder where the journal belongs would keep every later change from
    // being stored: it counts as an unsettled change.
    const QString target = resolvedName(QFileInfo(folder).absoluteFilePath());
    if (const Error guarded = refuseVaultFiles(target, containerPath); !guarded.ok())
        return guarded;
    const QFileInfo info(target);
    if (info.exists() && !info.isDir())
        return Error(Reason::DestinationUnwritable, QStringLiteral("not a folder"));
    if (finalPath)
        *finalPath = target;
    return Error();
}

Error ExportDestination::refuseVaultFiles(const QString& target, const QString& containerPath)
{
    // The journal and the compaction copy are often absent; their names are
    // compared too, so that an export never makes a file recovery would take
    // for one of them. Without regard to letter case: the drive of a vault is
    // usually a file system that ignores it.
    const QStringList guarded = {containerPath, HeaderJournal::journalPath(containerPath),
                                 ContainerRecovery::compactTempPath(containerPath)};
    for (const QString& kept : guarded) {
        if (sameFile(target, kept) || target.compare(resolvedName(kept), Qt::CaseInsensitive) == 0)
            return Error(Reason::InvalidArgument,
                         QStringLiteral("the destination is one of the vault's files"));
    }
    return Error();
}

} // namespace Keldra::Core
