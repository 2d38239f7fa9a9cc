// Whole selections of the vault's tree: deleting and moving many paths in
// one change, and exporting trees to the outside.
// One vault is unlocked once and shared, since every unlock costs an
// Argon2id derivation.

#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/storage/ContainerFaultInjector.h"
#include "core/vault/VaultManager.h"

#include <QDateTime>
#include <QDir>
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

private:
    bool put(const QString& vaultPath, const QByteArray& bytes);
    QStringList vaultPaths() const;
    QString editedCopy(const QString& vaultPath);

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

QTEST_GUILESS_MAIN(VaultBatchTreeTest)
#include "test_vault_batch_tree.moc"
