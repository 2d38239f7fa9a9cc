// What the window keeps between runs and locking without being asked: the
// last container, the preferences dialog, and the lock after inactivity or
// when the session locks or the computer sleeps.
#include "ui/MainWindow.h"

#include "ui/AppSettings.h"
#include "ui/DeviceListPanel.h"
#include "ui/InactivityLock.h"
#include "ui/PreferencesDialog.h"
#include "widgets/DialogHooks.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>

namespace Keldra::UI {

using Widgets::DialogHooks;

void MainWindow::setUpPreferences()
{
    const QString last = AppSettings::lastContainer();
    // Only when its drive is present; otherwise the start stays as it was.
    if (!last.isEmpty() && QFileInfo(last).isFile()) {
        m_containerPath = last;
        m_rememberedContainer = last;
    }

    m_inactivity = new InactivityLock(this);
    m_inactivity->setTimeoutMinutes(AppSettings::inactivityMinutes());
    connect(m_inactivity, &InactivityLock::idle, this, [this] { lockWithoutUser(false); });
    connect(m_inactivity, &InactivityLock::systemLocked, this, [this] { lockWithoutUser(true); });
    InactivityLock::watchSessionOf(this);
    connect(m_preferencesAction, &QAction::triggered, this, &MainWindow::showPreferences);
}

void MainWindow::rememberContainer()
{
    if (m_containerPath.isEmpty() || m_containerPath == m_rememberedContainer)
        return;
    m_rememberedContainer = m_containerPath;
    AppSettings::setLastContainer(m_containerPath);
}

void MainWindow::showPreferences()
{
    PreferencesDialog dialog(m_inactivity->timeoutMinutes(), this);
    if (DialogHooks::exec(dialog) != QDialog::Accepted)
        return;
    m_inactivity->setTimeoutMinutes(dialog.inactivityMinutes());
    AppSettings::setInactivityMinutes(dialog.inactivityMinutes());
}

bool MainWindow::hasCopiesOpenForEditing() const
{
    if (!m_vaultManager.modifiedOpenFiles().isEmpty())
        return true;
    const Core::SecureFileIndex index = m_vaultManager.fileIndex();
    const QList<Core::VaultFileEntry> entries = index.entries();
    for (const Core::VaultFileEntry& entry : entries) {
        if (m_openedForEditing.contains(entry.vaultPath.toLower()))
            return true;
    }
    return false;
}

void MainWindow::lockWithoutUser(bool systemLock)
{
    if (!isUnlocked())
        return;
    // A running command or an open question would go on with a locked vault
    // under it: tried again at the next period. A computer put to sleep in
    // the middle of an export must not wake with the vault open, though: a
    // system lock is carried out once the running command has ended.
    if (m_operationRunning || QApplication::activeModalWidget()) {
        if (systemLock && m_session->isBusy() && !m_lockWhenIdle) {
            m_lockWhenIdle = true;
            connect(
                m_session.get(), &VaultSession::idle, this,
                [this] {
                    m_lockWhenIdle = false;
                    lockWithoutUser(true);
                },
                Qt::SingleShotConnection);
        }
        return;
    }
    // Locking would store the copies and remove them from under the
    // programs editing them: later saves there would be lost.
    if (hasCopiesOpenForEditing()) {
        setStatusMessage(systemLock
                             ? QStringLiteral("O cofre continua desbloqueado: há arquivos abertos para "
                                              "edição. Salve-os, feche-os e bloqueie o cofre.")
                             : QStringLiteral("O cofre não foi bloqueado por inatividade: há arquivos "
                                              "abertos para edição. Salve-os, feche-os e bloqueie o "
                                              "cofre."),
                         0);
        return;
    }
    const QString why = systemLock ? QStringLiteral("Cofre bloqueado: a sessão foi bloqueada ou o computador "
                                                    "entrou em suspensão.")
                                   : QStringLiteral("Cofre bloqueado por inatividade.");
    lockVault();
    if (!m_session->isBusy()) {
        if (!isUnlocked())
            setStatusMessage(why, 0);
        return;
    }
    // The lock runs on the worker: the reason replaces its "Cofre bloqueado."
    // once it has ended, and only if the vault did lock.
    connect(
        m_session.get(), &VaultSession::idle, this,
        [this, why] {
            if (!isUnlocked())
                setStatusMessage(why, 0);
        },
        Qt::SingleShotConnection);
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    if (InactivityLock::isSystemLockMessage(eventType, message))
        m_inactivity->reportSystemLock();
    return QMainWindow::nativeEvent(eventType, message, result);
}

} // namespace Keldra::UI
