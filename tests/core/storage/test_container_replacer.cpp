// Replacing the drive's container with a rebuilt one: at no call can the
// drive be left without a complete container.
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/ContainerRecovery.h"
#include "core/storage/ContainerReplacer.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Keldra::Core;
using namespace TestSupport;
using Mode = ContainerFaultInjector::Mode;

class TestContainerReplacer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ContainerFaultInjector::reset(); }

    void replacesOnlyAfterTheCopyVerified()
    {
        QTemporaryDir dir;
        const QString container = dir.filePath("keldra.kldr");
        const QString rebuilt = dir.filePath("rebuilt");
        const QByteArray oldBytes(3 * 1024 * 1024, 'o');
        const QByteArray newBytes = QByteArray(ContainerReplacer::ChunkSize + 5, 'n'); // two chunks
        QVERIFY(writeFile(container, oldBytes));
        QVERIFY(writeFile(rebuilt, newBytes));

        // A copy that reads back wrong is never put in place.
        QString checked;
        const auto refuse = [&](const QString& path) {
            checked = path;
            return Error(Error::Reason::WriteFailed, QStringLiteral("reads back wrong"));
        };
        const ContainerReplacer::Outcome refused = ContainerReplacer::replace(rebuilt, container, refuse, {});
        QCOMPARE(refused.result, ContainerReplacer::Result::Failed);
        QCOMPARE(refused.error.detail(), QStringLiteral("reads back wrong"));
        QCOMPARE(checked, ContainerRecovery::compactTempPath(container));
        QCOMPARE(readFile(container), oldBytes);
        QVERIFY(!QFileInfo::exists(checked));

        QList<qint64> reported;
        ContainerFaultInjector::arm(Mode::Count, 0);
        const auto accept = [&](const QString& path) {
            return readFile(path) == newBytes ? Error() : Error(Error::Reason::WriteFailed);
        };
        QCOMPARE(ContainerReplacer::replace(rebuilt, container, accept,
                                            [&](qint64 done, qint64 total) {
                                                QCOMPARE(total, qint64(newBytes.size()));
                                                reported << done;
                                            })
                     .result,
                 ContainerReplacer::Result::Replaced);
        QCOMPARE(readFile(container), newBytes);
        QCOMPARE(reported, (QList<qint64>{0, ContainerReplacer::ChunkSize, newBytes.size()}));
        QVERIFY(ContainerFaultInjector::unsyncedFiles().isEmpty());
        QVERIFY(ContainerFaultInjector::unsyncedFolders().isEmpty());
    }

    void everyInterruptionLeavesAWholeContainer()
    {
        QTemporaryDir dir;
        const QString container = dir.filePath("keldra.kldr");
        const QString rebuilt = dir.filePath("rebuilt");
        const QByteArray oldBytes(100000, 'o');
        const QByteArray newBytes(70000, 'n');
        QVERIFY(writeFile(rebuilt, newBytes));
        QVERIFY(writeFile(container, oldBytes));
        ContainerFaultInjector::arm(Mode::Count, 0);
        QCOMPARE(ContainerReplacer::replace(rebuilt, container, {}, {}).result,
                 ContainerReplacer::Result::Replaced);
        const int calls = ContainerFaultInjector::calls();
        int tried = 0;
        for (int call = 1; call <= calls; ++call) {
            for (Mode mode : {Mode::FailCall, Mode::CrashCall, Mode::ShortWrite}) {
                QVERIFY(writeFile(container, oldBytes));
                ContainerFaultInjector::arm(mode, call);
                const auto result = ContainerReplacer::replace(rebuilt, container, {}, {}).result;
                ContainerFaultInjector::reset();
                QVERIFY(ContainerRecovery::recover(container).ok());
                const QByteArray now = readFile(container);
                QVERIFY2(now == newBytes ||
                             (result != ContainerReplacer::Result::Replaced && now == oldBytes),
                         qPrintable(QStringLiteral("mode %1 call %2").arg(int(mode)).arg(call)));
                QVERIFY(!QFileInfo::exists(ContainerRecovery::compactTempPath(container)));
                ++tried;
            }
        }
        QVERIFY(tried > 10);
    }
};

QTEST_GUILESS_MAIN(TestContainerReplacer)
#include "test_container_replacer.moc"
