// Import through the file dialog and by dropping files on the vault table:
// replace questions, failures in the middle, progress, the free-space and
// FAT checks with a stubbed drive, and real full and read-only drives.
#include "SessionWait.h"
#include "VaultWindowFixture.h"
#include "ui/BatchSummaryDialog.h"
#include "ui/StorageQuery.h"
#include "ui/VaultBrowserUtils.h"
#include "ui/VaultSession.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;
using Kind = DialogHooks::Kind;

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 GiB = 1024 * MiB;

void pretendDrive(qint64 bytesAvailable, const QString& fileSystem = QStringLiteral("ext4"))
{
    StorageQuery::setProvider([=](const QString&) {
        StorageQuery::Volume volume;
        volume.ready = true;
        volume.bytesAvailable = bytesAvailable;
        volume.fileSystemType = fileSystem;
        return volume;
    });
}

bool sparseFile(const QString& path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

// Sends a drag-and-drop of `paths` to the vault table; true when the drop was accepted.
bool dropOnTable(MainWindow& window, const QStringList& paths)
{
    QWidget* viewport = window.vaultBrowser()->table()->viewport();
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << (path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path));
    mime.setUrls(urls);
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    QCoreApplication::processEvents(); // the import runs after the drop
    SessionWait::idle(window);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

#ifdef Q_OS_LINUX
// Writes `path` until the drive has at most `leave` bytes free.
void fillDrive(const QString& path, qint64 leave)
{
    QFile fill(path);
    if (!fill.open(QIODevice::WriteOnly))
        return;
    const QString folder = QFileInfo(path).absolutePath();
    while (QStorageInfo(folder).bytesAvailable() > leave) {
        const qint64 chunk = qMin<qint64>(MiB, QStorageInfo(folder).bytesAvailable() - leave);
        if (fill.write(QByteArray(int(chunk), 'f')) <= 0 || !fill.flush())
            break;
    }
}

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
#endif

} // namespace

class TestImportCommands : public QObject
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

    QByteArray content(const QString& vaultPath)
    {
        return vaultContent(*m_window, vaultPath, m_workDir.filePath(QStringLiteral("check.out")));
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
        pretendDrive(64 * GiB);
        while (!m_window->vaultBrowser()->currentDirectory().isEmpty())
            m_window->vaultBrowser()->navigateToParentDirectory();
    }

    void cleanupTestCase()
    {
        StorageQuery::setProvider({});
        m_window.reset();
    }

    void importsIntoTheFolderShownAndAsksBeforeReplacing()
    {
        QVERIFY(m_window->vault().createDirectory(QStringLiteral("Docs")));
        m_window->refreshVaultFiles();
        QVERIFY(selectRow(*m_window, QStringLiteral("Docs")));
        m_window->vaultBrowser()->enterSelectedDirectory();

        const QString a = source(QStringLiteral("a.txt"), "a1");
        const QString b = source(QStringLiteral("b.txt"), "b1");
        DialogHooks::queueFileNames({a, b});
        m_window->importFiles();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records[0].kind, Kind::OpenFiles);
        QCOMPARE(records[0].title, QStringLiteral("Importar arquivos para o cofre"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(status(*m_window), QStringLiteral("2 arquivos importados."));
        QCOMPARE(filePaths(*m_window), QStringList({"Docs/a.txt", "Docs/b.txt"}));
        QCOMPARE(m_window->vaultBrowser()->currentDirectory(), QStringLiteral("Docs"));

        // A big file reports its blocks in the progress dialog.
        const QString big = m_workDir.filePath(QStringLiteral("src/grande.bin"));
        QVERIFY(writeFile(big, QByteArray(int(17 * MiB), 'x')));
        QStringList labels;
        // What the operation reports to its progress dialog, every step of
        // it: a fast batch ends before a timer could see each label.
        const QMetaObject::Connection watcher =
            connect(&m_window->session(), &VaultSession::progress, this,
                    [&](qint64 done, qint64 total, const QString& text) {
                        labels << QStringLiteral("%1\n%2 de %3")
                                      .arg(text, formatFileSize(done), formatFileSize(total));
                    });

        // Several files are one batch: one question for those that exist;
        // "Não" keeps them and imports the rest.
        QVERIFY(writeFile(a, "a2"));
        QVERIFY(writeFile(b, "b2"));
        DialogHooks::queueFileNames({a, big, b});
        QStringList asked;
        DialogHooks::queueDialogHandler([&asked](QDialog& dialog) {
            auto* box = qobject_cast<QMessageBox*>(&dialog);
            asked << (box ? box->text() : QStringLiteral("<not a message box>"));
            return int(QMessageBox::No);
        });
        DialogHooks::queueDialogHandler([](QDialog&) { return int(QDialog::Accepted); }); // the summary
        m_window->importFiles();
        SessionWait::idle(*m_window);
        disconnect(watcher);
        records = DialogHooks::takeRecords();
        QCOMPARE(asked, QStringList{"2 arquivos já existem no cofre. Substituir todos?"});
        QCOMPARE(status(*m_window), QStringLiteral("1 arquivo importado."));
        QCOMPARE(content(QStringLiteral("Docs/a.txt")), QByteArray("a1"));
        QCOMPARE(content(QStringLiteral("Docs/b.txt")), QByteArray("b1"));
        QVERIFY(rowNames(*m_window).contains(QStringLiteral("grande.bin")));

        QVERIFY2(!labels.filter(QStringLiteral("grande.bin"))
                      .filter(QStringLiteral("Arquivo 1 de 1"))
                      .filter(formatFileSize(16 * MiB))
                      .isEmpty(),
                 qPrintable(labels.join(QLatin1Char('|'))));
        QTRY_VERIFY(m_window->findChild<QProgressDialog*>() == nullptr);

        // One file asks on its own; "Não" leaves the vault as it was.
        const QByteArray unchanged = readFile(m_containerPath);
        DialogHooks::queueFileNames({a});
        DialogHooks::queueQuestionAnswer(false);
        m_window->importFiles();
        SessionWait::idle(*m_window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Question),
                 QStringList{"Docs/a.txt já existe no cofre. Deseja substituir o arquivo protegido?"});
        QCOMPARE(readFile(m_containerPath), unchanged);
        DialogHooks::queueFileNames({source(QStringLiteral("c.txt"), "c")});
        m_window->importFiles();
        SessionWait::idle(*m_window);
        QCOMPARE(status(*m_window), QStringLiteral("Arquivo importado com sucesso."));
    }

    void aFailedFileLetsTheOthersGoOn()
    {
        // A missing file stops everything before the first write.
        const QByteArray before = readFile(m_containerPath);
        DialogHooks::queueFileNames(
            {source(QStringLiteral("d.txt"), "d"), m_workDir.filePath(QStringLiteral("sumiu.txt"))});
        m_window->importFiles();
        SessionWait::idle(*m_window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList{"O arquivo sumiu.txt não está disponível para importação."});
        QCOMPARE(titles(records, Kind::Warning), QStringList{"Importar arquivos"});
        QCOMPARE(readFile(m_containerPath), before);
        // Centred on the window like every other prompt, not on the screen.
        QCOMPARE(records.last().parent, m_window.get());
        // The file dialog opened where the previous import's was left.
        QCOMPARE(records.first().kind, Kind::OpenFiles);
        QCOMPARE(records.first().text, m_workDir.filePath(QStringLiteral("src")));

        // The container itself cannot be imported; the files around it can,
        // and the summary names what was left out.
        DialogHooks::queueFileNames(
            {source(QStringLiteral("e.txt"), "e"), m_containerPath, source(QStringLiteral("f.txt"), "f")});
        QString leftOut;
        DialogHooks::queueDialogHandler([&leftOut](QDialog& dialog) {
            if (auto* summary = qobject_cast<BatchSummaryDialog*>(&dialog))
                leftOut = summary->skippedText();
            return int(QDialog::Accepted);
        });
        m_window->importFiles();
        SessionWait::idle(*m_window);
        records = DialogHooks::takeRecords();
        QVERIFY(texts(records, Kind::Warning).isEmpty());
        QVERIFY2(leftOut.contains(QStringLiteral("keldra.kldr")), qPrintable(leftOut));
        QCOMPARE(status(*m_window), QStringLiteral("2 arquivos importados."));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("e.txt")));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("f.txt")));
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("keldra.kldr")));
    }

    void progressStaysUntilTheImportEndsAndClosingWaits()
    {
        m_window->show();
        const QString file = source(QStringLiteral("longo.bin"), QByteArray(int(17 * MiB), 'l'));
        bool poked = false;
        bool dialogStayed = false;
        bool closeRefused = false;
        QTimer poke;
        connect(&poke, &QTimer::timeout, this, [&] {
            auto* dialog = m_window->findChild<QProgressDialog*>();
            if (poked || !dialog || !dialog->isVisible())
                return;
            poked = true;
            // Escape and the title bar's close button do not hide it...
            QTest::keyClick(dialog, Qt::Key_Escape);
            dialog->close();
            dialogStayed = dialog->isVisible();
            // ...and the window takes no command meanwhile. Closing asks
            // whether to cancel; "Não" lets the import end, then closes.
            m_window->findChild<QAction*>(QStringLiteral("lockAction"))->trigger();
            DialogHooks::queueQuestionAnswer(false);
            closeRefused = !m_window->close() && m_window->isVisible();
        });
        poke.start(0);
        DialogHooks::queueFileNames({file});
        m_window->importFiles();
        SessionWait::idle(*m_window);
        poke.stop();
        QVERIFY(poked);
        QVERIFY(dialogStayed);
        QVERIFY(closeRefused);
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QVERIFY(texts(records, Kind::Warning).isEmpty());
        QCOMPARE(texts(records, Kind::Question).size(), 1);

        // The close asked for during the import happens once it is over,
        // with the vault locked and the file in it.
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(m_window->vault().state(), Core::VaultState::Locked);
        DialogHooks::queueText(kPassword);
        m_window->unlockVault();
        SessionWait::idle(*m_window);
        QCOMPARE(m_window->vault().state(), Core::VaultState::Unlocked);
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("longo.bin")));
    }

    void freeSpaceThresholds()
    {
        const QString gib = m_workDir.filePath(QStringLiteral("um-giga.bin"));
        QVERIFY(sparseFile(gib, GiB));
        const qint64 required = GiB + GiB / 20 + 16 * MiB;

        pretendDrive(qint64(1.06 * GiB));
        QVERIFY(!m_window->confirmImportFitsStorage({gib}));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(titles(records, Kind::Warning), QStringList{"Espaço insuficiente"});
        // It tells how much was chosen and how much room there is.
        QVERIFY(records[0].text.contains(formatFileSize(GiB)));
        QVERIFY(records[0].text.contains(formatFileSize(qint64(1.06 * GiB))));

        // Enough, but little left: the answer decides.
        pretendDrive(qint64(1.15 * GiB));
        QVERIFY(!m_window->confirmImportFitsStorage({gib}));
        DialogHooks::queueQuestionAnswer(true);
        QVERIFY(m_window->confirmImportFitsStorage({gib}));
        records = DialogHooks::takeRecords();
        QCOMPARE(titles(records, Kind::Question),
                 QStringList({"Espaço livre reduzido", "Espaço livre reduzido"}));
        QVERIFY(records[0].text.contains(formatFileSize(GiB)));
        QVERIFY(records[0].text.contains(formatFileSize(qint64(1.15 * GiB) - required)));

        pretendDrive(2 * GiB);
        QVERIFY(m_window->confirmImportFitsStorage({gib}));
        QVERIFY(DialogHooks::takeRecords().isEmpty());

        // Edges: exactly enough asks; one byte short refuses; 128 MiB left does not ask.
        pretendDrive(required);
        QVERIFY(!m_window->confirmImportFitsStorage({gib}));
        pretendDrive(required - 1);
        QVERIFY(!m_window->confirmImportFitsStorage({gib}));
        pretendDrive(required + 128 * MiB);
        QVERIFY(m_window->confirmImportFitsStorage({gib}));
        records = DialogHooks::takeRecords();
        QCOMPARE(titles(records, Kind::Question), QStringList{"Espaço livre reduzido"});
        QCOMPARE(titles(records, Kind::Warning), QStringList{"Espaço insuficiente"});

        StorageQuery::setProvider([](const QString&) { return StorageQuery::Volume(); });
        QVERIFY(!m_window->confirmImportFitsStorage({gib}));
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Não foi possível verificar o espaço livre da unidade do container."});
    }

    void fatDrivesRefuseAContainerOfFourGigabytes()
    {
        // The largest file that keeps the container below 4 GiB, tags included.
        const qint64 container = QFileInfo(m_containerPath).size();
        qint64 fits = Q_INT64_C(4294967296) - 1 - container;
        while (fits + 16 * ((fits + 16 * MiB - 1) / (16 * MiB)) + container >= Q_INT64_C(4294967296))
            --fits;
        const QString largest = m_workDir.filePath(QStringLiteral("cabe.bin"));
        const QString tooLarge = m_workDir.filePath(QStringLiteral("nao-cabe.bin"));
        QVERIFY(sparseFile(largest, fits));
        QVERIFY(sparseFile(tooLarge, fits + 1));

        pretendDrive(64 * GiB, QStringLiteral("VFAT"));
        QVERIFY(m_window->confirmImportFitsStorage({largest}));
        QVERIFY(!m_window->confirmImportFitsStorage({tooLarge}));
        pretendDrive(64 * GiB, QStringLiteral("msdos"));
        QVERIFY(!m_window->confirmImportFitsStorage({tooLarge}));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(titles(records, Kind::Warning), QStringList({"Limite do FAT32", "Limite do FAT32"}));
        QVERIFY(records[0].text.contains(formatFileSize(container)));
        QVERIFY(records[0].text.contains(formatFileSize(fits + 1)));

        // Split over two files the tags count per file.
        const QString half = m_workDir.filePath(QStringLiteral("metade.bin"));
        QVERIFY(sparseFile(half, fits / 2));
        pretendDrive(64 * GiB, QStringLiteral("fat32"));
        QCOMPARE(m_window->confirmImportFitsStorage({half, half}),
                 container + 2 * (fits / 2 + 16 * ((fits / 2 + 16 * MiB - 1) / (16 * MiB))) <
                     Q_INT64_C(4294967296));
        DialogHooks::takeRecords();

        pretendDrive(64 * GiB, QStringLiteral("exfat"));
        QVERIFY(m_window->confirmImportFitsStorage({tooLarge}));
        QVERIFY(DialogHooks::takeRecords().isEmpty());
    }

    void droppedFilesAndFoldersAreImported()
    {
        const QString g = source(QStringLiteral("g.txt"), "g");
        const QString h = source(QStringLiteral("h.txt"), "h");
        const QString j = source(QStringLiteral("j.txt"), "j");
        const QString folder = m_workDir.filePath(QStringLiteral("lote"));
        QVERIFY(writeFile(folder + QStringLiteral("/k.txt"), "k"));
        QVERIFY(selectRow(*m_window, QStringLiteral("Docs")));
        m_window->vaultBrowser()->enterSelectedDirectory();

        // Remote links are not taken; a folder comes in as a tree with the
        // files dropped beside it.
        QVERIFY(!dropOnTable(*m_window, {QStringLiteral("https://example.org/x.txt")}));
        QVERIFY(dropOnTable(*m_window, {j, folder}));
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning), QStringList());
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Docs/j.txt")));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Docs/lote/k.txt")));
        QVERIFY(!filePaths(*m_window).contains(QStringLiteral("Docs/g.txt")));

        QVERIFY(dropOnTable(*m_window, {g, h}));
        QCOMPARE(status(*m_window), QStringLiteral("2 arquivos importados."));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Docs/g.txt")));
        QVERIFY(filePaths(*m_window).contains(QStringLiteral("Docs/h.txt")));

        // Same checks as the menu command: a clash asks, the drive is checked.
        QVERIFY(dropOnTable(*m_window, {g}));
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Question),
                 QStringList{"Docs/g.txt já existe no cofre. Deseja substituir o arquivo protegido?"});
        pretendDrive(MiB);
        QVERIFY(dropOnTable(*m_window, {source(QStringLiteral("i.txt"), "i")}));
        QCOMPARE(titles(DialogHooks::takeRecords(), Kind::Warning), QStringList{"Espaço insuficiente"});

        // Nothing is taken while the vault is locked.
        m_window->lockVault();
        SessionWait::idle(*m_window);
        QVERIFY(!dropOnTable(*m_window, {h}));
        DialogHooks::queueText(kPassword);
        m_window->unlockVault();
        SessionWait::idle(*m_window);
        QCOMPARE(m_window->vault().state(), Core::VaultState::Unlocked);
    }

    // Needs root for a small tmpfs: the drive really fills up and really
    // turns read-only.
    void realFullAndReadOnlyDrive()
    {
#ifndef Q_OS_LINUX
        QSKIP("needs a tmpfs mounted by root, which only Linux offers");
#else
        if (geteuid() != 0)
            QSKIP("needs root to mount a tmpfs");
        const QString mountPoint = m_workDir.filePath(QStringLiteral("pequeno"));
        QVERIFY(QDir().mkpath(mountPoint));
        if (!run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=24m", "tmpfs", mountPoint}))
            QSKIP("tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&] { run(QStringLiteral("umount"), {"-l", mountPoint}); });

        const QString kDriveFull = QStringLiteral("Não há espaço livre suficiente na unidade do cofre.");
        const QString kReadOnly =
            QStringLiteral("Não foi possível gravar na unidade do cofre. Verifique se ela "
                           "está conectada e se não está protegida contra gravação.");
        StorageQuery::setProvider({});
        auto small = makeWindow();
        const QString smallContainer = mountPoint + QStringLiteral("/keldra.kldr");
        QVERIFY(createAndUnlock(*small, smallContainer));
        QVERIFY(small->vault().importFile(source(QStringLiteral("k.txt"), "k"), QStringLiteral("k.txt")));
        const QString big = source(QStringLiteral("vinte.bin"), QByteArray(int(20 * MiB), 'z'));

        // The drive's own free space refuses the file before anything is written.
        DialogHooks::queueFileNames({big});
        small->importFiles();
        SessionWait::idle(*small);
        QCOMPARE(titles(DialogHooks::takeRecords(), Kind::Warning), QStringList{"Espaço insuficiente"});

        // Past a check that is wrong, the drive fills up: the import fails
        // and the container is as before.
        const QByteArray before = readFile(smallContainer);
        pretendDrive(64 * GiB);
        DialogHooks::queueFileNames({big, source(QStringLiteral("l.txt"), "l")});
        small->importFiles();
        SessionWait::idle(*small);
        // Several files are one batch, refused whole before anything is written.
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning), QStringList{kDriveFull});
        QCOMPARE(readFile(smallContainer), before);
        QCOMPARE(filePaths(*small), QStringList({"k.txt"}));
        QVERIFY(small->vault().importFile(source(QStringLiteral("l.txt"), "l"), QStringLiteral("l.txt")));
        small->refreshVaultFiles();

        // The drive fills up while the compacted container is copied back.
        QVERIFY(small->vault().deleteFile(QStringLiteral("l.txt")));
        const QString fillerPath = mountPoint + QStringLiteral("/enche.bin");
        const QString reservePath = mountPoint + QStringLiteral("/reserva.bin");
        // On the worker, as the step is reported, so it is filled before the step runs.
        const QMetaObject::Connection filler = connect(
            &small->session(), &VaultSession::progress, this,
            [&](qint64, qint64, const QString& text) {
                if (text.startsWith(QStringLiteral("Substituindo container no USB")) &&
                    !QFile::exists(fillerPath))
                    fillDrive(fillerPath, 0);
            },
            Qt::DirectConnection);

        // With room for the copy beside it, the old container stays whole.
        const QByteArray beforeCompaction = readFile(smallContainer);
        DialogHooks::queueQuestionAnswer(true);
        small->compactVault();
        SessionWait::idle(*small);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning), QStringList{kDriveFull});
        QCOMPARE(status(*small), QStringLiteral("Falha ao compactar o cofre."));
        QCOMPARE(readFile(smallContainer), beforeCompaction);
        QVERIFY(QFile::remove(fillerPath));

        // Without that room the old one goes first; when the copy then fails
        // the user learns where the compacted container was kept.
        fillDrive(reservePath, 2 * MiB);
        DialogHooks::queueQuestionAnswer(true);
        small->compactVault();
        SessionWait::idle(*small);
        disconnect(filler);
        const QStringList warnings = texts(DialogHooks::takeRecords(), Kind::Warning);
        QCOMPARE(warnings.size(), 1);
        const QString prefix =
            QStringLiteral("Não foi possível substituir o container no USB.\n\nUm container "
                           "compactado criptografado foi preservado em:\n");
        QVERIFY2(warnings[0].startsWith(prefix), qPrintable(warnings[0]));
        const QString preserved = warnings[0].mid(prefix.size());
        QVERIFY(QFileInfo(preserved).size() > 0);
        QCOMPARE(status(*small), QStringLiteral("Falha ao compactar o cofre."));
        QVERIFY(QFile::remove(fillerPath));
        QVERIFY(QFile::remove(reservePath));
        QVERIFY(QFile::remove(smallContainer)); // left cut
        QVERIFY(QFile::copy(preserved, smallContainer));
        QDir(QFileInfo(preserved).absolutePath()).removeRecursively();

        // A read-only drive: import and compaction fail and change nothing.
        QVERIFY(run(QStringLiteral("mount"), {"-o", "remount,ro", mountPoint}));
        const QByteArray readOnly = readFile(smallContainer);
        DialogHooks::queueFileNames({source(QStringLiteral("m.txt"), "m")});
        small->importFiles();
        SessionWait::idle(*small);
        DialogHooks::queueQuestionAnswer(true);
        small->compactVault();
        SessionWait::idle(*small);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList({"Não foi possível importar m.txt.\n\n" + kReadOnly, kReadOnly}));
        QCOMPARE(readFile(smallContainer), readOnly);
        QVERIFY(run(QStringLiteral("mount"), {"-o", "remount,rw", mountPoint}));
        QVERIFY(SessionWait::closeWindow(*small));
#endif
    }
};

QTEST_MAIN(TestImportCommands)
#include "test_import_commands.moc"
