// The session runs vault operations on its worker. A cancelled export,
// backup, verify or compaction leaves the container and the destination as
// they were, whether it stops at the start, in the middle or near the end.
#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"
#include "ui/VaultSession.h"

#include "core/vault/PrivateTempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace Keldra;
using namespace Keldra::UI;
using Reason = Core::Error::Reason;

namespace {

const QByteArray kPassword("senha-de-teste-123");
const QString kBig = QStringLiteral("grande.bin");
constexpr qint64 kBlock = Core::VaultManager::BlockSize;
constexpr qint64 kBigSize = 2 * kBlock + 8 * 1024 * 1024; // three blocks

enum class Operation { Export, Backup, Verify, Compaction };
enum class Point { Start, Middle, NearEnd };

} // namespace

class TestVaultSession : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestSupport::TempLocationOverride> m_temp;
    std::unique_ptr<VaultSession> m_session;
    QString m_container;

    QString outFolder() const { return m_dir.filePath(QStringLiteral("out")); }
    QStringList leftovers() const
    {
        QStringList found =
            QDir(outFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        const QString base = Core::PrivateTempFolder::base(QDir::tempPath());
        const QStringList copies =
            QDir(base).entryList({QStringLiteral("compact-*")}, QDir::Dirs | QDir::Hidden);
        for (const QString& copy : copies)
            found << base + QLatin1Char('/') + copy;
        return found;
    }
    // Runs work on the session and waits for its result.
    Core::Error run(const VaultSession::Work& work)
    {
        Core::Error result(Reason::Internal, QStringLiteral("never ended"));
        bool ended = false;
        if (!m_session->start(
                work,
                [&](const Core::Error& error) {
                    result = error;
                    ended = true;
                },
                true))
            return Core::Error(Reason::VaultInUse, QStringLiteral("refused"));
        m_session->waitForIdle();
        return ended ? result : Core::Error(Reason::Internal, QStringLiteral("no result"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("tmp"))));
        QVERIFY(QDir().mkpath(outFolder()));
        m_temp = std::make_unique<TestSupport::TempLocationOverride>(m_dir.filePath(QStringLiteral("tmp")));
        m_session = std::make_unique<VaultSession>();
        m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
        Core::VaultManager& vault = m_session->vault();
        QVERIFY(vault.createVault(m_container, kPassword));
        QVERIFY(vault.unlockVault(m_container, kPassword));
        const QString big = m_dir.filePath(QStringLiteral("grande.src"));
        QVERIFY(TestSupport::writeFile(big, VaultTest::patternBytes(kBigSize, 7)));
        QVERIFY(vault.importFile(big, kBig));
        // Something for compaction to give back.
        QVERIFY(TestSupport::writeFile(m_dir.filePath(QStringLiteral("pequeno.src")), "pequeno"));
        QVERIFY(
            vault.importFile(m_dir.filePath(QStringLiteral("pequeno.src")), QStringLiteral("pequeno.txt")));
        QVERIFY(vault.deleteFile(QStringLiteral("pequeno.txt")));
    }
    void cleanupTestCase()
    {
        m_session.reset();
        m_temp.reset();
    }

    void cancelLeavesEverythingAsBefore_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Point>("point");
        const QList<QPair<const char*, Operation>> operations = {{"export", Operation::Export},
                                                                 {"backup", Operation::Backup},
                                                                 {"verify", Operation::Verify},
                                                                 {"compaction", Operation::Compaction}};
        for (const auto& [name, operation] : operations) {
            QTest::addRow("%s at the start", name) << operation << Point::Start;
            QTest::addRow("%s in the middle", name) << operation << Point::Middle;
            QTest::addRow("%s near the end", name) << operation << Point::NearEnd;
        }
    }

    void cancelLeavesEverythingAsBefore()
    {
        QFETCH(Operation, operation);
        QFETCH(Point, point);
        const QByteArray before = TestSupport::readFile(m_container);
        const QString target = QDir(outFolder()).filePath(QStringLiteral("destino.bin"));
        const QStringList leftBefore = leftovers();
        // An earlier file of that name stays as it was.
        if (operation == Operation::Export || operation == Operation::Backup)
            QVERIFY(TestSupport::writeFile(target, "anterior"));

        // Where each operation can still stop: near the end is its last check
        // (the top of the last block or chunk, or just before the container
        // is replaced).
        const qint64 containerSize = before.size();
        const auto reached = [&](qint64 done, qint64 total) {
            switch (point) {
            case Point::Start:
                return true;
            case Point::Middle:
                return done >= total / 2;
            case Point::NearEnd:
                break;
            }
            switch (operation) {
            case Operation::Export:
            case Operation::Verify:
                return done >= 2 * kBlock;
            case Operation::Backup:
                return done >= containerSize - 8 * 1024 * 1024;
            case Operation::Compaction:
                return done >= total;
            }
            return false;
        };
        qint64 cancelledAt = -1;
        // On the worker, inside the progress report: the cancel lands exactly there.
        const QMetaObject::Connection hook = connect(
            m_session.get(), &VaultSession::progress, this,
            [&](qint64 done, qint64 total, const QString&) {
                if (cancelledAt < 0 && reached(done, total)) {
                    cancelledAt = done;
                    m_session->requestCancel();
                }
            },
            Qt::DirectConnection);

        VaultSession* session = m_session.get();
        const auto work = [&](Core::VaultManager& vault, const VaultSession::Progress& progress) {
            QString preserved;
            switch (operation) {
            case Operation::Export:
                return vault.exportFile(kBig, target, progress) ? Core::Error() : vault.lastError();
            case Operation::Backup:
                return session->copyContainer(m_container, target, progress);
            case Operation::Verify:
                return vault.verifyFile(kBig, progress) ? Core::Error() : vault.lastError();
            case Operation::Compaction:
                return vault.compactVault(progress, &preserved) ? Core::Error() : vault.lastError();
            }
            return Core::Error(Reason::Internal);
        };
        const Core::Error result = run(work);
        disconnect(hook);

        QVERIFY2(result.is(Reason::Cancelled),
                 qPrintable(QStringLiteral("%1 %2").arg(int(result.reason())).arg(result.detail())));
        QVERIFY(cancelledAt >= 0);
        if (point == Point::Middle)
            QVERIFY(cancelledAt > 0);
        QVERIFY(TestSupport::readFile(m_container) == before);
        if (operation == Operation::Export || operation == Operation::Backup)
            QCOMPARE(TestSupport::readFile(target), QByteArray("anterior"));
        QVERIFY(QFile::remove(target) || !QFile::exists(target));
        QCOMPARE(leftovers(), leftBefore);

        // The vault goes on as before: a cancelled run is not remembered.
        QVERIFY(run([](Core::VaultManager& vault, const VaultSession::Progress&) {
                    return vault.verifyFile(kBig) ? Core::Error() : vault.lastError();
                }).ok());
    }

    void snapshotWhileBusyAndOneOperationAtATime()
    {
        const Core::SecureFileIndex index = m_session->fileIndex();
        QSemaphore entered;
        QSemaphore release;
        bool ended = false;
        QVERIFY(m_session->start(
            [&](Core::VaultManager&, const VaultSession::Progress&) {
                entered.release();
                release.acquire();
                return Core::Error(Reason::DestinationUnwritable, QStringLiteral("disk"));
            },
            [&](const Core::Error& error) {
                ended = true;
                // What the work returned reaches the window as it was.
                QVERIFY(error.is(Reason::DestinationUnwritable));
                QVERIFY(!m_session->isBusy());
            },
            false));
        entered.acquire();
        QVERIFY(m_session->isBusy());
        QVERIFY(!m_session->isCancellable());
        // Read from the snapshot, not from the vault the worker owns.
        QCOMPARE(m_session->state(), Core::VaultState::Unlocked);
        QCOMPARE(m_session->fileIndex().toJson(), index.toJson());
        QCOMPARE(m_session->containerPath(), m_container);
        QVERIFY(!m_session->start(
            [](Core::VaultManager&, const VaultSession::Progress&) { return Core::Error(); }, {}, false));
        // Not cancellable: a cancel request is ignored.
        m_session->requestCancel();
        QVERIFY(!m_session->cancelRequested());
        release.release();
        m_session->waitForIdle();
        QVERIFY(ended);
    }
};

QTEST_GUILESS_MAIN(TestVaultSession)
#include "test_vault_session.moc"
