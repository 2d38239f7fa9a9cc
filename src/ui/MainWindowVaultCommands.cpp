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

const QString kBackupTitle = QStringLiteral("Fazer backup");
const QString kDerivingKey = QStringLiteral("Derivando a chave do cofre...");
// Cancelling throws away what was done; past this much work, ask first.
constexpr qint64 kConfirmCancelAfterMs = 3000;

using Core::Error;
using Reason = Core::Error::Reason;

// A password handed to the worker, wiped once the worker is done with it.
std::shared_ptr<QByteArray> sharedSecret(QByteArray* password)
{
    // A deep copy: wiping a buffer shared with the caller's would wipe both.
    auto secret = std::shared_ptr<QByteArray>(new QByteArray(password->constData(), password->size()),
                                              [](QByteArray* bytes) {
                                                  Core::wipe(*bytes);
                                                  delete bytes;
                                              });
    Core::wipe(*password);
    return secret;
}

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
    // A refused password asks again, with empty fields, instead of dropping
    // the chosen path; only cancelling a prompt gives up.
    for (;;) {
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
            continue;
        }
        if (!Core::PasswordRules::longEnoughForNewVault(first)) {
            wipe(first);
            DialogHooks::warning(
                const_cast<MainWindow*>(this), QStringLiteral("Keldra"),
                QStringLiteral("Use uma senha com pelo menos 10 caracteres para criar o cofre."));
            continue;
        }
        return first;
    }
}

Error MainWindow::operationOutcome(const Core::VaultManager& vault, bool succeeded)
{
    if (succeeded)
        return Error();
    // A failure always carries its reason; never let one pass for success.
    return vault.lastError().ok() ? Error(Reason::Internal, QStringLiteral("failed without a reason"))
                                  : vault.lastError();
}

void MainWindow::runVaultOperation(const OperationView& view, VaultSession::Work work,
                                   VaultSession::Done done)
{
    if (m_operationRunning || m_session->isBusy())
        return;
    auto* dialog = new OperationProgressDialog(view.title, view.heading, this);
    if (view.busy)
        dialog->showBusy();
    if (view.cancellable) {
        dialog->allowCancel();
        connect(dialog, &OperationProgressDialog::cancelClicked, this, &MainWindow::cancelRunningOperation);
    }
    const QString heading = view.heading;
    connect(m_session.get(), &VaultSession::progress, dialog,
            [dialog, heading](qint64 bytesDone, qint64 total, const QString& text) {
                dialog->showProgress(text.isEmpty() ? heading : text, bytesDone, total);
            });
    if (view.busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        setStatusMessage(view.heading, 0);
    }
    // Rebuilding the browser loses its selection: only when the vault changed.
    const bool wasUnlocked = isUnlocked();
    // The progress dialog takes the activation; it goes back to the window.
    const bool wasActive = isActiveWindow();
    const QByteArray indexBefore = wasUnlocked ? m_session->fileIndex().toJson() : QByteArray();
    const auto finished = [this, dialog, done = std::move(done), view, wasUnlocked, wasActive,
                           indexBefore](const Error& result) {
        if (view.busy)
            QApplication::restoreOverrideCursor();
        if (statusBar()->currentMessage() == view.heading)
            statusBar()->clearMessage();
        dialog->finish();
        dialog->deleteLater();
        if (wasActive)
            activateWindow();
        m_operationRunning = false;
        m_watchDuringOperation = false;
        if (isUnlocked() != wasUnlocked || (wasUnlocked && m_session->fileIndex().toJson() != indexBefore))
            refreshVaultFiles();
        updateActions();
        const bool lost = m_containerLost;
        m_containerLost = false;
        if (result.is(Reason::Cancelled) && !lost && !view.doneOnCancel)
            setStatusMessage(QStringLiteral("Operação cancelada."), 5000);
        else if (!lost || result.ok())
            done(result);
        if (lost && isUnlocked() && !m_session->isBusy())
            lockAfterContainerLoss();
        if (m_closeAfterOperation && !m_operationRunning) {
            m_closeAfterOperation = false;
            close();
        }
    };
    m_operationTitle = view.title;
    m_operationRunning = true;
    m_watchDuringOperation = view.watchContainer;
    m_containerLost = false;
    if (!m_session->start(std::move(work), finished, view.cancellable)) {
        if (view.busy)
            QApplication::restoreOverrideCursor();
        m_operationRunning = false;
        m_watchDuringOperation = false;
        delete dialog;
        return;
    }
    updateActions();
    dialog->start();
}

void MainWindow::cancelRunningOperation()
{
    if (!m_session->isCancellable() || m_session->cancelRequested())
        return;
    if (m_session->elapsedMs() > kConfirmCancelAfterMs &&
        !questionYesNo(this, m_operationTitle,
                       QStringLiteral("Cancelar a operação? O que já foi feito será descartado.")))
        return;
    m_session->requestCancel();
    setStatusMessage(QStringLiteral("Cancelando a operação..."), 0);
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
    warnOperationFailure(m_vaultManager.lastError(), title, commandText, commandReason);
}

void MainWindow::warnOperationFailure(const Error& error, const QString& title, const QString& commandText,
                                      Core::Error::Reason commandReason)
{
    DialogHooks::warning(this, title, VaultSession::failureText(error, commandText, commandReason));
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
    // Found out before the password is typed twice, not after the key is derived.
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
        DialogHooks::warning(this, QStringLiteral("Keldra"),
                             QStringLiteral("A pasta de destino não foi encontrada."));
        return;
    }
    QByteArray password = requestNewVaultPassword();
    if (password.isEmpty())
        return;
    const std::shared_ptr<QByteArray> secret = sharedSecret(&password);
    OperationView view;
    view.title = QStringLiteral("Criar cofre");
    view.heading = kDerivingKey;
    view.busy = true;
    runVaultOperation(
        view,
        [path, secret](Core::VaultManager& vault, const VaultSession::Progress&) {
            return operationOutcome(vault, vault.createVault(path, *secret));
        },
        [this, path](const Error& result) {
            if (!result.ok()) {
                warnOperationFailure(result, QStringLiteral("Keldra"),
                                     QStringLiteral("Não foi possível criar o cofre."));
                return;
            }
            m_containerPath = path;
            m_browser->setCurrentDirectory(QString());
            m_devicePanel->highlightContainerDrive(m_containerPath);
            refreshVaultFiles();
            updateActions();
            setStatusMessage(QStringLiteral("Cofre criado com sucesso."), 5000);
        });
}

bool MainWindow::warnIfContainerMissing()
{
    if (QFileInfo(m_containerPath).isFile())
        return false;
    DialogHooks::warning(this, QStringLiteral("Keldra"),
                         QStringLiteral("O arquivo do container não foi encontrado."));
    updateActions();
    return true;
}

void MainWindow::unlockVault()
{
    // A pulled drive is reported before the password is asked for and the
    // key derived for seconds.
    if (warnIfContainerMissing())
        return;
    QByteArray password =
        requestPassword(QStringLiteral("Senha do cofre - %1")
                            .arg(QDir::toNativeSeparators(QFileInfo(m_containerPath).absoluteFilePath())));
    if (password.isEmpty())
        return;
    const std::shared_ptr<QByteArray> secret = sharedSecret(&password);
    const QString path = m_containerPath;
    OperationView view;
    view.title = QStringLiteral("Desbloquear");
    view.heading = kDerivingKey;
    view.busy = true;
    runVaultOperation(
        view,
        [path, secret](Core::VaultManager& vault, const VaultSession::Progress&) {
            return operationOutcome(vault, vault.unlockVault(path, *secret));
        },
        [this](const Error& result) { finishUnlock(result); });
}

void MainWindow::finishUnlock(const Error& result)
{
    if (!result.ok()) {
        // A wrong password and an altered wrapped key look the same; one text says both.
        warnOperationFailure(
            result, QStringLiteral("Keldra"),
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
    const QList<Core::TrackedTempFile> pending = m_vaultManager.recoverableCopies();
    if (pending.isEmpty())
        return;
    constexpr qsizetype kListed = 10;
    QStringList names;
    for (qsizetype i = 0; i < pending.size() && i < kListed; ++i)
        names << QStringLiteral("  %1").arg(pending[i].vaultPath);
    if (pending.size() > kListed)
        names << QStringLiteral("  e mais %1").arg(pending.size() - kListed);
    // "Não" keeps them: they are asked about again at the next unlock.
    if (!questionYesNo(this, QStringLiteral("Keldra"),
                       QStringLiteral("Foram encontradas alterações de uma sessão anterior que não foram "
                                      "salvas no cofre:\n\n%1\n\nSalvar agora no cofre?")
                           .arg(names.join(QLatin1Char('\n'))),
                       true)) {
        DialogHooks::information(this, QStringLiteral("Keldra"),
                                 QStringLiteral("As alterações não salvas continuam guardadas neste "
                                                "computador, fora do cofre, e serão oferecidas novamente "
                                                "no próximo desbloqueio."));
        return;
    }
    OperationView view;
    view.title = QStringLiteral("Keldra");
    view.heading = QStringLiteral("Salvando no cofre as alterações da sessão anterior...");
    view.busy = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [](Core::VaultManager& vault, const VaultSession::Progress&) {
            return operationOutcome(vault, vault.recoverCopies());
        },
        [this](const Error& result) {
            if (!result.ok()) {
                warnOperationFailure(
                    result, QStringLiteral("Keldra"),
                    QStringLiteral("Não foi possível salvar no cofre as alterações da sessão anterior."));
                return;
            }
            m_unsavedAfterRemoval = 0;
            setStatusMessage(QStringLiteral("Alterações da sessão anterior salvas no cofre."), 5000);
        });
}

void MainWindow::checkContainerStillThere()
{
    if (!isUnlocked()) {
        m_containerWatch->stop();
        return;
    }
    const QString path = m_session->containerPath();
    const auto reachable = [&path] {
        QFile container(path);
        return QFileInfo(path).isFile() && container.open(QIODevice::ReadOnly);
    };
    // An operation that reads the container is stopped when it goes: the
    // drive was pulled. Once it has ended, the vault is locked.
    if (m_operationRunning) {
        if (m_watchDuringOperation && !m_containerLost && !reachable()) {
            m_containerLost = true;
            m_session->requestCancel();
        }
        return;
    }
    // Not while a question is open: it may be about to start an operation.
    // Checked again once it is closed.
    if (QApplication::activeModalWidget())
        return;
    if (reachable())
        return;
    lockAfterContainerLoss();
}

void MainWindow::lockAfterContainerLoss()
{
    m_containerWatch->stop();
    const int kept = m_vaultManager.abandonVault();
    m_unsavedAfterRemoval += kept;
    m_browser->setCurrentDirectory(QString());
    refreshVaultFiles();
    updateActions();
    setStatusMessage(QStringLiteral("Cofre bloqueado."), 5000);
    QString text = QStringLiteral("A unidade do cofre foi removida. O cofre foi bloqueado.");
    if (kept > 0)
        text += QStringLiteral("\n\nAs cópias editadas de %1 arquivo(s) foram mantidas neste computador "
                               "e serão oferecidas para salvar no cofre no próximo desbloqueio.")
                    .arg(kept);
    DialogHooks::warning(this, QStringLiteral("Keldra"), text);
}

void MainWindow::lockVault()
{
    OperationView view;
    view.title = QStringLiteral("Bloquear");
    view.heading = QStringLiteral("Salvando as alterações e bloqueando o cofre...");
    view.busy = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [](Core::VaultManager& vault, const VaultSession::Progress&) {
            return operationOutcome(vault, vault.lockVault());
        },
        [this](const Error& result) {
            if (!result.ok())
                warnOperationFailure(result, QStringLiteral("Keldra"),
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
        });
}

void MainWindow::lockThenClose()
{
    m_closeAfterOperation = true;
    OperationView view;
    view.title = QStringLiteral("Keldra");
    view.heading = QStringLiteral("Salvando as alterações e bloqueando o cofre...");
    view.busy = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [](Core::VaultManager& vault, const VaultSession::Progress&) {
            return operationOutcome(vault, vault.lockVault());
        },
        [this](const Error& result) {
            if (!isUnlocked())
                m_containerWatch->stop();
            if (result.ok())
                return;
            m_closeAfterOperation = false;
            DialogHooks::warning(this, QStringLiteral("Keldra"),
                                 QStringLiteral("Não foi possível bloquear o cofre."));
        });
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
    if (warnIfContainerMissing())
        return;
    const QString failed =
        QStringLiteral("Não foi possível alterar a senha. Verifique a senha atual e tente novamente.");
    ChangePasswordDialog dialog(this);
    bool changed = false;
    // Tried from inside the dialog: a wrong current password keeps it open
    // with what was typed; any other outcome closes it.
    Error failure;
    dialog.setChangeAttempt([&](const QByteArray& current, const QByteArray& replacement) {
        QByteArray currentCopy = current;
        QByteArray replacementCopy = replacement;
        const std::shared_ptr<QByteArray> oldSecret = sharedSecret(&currentCopy);
        const std::shared_ptr<QByteArray> newSecret = sharedSecret(&replacementCopy);
        const QString path = m_containerPath;
        dialog.setEnabled(false);
        // The dialog waits for its answer; the window keeps painting meanwhile.
        QEventLoop waiting;
        OperationView view;
        view.title = QStringLiteral("Alterar senha");
        view.heading = kDerivingKey;
        view.busy = true;
        runVaultOperation(
            view,
            [path, oldSecret, newSecret](Core::VaultManager& vault, const VaultSession::Progress&) {
                return operationOutcome(vault, vault.changePassword(path, *oldSecret, *newSecret));
            },
            [&](const Error& result) {
                failure = result;
                waiting.quit();
            });
        if (m_operationRunning)
            waiting.exec();
        changed = failure.ok();
        dialog.setEnabled(true);
        if (changed || !failure.is(Core::Error::Reason::WrongPassword))
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
    warnOperationFailure(failure, QStringLiteral("Keldra"), failed);
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

    copyContainerTo(target);
}

void MainWindow::copyContainerTo(const QString& target)
{
    const QString source = m_containerPath;
    VaultSession* session = m_session.get();
    OperationView view;
    view.title = kBackupTitle;
    view.heading = QStringLiteral(
        "Copiando backup criptografado...\n\nO backup permanece protegido pela senha do cofre.");
    view.cancellable = true;
    runVaultOperation(
        view,
        [session, source, target](Core::VaultManager&, const VaultSession::Progress& progress) {
            return session->copyContainer(
                source, target, [&progress](qint64 copied, qint64 total, const QString&) {
                    progress(copied, total, QStringLiteral("Copiando backup criptografado..."));
                });
        },
        [this](const Error& result) {
            if (result.ok()) {
                setStatusMessage(QStringLiteral("Backup do container concluído."), 5000);
                DialogHooks::information(
                    this, kBackupTitle,
                    QStringLiteral("Backup concluído com sucesso.\n\nO arquivo de backup é "
                                   "uma cópia criptografada do container e permanece "
                                   "protegido pela senha do cofre."));
                return;
            }
            DialogHooks::warning(this, kBackupTitle,
                                 result.is(Reason::ContainerUnavailable)
                                     ? QStringLiteral("Não foi possível abrir o container para backup.")
                                 : result.is(Reason::DestinationUnwritable)
                                     ? QStringLiteral("Não foi possível criar o arquivo de backup.")
                                     : QStringLiteral("Não foi possível concluir o backup."));
            setStatusMessage(QStringLiteral("Falha ao fazer backup do container."), 5000);
        });
}

} // namespace Keldra::UI
