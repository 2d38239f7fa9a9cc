#include "BundleSwap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Keldra::Deployment {

namespace {

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

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

bool replaceBundleDirectory(const QString& target, const QString& replacement, const QString& backup,
                            QString* error, const DirectoryRenamer& rename)
{
    if (pathExists(backup) && !removeDirectory(backup, error))
        return false;
    if (pathExists(target) && !rename(target, backup)) {
        setError(error, QStringLiteral("Não foi possível criar backup de: %1").arg(target));
        return false;
    }
    if (rename(replacement, target))
        return true;
    if (pathExists(backup))
        rename(backup, target);
    setError(error, QStringLiteral("Não foi possível aplicar novo bundle em: %1").arg(target));
    return false;
}

bool removeDirectory(const QString& path, QString* error)
{
    const QFileInfo info(path);
    bool removed = true;
    // A link is removed itself: following it would delete what it points to.
    if (info.isSymLink() || info.isFile())
        removed = QFile::remove(path);
    else if (info.exists())
        removed = QDir(path).removeRecursively();
    if (!removed)
        setError(error, QStringLiteral("Não foi possível remover: %1").arg(path));
    return removed;
}

} // namespace Keldra::Deployment
