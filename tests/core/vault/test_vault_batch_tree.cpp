// Whole selections of the vault's tree: deleting and moving many paths in
// one change, and exporting trees to the outside.
// One vault is unlocked once and shared, since every unlock costs an
// Argon2id derivation.

#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/DeferredSync.h"
#include "core/storage/HeaderJournal.h"
#include "core/vault/VaultManager.h"
#include "core/vault/VaultPath.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

class VaultBatchTreeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void moveSelectionInOneChange();
    void deleteSelectionInOneChange();

    void treeExportRoundTrip();
    void existingFilesKeptUnderSkip();
    void failedOrCancelledFileLeavesNothingPartial();
    void treeSyncedOnceAndLateArrivalsKept();
    void refusedNamesAndDestinations();
    void deepTreeExports();

private:
    bool put(const QString& vaultPath, const QByteArray& bytes);
    QStringList vaultPaths() const;
    QString editedCopy(const QString& vaultPath);
    QString freshFolder();

    // "d REL" and "f REL SIZE HASH" of everything under `folder`, sorted.
    static QStringList outsideTree(const QString& folder);

    QTemporaryDir m_dir;
    QString m_container;
    const QByteArray m_password = QByteArrayLiteral("correct horse battery");
    VaultManager m_vault;
    int m_count = 0;
};

bool VaultBatchTreeTest::put(const QString& vaultPath, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("src-%1").arg(++m_count));
    return writeFile(path, bytes) && m_vault.importFile(path, vaultPath);
}

// "d PATH" and "f PATH" of the whole index, sorted.
QStringList VaultBatchTreeTest::vaultPaths() const
{
    QStringList paths;
    const SecureFileIndex index = m_vault.fileIndex();
    for (const VaultDirectoryEntry& directory : index.directories())
        paths.append(QStringLiteral("d ") + directory.path);
    for (const VaultFileEntry& entry : index.entries())
        paths.append(QStringLiteral("f ") + entry.vaultPath);
    paths.sort();
    return paths;
}

QString VaultBatchTreeTest::editedCopy(const QString& vaultPath)
{
    QString copy;
    if (!m_vault.prepareFileForEditing(vaultPath, &copy) || !writeFile(copy, "edited") ||
        !setModified(copy, QDateTime::currentDateTimeUtc().addSecs(5)))
        return QString();
    return copy;
}

QString VaultBatchTreeTest::freshFolder()
{
    const QString path = m_dir.filePath(QStringLiteral("out-%1").arg(++m_count));
    return QDir().mkpath(path) ? path : QString();
}

QStringList VaultBatchTreeTest::outsideTree(const QString& folder)
{
    QStringList listing;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            listing.append(QStringLiteral("d ") + relative);
        } else {
            const QByteArray bytes = readFile(path);
            listing.append(
                QStringLiteral("f %1 %2 %3")
                    .arg(relative)
                    .arg(bytes.size())
                    .arg(QString::fromLatin1(
                        QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16))));
        }
    }
    listing.sort();
    return listing;
}

void VaultBatchTreeTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    QVERIFY(m_vault.createVault(m_container, m_password));
    QVERIFY(m_vault.unlockVault(m_container, m_password));
}

void VaultBatchTreeTest::init()
{
    // Every test starts from an empty vault.
    QStringList all;
    const SecureFileIndex index = m_vault.fileIndex();
    for (const VaultDirectoryEntry& directory : index.directories())
        all.append(directory.path);
    for (const VaultFileEntry& entry : index.entries())
        all.append(entry.vaultPath);
    for (const TrackedTempFile& copy : m_vault.modifiedOpenFiles())
        QVERIFY(m_vault.discardOpenCopy(copy.vaultPath));
    QVERIFY2(m_vault.deletePaths(all), qPrintable(m_vault.lastError().toString()));
    QVERIFY(m_vault.fileIndex().entries().isEmpty());
    QVERIFY(m_vault.fileIndex().directories().isEmpty());
}

void VaultBatchTreeTest::cleanup()
{
    ContainerFaultInjector::reset();
}

void VaultBatchTreeTest::moveSelectionInOneChange()
{
    QVERIFY(put(QStringLiteral("Fotos/Férias/praia.jpg"), "praia"));
    QVERIFY(put(QStringLiteral("Fotos/capa.png"), "capa"));
    QVERIFY(put(QStringLiteral("nota.txt"), "nota"));
    QVERIFY(put(QStringLiteral("Outra/nota.txt"), "outra nota"));
    QVERIFY(m_vault.createDirectory(QStringLiteral("Fotos/Vazia")));
    QVERIFY(m_vault.createDirectory(QStringLiteral("Destino")));
    const QString copy = editedCopy(QStringLiteral("Fotos/Férias/praia.jpg"));
    QVERIFY(!copy.isEmpty());

    // A folder (with a file of it also selected, in another letter case) and
    // a file move with one header rewrite; the open copy follows its file.
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
    QVERIFY2(m_vault.movePaths(
                 {QStringLiteral("fotos"), QStringLiteral("Fotos/capa.png"), QStringLiteral("nota.txt")},
                 QStringLiteral("destino")),
             qPrintable(m_vault.lastError().toString()));
    QCOMPARE(ContainerFaultInjector::headerRewrites(), 1);
    const QStringList moved = {
        QStringLiteral("d Destino"),
        QStringLiteral("d Destino/Fotos"),
        QStringLiteral("d Destino/Fotos/Férias"),
        QStringLiteral("d Destino/Fotos/Vazia"),
        QStringLiteral("d Outra"),
        QStringLiteral("f Destino/Fotos/Férias/praia.jpg"),
        QStringLiteral("f Destino/Fotos/capa.png"),
        QStringLiteral("f Destino/nota.txt"),
        QStringLiteral("f Outra/nota.txt"),
    };
    QCOMPARE(vaultPaths(), moved);
    QCOMPARE(m_vault.modifiedOpenFiles().size(), 1);
    QCOMPARE(m_vault.modifiedOpenFiles().first().vaultPath, QStringLiteral("Destino/Fotos/Férias/praia.jpg"));
    QCOMPARE(m_vault.modifiedOpenFiles().first().tempPath, copy);

    // Refusals change nothing and write no header: a taken name (the second
    // item's), two items of one name, a folder into itself, a missing item
    // after a good one, a missing target.
    struct Refusal
    {
        QStringList paths;
        QString target;
        Error::Reason reason;
    };
    const QList<Refusal> refusals = {
        {{QStringLiteral("Destino/Fotos/capa.png"), QStringLiteral("Outra/nota.txt")},
         QStringLiteral("Destino"),
         Error::Reason::AlreadyExists},
        {{QStringLiteral("Destino/nota.txt"), QStringLiteral("Outra/nota.txt")},
         QString(),
         Error::Reason::AlreadyExists},
        {{QStringLiteral("Destino/nota.txt")}, QStringLiteral("Destino"), Error::Reason::AlreadyExists},
        {{QStringLiteral("Destino/nota.txt"), QStringLiteral("Destino")},
         QStringLiteral("Destino/Fotos/Vazia"),
         Error::Reason::InvalidPath},
        {{QStringLiteral("Destino/nota.txt"), QStringLiteral("Destino/nada")},
         QString(),
         Error::Reason::FileNotFound},
        {{QStringLiteral("Destino/nota.txt")}, QStringLiteral("Nenhuma"), Error::Reason::FolderNotFound},
        {{QStringLiteral("Destino/nota.txt")}, QStringLiteral(".."), Error::Reason::InvalidPath},
    };
    for (const Refusal& refusal : refusals) {
        ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
        QVERIFY(!m_vault.movePaths(refusal.paths, refusal.target));
        QCOMPARE(m_vault.lastError().reason(), refusal.reason);
        QCOMPARE(ContainerFaultInjector::headerRewrites(), 0);
        QCOMPARE(vaultPaths(), moved);
    }
}

void VaultBatchTreeTest::deleteSelectionInOneChange()
{
    QVERIFY(put(QStringLiteral("Docs/a.txt"), "a"));
    QVERIFY(put(QStringLiteral("Docs/Sub/b.txt"), "b"));
    QVERIFY(put(QStringLiteral("solto.txt"), "solto"));
    QVERIFY(put(QStringLiteral("fica.txt"), "fica"));
    QVERIFY(m_vault.createDirectory(QStringLiteral("Docs/Sub/Vazia")));
    QVERIFY(m_vault.createDirectory(QStringLiteral("Vazia")));
    const QString edited = editedCopy(QStringLiteral("Docs/Sub/b.txt"));
    QVERIFY(!edited.isEmpty());
    QString unchanged;
    QVERIFY(m_vault.prepareFileForEditing(QStringLiteral("solto.txt"), &unchanged));
    const QStringList before = vaultPaths();

    // An edited copy inside a selected folder refuses the whole selection,
    // and a missing item refuses it too.
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
    QVERIFY(!m_vault.deletePaths({QStringLiteral("solto.txt"), QStringLiteral("docs")}));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::FileInUse);
    QVERIFY(!m_vault.deletePaths({QStringLiteral("solto.txt"), QStringLiteral("nada.txt")}));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::FileNotFound);
    QVERIFY(!m_vault.deletePaths({QStringLiteral("solto.txt"), QStringLiteral("../x")}));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::InvalidPath);
    QCOMPARE(ContainerFaultInjector::headerRewrites(), 0);
    QCOMPARE(vaultPaths(), before);
    QVERIFY(QFileInfo::exists(unchanged));
    QCOMPARE(readFile(edited), QByteArray("edited"));

    // Without the edits, a folder with all inside it, an empty folder and a
    // file go at once; the unchanged open copy is wiped with its file.
    QVERIFY(m_vault.discardOpenCopy(QStringLiteral("Docs/Sub/b.txt")));
    ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
    QVERIFY2(m_vault.deletePaths({QStringLiteral("Docs"), QStringLiteral("Docs/a.txt"),
                                  QStringLiteral("vazia"), QStringLiteral("solto.txt")}),
             qPrintable(m_vault.lastError().toString()));
    QCOMPARE(ContainerFaultInjector::headerRewrites(), 1);
    QCOMPARE(vaultPaths(), QStringList{QStringLiteral("f fica.txt")});
    QVERIFY(!QFileInfo::exists(unchanged));
    QVERIFY(m_vault.modifiedOpenFiles().isEmpty());
}

void VaultBatchTreeTest::treeExportRoundTrip()
{
    // The same tree is made outside and in the vault; the export must give it back.
    const QString expected = freshFolder();
    const QList<QPair<QString, QByteArray>> files = {
        {QStringLiteral("Fotos/Férias de verão/praia à tarde.jpg"), patternBytes(70000, 1)},
        {QStringLiteral("Fotos/capa.png"), patternBytes(1, 2)},
        {QStringLiteral("Fotos/vazio.txt"), QByteArray()},
        {QStringLiteral("Fotos/Ação/Sub/fundo.bin"), patternBytes(4096, 3)},
        {QStringLiteral("nota solta.txt"), patternBytes(10, 4)},
    };
    for (const auto& file : files) {
        QVERIFY(put(file.first, file.second));
        QVERIFY(writeFile(expected + QLatin1Char('/') + file.first, file.second));
    }
    QVERIFY(put(QStringLiteral("Outra/fica.txt"), "not selected"));
    for (const QString& folder : {QStringLiteral("Fotos/Vazia"), QStringLiteral("Fotos/Ação/Vazia também")}) {
        QVERIFY(m_vault.createDirectory(folder));
        QVERIFY(QDir().mkpath(expected + QLatin1Char('/') + folder));
    }

    // A destination that does not exist yet is made.
    const QString destination = m_dir.filePath(QStringLiteral("export novo/aqui"));
    QList<BatchProgress> seen;
    ExportBatchSummary summary;
    QVERIFY2(m_vault.exportBatch(
                 {QStringLiteral("fotos"), QStringLiteral("nota solta.txt")}, destination,
                 ExistingFiles::Skip, [&](const BatchProgress& p) { seen.append(p); }, &summary),
             qPrintable(m_vault.lastError().toString()));
    QCOMPARE(outsideTree(destination), outsideTree(expected));
    QCOMPARE(summary.exported, 5);
    QCOMPARE(summary.foldersCreated, 6);
    QCOMPARE(summary.bytes, qint64(70000 + 1 + 4096 + 10));
    QVERIFY(summary.skipped.isEmpty());
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last().fileNumber, 5);
    QCOMPARE(seen.last().fileCount, 5);
    QCOMPARE(seen.last().bytesDone, summary.bytes);
    QCOMPARE(seen.last().bytesTotal, summary.bytes);

    // Exported again into the same place, every file is there already.
    QCOMPARE(
        m_vault
            .existingExportTargets({QStringLiteral("Fotos"), QStringLiteral("nota solta.txt")}, destination)
            .size(),
        5);
    QCOMPARE(m_vault.existingExportTargets({QStringLiteral("Outra")}, destination), QStringList());
}

void VaultBatchTreeTest::existingFilesKeptUnderSkip()
{
    QVERIFY(put(QStringLiteral("Docs/a.txt"), "vault a"));
    QVERIFY(put(QStringLiteral("Docs/b.txt"), "vault b"));
    const QString destination = freshFolder();
    QVERIFY(writeFile(destination + QStringLiteral("/Docs/a.txt"), "outside a"));
#ifdef Q_OS_UNIX
    // A link counts as existing: what it points at is not written through.
    const QString pointedAt = m_dir.filePath(QStringLiteral("pointed-at.txt"));
    QVERIFY(writeFile(pointedAt, "kept"));
    QVERIFY(QFile::link(pointedAt, destination + QStringLiteral("/Docs/b.txt")));
#else
    QVERIFY(writeFile(destination + QStringLiteral("/Docs/b.txt"), "outside b"));
#endif

    QStringList existing = m_vault.existingExportTargets({QStringLiteral("Docs")}, destination);
    existing.sort();
    QCOMPARE(existing,
             (QStringList{QFileInfo(destination).absoluteFilePath() + QStringLiteral("/Docs/a.txt"),
                          QFileInfo(destination).absoluteFilePath() + QStringLiteral("/Docs/b.txt")}));
    ExportBatchSummary summary;
    QVERIFY(m_vault.exportBatch({QStringLiteral("Docs")}, destination, ExistingFiles::Skip, {}, &summary));
    QCOMPARE(summary.exported, 0);
    QCOMPARE(summary.skipped.size(), 2);
    QCOMPARE(summary.skipped.first().why, SkippedItem::Why::Existing);
    QCOMPARE(readFile(destination + QStringLiteral("/Docs/a.txt")), QByteArray("outside a"));
#ifdef Q_OS_UNIX
    QCOMPARE(readFile(pointedAt), QByteArray("kept"));
#endif

    QVERIFY(m_vault.exportBatch({QStringLiteral("Docs")}, destination, ExistingFiles::Replace, {}, &summary));
    QCOMPARE(summary.exported, 2);
    QCOMPARE(readFile(destination + QStringLiteral("/Docs/a.txt")), QByteArray("vault a"));
    QCOMPARE(readFile(destination + QStringLiteral("/Docs/b.txt")), QByteArray("vault b"));
}

void VaultBatchTreeTest::failedOrCancelledFileLeavesNothingPartial()
{
    // Two blocks: the first is written out before the second fails.
    const QByteArray big = patternBytes(VaultManager::BlockSize + 1000, 5);
    QVERIFY(put(QStringLiteral("Tree/1-first.txt"), "first"));
    QVERIFY(put(QStringLiteral("Tree/2-big.bin"), big));
    QVERIFY(put(QStringLiteral("Tree/3-last.txt"), "last"));

    // Cancelled while the big file's first block is out: it is not left, the
    // file before it is whole, the one after it not begun.
    std::atomic<bool> cancel{false};
    m_vault.setCancelFlag(&cancel);
    const QString cancelled = freshFolder();
    ExportBatchSummary summary;
    const bool done = m_vault.exportBatch(
        {QStringLiteral("Tree")}, cancelled, ExistingFiles::Skip,
        [&](const BatchProgress& p) {
            if (p.currentName.endsWith(QStringLiteral("big.bin")) && p.bytesDone > 5)
                cancel = true;
        },
        &summary);
    m_vault.setCancelFlag(nullptr);
    QVERIFY(!done);
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::Cancelled);
    QCOMPARE(outsideTree(cancelled), (QStringList{QStringLiteral("d Tree"), outsideTree(cancelled).last()}));
    QVERIFY(outsideTree(cancelled).last().startsWith(QStringLiteral("f Tree/1-first.txt 5 ")));
    QCOMPARE(summary.exported, 1);

    // The big file's second block damaged: that file fails and leaves
    // nothing, the others are exported, and the failure is reported.
    const VaultFileEntry* entry = VaultPath::findFile(m_vault.fileIndex(), QStringLiteral("Tree/2-big.bin"));
    QVERIFY(entry && entry->blocks.size() == 2);
    QFile container(m_container);
    QVERIFY(container.open(QIODevice::ReadWrite));
    QVERIFY(container.seek(entry->blocks.at(1).offset + 10));
    QVERIFY(container.write("X") == 1);
    container.close();
    const QString damaged = freshFolder();
    QVERIFY(!m_vault.exportBatch({QStringLiteral("Tree")}, damaged, ExistingFiles::Skip, {}, &summary));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::DamagedFile);
    QCOMPARE(summary.exported, 2);
    QCOMPARE(summary.skipped.size(), 1);
    QCOMPARE(summary.skipped.first().path, QStringLiteral("Tree/2-big.bin"));
    QCOMPARE(summary.skipped.first().why, SkippedItem::Why::Failed);
    const QStringList left = outsideTree(damaged);
    QCOMPARE(left.size(), 3);
    QVERIFY(left.at(1).startsWith(QStringLiteral("f Tree/1-first.txt ")));
    QVERIFY(left.at(2).startsWith(QStringLiteral("f Tree/3-last.txt ")));
    QVERIFY(m_vault.deletePaths({QStringLiteral("Tree/2-big.bin")}));
}

void VaultBatchTreeTest::treeSyncedOnceAndLateArrivalsKept()
{
    // Many files in several folders: the drive is synced once for all of
    // them, not once a file, and nothing but the tree is left.
    QStringList expected;
    for (int i = 0; i < 30; ++i) {
        const QString path = QStringLiteral("Muitos/pasta %1/arquivo %2.bin").arg(i % 3).arg(i);
        const QByteArray bytes = patternBytes(100 + i, i);
        QVERIFY(put(path, bytes));
        expected.append(
            QStringLiteral("f %1 %2 %3")
                .arg(path)
                .arg(bytes.size())
                .arg(QString::fromLatin1(
                    QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16))));
    }
    expected << QStringLiteral("d Muitos") << QStringLiteral("d Muitos/pasta 0")
             << QStringLiteral("d Muitos/pasta 1") << QStringLiteral("d Muitos/pasta 2");
    expected.sort();
    const QString many = freshFolder();
    const int syncsBefore = DeferredSync::syncCount();
    ExportBatchSummary summary;
    QVERIFY2(m_vault.exportBatch({QStringLiteral("Muitos")}, many, ExistingFiles::Skip, {}, &summary),
             qPrintable(m_vault.lastError().toString()));
    QCOMPARE(summary.exported, 30);
    QCOMPARE(outsideTree(many), expected);
#if defined(Q_OS_LINUX)
    QCOMPARE(DeferredSync::syncCount() - syncsBefore, 1);
#elif defined(Q_OS_WIN)
    QCOMPARE(DeferredSync::syncCount() - syncsBefore, 30);
#else
    QVERIFY(DeferredSync::syncCount() - syncsBefore >= 30);
#endif

    // A file that appears at a target while the batch writes it is not
    // written over under Skip, and its temporary file goes.
    QVERIFY(put(QStringLiteral("Tarde/a.txt"), "vault a"));
    QVERIFY(put(QStringLiteral("Tarde/b.txt"), "vault b"));
    const QString late = freshFolder();
    const QString lateTarget = late + QStringLiteral("/Tarde/b.txt");
    // Makes `make` once, when the batch reaches the file named `name`.
    bool made = false;
    const auto appearAt = [&](const QString& name, const std::function<bool()>& make) {
        made = false;
        return [&made, name, make](const BatchProgress& p) {
            if (!made && p.currentName.endsWith(name)) {
                made = true;
                QVERIFY(make());
            }
        };
    };
    QVERIFY(m_vault.exportBatch(
        {QStringLiteral("Tarde")}, late, ExistingFiles::Skip,
        appearAt(QStringLiteral("b.txt"), [&] { return writeFile(lateTarget, "outside"); }), &summary));
    QCOMPARE(summary.exported, 1);
    QCOMPARE(summary.skipped.size(), 1);
    QCOMPARE(summary.skipped.first().path, QStringLiteral("Tarde/b.txt"));
    QCOMPARE(summary.skipped.first().why, SkippedItem::Why::Existing);
    QCOMPARE(readFile(lateTarget), QByteArray("outside"));
    QCOMPARE(outsideTree(late).size(), 3);

    // Under Replace a folder that takes the name while the file is written
    // cannot be renamed over: that file fails and leaves no temporary file.
    const QString blocked = freshFolder();
    QVERIFY(!m_vault.exportBatch(
        {QStringLiteral("Tarde")}, blocked, ExistingFiles::Replace,
        appearAt(QStringLiteral("a.txt"),
                 [&] { return QDir().mkpath(blocked + QStringLiteral("/Tarde/a.txt")); }),
        &summary));
    QCOMPARE(summary.exported, 1);
    QCOMPARE(summary.skipped.size(), 1);
    QCOMPARE(summary.skipped.first().why, SkippedItem::Why::Failed);
    QCOMPARE(outsideTree(blocked), (QStringList{QStringLiteral("d Tarde"), QStringLiteral("d Tarde/a.txt"),
                                                outsideTree(blocked).last()}));
    QVERIFY(outsideTree(blocked).last().startsWith(QStringLiteral("f Tarde/b.txt 7 ")));
}

void VaultBatchTreeTest::refusedNamesAndDestinations()
{
    // A name longer than any file system here holds (a vault made elsewhere
    // could carry it): reported, nothing written under another name.
    const QString tooLong = QString(300, QChar(0xE9));
    QVERIFY(put(QStringLiteral("Longos/") + tooLong + QStringLiteral(".txt"), "long"));
    QVERIFY(put(QStringLiteral("Longos/curto.txt"), "short"));
    const QString destination = freshFolder();
    ExportBatchSummary summary;
    QVERIFY(!m_vault.exportBatch({QStringLiteral("Longos")}, destination, ExistingFiles::Skip, {}, &summary));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::InvalidPath);
    QCOMPARE(summary.exported, 1);
    QCOMPARE(summary.skipped.size(), 1);
    QCOMPARE(summary.skipped.first().why, SkippedItem::Why::InvalidName);
    QCOMPARE(outsideTree(destination).size(), 2);

    // Nothing of the vault's own files is ever made or written over: not the
    // container, and no folder where the journal would go (it would stop
    // every later change).
    const QString containerFolder = QFileInfo(m_container).absolutePath();
    const QString containerName = QFileInfo(m_container).fileName();
    const QString journalName = QFileInfo(HeaderJournal::journalPath(m_container)).fileName();
    QVERIFY(put(QStringLiteral("Cópia/") + containerName, "not a vault"));
    QVERIFY(m_vault.createDirectory(QStringLiteral("Cópia/") + journalName));
    const QByteArray before = readFile(m_container);
    QVERIFY(!m_vault.exportBatch(
        {QStringLiteral("Cópia/") + containerName, QStringLiteral("Cópia/") + journalName}, containerFolder,
        ExistingFiles::Replace, {}, &summary));
    QCOMPARE(summary.exported, 0);
    QCOMPARE(summary.skipped.size(), 2);
    QCOMPARE(readFile(m_container), before);
    QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(m_container)));
    QVERIFY(m_vault.createDirectory(QStringLiteral("still works")));
    // The container as the destination folder, and a missing vault path.
    QVERIFY(!m_vault.exportBatch({QStringLiteral("Longos")}, m_container, ExistingFiles::Skip, {}, &summary));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::InvalidArgument);
    QVERIFY(!m_vault.exportBatch({QStringLiteral("Longos/curto.txt"), QStringLiteral("nada")}, freshFolder(),
                                 ExistingFiles::Skip, {}, &summary));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::FileNotFound);
    QCOMPARE(summary.exported, 0);
}

void VaultBatchTreeTest::deepTreeExports()
{
    // Deeper than the 260 characters Windows' classic calls take, whatever
    // the temporary folder's own length.
    QString folder = QStringLiteral("Profundo");
    for (int level = 0; level < 14; ++level)
        folder += QStringLiteral("/pasta de nível %1 com nome longo").arg(level, 2, 10, QLatin1Char('0'));
    QVERIFY(folder.size() > 400);
    QVERIFY(put(folder + QStringLiteral("/no fundo.txt"), "deep content"));
    QVERIFY(m_vault.createDirectory(folder + QStringLiteral("/vazia")));

    const QString destination = freshFolder();
    ExportBatchSummary summary;
    const bool exported =
        m_vault.exportBatch({QStringLiteral("Profundo")}, destination, ExistingFiles::Skip, {}, &summary);
    for (const SkippedItem& item : summary.skipped)
        qWarning() << item.path << item.error.toString();
    QVERIFY2(exported, qPrintable(m_vault.lastError().toString()));
    QCOMPARE(summary.exported, 1);
    QCOMPARE(summary.foldersCreated, 16);
    QFile deep(destination + QLatin1Char('/') + folder + QStringLiteral("/no fundo.txt"));
    QVERIFY(deep.open(QIODevice::ReadOnly));
    QCOMPARE(deep.readAll(), QByteArray("deep content"));
    QVERIFY(QFileInfo(destination + QLatin1Char('/') + folder + QStringLiteral("/vazia")).isDir());
}

QTEST_GUILESS_MAIN(VaultBatchTreeTest)
#include "test_vault_batch_tree.moc"
