// Where the export and import dialogs start, and the warning about exporting
// onto the vault's own drive.
#include "ui/MainWindow.h"

#include "ui/DeviceListPanel.h"
#include "ui/ProgramDrive.h"
#include "ui/VaultBrowserUtils.h"
#include "widgets/DialogHooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace Keldra::UI {

QString MainWindow::firstFileFolder()
{
    // A dialog without a folder starts in the working folder, which for a
    // program started from the drive is the drive itself.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString MainWindow::vaultDriveRoot() const
{
    const QString container =
        m_vaultManager.containerPath().isEmpty() ? m_containerPath : m_vaultManager.containerPath();
    if (container.isEmpty())
        return QString();
    const QString listed = m_devicePanel->driveRootOf(container);
    if (!listed.isEmpty())
        return listed;
    // Without drive detection: the drive Keldra runs from, when the container is on it.
    const QString programRoot = programDriveRoot(QCoreApplication::arguments().value(0));
    if (!programRoot.isEmpty() && normalizeDirectoryPath(QFileInfo(container).absolutePath())
                                      .startsWith(normalizeDirectoryPath(programRoot), Qt::CaseInsensitive))
        return programRoot;
    return QString();
}

bool MainWindow::confirmExportFolder(const QString& target)
{
    if (m_exportToVaultDriveAccepted)
        return true;
    const QString root = vaultDriveRoot();
    if (root.isEmpty() || !normalizeDirectoryPath(QFileInfo(target).absolutePath())
                               .startsWith(normalizeDirectoryPath(root), Qt::CaseInsensitive))
        return true;
    if (!Widgets::questionContinueCancel(
            this, QStringLiteral("Exportar arquivo"),
            QStringLiteral("A pasta escolhida fica na mesma unidade do cofre (%1). A cópia exportada é "
                           "descriptografada: ela viajaria com a unidade, legível por quem a tiver em "
                           "mãos.\n\nExportar para essa pasta mesmo assim?")
                .arg(QDir::toNativeSeparators(root))))
        return false;
    m_exportToVaultDriveAccepted = true;
    return true;
}

} // namespace Keldra::UI
