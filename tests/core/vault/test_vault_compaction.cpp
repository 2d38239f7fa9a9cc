// Compaction that has to empty the container in place (no room on the drive
// for a copy beside it), killed at every change it makes: the next unlock
// finds the vault whole, put back from the copy kept on the local disk when
// the container was left cut. And the container compaction puts in place
// keeps the permissions of the one it replaces; a read-only one is refused.
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/ContainerReplacer.h"
#include "core/vault/VaultManager.h"

#include "TempLocationOverride.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using Mode = ContainerFaultInjector::Mode;

namespace {

const QByteArray Password = "correct horse battery";

QByteArray pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 13 + i / 509);
    return bytes;
}

} // namespace

class VaultCompactionTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::unique_ptr<TempLocationOverride> m_tempLocation;
    QString m_container;
    QString m_state;

    QStringList stateLeftovers() const
    {
        QStringList found;
        for (const QFileInfo& folder : QDir(m_state).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            found += QDir(folder.filePath()).entryList(QDir::Files);
        return found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY(QDir().mkpath(m_root.filePath("tmp")));
        m_tempLocation = std::make_unique<TempLocationOverride>(m_root.filePath("tmp"));
        m_container = m_root.filePath("drive/keldra.kldr");
        m_state = m_root.filePath("tmp/state");
        QVERIFY(QDir().mkpath(m_root.filePath("drive")));
    }

    void cleanup()
    {
        ContainerReplacer::setRoomProbe({});
        ContainerFaultInjector::reset();
    }

    void killedCompactionWithoutRoomIsRestoredAtUnlock()
    {
        // Big enough that the container is written again in several chunks.
        const QHash<QString, QByteArray> files{{"big.bin", pattern(18 * 1024 * 1024, 1)},
                                               {"docs/small.txt", pattern(3000, 2)},
                                               {"docs/mid.bin", pattern(300000, 3)}};
        {
            VaultManager vault;
            QVERIFY(vault.createVault(m_container, Password));
            QVERIFY(vault.unlockVault(m_container, Password));
            for (auto it = files.cbegin(); it != files.cend(); ++it) {
                QVERIFY(writeFile(m_root.filePath("source"), it.value()));
                QVERIFY(vault.importFile(m_root.filePath("source"), it.key()));
            }
            QVERIFY(writeFile(m_root.filePath("source"), pattern(2 * 1024 * 1024, 4)));
            QVERIFY(vault.importFile(m_root.filePath("source"), "dead.bin"));
            QVERIFY(vault.deleteFile("dead.bin"));
            QVERIFY(vault.lockVault());
        }
        const QByteArray base = readFile(m_container);

        // The drive never has room for a second container; the probe also
        // tells where the no-room path begins.
        int firstCall = -1;
        ContainerReplacer::setRoomProbe([&](const QString&, qint64) {
            firstCall = ContainerFaultInjector::calls() + 1;
            return ContainerReplacer::Room::Short;
        });
        int lastCall = 0;
        {
            VaultManager vault;
            QVERIFY(vault.unlockVault(m_container, Password));
            ContainerFaultInjector::arm(Mode::Count, 0);
            QVERIFY(vault.compactVault({}, nullptr));
            lastCall = ContainerFaultInjector::calls();
            ContainerFaultInjector::reset();
            QVERIFY(QFileInfo(m_container).size() < base.size());
            QVERIFY(stateLeftovers().isEmpty());
            QVERIFY(vault.lockVault());
        }
        QVERIFY(firstCall > 0 && firstCall < lastCall);

        int restored = 0;
        for (int call = firstCall; call <= lastCall; ++call) {
            const QString round = QStringLiteral("call %1").arg(call);
            QVERIFY(writeFile(m_container, base));
            VaultManager killed;
            QVERIFY(killed.unlockVault(m_container, Password));
            ContainerFaultInjector::arm(Mode::CrashCall, call);
            (void)killed.compactVault({}, nullptr);
            QVERIFY2(ContainerFaultInjector::crashed(), qPrintable(round));
            ContainerFaultInjector::reset();
            const qint64 left = QFileInfo(m_container).size();

            VaultManager vault;
            QVERIFY2(vault.unlockVault(m_container, Password),
                     qPrintable(round + ": " + vault.lastError().toString()));
            const bool cut = left != base.size() && QFileInfo(m_container).size() != left;
            QCOMPARE(vault.restoredFromCompactionCopy(), cut);
            restored += cut ? 1 : 0;
            QCOMPARE(vault.fileIndex().entries().size(), files.size());
            for (auto it = files.cbegin(); it != files.cend(); ++it)
                QVERIFY2(vault.verifyFile(it.key()), qPrintable(round + " " + it.key()));
            // Restored or outlived by the container, the copy is gone.
            QVERIFY2(stateLeftovers().isEmpty(), qPrintable(round + ": " + stateLeftovers().join(' ')));
            QVERIFY(vault.lockVault());
        }
        // Emptied, cut after each chunk, and written but not yet synced.
        QVERIFY2(restored >= 4, qPrintable(QString::number(restored)));
    }

    void compactionKeepsPermissionsAndRefusesReadOnly()
    {
#ifdef Q_OS_WIN
        QSKIP("permission bits are POSIX; Windows keeps only the read-only attribute");
#else
        const QString container = m_root.filePath("modes/keldra.kldr");
        QVERIFY(QDir().mkpath(m_root.filePath("modes")));
        VaultManager vault;
        QVERIFY(vault.createVault(container, Password));
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(writeFile(m_root.filePath("source"), pattern(100000, 5)));
        QVERIFY(vault.importFile(m_root.filePath("source"), "a.bin"));
        QVERIFY(vault.importFile(m_root.filePath("source"), "b.bin"));
        QVERIFY(vault.deleteFile("a.bin"));
        const auto modeOf = [&]() {
            struct stat status = {};
            return ::stat(QFile::encodeName(container).constData(), &status) == 0 ? status.st_mode & 07777
                                                                                  : 0u;
        };

        // A container the user made read-only is left as it is. The owner's
        // write bit decides, so this holds for root as well.
        QVERIFY(::chmod(QFile::encodeName(container).constData(), 0444) == 0);
        const QByteArray before = readFile(container);
        QVERIFY(!vault.compactVault({}, nullptr));
        QCOMPARE(vault.lastError().reason(), Error::Reason::WriteFailed);
        QCOMPARE(readFile(container), before);
        QCOMPARE(modeOf(), 0444u);

        // Replaced by the compacted one, it keeps its mode, through the copy
        // beside it and through the rewrite in place alike.
        QVERIFY(::chmod(QFile::encodeName(container).constData(), 0640) == 0);
        QVERIFY(vault.compactVault({}, nullptr));
        QVERIFY(QFileInfo(container).size() < before.size());
        QCOMPARE(modeOf(), 0640u);
        QVERIFY(vault.importFile(m_root.filePath("source"), "c.bin"));
        QVERIFY(vault.deleteFile("c.bin"));
        QVERIFY(::chmod(QFile::encodeName(container).constData(), 0600) == 0);
        ContainerReplacer::setRoomProbe(
            [](const QString&, qint64) { return ContainerReplacer::Room::Short; });
        QVERIFY(vault.compactVault({}, nullptr));
        QCOMPARE(modeOf(), 0600u);
        QVERIFY(vault.verifyFile("b.bin"));
        QVERIFY(vault.lockVault());
#endif
    }
};

QTEST_GUILESS_MAIN(VaultCompactionTest)
#include "test_vault_compaction.moc"
