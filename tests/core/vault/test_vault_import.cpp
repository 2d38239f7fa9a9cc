// Import at the edges of what the source and the drive report: sources whose
// size reads wrong, bytes a killed import left behind, and drives whose file
// system caps the container's size. Also the checkpoints of one change.

#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/format/ContainerFormat.h"
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/FileSizeLimit.h"
#include "core/vault/VaultChange.h"
#include "core/vault/VaultManager.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

class VaultImportTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void sourceIsReadToItsEnd();
    void deadBytesAtTheEndAreReusedAndReported();
    void fatLimitIsRefusedBeforeWriting();
    void writeRefusedForSizeSaysSo();
    void changeCommitsSeveralTimesUnderOneLock();

private:
    QString source(const QByteArray& bytes);
    bool appendGarbage(qint64 size);

    QTemporaryDir m_dir;
    QString m_container;
    VaultManager m_vault;
    int m_count = 0;
};

QString VaultImportTest::source(const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("src-%1").arg(++m_count));
    return writeFile(path, bytes) ? path : QString();
}

// What an import killed before its header was written leaves behind.
bool VaultImportTest::appendGarbage(qint64 size)
{
    QFile file(m_container);
    return file.open(QIODevice::Append) && file.write(patternBytes(size, 99)) == size;
}

void VaultImportTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    QVERIFY(m_vault.createVault(m_container, "senha de teste"));
    QVERIFY(m_vault.unlockVault(m_container, "senha de teste"));
}

void VaultImportTest::cleanup()
{
    FileSizeLimit::setProbe({});
    ContainerFaultInjector::reset();
}

void VaultImportTest::sourceIsReadToItsEnd()
{
#ifdef Q_OS_LINUX
    // The system reports 0 bytes for these and makes their text up on reading.
    const QString made = QStringLiteral("/proc/version");
    if (!QFileInfo(made).isFile() || QFileInfo(made).size() != 0)
        QSKIP("no /proc/version that reads as empty");
    QFile file(made);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(!text.isEmpty());

    QVERIFY2(m_vault.importFile(made, QStringLiteral("versao.txt")),
             qPrintable(m_vault.lastError().toString()));
    VaultFileEntry entry;
    QVERIFY(findEntry(m_vault, QStringLiteral("versao.txt"), &entry));
    QCOMPARE(entry.sizeBytes, qint64(text.size()));
    QVERIFY(m_vault.verifyFile(QStringLiteral("versao.txt")));
    const QString out = m_dir.filePath(QStringLiteral("versao.out"));
    QVERIFY(m_vault.exportFile(QStringLiteral("versao.txt"), out));
    QCOMPARE(readFile(out), text);
#else
    QSKIP("needs a file whose reported size is wrong");
#endif
}

void VaultImportTest::deadBytesAtTheEndAreReusedAndReported()
{
    QVERIFY(m_vault.importFile(source(patternBytes(3000, 1)), QStringLiteral("a.bin")));
    QVERIFY(m_vault.importFile(source(patternBytes(2000, 2)), QStringLiteral("b.bin")));
    QCOMPARE(m_vault.reclaimableBytes(), qint64(0));

    // A deleted file in the middle: only compaction gives that back.
    QVERIFY(m_vault.deleteFile(QStringLiteral("a.bin")));
    QCOMPARE(m_vault.reclaimableBytes(), VaultManager::storedSize(3000));
    const qint64 settled = QFileInfo(m_container).size();

    // Killed imports: the next one writes where they began.
    QVERIFY(appendGarbage(50000));
    QCOMPARE(m_vault.reclaimableBytes(), VaultManager::storedSize(3000) + 50000);
    QVERIFY(m_vault.importFile(source(patternBytes(1000, 3)), QStringLiteral("c.bin")));
    QCOMPARE(QFileInfo(m_container).size(), settled + VaultManager::storedSize(1000));
    QCOMPARE(m_vault.reclaimableBytes(), VaultManager::storedSize(3000));

    // A file being replaced keeps its blocks until the new ones are stored:
    // the failed replacement leaves it whole.
    QVERIFY(appendGarbage(7000));
    const QByteArray beforeReplace = readFile(m_container).left(settled + VaultManager::storedSize(1000));
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::DriveFull, 2);
    QVERIFY(!m_vault.importFile(source(patternBytes(4000, 4)), QStringLiteral("C.BIN")));
    ContainerFaultInjector::reset();
    QCOMPARE(readFile(m_container), beforeReplace);
    QVERIFY(m_vault.verifyFile(QStringLiteral("c.bin")));
    QVERIFY(m_vault.verifyFile(QStringLiteral("b.bin")));
}

void VaultImportTest::fatLimitIsRefusedBeforeWriting()
{
    const qint64 size = QFileInfo(m_container).size();
    // As large as the container can still take on FAT, and a byte more; sparse, never read.
    qint64 fits = FileSizeLimit::FatLimit - size;
    while (size + VaultManager::storedSize(fits) > FileSizeLimit::FatLimit)
        --fits;
    const QString tooLarge = m_dir.filePath(QStringLiteral("grande.bin"));
    {
        QFile file(tooLarge);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(fits + 1));
    }
    const QByteArray before = readFile(m_container);
    QString seen;
    FileSizeLimit::setProbe([&](const QString& path) {
        seen = path;
        return QStringLiteral("vfat");
    });
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
    QVERIFY(!m_vault.importFile(tooLarge, QStringLiteral("grande.bin")));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::FileSystemLimit);
    QCOMPARE(ContainerFaultInjector::calls(), 0);
    QCOMPARE(readFile(m_container), before);
    QCOMPARE(seen, m_container);
    QVERIFY(!findEntry(m_vault, QStringLiteral("grande.bin")));

    // What fits still goes in; other file systems know no such limit.
    QVERIFY(m_vault.importFile(source("pequeno"), QStringLiteral("pequeno.txt")));
    QCOMPARE(FileSizeLimit::forFileSystem(QStringLiteral("FAT32")), FileSizeLimit::FatLimit);
    QCOMPARE(FileSizeLimit::forFileSystem(QStringLiteral("msdos")), FileSizeLimit::FatLimit);
    QCOMPARE(FileSizeLimit::forFileSystem(QStringLiteral("exfat")), qint64(0));
    QCOMPARE(FileSizeLimit::forFileSystem(QStringLiteral("NTFS")), qint64(0));
}

void VaultImportTest::writeRefusedForSizeSaysSo()
{
#ifdef Q_OS_LINUX
    // A file-size limit on this process makes the drive refuse with EFBIG,
    // as FAT does past 4 GiB where its type is not known beforehand.
    const QString path = source(patternBytes(3 * 1024 * 1024, 5));
    const QByteArray before = readFile(m_container);
    struct rlimit old
    {
    };
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit low = old;
    low.rlim_cur = rlim_t(before.size() + 1024 * 1024);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &low), 0);
    const bool imported = m_vault.importFile(path, QStringLiteral("limite.bin"));
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!imported);
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::FileSystemLimit);
    QCOMPARE(readFile(m_container), before);
#else
    QSKIP("needs a per-process file-size limit");
#endif
}

void VaultImportTest::changeCommitsSeveralTimesUnderOneLock()
{
    const qint64 start = QFileInfo(m_container).size();
    {
        VaultChange change(m_vault);
        QVERIFY(change.ok());
        QVERIFY(change.openPayload().ok());
        QVERIFY(change.payload().writeAll(QByteArray(100, 'x')));
        // A record for those bytes, as a batch import makes for each file.
        VaultFileEntry entry;
        entry.id = QStringLiteral("lote-1");
        entry.vaultPath = QStringLiteral("Lote1/um.bin");
        entry.sizeBytes = 100 - 16;
        entry.sha256 = QByteArray(32, '\0');
        entry.blocks.append(VaultFileBlock{start, 100 - 16, 100, QByteArray(24, '\1')});
        QVERIFY(change.index().addOrReplace(entry));
        change.index().addDirectory(VaultDirectoryEntry{QStringLiteral("Lote1"), {}, {}});
        QVERIFY(change.commit().ok());
        QVERIFY(directoryPaths(m_vault).contains(QStringLiteral("Lote1")));
        QCOMPARE(QFileInfo(m_container).size(), start + 100);

        // The second round builds on the first; dropped, it goes and the first stays.
        QVERIFY(change.index().directories().size() == m_vault.fileIndex().directories().size());
        QVERIFY(change.openPayload().ok());
        QCOMPARE(change.committedSize(), start + 100);
        QVERIFY(change.payload().writeAll(QByteArray(200, 'y')));
        change.index().addDirectory(VaultDirectoryEntry{QStringLiteral("Lote2"), {}, {}});
    }
    QCOMPARE(QFileInfo(m_container).size(), start + 100);
    QVERIFY(directoryPaths(m_vault).contains(QStringLiteral("Lote1")));
    QVERIFY(!directoryPaths(m_vault).contains(QStringLiteral("Lote2")));
    // What another session reads is what this one holds.
    VaultManager other;
    QVERIFY(other.unlockVault(m_container, "senha de teste"));
    QCOMPARE(other.fileIndex().toJson(), m_vault.fileIndex().toJson());
    QVERIFY(other.lockVault());
}

QTEST_GUILESS_MAIN(VaultImportTest)
#include "test_vault_import.moc"
