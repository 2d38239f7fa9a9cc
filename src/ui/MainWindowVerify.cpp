// The integrity check: every file of the open vault is decrypted block by
// block and compared with the size and SHA-256 the index holds; nothing is
// written anywhere.
#include "ui/MainWindow.h"

#include "texts/IntegrityText.h"
#include "ui/VaultBrowser.h"
#include "widgets/DialogHooks.h"

#include <memory>

namespace Keldra::UI {

using Widgets::DialogHooks;

namespace {

struct VerifyOutcome
{
    qsizetype checked = 0;
    QStringList damaged;
    // What was checked, for marking the damaged files in the table.
    QList<Core::VaultFileEntry> entries;
};

} // namespace

void MainWindow::verifyVault()
{
    const QString title = QStringLiteral("Verificar integridade");
    if (!isUnlocked())
        return;
    const QString failed = QStringLiteral("Não foi possível concluir a verificação do cofre.");
    auto found = std::make_shared<VerifyOutcome>();
    OperationView view;
    view.title = title;
    view.heading = QStringLiteral("Verificando os arquivos do cofre...");
    view.cancellable = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [found](Core::VaultManager& vault, const VaultSession::Progress& progress) {
            // Another program (keldra-cli) may have saved an index, its compaction moving the blocks.
            if (!vault.refreshIndex())
                return vault.lastError();
            const QList<Core::VaultFileEntry> entries = vault.fileIndex().entries();
            qint64 total = 0;
            for (const Core::VaultFileEntry& entry : entries)
                total += entry.sizeBytes;
            found->entries = entries;
            qint64 before = 0; // bytes of the files already checked
            const auto onProgress = [&](qint64 done, qint64, const QString& text) {
                progress(before + done, total, QStringLiteral("Verificando %1...").arg(text));
            };
            for (const Core::VaultFileEntry& entry : entries) {
                onProgress(0, entry.sizeBytes, entry.vaultPath);
                if (!vault.verifyFile(entry.vaultPath, onProgress)) {
                    // A drive that stops answering says nothing about the files: stop
                    // instead of calling every file after it damaged.
                    if (!vault.lastError().is(Core::Error::Reason::DamagedFile))
                        return operationOutcome(vault, false);
                    found->damaged << entry.vaultPath;
                }
                before += entry.sizeBytes;
            }
            found->checked = entries.size();
            return Core::Error();
        },
        [this, title, failed, found](const Core::Error& result) {
            markDamagedFiles(found->entries, found->damaged);
            if (!result.ok()) {
                warnOperationFailure(result, title, failed);
                setStatusMessage(QStringLiteral("Falha ao verificar o cofre."), 5000);
                return;
            }
            if (found->damaged.isEmpty()) {
                const QString text = Texts::IntegrityText::noProblems(found->checked);
                setStatusMessage(text, 5000);
                DialogHooks::information(this, title, text);
                return;
            }
            setStatusMessage(Texts::IntegrityText::damagedCount(found->damaged.size()), 5000);
            DialogHooks::warning(this, title, Texts::IntegrityText::damagedList(found->damaged));
        });
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
