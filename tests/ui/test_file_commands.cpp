// Export, open for editing, rename, move and delete files, folder commands
// and compaction, driven through the dialog hooks on one unlocked vault.
#include "DesktopLauncher.h"
#include "FullIndex.h"
#include "VaultWindowFixture.h"
#include "storage/ContainerFaultInjector.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

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
    QTemporaryDir workDir;
    QString containerPath;
    std::unique_ptr<MainWindow> window;

    QString source(const QString& name, const QByteArray& content)
    {
        const QString path = workDir.filePath(QStringLiteral("src/") + name);
        writeFile(path, content);
        return path;
    }

    void goToRoot()
    {
        while (!window->vaultBrowser()->currentDirectory().isEmpty())
            window->vaultBrowser()->navigateToParentDirectory();
    }

    void enter(const QString& folder)
    {
        QVERIFY(selectRow(*window, folder));
        window->vaultBrowser()->enterSelectedDirectory();
    }

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(workDir.isValid());
        containerPath = workDir.filePath(QStringLiteral("usb/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(containerPath).absolutePath()));
        window = makeWindow();
        QVERIFY(createAndUnlock(*window, containerPath));
    }

    void init()
    {
        DialogHooks::reset();
        goToRoot();
    }

    void cleanupTestCase()
    {
        DesktopLauncher::setLauncher({});
        window.reset();
    }

    void exportAsksFirstAndWritesOnlyWhenConfirmed()
    {
        QVERIFY(window->vault().importFile(source(QStringLiteral("rel.txt"), "relatorio"),
                                           QStringLiteral("rel.txt")));
        window->refreshVaultFiles();
        QVERIFY(selectRow(*window, QStringLiteral("rel.txt")));
        QVERIFY(window->findChild<QAction*>(QStringLiteral("exportAction"))->isEnabled());

        // Refused question: no file dialog, nothing written.
        window->exportSelectedFile();
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title, QStringLiteral("Exportar arquivo"));
        QCOMPARE(records[0].text, QStringLiteral("Exportar rel.txt criará uma cópia descriptografada fora do "
                                                 "cofre. Alterações feitas nessa cópia não voltam "
                                                 "automaticamente para o Keldra."));

        // Confirmed, then the save dialog proposes the base name; cancelling writes nothing.
        DialogHooks::queueQuestionAnswer(true);
        window->exportSelectedFile();
        records = DialogHooks::takeRecords();
        QCOMPARE(records.last().kind, Kind::SaveFile);
        QCOMPARE(records.last().title + QLatin1Char('|') + records.last().text,
                 QStringLiteral("Exportar arquivo|rel.txt"));

        const QString target = workDir.filePath(QStringLiteral("rel-exportado.txt"));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        window->exportSelectedFile();
        QCOMPARE(readFile(target), QByteArray("relatorio"));
        QCOMPARE(status(*window), QStringLiteral("Arquivo exportado com sucesso."));

        // A destination that cannot be written, and the container itself, fail
        // without leaving plaintext behind or touching the vault.
        const QByteArray containerBefore = readFile(containerPath);
        for (const QString& bad : {workDir.filePath(QStringLiteral("sem-pasta/rel.txt")), containerPath}) {
            DialogHooks::queueQuestionAnswer(true);
            DialogHooks::queueFileName(bad);
            window->exportSelectedFile();
            QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                     QStringList{"Não foi possível exportar o arquivo."});
            QCOMPARE(status(*window), QStringLiteral("Falha ao exportar o arquivo."));
        }
        QVERIFY(!QFile::exists(workDir.filePath(QStringLiteral("sem-pasta/rel.txt"))));
        QCOMPARE(readFile(containerPath), containerBefore);
    }

    void renameChecksNamesAndClashesBeforeTouchingTheVault()
    {
        QVERIFY(window->vault().importFile(source(QStringLiteral("a.txt"), "a"), QStringLiteral("a.txt")));
        QVERIFY(window->vault().importFile(source(QStringLiteral("b.txt"), "b"), QStringLiteral("b.txt")));
        QVERIFY(window->vault().createDirectory(QStringLiteral("Pasta")));
        window->refreshVaultFiles();
        const QByteArray before = readFile(containerPath);

        const auto rename = [this](const QString& answer) {
            QVERIFY(selectRow(*window, QStringLiteral("a.txt")));
            DialogHooks::queueText(answer);
            window->renameSelectedFile();
        };
        // Same name after trimming: silently ignored.
        rename(QStringLiteral(" a.txt "));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title + QLatin1Char('|') + records[0].text, QStringLiteral("Renomear arquivo|Novo nome:"));

        // Clashes in any letter case, with itself, another file or a folder.
        for (const QString& clash : {QStringLiteral("A.txt"), QStringLiteral("B.TXT"), QStringLiteral("pasta")})
            rename(clash);
        rename(QStringLiteral("sub/c.txt"));
        rename(QStringLiteral(".."));
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList({"Já existe um item com esse nome nesta pasta.",
                              "Já existe um item com esse nome nesta pasta.",
                              "Já existe um item com esse nome nesta pasta.",
                              "Use um nome de arquivo simples, sem barras, pontos isolados ou caminho relativo.",
                              "Use um nome de arquivo simples, sem barras, pontos isolados ou caminho relativo."}));
        QCOMPARE(distinctTitles(records, Kind::Warning), QStringList{"Renomear arquivo"});
        QCOMPARE(readFile(containerPath), before);

        rename(QStringLiteral("c.txt"));
        QCOMPARE(status(*window), QStringLiteral("Arquivo renomeado."));
        QVERIFY(filePaths(*window).contains(QStringLiteral("c.txt")));
        QVERIFY(!filePaths(*window).contains(QStringLiteral("a.txt")));
        QVERIFY(rowNames(*window).contains(QStringLiteral("c.txt")));
    }

    void moveOffersTheOtherFoldersAndGoesThereAndBack()
    {
        QVERIFY(window->vault().createDirectory(QStringLiteral("beta")));
        QVERIFY(window->vault().importFile(source(QStringLiteral("m.txt"), "mover"), QStringLiteral("m.txt")));
        QVERIFY(window->vault().importFile(source(QStringLiteral("M2.txt"), "x"), QStringLiteral("beta/M.TXT")));
        window->refreshVaultFiles();

        // From the root: no "Raiz", the folders sorted case-insensitively.
        QStringList offered;
        QVERIFY(selectRow(*window, QStringLiteral("m.txt")));
        QVERIFY(window->findChild<QAction*>(QStringLiteral("moveFileAction"))->isEnabled());
        answerMoveDialog(&offered, QString());
        window->moveSelectedFile();
        QCOMPARE(offered, QStringList({"beta", "Pasta"}));
        QCOMPARE(DialogHooks::takeRecords().last().title, QStringLiteral("Mover arquivo"));
        QVERIFY(filePaths(*window).contains(QStringLiteral("m.txt")));

        // A file of that name in another letter case is a clash at the target.
        offered.clear();
        QVERIFY(selectRow(*window, QStringLiteral("m.txt")));
        answerMoveDialog(&offered, QStringLiteral("beta"));
        window->moveSelectedFile();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Já existe um item com esse nome na pasta de destino."});

        // Into a folder and back to the root; the content stays the same.
        offered.clear();
        QVERIFY(selectRow(*window, QStringLiteral("m.txt")));
        answerMoveDialog(&offered, QStringLiteral("Pasta"));
        window->moveSelectedFile();
        QCOMPARE(status(*window), QStringLiteral("Arquivo movido."));
        QVERIFY(filePaths(*window).contains(QStringLiteral("Pasta/m.txt")));
        QCOMPARE(window->vaultBrowser()->currentDirectory(), QString());

        enter(QStringLiteral("Pasta"));
        offered.clear();
        QVERIFY(selectRow(*window, QStringLiteral("m.txt")));
        answerMoveDialog(&offered, QStringLiteral("Raiz"));
        window->moveSelectedFile();
        QCOMPARE(offered, QStringList({"Raiz", "beta"}));
        QVERIFY(filePaths(*window).contains(QStringLiteral("m.txt")));
        QVERIFY(!rowNames(*window).contains(QStringLiteral("m.txt")));
        QCOMPARE(vaultContent(*window, QStringLiteral("m.txt"), workDir.filePath(QStringLiteral("m.out"))),
                 QByteArray("mover"));
    }

    void moveWithNowhereToGo()
    {
        // A second vault with one root file and no folder.
        auto other = makeWindow();
        QVERIFY(QDir().mkpath(workDir.filePath(QStringLiteral("usb2"))));
        QVERIFY(createAndUnlock(*other, workDir.filePath(QStringLiteral("usb2/keldra.kldr"))));
        QVERIFY(other->vault().importFile(source(QStringLiteral("s.txt"), "s"), QStringLiteral("s.txt")));
        other->refreshVaultFiles();
        QVERIFY(selectRow(*other, QStringLiteral("s.txt")));
        QVERIFY(!other->findChild<QAction*>(QStringLiteral("moveFileAction"))->isEnabled());
        other->moveSelectedFile();
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Information),
                 QStringList{"Não há outra pasta disponível para receber este arquivo."});
        QCOMPARE(titles(records, Kind::Dialog), QStringList());
        QVERIFY(other->close());
    }

    void folderCommands()
    {
        const auto create = [this](const QString& name) {
            DialogHooks::queueText(name);
            window->createDirectory();
        };
        create(QStringLiteral("PASTA"));
        create(QStringLiteral("c.TXT"));
        create(QStringLiteral(" .. "));
        create(QStringLiteral("   "));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList({"Já existe um item com esse nome nesta pasta.",
                              "Já existe um item com esse nome nesta pasta.",
                              "Use um nome de pasta simples, sem barras, pontos isolados ou caminho relativo."}));
        QCOMPARE(distinctTitles(records, Kind::Warning), QStringList{"Nova pasta"});

        // Created inside the folder shown.
        enter(QStringLiteral("Pasta"));
        create(QStringLiteral(" fotos "));
        QCOMPARE(status(*window), QStringLiteral("Pasta criada."));
        QVERIFY(folderPaths(*window).contains(QStringLiteral("Pasta/fotos")));
        QCOMPARE(window->vaultBrowser()->currentDirectory(), QStringLiteral("Pasta"));

        // The ".." row is not a folder to rename or delete.
        DialogHooks::takeRecords();
        QVERIFY(selectRow(*window, QStringLiteral("..")));
        window->renameSelectedDirectory();
        window->deleteSelectedDirectory();
        QVERIFY(DialogHooks::takeRecords().isEmpty());
        goToRoot();

        const auto renameFolder = [this](const QString& folder, const QString& answer) {
            QVERIFY(selectRow(*window, folder));
            DialogHooks::queueText(answer);
            window->renameSelectedDirectory();
        };
        renameFolder(QStringLiteral("Pasta"), QStringLiteral("BETA"));
        renameFolder(QStringLiteral("Pasta"), QStringLiteral("a/b"));
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList({"Já existe um item com esse nome nesta pasta.",
                              "Use um nome de pasta simples, sem barras, pontos isolados ou caminho relativo."}));
        QCOMPARE(distinctTitles(records, Kind::Warning), QStringList{"Renomear pasta"});
        renameFolder(QStringLiteral("Pasta"), QStringLiteral("Documentos"));
        QCOMPARE(status(*window), QStringLiteral("Pasta renomeada."));
        QVERIFY(folderPaths(*window).contains(QStringLiteral("Documentos/fotos")));

        // Deleting asks first, and only an empty folder goes.
        QVERIFY(selectRow(*window, QStringLiteral("Documentos")));
        window->deleteSelectedDirectory();
        QVERIFY(selectRow(*window, QStringLiteral("Documentos")));
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedDirectory();
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question),
                 QStringList({"Excluir a pasta vazia Documentos?", "Excluir a pasta vazia Documentos?"}));
        QCOMPARE(texts(records, Kind::Warning), QStringList{"A pasta não está vazia ou não pode ser excluída."});
        QCOMPARE(titles(records, Kind::Warning), QStringList{"Excluir pasta"});
        QVERIFY(folderPaths(*window).contains(QStringLiteral("Documentos")));

        enter(QStringLiteral("Documentos"));
        QVERIFY(selectRow(*window, QStringLiteral("fotos")));
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedDirectory();
        QCOMPARE(status(*window), QStringLiteral("Pasta excluída."));
        QVERIFY(!folderPaths(*window).contains(QStringLiteral("Documentos/fotos")));
        QCOMPARE(window->vaultBrowser()->currentDirectory(), QStringLiteral("Documentos"));
    }

    void deleteThenCompactKeepsTheOtherFiles()
    {
        QVERIFY(window->vault().importFile(source(QStringLiteral("grande.bin"), QByteArray(300000, 'g')),
                                           QStringLiteral("grande.bin")));
        window->refreshVaultFiles();
        QVERIFY(selectRow(*window, QStringLiteral("grande.bin")));
        window->deleteSelectedFile();
        QVERIFY(filePaths(*window).contains(QStringLiteral("grande.bin")));
        QVERIFY(selectRow(*window, QStringLiteral("grande.bin")));
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedFile();
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records[0].title, QStringLiteral("Excluir arquivo"));
        QCOMPARE(records[0].text, QStringLiteral("Excluir grande.bin removerá o arquivo da lista do cofre.\n\n"
                                                 "Os dados físicos só serão liberados do container após "
                                                 "executar Compactar cofre."));
        QCOMPARE(status(*window), QStringLiteral("Arquivo excluído do cofre."));
        QVERIFY(!filePaths(*window).contains(QStringLiteral("grande.bin")));

        const qint64 sizeBefore = QFileInfo(containerPath).size();
        window->compactVault(); // question refused
        QCOMPARE(QFileInfo(containerPath).size(), sizeBefore);
        QCOMPARE(DialogHooks::takeRecords().size(), 1);

        const QStringList files = filePaths(*window);
        QMap<QString, QByteArray> contents;
        for (const QString& file : files)
            contents[file] = vaultContent(*window, file, workDir.filePath(QStringLiteral("c.out")));
        DialogHooks::queueQuestionAnswer(true);
        window->compactVault();
        records = DialogHooks::takeRecords();
        QCOMPARE(records[0].title, QStringLiteral("Compactar cofre"));
        QVERIFY(records[0].text.startsWith(QStringLiteral("A compactação reconstruirá o container")));
        QCOMPARE(texts(records, Kind::Information), QStringList{"Cofre compactado com sucesso."});
        QCOMPARE(titles(records, Kind::Information), QStringList{"Compactar cofre"});
        QCOMPARE(status(*window), QStringLiteral("Cofre compactado com sucesso."));
        QVERIFY(QFileInfo(containerPath).size() < sizeBefore - 300000);
        QCOMPARE(filePaths(*window), files);
        for (const QString& file : files)
            QCOMPARE(vaultContent(*window, file, workDir.filePath(QStringLiteral("c.out"))), contents[file]);
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
        QVERIFY(window->vault().importFile(source(QStringLiteral("nota.txt"), "original"),
                                           QStringLiteral("nota.txt")));
        window->refreshVaultFiles();

        QVERIFY(selectRow(*window, QStringLiteral("nota.txt")));
        window->openSelectedFile();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Não foi possível abrir o arquivo no aplicativo padrão."});
        QCOMPARE(status(*window), QStringLiteral("Falha ao abrir o arquivo."));

        launcherWorks = true;
        QVERIFY(selectRow(*window, QStringLiteral("nota.txt")));
        window->openSelectedFile();
        QCOMPARE(status(*window), QStringLiteral("Arquivo aberto para edição."));
        QCOMPARE(launched.size(), 2);
        const QString copy = launched.last().toLocalFile();
        QVERIFY(copy.endsWith(QStringLiteral("/nota.txt")));
        QCOMPARE(readFile(copy), QByteArray("original"));

        // An open file cannot be renamed: the copy would lose its way home.
        QVERIFY(selectRow(*window, QStringLiteral("nota.txt")));
        DialogHooks::queueText(QStringLiteral("nota2.txt"));
        window->renameSelectedFile();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Não foi possível renomear o arquivo. Feche o arquivo se ele estiver aberto e "
                             "tente novamente."});

        QVERIFY(writeFile(copy, "editado no aplicativo"));
        QFile edited(copy);
        QVERIFY(edited.open(QIODevice::ReadWrite));
        QVERIFY(edited.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        edited.close();

        // Opening it again shows the edited copy; the edit is not thrown away.
        QVERIFY(selectRow(*window, QStringLiteral("nota.txt")));
        window->openSelectedFile();
        QCOMPARE(launched.last().toLocalFile(), copy);
        QCOMPARE(readFile(copy), QByteArray("editado no aplicativo"));

        window->findChild<QAction*>(QStringLiteral("lockAction"))->trigger();
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        QVERIFY(!QFile::exists(copy));
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        QCOMPARE(vaultContent(*window, QStringLiteral("nota.txt"), workDir.filePath(QStringLiteral("n.out"))),
                 QByteArray("editado no aplicativo"));
    }

    void fullDriveAndFullIndexSaySo()
    {
        // A vault of its own, whose index is filled to the end.
        const QString otherContainer = workDir.filePath(QStringLiteral("cheio/keldra.kldr"));
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
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{QStringLiteral("Não foi possível importar recusado.txt.\n\n") + full});
        QVERIFY(other->close());
    }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
