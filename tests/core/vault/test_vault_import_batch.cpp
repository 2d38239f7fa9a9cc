// Importing many files as one change: what a tree brings and what it leaves
// out, refusals that must not touch the container, and a cancel that goes
// back to the last checkpoint.

#include "FullIndex.h"
#include "SmallDrive.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/storage/ContainerFaultInjector.h"
#include "core/vault/ImportBatch.h"
#include "core/vault/VaultManager.h"
#include "core/vault/VaultPath.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;
using Why = SkippedItem::Why;

namespace {

const QByteArray Password = "senha de teste";

QByteArray contentOf(const VaultManager& vault, const QString& vaultPath)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return vault.writeVaultFileToDevice(vaultPath, &buffer) ? buffer.data() : QByteArray("<unreadable>");
}

QStringList filePaths(const SecureFileIndex& index)
{
    QStringList paths;
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& entry : entries)
        paths << entry.vaultPath;
    paths.sort();
    return paths;
}

Why whyOf(const QList<SkippedItem>& skipped, const QString& pathEnd)
{
    for (const SkippedItem& item : skipped) {
        if (item.path.endsWith(pathEnd))
            return item.why;
    }
    return Why(-1);
}

} // namespace

class VaultImportBatchTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void treeArrivesWithItsFoldersAndWithoutWhatCannotBeRead();
    void existingFilesAreReplacedOrSkipped();
    void fullIndexRefusesTheWholeBatchAndSaysHowManyFit();
    void fullDriveRefusesTheWholeBatch();
    void cancelGoesBackToTheLastCheckpoint();

private:
    QString makeFile(const QString& relative, const QByteArray& bytes);
    bool open(VaultManager& vault, const QString& container);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_container;
};

void VaultImportBatchTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_container = m_dir->filePath(QStringLiteral("keldra.kldr"));
}

void VaultImportBatchTest::cleanup()
{
    ContainerFaultInjector::reset();
}

QString VaultImportBatchTest::makeFile(const QString& relative, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return writeFile(path, bytes) ? path : QString();
}

bool VaultImportBatchTest::open(VaultManager& vault, const QString& container)
{
    return vault.createVault(container, Password) && vault.unlockVault(container, Password);
}

void VaultImportBatchTest::treeArrivesWithItsFoldersAndWithoutWhatCannotBeRead()
{
    VaultManager vault;
    QVERIFY(open(vault, m_container));
    const QByteArray beach = patternBytes(40000, 1);
    const QByteArray notes = patternBytes(3000, 2);
    QVERIFY(!makeFile("src/fotos/Férias de verão/praia 1.jpg", beach).isEmpty());
    QVERIFY(!makeFile("src/fotos/notas.txt", notes).isEmpty());
    QVERIFY(!makeFile("src/fotos/.oculto", "x").isEmpty());
    QVERIFY(QDir().mkpath(m_dir->filePath("src/fotos/vazia/mais funda")));
    const QString gone = makeFile("src/fotos/some.txt", "vai sumir");
    const QString single = makeFile("src/Relatório final.pdf", patternBytes(100, 3));
#ifdef Q_OS_LINUX
    QVERIFY(QFile::link(m_dir->filePath("src/fotos/notas.txt"), m_dir->filePath("src/fotos/atalho")));
    QVERIFY(QFile::link(m_dir->filePath("src/fotos/vazia"), m_dir->filePath("src/fotos/pasta-atalho")));
    QCOMPARE(::mkfifo(qPrintable(m_dir->filePath("src/fotos/fila")), 0600), 0);
    // Reading a FIFO with no writer would block the import forever.
    QVERIFY(!makeFile("src/fotos/aux.txt", "nome que o Windows não aceita").isEmpty());
    const QString secret = makeFile("src/fotos/segredo.txt", "sem permissão");
    QVERIFY(QFile::setPermissions(secret, QFileDevice::Permissions()));
    const bool root = ::geteuid() == 0;
#endif

    const ImportBatch batch =
        ImportBatch::fromSources({m_dir->filePath("src/fotos/"), single}, QStringLiteral("Docs"));
    QVERIFY(QFile::remove(gone)); // vanishes between gathering and reading
    QList<BatchProgress> reports;
    ImportBatchSummary summary;
    QVERIFY2(vault.importBatch(
                 batch, ExistingFiles::Replace, [&](const BatchProgress& p) { reports.append(p); }, &summary),
             qPrintable(vault.lastError().toString()));

    QStringList expected{"Docs/Relatório final.pdf", "Docs/fotos/.oculto",
                         "Docs/fotos/Férias de verão/praia 1.jpg", "Docs/fotos/notas.txt"};
#ifdef Q_OS_LINUX
    if (root)
        expected << "Docs/fotos/segredo.txt";
#endif
    expected.sort();
    QCOMPARE(filePaths(vault.fileIndex()), expected);
    QCOMPARE(summary.imported, expected.size());
    QCOMPARE(summary.replaced, 0);
    QCOMPARE(contentOf(vault, "Docs/fotos/Férias de verão/praia 1.jpg"), beach);
    QCOMPARE(contentOf(vault, "Docs/fotos/notas.txt"), notes);
    for (const char* folder : {"Docs", "Docs/fotos", "Docs/fotos/vazia", "Docs/fotos/vazia/mais funda"})
        QVERIFY2(VaultPath::hasFolder(vault.fileIndex(), QString::fromUtf8(folder)), folder);
    QCOMPARE(whyOf(summary.skipped, "some.txt"), Why::Unreadable);
#ifdef Q_OS_LINUX
    QCOMPARE(whyOf(summary.skipped, "atalho"), Why::Link);
    QCOMPARE(whyOf(summary.skipped, "pasta-atalho"), Why::Link);
    QCOMPARE(whyOf(summary.skipped, "fila"), Why::Special);
    QCOMPARE(whyOf(summary.skipped, "aux.txt"), Why::InvalidName);
    if (!root)
        QCOMPARE(whyOf(summary.skipped, "segredo.txt"), Why::Unreadable);
    QVERIFY(!VaultPath::hasFolder(vault.fileIndex(), "Docs/fotos/pasta-atalho"));
#endif

    // Progress: every file announced in order, bytes never going back, all done at the end.
    QVERIFY(!reports.isEmpty());
    int lastFile = 0;
    qint64 lastBytes = 0;
    for (const BatchProgress& p : std::as_const(reports)) {
        QVERIFY(p.fileNumber >= lastFile && p.fileNumber <= p.fileCount);
        QVERIFY(p.bytesDone >= lastBytes && p.bytesDone <= p.bytesTotal);
        lastFile = p.fileNumber;
        lastBytes = p.bytesDone;
    }
    QCOMPARE(reports.last().bytesDone, reports.last().bytesTotal);
    QCOMPARE(reports.last().fileNumber, reports.last().fileCount);

    // What was stored is what another session finds.
    QVERIFY(vault.lockVault());
    VaultManager again;
    QVERIFY(again.unlockVault(m_container, Password));
    QCOMPARE(filePaths(again.fileIndex()), expected);
    QVERIFY(again.verifyFile("Docs/fotos/Férias de verão/praia 1.jpg"));
    QVERIFY(VaultPath::hasFolder(again.fileIndex(), "Docs/fotos/vazia/mais funda"));
    QVERIFY(again.lockVault());
}

void VaultImportBatchTest::existingFilesAreReplacedOrSkipped()
{
    VaultManager vault;
    QVERIFY(open(vault, m_container));
    QVERIFY(vault.importFile(makeFile("old", "antigo"), "Pasta/A.txt"));
    const QString a = makeFile("src/pasta/a.txt", "novo a");
    const QString b = makeFile("src/pasta/b.txt", "novo b");
    ImportBatch batch = ImportBatch::fromSources({m_dir->filePath("src/pasta")}, QString());
    QCOMPARE(vault.existingFiles(batch), QStringList{"pasta/a.txt"});

    const QByteArray before = readFile(m_container);
    ImportBatch onlyExisting;
    onlyExisting.addFile(a, "pasta/a.txt");
    ImportBatchSummary summary;
    QVERIFY(vault.importBatch(onlyExisting, ExistingFiles::Skip, {}, &summary));
    QCOMPARE(summary.imported + summary.replaced, 0);
    QCOMPARE(summary.skipped.size(), 1);
    QCOMPARE(summary.skipped.first().why, Why::Existing);
    QCOMPARE(readFile(m_container), before); // nothing to store, nothing written

    QVERIFY(vault.importBatch(batch, ExistingFiles::Skip, {}, &summary));
    QCOMPARE(summary.imported, 1);
    QCOMPARE(contentOf(vault, "Pasta/A.txt"), QByteArray("antigo"));

    QVERIFY(writeFile(b, "mais novo b"));
    batch = ImportBatch::fromSources({m_dir->filePath("src/pasta")}, QString());
    QVERIFY(vault.importBatch(batch, ExistingFiles::Replace, {}, &summary));
    QCOMPARE(summary.imported, 0);
    QCOMPARE(summary.replaced, 2);
    // One file per path, whatever the letter case it was stored under.
    QCOMPARE(filePaths(vault.fileIndex()), (QStringList{"pasta/a.txt", "pasta/b.txt"}));
    QCOMPARE(contentOf(vault, "pasta/a.txt"), QByteArray("novo a"));
    QCOMPARE(contentOf(vault, "pasta/b.txt"), QByteArray("mais novo b"));
}

void VaultImportBatchTest::fullIndexRefusesTheWholeBatchAndSaysHowManyFit()
{
    VaultManager vault;
    QVERIFY(open(vault, m_container));
    const QString source = makeFile("one", "um");
    // Long paths fill the header in a few thousand entries.
    const QString longName = QString(900, QLatin1Char('x'));
    ImportBatch batch;
    for (int i = 0; i < 6000; ++i)
        batch.addFile(source, QStringLiteral("L/%1-").arg(i) + longName);

    const QByteArray before = readFile(m_container);
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
    ImportBatchSummary summary;
    QVERIFY(!vault.importBatch(batch, ExistingFiles::Replace, {}, &summary));
    QCOMPARE(vault.lastError().reason(), Error::Reason::IndexFull);
    QCOMPARE(ContainerFaultInjector::calls(), 0);
    ContainerFaultInjector::reset();
    QCOMPARE(readFile(m_container), before);
    QVERIFY2(summary.filesThatFit > 1000 && summary.filesThatFit < 6000,
             qPrintable(QString::number(summary.filesThatFit)));
    QCOMPARE(summary.imported, 0);

    // The count is one the vault can really take.
    ImportBatch fits;
    for (int i = 0; i < summary.filesThatFit; ++i)
        fits.addFile(source, batch.files().at(i).vaultPath);
    QVERIFY2(vault.importBatch(fits, ExistingFiles::Replace, {}, &summary),
             qPrintable(vault.lastError().toString()));
    QCOMPARE(vault.fileIndex().entries().size(), fits.files().size());

    // A vault whose index is full takes none.
    VaultManager full;
    QVERIFY(open(full, m_dir->filePath("full.kldr")));
    QVERIFY(fillIndex(full));
    const QByteArray fullBefore = readFile(full.containerPath());
    ImportBatch small;
    small.addFile(source, "a.txt");
    small.addDirectory("vazia");
    QVERIFY(!full.importBatch(small, ExistingFiles::Replace, {}, &summary));
    QCOMPARE(full.lastError().reason(), Error::Reason::IndexFull);
    QCOMPARE(summary.filesThatFit, 0);
    QCOMPARE(readFile(full.containerPath()), fullBefore);
}

void VaultImportBatchTest::fullDriveRefusesTheWholeBatch()
{
    SmallDrive drive("12m");
    if (!drive.mounted())
        QSKIP(SmallDrive::whyNotMounted());
    VaultManager vault;
    QVERIFY(vault.createVault(drive.container(), Password));
    QVERIFY(vault.unlockVault(drive.container(), Password));
    ImportBatch batch;
    for (int i = 0; i < 4; ++i)
        batch.addFile(makeFile(QStringLiteral("big%1").arg(i), patternBytes(1200 * 1024, i)),
                      QStringLiteral("big%1.bin").arg(i));
    // A checkpoint after every file: without the check up front the first
    // files would be stored before the drive ran out.
    batch.setCheckpointInterval(1, 1000000);
    const QByteArray before = readFile(drive.container());
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
    ImportBatchSummary summary;
    QVERIFY(!vault.importBatch(batch, ExistingFiles::Replace, {}, &summary));
    QCOMPARE(vault.lastError().reason(), Error::Reason::DriveFull);
    QCOMPARE(ContainerFaultInjector::calls(), 0);
    ContainerFaultInjector::reset();
    QCOMPARE(readFile(drive.container()), before);
    QCOMPARE(summary.imported, 0);
    QVERIFY(vault.fileIndex().entries().isEmpty());
    QVERIFY(vault.lockVault());
}

void VaultImportBatchTest::cancelGoesBackToTheLastCheckpoint()
{
    VaultManager vault;
    QVERIFY(open(vault, m_container));
    ImportBatch batch;
    for (int i = 0; i < 4; ++i)
        batch.addFile(makeFile(QStringLiteral("f%1").arg(i), patternBytes(30000, i)),
                      QStringLiteral("lote/f%1.bin").arg(i));
    batch.addDirectory("lote/vazia");
    // Stored after the second file (60 kB), not after the first.
    batch.setCheckpointInterval(50000, 1000000);
    std::atomic<bool> cancel{false};
    vault.setCancelFlag(&cancel);
    QByteArray atCheckpoint;
    const auto progress = [&](const BatchProgress& p) {
        if (p.fileNumber == 3 && atCheckpoint.isEmpty())
            atCheckpoint = readFile(m_container);
        if (p.fileNumber == 4)
            cancel = true;
    };
    ImportBatchSummary summary;
    QVERIFY(!vault.importBatch(batch, ExistingFiles::Replace, progress, &summary));
    vault.setCancelFlag(nullptr);
    QCOMPARE(vault.lastError().reason(), Error::Reason::Cancelled);
    QCOMPARE(summary.imported, 2);
    QCOMPARE(readFile(m_container), atCheckpoint);
    QCOMPARE(filePaths(vault.fileIndex()), (QStringList{"lote/f0.bin", "lote/f1.bin"}));

    QVERIFY(vault.lockVault());
    VaultManager again;
    QVERIFY(again.unlockVault(m_container, Password));
    QCOMPARE(filePaths(again.fileIndex()), (QStringList{"lote/f0.bin", "lote/f1.bin"}));
    QVERIFY(VaultPath::hasFolder(again.fileIndex(), "lote/vazia"));
    QVERIFY(again.verifyFile("lote/f1.bin"));
    QVERIFY(again.lockVault());
}

QTEST_GUILESS_MAIN(VaultImportBatchTest)
#include "test_vault_import_batch.moc"
