// Export, open for editing, rename, move and delete files, folder commands
// and compaction, driven through the dialog hooks on one unlocked vault.
#include "FullIndex.h"
#include "SessionWait.h"
#include "VaultWindowFixture.h"
#include "core/storage/ContainerFaultInjector.h"
#include "ui/DesktopLauncher.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/file.h>

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;
using Kind = DialogHooks::Kind;

namespace {

// Answers the move dialog: records the offered destinations and picks one
// (or cancels with an empty choice).
void answerMoveDialog(QStringList* offered, const QString& choice)
{
    DialogHooks::queueDialogHandler([offered, choice](QDialog& dialog) {
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("moveDestinationCombo"));
        for (int i = 0; i < combo->count(); ++i)
            *offered << combo->itemText(i);
        if (choice.isEmpty())
            return int(QDialog::Rejected);
        combo->setCurrentIndex(combo->findText(choice));
        return int(QDialog::Accepted);
    });
}

} // namespace

class TestFileCommands : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_containerPath;
    std::unique_ptr<MainWindow> m_window;

    QString source(const QString& name, const QByteArray& content)
    {
        const QString path = m_workDir.filePath(QStringLiteral("src/") + name);
        writeFile(path, content);
        return path;
    }

    void goToRoot()
    {
        while (!m_window->vaultBrowser()->currentDirectory().isEmpty())
            m_window->vaultBrowser()->navigateToParentDirectory();
    }

    void enter(const QString& folder)
    {
        QVERIFY(selectRow(*m_window, folder));
        m_window->vaultBrowser()->enterSelectedDirectory();
    }

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
        m_containerPath = m_workDir.filePath(QStringLiteral("usb/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(m_containerPath).absolutePath()));
        m_window = makeWindow();
        QVERIFY(createAndUnlock(*m_window, m_containerPath));
    }

    void init()
    {
        DialogHooks::reset();
        goToRoot();
    }

    void cleanupTestCase()
    {
        DesktopLauncher::setLauncher({});
        m_window.reset();
    }

    void exportAsksFirstAndWritesOnlyWhenConfirmed()
    {
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("rel.txt"), "relatorio"),
                                             QStringLiteral("rel.txt")));
        m_window->refreshVaultFiles();
        QVERIFY(selectRow(*m_window, QStringLiteral("rel.txt")));
        QVERIFY(m_window->findChild<QAction*>(QStringLiteral("exportAction"))->isEnabled());

        // Refused question: no file dialog, nothing written.
        m_window->exportSelectedFile();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title, QStringLiteral("Exportar arquivo"));
        QVERIFY(records[0].text.contains(QStringLiteral("rel.txt")));

        // Confirmed, then the save dialog proposes the base name in the
        // user's folders; cancelling writes nothing.
        DialogHooks::queueQuestionAnswer(true);
        m_window->exportSelectedFile();
        SessionWait::idle(*m_window);
        records = DialogHooks::takeRecords();
        QCOMPARE(records.last().kind, Kind::SaveFile);
        QCOMPARE(records.last().title, QStringLiteral("Exportar arquivo"));
        QVERIFY2(records.last().text.startsWith(QDir::homePath() + QLatin1Char('/')) &&
                     records.last().text.endsWith(QStringLiteral("/rel.txt")),
                 qPrintable(records.last().text));

        const QString target = m_workDir.filePath(QStringLiteral("saida/rel-exportado.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        m_window->exportSelectedFile();
        SessionWait::idle(*m_window);
        QCOMPARE(readFile(target), QByteArray("relatorio"));
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo exportado com sucesso."));

        // The next export starts in the folder used last.
        DialogHooks::takeRecords();
        DialogHooks::queueQuestionAnswer(true);
        m_window->exportSelectedFile();
        SessionWait::idle(*m_window);
        QCOMPARE(DialogHooks::takeRecords().last().text,
                 QFileInfo(target).absolutePath() + QStringLiteral("/rel.txt"));

        // A destination that cannot be written, and the container itself, fail
        // without leaving plaintext behind or touching the vault.
        const QByteArray containerBefore = readFile(m_containerPath);
        const QString generic = QStringLiteral("Não foi possível exportar o arquivo.");
        const QString vaultItself = QStringLiteral("próprio cofre");
        const QList<QPair<QString, QString>> refusals = {
            {m_workDir.filePath(QStringLiteral("sem-pasta/rel.txt")), generic},
            {m_containerPath, vaultItself},
            {m_containerPath + QStringLiteral("-journal"), vaultItself}};
        for (const auto& [bad, warning] : refusals) {
            DialogHooks::queueQuestionAnswer(true);
            DialogHooks::queueFileName(bad);
            m_window->exportSelectedFile();
            SessionWait::idle(*m_window);
            const QStringList warnings = texts(DialogHooks::takeRecords(), Kind::Warning);
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
            QCOMPARE(status(*m_window), QStringLiteral("Falha ao exportar o arquivo."));
        }
        QVERIFY(!QFile::exists(m_containerPath + QStringLiteral("-journal")));
        QVERIFY(!QFile::exists(m_workDir.filePath(QStringLiteral("sem-pasta/rel.txt"))));
        QCOMPARE(readFile(m_containerPath), containerBefore);
    }

    void renameChecksNamesAndClashesBeforeTouchingTheVault()
    {
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("a.txt"), "a"), QStringLiteral("a.txt")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("b.txt"), "b"), QStringLiteral("b.txt")));
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Pasta")));
        m_window->refreshVaultFiles();
        const QByteArray before = readFile(m_containerPath);

        const auto rename = [this](const QString& answer) {
            QVERIFY(selectRow(*m_window, QStringLiteral("a.txt")));
            DialogHooks::queueText(answer);
            m_window->renameSelectedFile();
        };
        // Same name after trimming: silently ignored.
        rename(QStringLiteral(" a.txt "));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title + QLatin1Char('|') + records[0].text,
                 QStringLiteral("Renomear arquivo|Novo nome:"));

        // Clashes in any letter case, with itself, another file or a folder.
        for (const QString& clash :
             {QStringLiteral("A.txt"), QStringLiteral("B.TXT"), QStringLiteral("pasta")})
            rename(clash);
        rename(QStringLiteral("sub/c.txt"));
        rename(QStringLiteral(".."));
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList(
                     {"Já existe um item com esse nome nesta pasta.",
                      "Já existe um item com esse nome nesta pasta.",
                      "Já existe um item com esse nome nesta pasta.",
                      "Use um nome de arquivo simples, sem barras, pontos isolados ou caminho relativo.",
                      "Use um nome de arquivo simples, sem barras, pontos isolados ou caminho relativo."}));
        QCOMPARE(distinctTitles(records, Kind::Warning), QStringList{"Renomear arquivo"});
        QCOMPARE(readFile(m_containerPath), before);

        rename(QStringLiteral("c.txt"));
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo renomeado."));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("c.txt")));
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("a.txt")));
        QVERIFY(rowNames(*m_window).contains(QStringLiteral("c.txt")));
    }

    void moveOffersTheOtherFoldersAndGoesThereAndBack()
    {
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("beta")));
        QVERIFY(
            m_window->vault().importFile(source(QStringLiteral("m.txt"), "mover"), QStringLiteral("m.txt")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("M2.txt"), "x"),
                                             QStringLiteral("beta/M.TXT")));
        m_window->refreshVaultFiles();

        // From the root: no "Raiz", the folders sorted case-insensitively.
        QStringList offered;
        QVERIFY(selectRow(*m_window, QStringLiteral("m.txt")));
        QVERIFY(m_window->findChild<QAction*>(QStringLiteral("moveFileAction"))->isEnabled());
        answerMoveDialog(&offered, QString());
        m_window->moveSelectedFile();
        QCOMPARE(offered, QStringList({"beta", "Pasta"}));
        QCOMPARE(DialogHooks::takeRecords().last().title, QStringLiteral("Mover arquivo"));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("m.txt")));

        // A file of that name in another letter case is a clash at the target.
        offered.clear();
        QVERIFY(selectRow(*m_window, QStringLiteral("m.txt")));
        answerMoveDialog(&offered, QStringLiteral("beta"));
        m_window->moveSelectedFile();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Já existe um item com esse nome na pasta de destino."});

        // Into a folder and back to the root; the content stays the same.
        offered.clear();
        QVERIFY(selectRow(*m_window, QStringLiteral("m.txt")));
        answerMoveDialog(&offered, QStringLiteral("Pasta"));
        m_window->moveSelectedFile();
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo movido."));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Pasta/m.txt")));
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QString());

        enter(QStringLiteral("Pasta"));
        offered.clear();
        QVERIFY(selectRow(*m_window, QStringLiteral("m.txt")));
        answerMoveDialog(&offered, QStringLiteral("Raiz"));
        m_window->moveSelectedFile();
        QCOMPARE(offered, QStringList({"Raiz", "beta"}));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("m.txt")));
        QVERIFY(!rowNames(*m_window).contains(QStringLiteral("m.txt")));
        QCOMPARE(
            vaultContent(*m_window, QStringLiteral("m.txt"), m_workDir.filePath(QStringLiteral("m.out"))),
            QByteArray("mover"));
    }

    void moveWithNowhereToGo()
    {
        // A second vault with one root file and no folder.
        auto other = makeWindow();
        QVERIFY(QDir().mkpath(m_workDir.filePath(QStringLiteral("usb2"))));
        QVERIFY(createAndUnlock(*other, m_workDir.filePath(QStringLiteral("usb2/keldra.kldr"))));
        QVERIFY(other->vault().importFile(source(QStringLiteral("s.txt"), "s"), QStringLiteral("s.txt")));
        other->refreshVaultFiles();
        QVERIFY(selectRow(*other, QStringLiteral("s.txt")));
        QVERIFY(!other->findChild<QAction*>(QStringLiteral("moveFileAction"))->isEnabled());
        other->moveSelectedFile();
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Information),
                 QStringList{"Não há outra pasta disponível para receber este arquivo."});
        QCOMPARE(titles(records, Kind::Dialog), QStringList());
        QVERIFY(SessionWait::closeWindow(*other));
    }

    void folderCommands()
    {
        const auto create = [this](const QString& name) {
            DialogHooks::queueText(name);
            m_window->createDirectory();
        };
        create(QStringLiteral("PASTA"));
        create(QStringLiteral("c.TXT"));
        create(QStringLiteral(" .. "));
        create(QStringLiteral("   "));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(
            texts(records, Kind::Warning),
            QStringList({"Já existe um item com esse nome nesta pasta.",
                         "Já existe um item com esse nome nesta pasta.",
                         "Use um nome de pasta simples, sem barras, pontos isolados ou caminho relativo."}));
        QCOMPARE(distinctTitles(records, Kind::Warning), QStringList{"Nova pasta"});

        // Created inside the folder shown.
        enter(QStringLiteral("Pasta"));
        create(QStringLiteral(" fotos "));
        QCOMPARE(status(*m_window), QStringLiteral("Pasta criada."));
        QVERIFY(folderPaths(*m_window).contains(QStringLiteral("Pasta/fotos")));
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QStringLiteral("Pasta"));

        // The ".." row is not a folder to rename or delete.
        DialogHooks::takeRecords();
        QVERIFY(selectRow(*m_window, QStringLiteral("..")));
        m_window->renameSelectedDirectory();
        m_window->deleteSelectedDirectory();
        QVERIFY(DialogHooks::takeRecords().isEmpty());
        goToRoot();

        const auto renameFolder = [this](const QString& folder, const QString& answer) {
            QVERIFY(selectRow(*m_window, folder));
            DialogHooks::queueText(answer);
            m_window->renameSelectedDirectory();
        };
        renameFolder(QStringLiteral("Pasta"), QStringLiteral("BETA"));
        renameFolder(QStringLiteral("Pasta"), QStringLiteral("a/b"));
        records = DialogHooks::takeRecords();
        QCOMPARE(
            texts(records, Kind::Warning),
            QStringList({"Já existe um item com esse nome nesta pasta.",
                         "Use um nome de pasta simples, sem barras, pontos isolados ou caminho relativo."}));
        QCOMPARE(distinctTitles(records, Kind::Warning), QStringList{"Renomear pasta"});
        renameFolder(QStringLiteral("Pasta"), QStringLiteral("Documentos"));
        QCOMPARE(status(*m_window), QStringLiteral("Pasta renomeada."));
        QVERIFY(folderPaths(*m_window).contains(QStringLiteral("Documentos/fotos")));

        // Only an empty folder can be deleted: one with content is refused
        // before any question, and its menu entry is off.
        QAction* deleteFolder = m_window->findChild<QAction*>(QStringLiteral("deleteFolderAction"));
        QVERIFY(selectRow(*m_window, QStringLiteral("Documentos")));
        QVERIFY(!deleteFolder->isEnabled());
        m_window->deleteSelectedDirectory();
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question), QStringList());
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList{"A pasta não está vazia ou não pode ser excluída."});
        QCOMPARE(titles(records, Kind::Warning), QStringList{"Excluir pasta"});
        QVERIFY(folderPaths(*m_window).contains(QStringLiteral("Documentos")));

        enter(QStringLiteral("Documentos"));
        QVERIFY(selectRow(*m_window, QStringLiteral("fotos")));
        QVERIFY(deleteFolder->isEnabled());
        m_window->deleteSelectedDirectory();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Question),
                 QStringList{"Excluir a pasta vazia Documentos/fotos?"});
        QVERIFY(folderPaths(*m_window).contains(QStringLiteral("Documentos/fotos")));
        DialogHooks::queueQuestionAnswer(true);
        m_window->deleteSelectedDirectory();
        QCOMPARE(status(*m_window), QStringLiteral("Pasta excluída."));
        QVERIFY(!folderPaths(*m_window).contains(QStringLiteral("Documentos/fotos")));
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QStringLiteral("Documentos"));
    }

    void deleteThenCompactKeepsTheOtherFiles()
    {
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("grande.bin"), QByteArray(300000, 'g')),
                                             QStringLiteral("grande.bin")));
        m_window->refreshVaultFiles();
        QVERIFY(selectRow(*m_window, QStringLiteral("grande.bin")));
        m_window->deleteSelectedFile();
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("grande.bin")));
        QVERIFY(selectRow(*m_window, QStringLiteral("grande.bin")));
        DialogHooks::queueQuestionAnswer(true);
        m_window->deleteSelectedFile();
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records[0].title, QStringLiteral("Excluir arquivo"));
        QVERIFY(records[0].text.contains(QStringLiteral("grande.bin")));
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo excluído do cofre."));
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("grande.bin")));

        const qint64 sizeBefore = QFileInfo(m_containerPath).size();
        m_window->compactVault(); // question refused
        SessionWait::idle(*m_window);
        QCOMPARE(QFileInfo(m_containerPath).size(), sizeBefore);
        QCOMPARE(DialogHooks::takeRecords().size(), 1);

        const QStringList files = filePaths(*m_window);
        QMap<QString, QByteArray> contents;
        for (const QString& file : files)
            contents[file] = vaultContent(*m_window, file, m_workDir.filePath(QStringLiteral("c.out")));
        DialogHooks::queueQuestionAnswer(true);
        m_window->compactVault();
        SessionWait::idle(*m_window);
        records = DialogHooks::takeRecords();
        QCOMPARE(records[0].title, QStringLiteral("Compactar cofre"));
        QVERIFY(records[0].text.startsWith(QStringLiteral("A compactação reconstruirá o container")));
        QCOMPARE(texts(records, Kind::Information), QStringList{"Cofre compactado com sucesso."});
        QCOMPARE(titles(records, Kind::Information), QStringList{"Compactar cofre"});
        QCOMPARE(status(*m_window), QStringLiteral("Cofre compactado com sucesso."));
        QVERIFY(QFileInfo(m_containerPath).size() < sizeBefore - 300000);
        QCOMPARE(filePaths(*m_window), files);
        for (const QString& file : files)
            QCOMPARE(vaultContent(*m_window, file, m_workDir.filePath(QStringLiteral("c.out"))),
                     contents[file]);
    }

    // Last: it locks and unlocks the shared vault.
    void openForEditingSyncsTheChangeBackAtLock()
    {
        QList<QUrl> launched;
        bool launcherWorks = false;
        DesktopLauncher::setLauncher([&](const QUrl& url) {
            launched << url;
            return launcherWorks;
        });
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("nota.txt"), "original"),
                                             QStringLiteral("nota.txt")));
        m_window->refreshVaultFiles();

        // No application for the type: said so, and export is offered instead.
        QVERIFY(selectRow(*m_window, QStringLiteral("nota.txt")));
        m_window->openSelectedFile();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning), QStringList());
        QCOMPARE(texts(records, Kind::Question).size(), 1);
        QVERIFY2(texts(records, Kind::Question)
                     .first()
                     .startsWith(QStringLiteral(
                         "Nenhum aplicativo está configurado para abrir este tipo de arquivo.")),
                 qPrintable(texts(records, Kind::Question).first()));
        QCOMPARE(status(*m_window), QStringLiteral("Falha ao abrir o arquivo."));
        // The copy no application got is gone and forgotten: lock has nothing to store.
        QVERIFY(!QFile::exists(launched.first().toLocalFile()));
        QVERIFY(m_window->vault().modifiedOpenFiles().isEmpty());

        // "Sim" goes straight to the save dialog and exports that very file.
        const QString exported = m_workDir.filePath(QStringLiteral("saida/nota-aberta.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(exported).absolutePath()));
        QVERIFY(selectRow(*m_window, QStringLiteral("nota.txt")));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(exported);
        m_window->openSelectedFile();
        SessionWait::idle(*m_window);
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question).size(), 1);
        QCOMPARE(texts(records, Kind::SaveFile).size(), 1);
        QCOMPARE(readFile(exported), QByteArray("original"));
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo exportado com sucesso."));
        QVERIFY(!QFile::exists(launched.last().toLocalFile()));

        launcherWorks = true;
        QVERIFY(selectRow(*m_window, QStringLiteral("nota.txt")));
        m_window->openSelectedFile();
        SessionWait::idle(*m_window);
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo aberto para edição."));
        QCOMPARE(launched.size(), 3);
        const QString copy = launched.last().toLocalFile();
        QVERIFY(copy.endsWith(QStringLiteral("/nota.txt")));
        QCOMPARE(readFile(copy), QByteArray("original"));

        // An open file can be renamed: its copy goes home under the new name.
        QVERIFY(selectRow(*m_window, QStringLiteral("nota.txt")));
        DialogHooks::queueText(QStringLiteral("nota2.txt"));
        m_window->renameSelectedFile();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning), QStringList());

        QVERIFY(writeFile(copy, "editado no aplicativo"));
        QFile edited(copy);
        QVERIFY(edited.open(QIODevice::ReadWrite));
        QVERIFY(
            edited.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        edited.close();

        // Opening it again shows the edited copy; the edit is not thrown away.
        QVERIFY(selectRow(*m_window, QStringLiteral("nota2.txt")));
        m_window->openSelectedFile();
        SessionWait::idle(*m_window);
        QCOMPARE(launched.last().toLocalFile(), copy);
        QCOMPARE(readFile(copy), QByteArray("editado no aplicativo"));

        m_window->findChild<QAction*>(QStringLiteral("lockAction"))->trigger();
        SessionWait::idle(*m_window);
        QCOMPARE(m_window->vault().state(), Core::VaultState::Locked);
        QVERIFY(!QFile::exists(copy));
        DialogHooks::queueText(kPassword);
        m_window->unlockVault();
        SessionWait::idle(*m_window);
        QCOMPARE(
            vaultContent(*m_window, QStringLiteral("nota2.txt"), m_workDir.filePath(QStringLiteral("n.out"))),
            QByteArray("editado no aplicativo"));
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("nota.txt")));
    }

    void keysActOnTheSelectedRow()
    {
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Teclado/vazia")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("tecla.txt"), "tecla"),
                                             QStringLiteral("Teclado/tecla.txt")));
        m_window->refreshVaultFiles();
        QTableWidget* table = m_window->vaultBrowser()->table();
        QVERIFY(table->focusPolicy() & Qt::TabFocus);
        QList<QUrl> opened;
        DesktopLauncher::setLauncher([&opened](const QUrl& url) {
            opened << url;
            return true;
        });
        const auto press = [table](Qt::Key key) { QTest::keyClick(table, key); };

        // Enter goes into a folder, Backspace back up; at the root Backspace does nothing.
        QVERIFY(selectRow(*m_window, QStringLiteral("Teclado")));
        press(Qt::Key_Return);
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QStringLiteral("Teclado"));
        press(Qt::Key_Backspace);
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QString());
        press(Qt::Key_Backspace);
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QString());
        QVERIFY(selectRow(*m_window, QStringLiteral("Teclado")));
        press(Qt::Key_Enter);
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QStringLiteral("Teclado"));

        // Enter on a file opens it.
        QVERIFY(selectRow(*m_window, QStringLiteral("tecla.txt")));
        press(Qt::Key_Return);
        SessionWait::idle(*m_window);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo aberto para edição."));
        // Lock and unlock again: an open copy would keep the file from being renamed.
        m_window->lockVault();
        SessionWait::idle(*m_window);
        DialogHooks::queueText(kPassword);
        m_window->unlockVault();
        SessionWait::idle(*m_window);
        enter(QStringLiteral("Teclado"));

        // F2 renames the file or the folder selected.
        DialogHooks::takeRecords();
        QVERIFY(selectRow(*m_window, QStringLiteral("tecla.txt")));
        DialogHooks::queueText(QStringLiteral("teclas.txt"));
        press(Qt::Key_F2);
        QVERIFY(selectRow(*m_window, QStringLiteral("vazia")));
        DialogHooks::queueText(QStringLiteral("oca"));
        press(Qt::Key_F2);
        QCOMPARE(distinctTitles(DialogHooks::takeRecords(), Kind::Text),
                 QStringList({"Renomear arquivo", "Renomear pasta"}));
        QCOMPARE(filePaths(*m_window).filter(QStringLiteral("Teclado/")), QStringList{"Teclado/teclas.txt"});
        QVERIFY(folderPaths(*m_window).contains(QStringLiteral("Teclado/oca")));

        // Delete: a file, an empty folder, and a folder with content says why not.
        QVERIFY(selectRow(*m_window, QStringLiteral("teclas.txt")));
        DialogHooks::queueQuestionAnswer(true);
        press(Qt::Key_Delete);
        QVERIFY(selectRow(*m_window, QStringLiteral("oca")));
        DialogHooks::queueQuestionAnswer(true);
        press(Qt::Key_Delete);
        const QStringList questions = texts(DialogHooks::takeRecords(), Kind::Question);
        QCOMPARE(questions.size(), 2);
        QVERIFY(questions[0].contains(QStringLiteral("Teclado/teclas.txt")));
        QVERIFY(questions[1].contains(QStringLiteral("Teclado/oca")));
        QVERIFY(filePaths(*m_window).filter(QStringLiteral("Teclado/")).isEmpty());
        QVERIFY(!folderPaths(*m_window).contains(QStringLiteral("Teclado/oca")));
        goToRoot();
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("t.txt"), "t"),
                                             QStringLiteral("Teclado/t.txt")));
        m_window->refreshVaultFiles();
        QVERIFY(selectRow(*m_window, QStringLiteral("Teclado")));
        press(Qt::Key_Delete);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"A pasta não está vazia ou não pode ser excluída."});
        DesktopLauncher::setLauncher({});
    }

    void integrityCheckNamesTheDamagedFiles()
    {
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("inteiro.bin"), QByteArray(5000, 'i')),
                                             QStringLiteral("Integro/inteiro.bin")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("ruim.bin"), QByteArray(5000, 'r')),
                                             QStringLiteral("Integro/ruim.bin")));
        m_window->refreshVaultFiles();
        const QList<Core::VaultFileEntry> entries = m_window->vault().fileIndex().entries();
        QAction* verify = m_window->findChild<QAction*>(QStringLiteral("verifyAction"));
        QVERIFY(verify->isEnabled());
        verify->trigger();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(
            texts(records, Kind::Information),
            QStringList{QStringLiteral("Nenhum problema encontrado em %1 arquivos.").arg(entries.size())});
        QCOMPARE(records.last().title, QStringLiteral("Verificar integridade"));

        // One flipped bit in a block of ruim.bin.
        qint64 offset = -1;
        for (const Core::VaultFileEntry& entry : entries) {
            if (entry.vaultPath == QStringLiteral("Integro/ruim.bin"))
                offset = entry.blocks.first().offset + 100;
        }
        const auto flip = [&] {
            QFile file(m_containerPath);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(offset));
            char byte = 0;
            QVERIFY(file.getChar(&byte) && file.seek(offset) && file.putChar(char(byte ^ 0x01)));
        };
        flip();
        verify->trigger();
        SessionWait::idle(*m_window);
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList{"Arquivos danificados no cofre: 1.\n\nIntegro/ruim.bin"});
        QCOMPARE(status(*m_window), QStringLiteral("Arquivos danificados no cofre: 1."));
        flip();
    }

    void fullDriveAndFullIndexSaySo()
    {
        // A vault of its own, whose index is filled to the end.
        const QString otherContainer = m_workDir.filePath(QStringLiteral("cheio/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(otherContainer).absolutePath()));
        auto other = makeWindow();
        QVERIFY(createAndUnlock(*other, otherContainer));

        using Core::ContainerFaultInjector;
        ContainerFaultInjector::arm(ContainerFaultInjector::Mode::DriveFull, 1);
        DialogHooks::queueText(QStringLiteral("Cheia"));
        other->createDirectory();
        ContainerFaultInjector::reset();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Não há espaço livre suficiente na unidade do cofre."});

        QVERIFY(VaultTest::fillIndex(other->vault()));
        other->refreshVaultFiles();
        const QString full =
            QStringLiteral("O índice do cofre está cheio: exclua arquivos ou use outro cofre.");
        DialogHooks::queueText(QStringLiteral("Nova"));
        other->createDirectory();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning), QStringList{full});
        // Import names the file, then why.
        DialogHooks::queueFileNames({source(QStringLiteral("recusado.txt"), "r")});
        other->importFiles();
        SessionWait::idle(*other);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{QStringLiteral("Não foi possível importar recusado.txt.\n\n") + full});
        QVERIFY(SessionWait::closeWindow(*other));
    }

    void vaultHeldByAnotherProgramSaysSo()
    {
#ifndef Q_OS_UNIX
        QSKIP("the other program's lock is taken with flock, which Windows does not have");
#else
        // keldra-cli, say, in the middle of a change to this container.
        QFile other(m_window->vault().containerPath());
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
        DialogHooks::queueText(QStringLiteral("Ocupada"));
        m_window->createDirectory();
        ::flock(other.handle(), LOCK_UN);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"O cofre está em uso por outro programa. Tente novamente."});
#endif
    }

    // keldra-cli deletes a file and compacts while the window stays unlocked:
    // the blocks the window knew have moved, yet its export and check read
    // the right bytes instead of calling the file damaged.
    void readsFollowAnotherProgramsCompaction()
    {
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("antes.txt"), QByteArray(4096, 'a')),
                                             QStringLiteral("antes.txt")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("fica.txt"), "continua aqui"),
                                             QStringLiteral("fica.txt")));
        m_window->refreshVaultFiles();
        {
            Keldra::Core::VaultManager cli;
            QVERIFY(cli.unlockVault(m_containerPath, kPassword.toUtf8()));
            QVERIFY(cli.deleteFile(QStringLiteral("antes.txt")));
            QVERIFY(cli.compactVault({}, nullptr));
            QVERIFY(cli.lockVault());
        }

        QVERIFY(selectRow(*m_window, QStringLiteral("fica.txt")));
        const QString target = m_workDir.filePath(QStringLiteral("saida/fica.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        m_window->exportSelectedFile();
        SessionWait::idle(*m_window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning), QStringList());
        QCOMPARE(readFile(target), QByteArray("continua aqui"));
        QVERIFY(!selectRow(*m_window, QStringLiteral("antes.txt")));
    }
    // A refused new name does not end the rename: the warning is shown and
    // the prompt comes back holding what was typed, for files and folders.
    void aRefusedNameIsAskedAgainWithWhatWasTyped()
    {
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("velho.txt"), "v"),
                                             QStringLiteral("velho.txt")));
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Antiga")));
        m_window->refreshVaultFiles();

        const auto promptsOpenedWith = [](const QList<DialogHooks::Record>& records) {
            QStringList opened;
            for (const DialogHooks::Record& record : records) {
                if (record.kind == Kind::Text)
                    opened << record.initialText;
            }
            return opened;
        };

        QVERIFY(selectRow(*m_window, QStringLiteral("velho.txt")));
        DialogHooks::queueText(QStringLiteral("sub/novo.txt"));
        DialogHooks::queueText(QStringLiteral("ANTIGA"));
        DialogHooks::queueText(QStringLiteral("novo.txt"));
        m_window->renameSelectedFile();
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(
            texts(records, Kind::Warning),
            QStringList({"Use um nome de arquivo simples, sem barras, pontos isolados ou caminho relativo.",
                         "Já existe um item com esse nome nesta pasta."}));
        QCOMPARE(promptsOpenedWith(records), QStringList({"velho.txt", "sub/novo.txt", "ANTIGA"}));
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo renomeado."));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("novo.txt")));
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("velho.txt")));

        QVERIFY(selectRow(*m_window, QStringLiteral("Antiga")));
        DialogHooks::queueText(QStringLiteral(".."));
        DialogHooks::queueText(QStringLiteral("Nova"));
        m_window->renameSelectedDirectory();
        records = DialogHooks::takeRecords();
        QCOMPARE(
            texts(records, Kind::Warning),
            QStringList{"Use um nome de pasta simples, sem barras, pontos isolados ou caminho relativo."});
        QCOMPARE(promptsOpenedWith(records), QStringList({"Antiga", ".."}));
        QCOMPARE(status(*m_window), QStringLiteral("Pasta renomeada."));
        QVERIFY(rowNames(*m_window).contains(QStringLiteral("Nova")));
        QVERIFY(!rowNames(*m_window).contains(QStringLiteral("Antiga")));

        // Cancelling the prompt asked again still gives up without a change.
        QVERIFY(selectRow(*m_window, QStringLiteral("novo.txt")));
        DialogHooks::queueText(QStringLiteral("a/b"));
        m_window->renameSelectedFile();
        QCOMPARE(titles(DialogHooks::takeRecords(), Kind::Text).size(), 2);
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("novo.txt")));
    }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
