// Many rows and whole folders: commands on an extended selection, folders
// imported from the menu and by dropping them, the one question about files
// that already exist, the batch progress and the summary of what was left out.
#include "FullIndex.h"
#include "SessionWait.h"
#include "VaultWindowFixture.h"
#include "ui/BatchSummaryDialog.h"
#include "ui/StorageQuery.h"
#include "ui/VaultBrowserUtils.h"
#include "ui/VaultSession.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;
using Kind = DialogHooks::Kind;

namespace {

constexpr qint64 GiB = 1024 * 1024 * 1024;

bool dropOnTable(MainWindow& window, const QStringList& paths)
{
    QWidget* viewport = window.vaultBrowser()->table()->viewport();
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    QCoreApplication::processEvents(); // the import runs after the drop
    SessionWait::idle(window);
    return drop.isAccepted();
}

// Adds the rows named to the selection, as Ctrl+click does.
void selectRows(MainWindow& window, const QStringList& names)
{
    QTableWidget* table = window.vaultBrowser()->table();
    table->clearSelection();
    for (int row = 0; row < table->rowCount(); ++row) {
        if (names.contains(table->item(row, 1)->text()))
            table->selectionModel()->select(table->model()->index(row, 1),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QAction* action(MainWindow& window, const char* name)
{
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

// Answers the next three-button question and keeps its text.
void answerExisting(QStringList* asked, QMessageBox::StandardButton answer)
{
    DialogHooks::queueDialogHandler([asked, answer](QDialog& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        *asked << (box ? box->text() : QStringLiteral("<not a message box>"));
        return int(answer);
    });
}

// Takes the summary dialog's text and list instead of showing it.
void readSummary(QString* summary, QString* skipped)
{
    DialogHooks::queueDialogHandler([summary, skipped](QDialog& dialog) {
        auto* box = qobject_cast<BatchSummaryDialog*>(&dialog);
        *summary = box ? box->summaryText() : QStringLiteral("<not a summary>");
        *skipped = box ? box->skippedText() : QString();
        return int(QDialog::Accepted);
    });
}

} // namespace

class TestBatchCommands : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_containerPath;
    std::unique_ptr<MainWindow> m_window;

    QString source(const QString& relative, const QByteArray& content)
    {
        const QString path = m_workDir.filePath(relative);
        writeFile(path, content);
        return path;
    }

    QByteArray content(const QString& vaultPath)
    {
        return vaultContent(*m_window, vaultPath, m_workDir.filePath(QStringLiteral("check.out")));
    }

    void goToRoot()
    {
        while (!m_window->vaultBrowser()->currentDirectory().isEmpty())
            m_window->vaultBrowser()->navigateToParentDirectory();
        m_window->refreshVaultFiles();
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
        StorageQuery::setProvider([](const QString&) {
            StorageQuery::Volume volume;
            volume.ready = true;
            volume.bytesAvailable = 64 * GiB;
            volume.fileSystemType = QStringLiteral("ext4");
            return volume;
        });
        goToRoot();
    }

    void cleanupTestCase()
    {
        StorageQuery::setProvider({});
        m_window.reset();
    }

    void selectionDrivesWhichCommandsApply()
    {
        for (const char* name : {"um.txt", "dois.txt"})
            QVERIFY(m_window->vault().importFile(source(QStringLiteral("sel/") + QLatin1String(name), name),
                                                 QLatin1String(name)));
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Caixa")));
        m_window->refreshVaultFiles();

        // Several rows: open and rename take one, the others take them all.
        selectRows(*m_window, {"um.txt", "dois.txt", "Caixa"});
        QCOMPARE(m_window->vaultBrowser()->selectedItemCount(), 3);
        QVERIFY(!action(*m_window, "openAction")->isEnabled());
        QVERIFY(!action(*m_window, "renameFileAction")->isEnabled());
        QVERIFY(!action(*m_window, "renameFolderAction")->isEnabled());
        QVERIFY(action(*m_window, "exportAction")->isEnabled());
        QVERIFY(action(*m_window, "deleteFileAction")->isEnabled());
        QVERIFY(action(*m_window, "moveFileAction")->isEnabled());
        QTest::keyClick(m_window->vaultBrowser()->table(), Qt::Key_F2);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Information),
                 QStringList{"Selecione um único arquivo ou pasta para renomear."});

        // Ctrl+click took the current row out of the selection: a rename
        // acts on the row still selected, not on the one under the cursor.
        QTableWidget* table = m_window->vaultBrowser()->table();
        QVERIFY(selectRow(*m_window, QStringLiteral("dois.txt")));
        selectRows(*m_window, {"um.txt"});
        QCOMPARE(table->item(table->currentRow(), 1)->text(), QStringLiteral("dois.txt"));
        QCOMPARE(m_window->vaultBrowser()->selectedVaultPath(), QStringLiteral("um.txt"));
        QVERIFY(action(*m_window, "renameFileAction")->isEnabled());

        // Ctrl+A takes every row but "..".
        QVERIFY(selectRow(*m_window, QStringLiteral("Caixa")));
        m_window->vaultBrowser()->enterSelectedDirectory();
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("sel/tres.txt"), "3"),
                                             QStringLiteral("Caixa/tres.txt")));
        m_window->refreshVaultFiles();
        table->setFocus();
        QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_window->vaultBrowser()->selectedItemPaths(), QStringList{"Caixa/tres.txt"});
    }

    void deleteAndMoveManyWithOneQuestion()
    {
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Destino")));
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Velha/funda")));
        for (const char* name : {"Velha/a.txt", "Velha/funda/b.txt", "solto.txt", "m1.txt", "m2.txt"})
            QVERIFY(m_window->vault().importFile(source(QStringLiteral("dm/x"), name), QLatin1String(name)));
        m_window->refreshVaultFiles();

        // Moving a file and a folder: the folders offered never include the
        // moved folder nor what is inside it.
        selectRows(*m_window, {"m1.txt", "m2.txt", "Velha"});
        QStringList offered;
        DialogHooks::queueDialogHandler([&offered](QDialog& dialog) {
            auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("moveDestinationCombo"));
            for (int i = 0; i < combo->count(); ++i)
                offered << combo->itemText(i);
            combo->setCurrentIndex(combo->findText(QStringLiteral("Destino")));
            return int(QDialog::Accepted);
        });
        action(*m_window, "moveFileAction")->trigger();
        SessionWait::idle(*m_window);
        QVERIFY(!offered.contains(QStringLiteral("Velha")));
        QVERIFY(!offered.contains(QStringLiteral("Velha/funda")));
        QVERIFY(!offered.contains(QStringLiteral("Raiz")));
        QVERIFY(offered.contains(QStringLiteral("Destino")));
        QCOMPARE(status(*m_window), QStringLiteral("3 itens movidos."));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Destino/m1.txt")));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Destino/Velha/funda/b.txt")));
        QVERIFY(DialogHooks::takeRecords().size() == 1); // the move dialog alone

        // Deleting a folder with content and a file: one question that says
        // how many files go; "Não" keeps everything.
        QVERIFY(selectRow(*m_window, QStringLiteral("Destino")));
        m_window->vaultBrowser()->enterSelectedDirectory();
        selectRows(*m_window, {"Velha", "m1.txt"});
        action(*m_window, "deleteFileAction")->trigger();
        SessionWait::idle(*m_window);
        QStringList questions = texts(DialogHooks::takeRecords(), Kind::Question);
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions[0].contains(QStringLiteral("3 arquivos")), qPrintable(questions[0]));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Destino/Velha/a.txt")));

        DialogHooks::queueQuestionAnswer(true);
        action(*m_window, "deleteFileAction")->trigger();
        SessionWait::idle(*m_window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Question).size(), 1);
        QCOMPARE(status(*m_window), QStringLiteral("2 itens excluídos do cofre."));
        QVERIFY(filePaths(*m_window).filter(QStringLiteral("Velha")).isEmpty());
        QVERIFY(folderPaths(*m_window).filter(QStringLiteral("Velha")).isEmpty());
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Destino/m2.txt")));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("solto.txt")));

        // A single folder with content goes through Excluir too.
        goToRoot();
        selectRows(*m_window, {"Destino"});
        DialogHooks::queueQuestionAnswer(true);
        action(*m_window, "deleteFileAction")->trigger();
        SessionWait::idle(*m_window);
        questions = texts(DialogHooks::takeRecords(), Kind::Question);
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions[0].contains(QStringLiteral("a pasta Destino")), qPrintable(questions[0]));
        QVERIFY(!folderPaths(*m_window).contains(QStringLiteral("Destino")));
        QVERIFY(filePaths(*m_window).filter(QStringLiteral("Destino/")).isEmpty());
    }

    void droppedFoldersComeInAsTreesWithTheFilesBesideThem()
    {
        source(QStringLiteral("drop/Fotos/praia.jpg"), "praia");
        source(QStringLiteral("drop/Fotos/2024/natal.jpg"), "natal");
        QVERIFY(QDir().mkpath(m_workDir.filePath(QStringLiteral("drop/Fotos/vazia"))));
        const QString loose = source(QStringLiteral("drop/avulso.txt"), "avulso");
#ifndef Q_OS_WIN
        QVERIFY(QFile::link(m_workDir.filePath(QStringLiteral("drop/avulso.txt")),
                            m_workDir.filePath(QStringLiteral("drop/Fotos/atalho.txt"))));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(m_workDir.filePath(QStringLiteral("drop/Fotos/tubo"))).constData(),
                     0600),
            0);
#endif
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Chegada")));
        m_window->refreshVaultFiles();
        QVERIFY(selectRow(*m_window, QStringLiteral("Chegada")));
        m_window->vaultBrowser()->enterSelectedDirectory();

        QStringList labels;
        // What the operation reports to its progress dialog, every step of
        // it: a fast batch ends before a timer could see each label.
        const QMetaObject::Connection watcher =
            connect(&m_window->session(), &VaultSession::progress, this,
                    [&](qint64 done, qint64 total, const QString& text) {
                        labels << QStringLiteral("%1\n%2 de %3")
                                      .arg(text, formatFileSize(done), formatFileSize(total));
                    });
        QString summary;
        QString skipped;
        readSummary(&summary, &skipped);
        QVERIFY(dropOnTable(*m_window, {m_workDir.filePath(QStringLiteral("drop/Fotos")), loose}));
        disconnect(watcher);

        QStringList files = filePaths(*m_window).filter(QStringLiteral("Chegada/"));
        files.sort();
        QCOMPARE(files, QStringList({"Chegada/Fotos/2024/natal.jpg", "Chegada/Fotos/praia.jpg",
                                     "Chegada/avulso.txt"}));
        QVERIFY(folderPaths(*m_window).contains(QStringLiteral("Chegada/Fotos/vazia")));
        QCOMPARE(content(QStringLiteral("Chegada/Fotos/2024/natal.jpg")), QByteArray("natal"));
        QVERIFY(texts(DialogHooks::records(), Kind::Warning).isEmpty());
        QVERIFY2(status(*m_window).startsWith(QStringLiteral("3 arquivos importados")),
                 qPrintable(status(*m_window)));

        // One dialog for the batch, counting files and bytes of the whole.
        QVERIFY2(!labels.filter(QStringLiteral("Arquivo 1 de 3")).isEmpty(), qPrintable(labels.join('|')));
        QVERIFY(!labels.filter(QStringLiteral("Arquivo 3 de 3")).isEmpty());
        QVERIFY(!labels.filter(QStringLiteral("Chegada/Fotos/praia.jpg")).isEmpty());
        QTRY_VERIFY(m_window->findChild<QProgressDialog*>() == nullptr);

#ifndef Q_OS_WIN
        // Neither the link nor the pipe was followed or read (a pipe would
        // block the import for ever), and the user is told why.
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("Chegada/Fotos/atalho.txt")));
        QVERIFY2(summary.contains(QStringLiteral("3 arquivos importados")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("Itens não importados: 2")), qPrintable(summary));
        const QStringList lines = skipped.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(!lines.filter(QStringLiteral("atalho.txt")).filter(QStringLiteral("link")).isEmpty(),
                 qPrintable(skipped));
        QVERIFY2(!lines.filter(QStringLiteral("tubo")).filter(QStringLiteral("especial")).isEmpty(),
                 qPrintable(skipped));
#endif
    }

    void filesAlreadyThereAreAskedAboutOnce()
    {
        const QString folder = m_workDir.filePath(QStringLiteral("rep/Notas"));
        source(QStringLiteral("rep/Notas/a.txt"), "a1");
        source(QStringLiteral("rep/Notas/b.txt"), "b1");
        DialogHooks::queueFileName(folder);
        m_window->importFolder();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.first().kind, Kind::Directory);
        QCOMPARE(content(QStringLiteral("Notas/a.txt")), QByteArray("a1"));
        source(QStringLiteral("rep/Notas/a.txt"), "a2");
        source(QStringLiteral("rep/Notas/b.txt"), "b2");
        source(QStringLiteral("rep/Notas/c.txt"), "c2");

        // Cancelar: nothing is imported, not even the new file.
        QStringList asked;
        answerExisting(&asked, QMessageBox::Cancel);
        DialogHooks::queueFileName(folder);
        m_window->importFolder();
        SessionWait::idle(*m_window);
        QCOMPARE(asked, QStringList{"2 arquivos já existem no cofre. Substituir todos?"});
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("Notas/c.txt")));
        QCOMPARE(content(QStringLiteral("Notas/a.txt")), QByteArray("a1"));

        // Não: the new file comes in, the two are kept and listed as kept.
        answerExisting(&asked, QMessageBox::No);
        QString summary;
        QString skipped;
        readSummary(&summary, &skipped);
        DialogHooks::queueFileName(folder);
        m_window->importFolder();
        SessionWait::idle(*m_window);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(content(QStringLiteral("Notas/c.txt")), QByteArray("c2"));
        QCOMPARE(content(QStringLiteral("Notas/a.txt")), QByteArray("a1"));
        QCOMPARE(content(QStringLiteral("Notas/b.txt")), QByteArray("b1"));
        QVERIFY2(skipped.contains(QStringLiteral("a.txt")) && skipped.contains(QStringLiteral("b.txt")),
                 qPrintable(skipped));

        // Sim: all three are replaced, with no question per file.
        source(QStringLiteral("rep/Notas/c.txt"), "c3");
        answerExisting(&asked, QMessageBox::Yes);
        DialogHooks::queueFileName(folder);
        m_window->importFolder();
        SessionWait::idle(*m_window);
        QCOMPARE(asked.last(), QStringLiteral("3 arquivos já existem no cofre. Substituir todos?"));
        QCOMPARE(content(QStringLiteral("Notas/a.txt")), QByteArray("a2"));
        QCOMPARE(content(QStringLiteral("Notas/c.txt")), QByteArray("c3"));
        QVERIFY(texts(DialogHooks::takeRecords(), Kind::Question).isEmpty());
        QVERIFY2(status(*m_window).contains(QStringLiteral("3 substituídos")), qPrintable(status(*m_window)));

        // The drive check sees the whole batch before the question.
        StorageQuery::setProvider([](const QString&) {
            StorageQuery::Volume volume;
            volume.ready = true;
            volume.bytesAvailable = 1024;
            volume.fileSystemType = QStringLiteral("ext4");
            return volume;
        });
        DialogHooks::queueFileName(folder);
        m_window->importFolder();
        SessionWait::idle(*m_window);
        records = DialogHooks::takeRecords();
        QCOMPARE(titles(records, Kind::Warning), QStringList{"Espaço insuficiente"});
        QCOMPARE(titles(records, Kind::Dialog), QStringList());
    }

    void exportRecreatesTheTreeAndNeverOverwritesUnasked()
    {
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Projeto/vazia")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("exp/plano.txt"), "plano"),
                                             QStringLiteral("Projeto/plano.txt")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("exp/fundo.bin"), "fundo"),
                                             QStringLiteral("Projeto/sub/fundo.bin")));
        QVERIFY(m_window->vault().importFile(source(QStringLiteral("exp/capa.txt"), "capa"),
                                             QStringLiteral("capa.txt")));
        m_window->refreshVaultFiles();
        const QString target = m_workDir.filePath(QStringLiteral("saida"));
        QVERIFY(QDir().mkpath(target));

        // A folder and a file: one warning, one folder chooser, the tree below it.
        selectRows(*m_window, {"Projeto", "capa.txt"});
        QVERIFY(action(*m_window, "exportAction")->isEnabled());
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        action(*m_window, "exportAction")->trigger();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question).size(), 1);
        QCOMPARE(titles(records, Kind::Directory).size(), 1);
        QVERIFY(texts(records, Kind::Warning).isEmpty());
        QCOMPARE(readFile(target + QStringLiteral("/Projeto/plano.txt")), QByteArray("plano"));
        QCOMPARE(readFile(target + QStringLiteral("/Projeto/sub/fundo.bin")), QByteArray("fundo"));
        QCOMPARE(readFile(target + QStringLiteral("/capa.txt")), QByteArray("capa"));
        QVERIFY(QFileInfo(target + QStringLiteral("/Projeto/vazia")).isDir());
        QCOMPARE(status(*m_window), QStringLiteral("3 arquivos exportados."));

        // Again into the same folder: asked once; Não keeps the outside
        // files and lists them; Cancelar writes nothing.
        QVERIFY(writeFile(target + QStringLiteral("/capa.txt"), "editada fora"));
        QVERIFY(QFile::remove(target + QStringLiteral("/Projeto/plano.txt")));
        QStringList asked;
        answerExisting(&asked, QMessageBox::Cancel);
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        action(*m_window, "exportAction")->trigger();
        SessionWait::idle(*m_window);
        QCOMPARE(asked, QStringList{"2 arquivos já existem na pasta de destino. Substituir todos?"});
        QVERIFY(!QFile::exists(target + QStringLiteral("/Projeto/plano.txt")));

        answerExisting(&asked, QMessageBox::No);
        QString summary;
        QString skipped;
        readSummary(&summary, &skipped);
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        action(*m_window, "exportAction")->trigger();
        SessionWait::idle(*m_window);
        QCOMPARE(readFile(target + QStringLiteral("/capa.txt")), QByteArray("editada fora"));
        QCOMPARE(readFile(target + QStringLiteral("/Projeto/plano.txt")), QByteArray("plano"));
        QVERIFY2(skipped.contains(QStringLiteral("capa.txt")) &&
                     skipped.contains(QStringLiteral("fundo.bin")),
                 qPrintable(skipped));

        answerExisting(&asked, QMessageBox::Yes);
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(target);
        action(*m_window, "exportAction")->trigger();
        SessionWait::idle(*m_window);
        QCOMPARE(asked.last(),
                 QStringLiteral("3 arquivos já existem na pasta de destino. Substituir todos?"));
        QCOMPARE(readFile(target + QStringLiteral("/capa.txt")), QByteArray("capa"));
    }

    void aFullIndexSaysHowManyFilesFit()
    {
        QTemporaryDir dir(m_workDir.filePath(QStringLiteral("cheio-XXXXXX")));
        auto window = makeWindow();
        QVERIFY(createAndUnlock(*window, dir.filePath(QStringLiteral("keldra.kldr"))));
        // One folder with a very long name leaves room for a few files only.
        const qint64 left = Core::ContainerFormat::HeaderRegionSize -
                            VaultTest::headerLength(window->vault().containerPath());
        QVERIFY(window->vault().createDirectory(QString(int((left - 8192) * 3 / 4), QLatin1Char('f'))));
        for (int n = 0; n < 40; ++n)
            source(QStringLiteral("muitos/Lote/arquivo-%1.txt").arg(n), "x");
        const qsizetype before = filePaths(*window).size();
        DialogHooks::queueFileName(m_workDir.filePath(QStringLiteral("muitos/Lote")));
        window->importFolder();
        SessionWait::idle(*window);
        const QStringList warnings = texts(DialogHooks::takeRecords(), Kind::Warning);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].contains(QStringLiteral("os 40 arquivos")), qPrintable(warnings[0]));
        const int fit =
            warnings[0].section(QStringLiteral("cabem apenas "), 1).section(QLatin1Char('.'), 0, 0).toInt();
        QVERIFY2(fit > 0 && fit < 40, qPrintable(warnings[0]));
        QCOMPARE(filePaths(*window).size(), before);
        QCOMPARE(status(*window), QStringLiteral("Falha ao importar os arquivos."));
    }
};

QTEST_MAIN(TestBatchCommands)
#include "test_batch_commands.moc"
