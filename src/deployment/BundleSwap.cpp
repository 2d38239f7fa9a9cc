#include "deployment/BundleSwap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Keldra::Deployment {

namespace {

bool pathExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

bool renameDirectory(const QString& from, const QString& to)
{
    return QDir().rename(from, to);
}

Error replaceBundleDirectory(const QString& target, const QString& replacement, const QString& backup,
                             const DirectoryRenamer& rename)
{
    if (pathExists(backup)) {
        if (const Error removed = removeDirectory(backup); !removed.ok())
            return removed;
    }
    if (pathExists(target) && !rename(target, backup))
        return Error(Error::Reason::BackupNotCreated, {target});
    if (rename(replacement, target))
        return Error();
    if (pathExists(backup))
        rename(backup, target);
    return Error(Error::Reason::BundleNotReplaced, {target});
}

Error removeDirectory(const QString& path)
{
    const QFileInfo info(path);
    bool removed = true;
    // A link is removed itself: following it would delete what it points to.
    if (info.isSymLink() || info.isFile())
        removed = QFile::remove(path);
    else if (info.exists())
        removed = QDir(path).removeRecursively();
    return removed ? Error() : Error(Error::Reason::NotRemoved, {path});
}

} // namespace Keldra::Deployment
