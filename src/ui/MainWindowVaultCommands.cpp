// Commands on the vault as a whole: create, unlock, lock, change password, backup.
#include "ui/MainWindow.h"

#include "texts/VaultErrorText.h"
#include "ui/ChangePasswordDialog.h"
#include "ui/DeviceListPanel.h"
#include "ui/OperationProgressDialog.h"
#include "ui/ProgramDrive.h"
#include "ui/VaultBrowser.h"
#include "ui/VaultBrowserUtils.h"
#include "widgets/DialogHooks.h"

#include "core/crypto/SecureMemory.h"
#include "core/format/ContainerFormat.h"
#include "core/storage/ContainerRecovery.h"
#include "core/vault/PasswordRules.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

namespace Keldra::UI {

using Widgets::DialogHooks;
using Widgets::questionYesNo;

namespace {

const QString kContainerFilter = QStringLiteral("Keldra Container (*.kldr);;Todos os arquivos (*.*)");
const QString kBackupTitle = QStringLiteral("Fazer backup");
constexpr qint64 BackupChunkSize = 8 * 1024 * 1024;
const QString kDerivingKey = QStringLiteral("Derivando a chave do cofre...");
constexpr int RepaintPause = 60; // ms

// Passwords live only as long as the command that needs them.
using Core::wipe;

// The file begins as every container does; says nothing about whether it opens.
bool startsLikeAVault(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(Core::ContainerFormat::MagicSize) == QByteArray(Core::ContainerFormat::Magic);
}

} // namespace

QByteArray MainWindow::requestPassword(const QString& title, const QString& label) const
{
    bool ok = false;
    QString text = DialogHooks::getText(const_cast<MainWindow*>(this), title, label, QLineEdit::Password,
                                        QString(), &ok);
    QByteArray password = ok ? text.toUtf8() : QByteArray();
    text.fill(QLatin1Char(' '));
    return password;
}

QByteArray MainWindow::requestNewVaultPassword() const
{
    QByteArray first = requestPassword(QStringLiteral("Definir senha do cofre"),
                                       QStringLiteral("Senha (pelo menos 10 caracteres):"));
    if (first.isEmpty())
        return QByteArray();
    QByteArray second = requestPassword(QStringLiteral("Confirmar senha do cofre"));
    if (second.isEmpty()) {
        wipe(first);
        return QByteArray();
    }
    const bool same = first == second;
    wipe(second);
    if (!same) {
        wipe(first);
        DialogHooks::warning(const_cast<MainWindow*>(this), QStringLiteral("Keldra"),
                             QStringLiteral("As senhas informadas não coincidem."));
        return QByteArray();
    }
    if (!Core::PasswordRules::longEnoughForNewVault(first)) {
        wipe(first);
        DialogHooks::warning(
            const_cast<MainWindow*>(this), QStringLiteral("Keldra"),
            QStringLiteral("Use uma senha com pelo menos 10 caracteres para criar o cofre."));
        return QByteArray();
    }
    return first;
}

std::unique_ptr<OperationProgressDialog> MainWindow::createProgressDialog(const QString& title,
                                                                          const QString& label)
{
    auto dialog = std::make_unique<OperationProgressDialog>(title, label, this);
    dialog->start();
    return dialog;
}

void MainWindow::finishProgressDialog(OperationProgressDialog& dialog)
{
    dialog.finish();
}

void MainWindow::beginKeyDerivation()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setStatusMessage(kDerivingKey, 0);
    // The window system repaints where the prompt was only after it has
    // handled its removal: give it a moment before the wait. Keys typed
    // meanwhile stay queued.
    QEventLoop repaint;
    QTimer::singleShot(RepaintPause, &repaint, &QEventLoop::quit);
    repaint.exec(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::endKeyDerivation()
{
    QApplication::restoreOverrideCursor();
    if (statusBar()->currentMessage() == kDerivingKey)
        statusBar()->clearMessage();
}

QString MainWindow::proposedContainerPath() const
{
    const QString fileName = QLatin1String(Core::ContainerManager::FileName);
    QString root = m_devicePanel->currentDriveRoot();
    if (root.isEmpty())
        root = programDriveRoot(QCoreApplication::arguments().value(0));
    return root.isEmpty() ? fileName : QDir(root).filePath(fileName);
}

void MainWindow::warnVaultFailure(const QString& title, const QString& commandText,
                                  Core::Error::Reason commandReason)
{
    DialogHooks::warning(
        this, title, Texts::VaultErrorText::message(m_vaultManager.lastError(), commandText, commandReason));
}

bool MainWindow::catchUpWithOtherPrograms(const QString& title, const QString& commandText)
{
    bool changed = false;
    if (!m_vaultManager.refreshIndex(&changed)) {
        warnVaultFailure(title, commandText);
        return false;
    }
    if (changed)
        refreshVaultFiles();
    return true;
}

void MainWindow::createVault()
{
    // The file dialog's own "replace?" question is off: an existing file is
    // refused below, since creating over a vault would destroy it.
    const QString path =
        DialogHooks::getSaveFileName(this, QStringLiteral("Criar container Keldra"), proposedContainerPath(),
                                     kContainerFilter, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path)) {
        DialogHooks::warning(this, QStringLiteral("Keldra"),
                             startsLikeAVault(path)
                                 ? QStringLiteral("Já existe um cofre neste arquivo. Escolha outro nome ou "
                                                  "apague-o antes pelo gerenciador de arquivos.")
                                 : QStringLiteral("Já existe um arquivo com este nome. Escolha outro nome."));
        return;
    }
    QByteArray password = requestNewVaultPassword();
    if (password.isEmpty())
        return;
    beginKeyDerivation();
    const bool created = m_vaultManager.createVault(path, password);
    endKeyDerivation();
    wipe(password);
    if (!created) {
        warnVaultFailure(QStringLiteral("Keldra"), QStringLiteral("Não foi possível criar o cofre."));
        return;
    }
    m_containerPath = path;
    m_browser->setCurrentDirectory(QString());
    m_devicePanel->highlightContainerDrive(m_containerPath);
    refreshVaultFiles();
    updateActions();
    setStatusMessage(QStringLiteral("Cofre criado com sucesso."), 5000);
}

void MainWindow::unlockVault()
{
    QByteArray password =
        requestPassword(QStringLiteral("Senha do cofre - %1")
                            .arg(QDir::toNativeSeparators(QFileInfo(m_containerPath).absoluteFilePath())));
    if (password.isEmpty())
        return;
    beginKeyDerivation();
    const bool unlocked = m_vaultManager.unlockVault(m_containerPath, password);
    endKeyDerivation();
    wipe(password);
    if (!unlocked) {
        // A wrong password and an altered wrapped key look the same; one text says both.
        warnVaultFailure(
            QStringLiteral("Keldra"),
            QStringLiteral(
                "Não foi possível desbloquear o cofre. Verifique a senha ou se o container foi alterado."));
        return;
    }
    m_browser->setCurrentDirectory(QString());
    refreshVaultFiles();
    updateActions();
    m_browser->table()->setFocus();
    if (m_vaultManager.restoredFromCompactionCopy())
        setStatusMessage(
            QStringLiteral("O cofre foi restaurado da cópia feita durante a compactação interrompida."), 0);
    else
        setStatusMessage(QStringLiteral("Cofre desbloqueado."), 5000);
    m_containerWatch->start();
    offerRecoveredEdits();
}

void MainWindow::offerRecoveredEdits()
{
    const qsizetype pending = m_vaultManager.recoverableCopies().size();
    if (pending == 0)
        return;
    // "Não" keeps them: they are asked about again at the next unlock.
    if (!questionYesNo(this, QStringLiteral("Keldra"),
                       QStringLiteral("Foram encontradas alterações de uma sessão anterior que não foram "
                                      "salvas no cofre: %1 arquivo(s). Salvar agora no cofre?")
                           .arg(pending)))
        return;
    const bool recovered = m_vaultManager.recoverCopies();
    refreshVaultFiles();
    updateActions();
    if (!recovered) {
        warnVaultFailure(
            QStringLiteral("Keldra"),
            QStringLiteral("Não foi possível salvar no cofre as alterações da sessão anterior."));
        return;
    }
    m_unsavedAfterRemoval = 0;
    setStatusMessage(QStringLiteral("Alterações da sessão anterior salvas no cofre."), 5000);
}

void MainWindow::checkContainerStillThere()
{
    if (!isUnlocked()) {
        m_containerWatch->stop();
        return;
    }
    // Not in the middle of a long command or a dialog: a progress dialog or a question runs
    // its own loop while a vault operation may be under way (compaction even
    // removes the container for a moment). Checked again once it is closed.
    if (m_operationRunning || QApplication::activeModalWidget())
        return;
    const QString path = m_vaultManager.containerPath();
    QFile container(path);
    if (QFileInfo(path).isFile() && container.open(QIODevice::ReadOnly))
        return;
    lockAfterContainerLoss();
}

void MainWindow::lockAfterContainerLoss()
{
    m_containerWatch->stop();
    m_unsavedAfterRemoval += m_vaultManager.abandonVault();
    m_browser->setCurrentDirectory(QString());
    refreshVaultFiles();
    updateActions();
    setStatusMessage(QStringLiteral("Cofre bloqueado."), 5000);
    DialogHooks::warning(this, QStringLiteral("Keldra"),
                         QStringLiteral("A unidade do cofre foi removida. O cofre foi bloqueado."));
}

void MainWindow::lockVault()
{
    if (!m_vaultManager.lockVault())
        warnVaultFailure(QStringLiteral("Keldra"),
                         QStringLiteral("Não foi possível limpar a área temporária."),
                         Core::Error::Reason::WorkspaceUnavailable);
    if (!isUnlocked())
        m_containerWatch->stop();
    m_browser->setCurrentDirectory(QString());
    refreshVaultFiles();
    updateActions();
    // When an edited copy could not be stored the vault stays unlocked: do
    // not claim otherwise.
    if (!isUnlocked())
        setStatusMessage(QStringLiteral("Cofre bloqueado."), 5000);
}

void MainWindow::changeVaultPassword()
{
    if (m_containerPath.isEmpty()) {
        DialogHooks::information(this, QStringLiteral("Keldra"),
                                 QStringLiteral("Selecione um container primeiro."));
        return;
    }
    if (isUnlocked()) {
        DialogHooks::information(this, QStringLiteral("Keldra"),
                                 QStringLiteral("Bloqueie o cofre antes de alterar a senha."));
        return;
    }
    const QString failed =
        QStringLiteral("Não foi possível alterar a senha. Verifique a senha atual e tente novamente.");
    ChangePasswordDialog dialog(this);
    bool changed = false;
    // Tried from inside the dialog: a wrong current password keeps it open
    // with what was typed; any other outcome closes it.
    dialog.setChangeAttempt([&](const QByteArray& current, const QByteArray& replacement) {
        dialog.setEnabled(false);
        beginKeyDerivation();
        changed = m_vaultManager.changePassword(m_containerPath, current, replacement);
        endKeyDerivation();
        dialog.setEnabled(true);
        if (changed || !m_vaultManager.lastError().is(Core::Error::Reason::WrongPassword))
            return true;
        setStatusMessage(QStringLiteral("Falha ao alterar a senha."), 5000);
        DialogHooks::warning(&dialog, QStringLiteral("Alterar senha"), failed);
        return false;
    });
    if (DialogHooks::exec(dialog) != QDialog::Accepted)
        return;
    if (changed) {
        const QString text = QStringLiteral("Senha alterada com sucesso.");
        setStatusMessage(text, 5000);
        DialogHooks::information(this, QStringLiteral("Keldra"), text);
        return;
    }
    warnVaultFailure(QStringLiteral("Keldra"), failed);
    setStatusMessage(QStringLiteral("Falha ao alterar a senha."), 5000);
}

void MainWindow::backupContainer()
{
    if (m_containerPath.isEmpty()) {
        DialogHooks::information(this, QStringLiteral("Keldra"),
                                 QStringLiteral("Selecione um container primeiro."));
        return;
    }
    if (isUnlocked()) {
        DialogHooks::information(this, QStringLiteral("Keldra"),
                                 QStringLiteral("Bloqueie o cofre antes de fazer o backup."));
        return;
    }
    const QFileInfo container(m_containerPath);
    if (!container.exists() || !container.isFile()) {
        DialogHooks::warning(this, kBackupTitle,
                             QStringLiteral("O arquivo do container não foi encontrado."));
        return;
    }

    const QString proposed =
        QDir(QDir::homePath())
            .filePath(QStringLiteral("keldra_backup_%1.kldr")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmm"))));
    // The dialog's own "replace?" would come before the refusal of the
    // container itself: the checks and the question are Keldra's.
    const QString target =
        DialogHooks::getSaveFileName(this, QStringLiteral("Fazer backup do container"), proposed,
                                     kContainerFilter, QFileDialog::DontConfirmOverwrite);
    if (target.isEmpty())
        return;
    const QFileInfo targetInfo(target);
    if (targetInfo.absoluteFilePath() == container.absoluteFilePath() ||
        (targetInfo.exists() && targetInfo.canonicalFilePath() == container.canonicalFilePath())) {
        DialogHooks::warning(this, kBackupTitle,
                             QStringLiteral("Escolha um destino diferente do container original."));
        return;
    }
    if (targetInfo.exists() &&
        !questionYesNo(this, kBackupTitle,
                       QStringLiteral("%1 já existe.\n\nSubstituir esse arquivo pelo backup?")
                           .arg(QDir::toNativeSeparators(targetInfo.absoluteFilePath()))))
        return;

    if (copyContainerTo(target)) {
        setStatusMessage(QStringLiteral("Backup do container concluído."), 5000);
        DialogHooks::information(this, kBackupTitle,
                                 QStringLiteral("Backup concluído com sucesso.\n\nO arquivo de backup é uma "
                                                "cópia criptografada do container e permanece protegido "
                                                "pela senha do cofre."));
    }
}

// Byte-for-byte copy through a QSaveFile: the target only appears when the
// copy is complete, so a failed backup never leaves a truncated file nor
// destroys an earlier file of that name, and a target that is the container
// under another spelling (case-insensitive drives, links) ends up as an
// identical copy instead of being truncated while it is read.
bool MainWindow::copyContainerTo(const QString& target)
{
    // A header change torn by a crash is rolled back first: a backup must be a whole vault.
    QFile source(m_containerPath);
    if (!Keldra::Core::ContainerRecovery::recover(m_containerPath).ok() ||
        !source.open(QIODevice::ReadOnly)) {
        DialogHooks::warning(this, kBackupTitle,
                             QStringLiteral("Não foi possível abrir o container para backup."));
        return false;
    }
    QSaveFile output(target);
    if (!output.open(QIODevice::WriteOnly)) {
        DialogHooks::warning(this, kBackupTitle,
                             QStringLiteral("Não foi possível criar o arquivo de backup."));
        return false;
    }

    const LongOperation operation(*this);
    std::unique_ptr<OperationProgressDialog> progress = createProgressDialog(
        kBackupTitle,
        QStringLiteral(
            "Copiando backup criptografado...\n\nO backup permanece protegido pela senha do cofre."));
    const qint64 total = source.size();
    qint64 copied = 0;
    bool succeeded = false;
    while (true) {
        if (source.atEnd()) {
            succeeded = output.flush();
            break;
        }
        const QByteArray chunk = source.read(BackupChunkSize);
        if (chunk.isEmpty() || output.write(chunk) != chunk.size())
            break;
        copied += chunk.size();
        progress->setValue(total > 0 ? int(copied * 1000 / total) : 1000);
        progress->setLabelText(QStringLiteral("Copiando backup criptografado...\n%1 de %2")
                                   .arg(formatFileSize(copied), formatFileSize(total)));
        QApplication::processEvents();
    }
    source.close();
    if (succeeded)
        succeeded = output.commit();
    else
        output.cancelWriting();
    finishProgressDialog(*progress);

    if (!succeeded) {
        DialogHooks::warning(this, kBackupTitle, QStringLiteral("Não foi possível concluir o backup."));
        setStatusMessage(QStringLiteral("Falha ao fazer backup do container."), 5000);
    }
    return succeeded;
}

} // namespace Keldra::UI
