#include "vault/TempWorkspaceManager.h"

#include "vault/PrivateTempFolder.h"
#include "vault/StaleWorkspaceSweeper.h"
#include "vault/WorkspaceRecord.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

constexpr QFileDevice::Permissions OwnerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

bool makeOwnerOnlyFolder(const QString& path)
{
    QDir dir;
    if (!dir.exists(path) && !dir.mkdir(path, OwnerOnly) && !dir.exists(path))
        return false;
    const QFileInfo info(path);
    if (!info.isDir() || info.isSymLink())
        return false;
#ifdef Q_OS_UNIX
    if (info.ownerId() != ::getuid())
        return false;
#endif
    // An earlier folder of ours may carry wider rights; narrow them.
    return QFile::setPermissions(path, OwnerOnly);
}

} // namespace

TempWorkspaceManager::TempWorkspaceManager()
    : m_tempRoot(QStandardPaths::writableLocation(QStandardPaths::TempLocation)),
      m_id(QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_dir(m_tempRoot + QLatin1String("/Keldra/") + m_id)
{
    // Plain copies left by a run that crashed or was killed must not linger.
    StaleWorkspaceSweeper::removeStaleWorkspaces(m_tempRoot);
}

bool TempWorkspaceManager::prepare()
{
    // The workspace, its record and its mark all live in a folder of this
    // user alone; nothing is written into the shared temporary folder itself.
    const QString base = PrivateTempFolder::base(m_tempRoot);
    if (base.isEmpty())
        return false;
    m_dir.setPath(base + QLatin1Char('/') + m_id);
    if (!makeOwnerOnlyFolder(m_dir.absolutePath()))
        return false;
    // Without the mark a later run cannot clean up after a crash; the workspace itself still works.
    (void)StaleWorkspaceSweeper::markOwner(m_dir.absolutePath());
    return true;
}

QString TempWorkspaceManager::workspacePath() const
{
    return m_dir.absolutePath();
}

QString TempWorkspaceManager::pathForVaultFile(const QString& vaultPath) const
{
    return m_dir.filePath(vaultPath);
}

bool TempWorkspaceManager::cleanup()
{
    if (m_dir.exists() && !m_dir.removeRecursively())
        return false;
    QFile::remove(WorkspaceRecord::pathFor(m_dir.absolutePath()));
    StaleWorkspaceSweeper::removeOwnerMark(m_dir.absolutePath());
    return true;
}

void TempWorkspaceManager::abandon()
{
    // Without the released mark the folder would wait for this process to end.
    (void)StaleWorkspaceSweeper::releaseOwner(m_dir.absolutePath());
    m_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_dir.setPath(QFileInfo(m_dir.absolutePath()).absolutePath() + QLatin1Char('/') + m_id);
}

} // namespace Keldra::Core
