// The integrity check: every file of the open vault is decrypted block by
// block and compared with the size and SHA-256 the index holds; nothing is
// written anywhere.
#include "ui/MainWindow.h"

#include "texts/IntegrityText.h"
#include "ui/OperationProgressDialog.h"
#include "ui/VaultBrowser.h"
#include "ui/VaultBrowserUtils.h"
#include "widgets/DialogHooks.h"

#include <QApplication>

namespace Keldra::UI {

using Widgets::DialogHooks;

void MainWindow::verifyVault()
{
    const QString title = QStringLiteral("Verificar integridade");
    if (!isUnlocked() ||
        !catchUpWithOtherPrograms(title, QStringLiteral("Não foi possível concluir a verificação do cofre.")))
        return;
    const QList<Core::VaultFileEntry> entries = m_vaultManager.fileIndex().entries();
    qint64 total = 0;
    for (const Core::VaultFileEntry& entry : entries)
        total += entry.sizeBytes;

    const LongOperation operation(*this);
    std::unique_ptr<OperationProgressDialog> progress =
        createProgressDialog(title, QStringLiteral("Verificando os arquivos do cofre..."));
    OperationProgressDialog* dialog = progress.get();
    qint64 before = 0; // bytes of the files already checked
    const auto onProgress = [dialog, &before, total](qint64 done, qint64, const QString& text) {
        const qint64 overall = before + done;
        dialog->setValue(total > 0 ? int(overall * 1000 / total) : 1000);
        dialog->setLabelText(QStringLiteral("Verificando %1...\n%2 de %3")
                                 .arg(text, formatFileSize(overall), formatFileSize(total)));
        QApplication::processEvents();
    };

    QStringList damaged;
    bool interrupted = false;
    for (const Core::VaultFileEntry& entry : entries) {
        onProgress(0, entry.sizeBytes, entry.vaultPath);
        if (!m_vaultManager.verifyFile(entry.vaultPath, onProgress)) {
            // A drive that stops answering says nothing about the files: stop
            // instead of calling every file after it damaged.
            if (!m_vaultManager.lastError().is(Core::Error::Reason::DamagedFile)) {
                interrupted = true;
                break;
            }
            damaged << entry.vaultPath;
        }
        before += entry.sizeBytes;
    }
    finishProgressDialog(*progress);
    progress.reset();
    markDamagedFiles(entries, damaged);

    if (interrupted) {
        warnVaultFailure(title, QStringLiteral("Não foi possível concluir a verificação do cofre."));
        setStatusMessage(QStringLiteral("Falha ao verificar o cofre."), 5000);
        return;
    }
    if (damaged.isEmpty()) {
        const QString text = Texts::IntegrityText::noProblems(entries.size());
        setStatusMessage(text, 5000);
        DialogHooks::information(this, title, text);
        return;
    }
    setStatusMessage(Texts::IntegrityText::damagedCount(damaged.size()), 5000);
    DialogHooks::warning(this, title, Texts::IntegrityText::damagedList(damaged));
}

void MainWindow::markDamagedFiles(const QList<Core::VaultFileEntry>& checked, const QStringList& damaged)
{
    QList<VaultBrowser::DamagedFile> files;
    for (const Core::VaultFileEntry& entry : checked) {
        if (damaged.contains(entry.vaultPath))
            files.append({entry.id, entry.sha256});
    }
    m_browser->setDamagedFiles(files);
    const QString current = m_browser->selectedVaultPath();
    refreshVaultFiles();
    m_browser->selectPath(current);
}

} // namespace Keldra::UI
