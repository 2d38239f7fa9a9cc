// A preparation cancelled at its start, in the middle of the copy or while it
// writes its last files leaves the drive as it found it: nothing on a new
// drive, the earlier bundle untouched on a prepared one.
#include "BundleTestSupport.h"
#include "deployment/PortableBundleManager.h"
#include "texts/DeploymentErrorText.h"

#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Deployment;
using namespace BundleTestSupport;
using Keldra::Texts::DeploymentErrorText;

namespace {

enum class CancelAt { Start, Middle, End };

// Every file and folder under root, hidden ones too, with the files' contents.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        entries.insert(relative, it.fileInfo().isDir() ? QByteArray("<folder>") : readFile(path));
    }
    return entries;
}

} // namespace

class PreparationCancelTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PortableBundleOptions m_options;

    QString path(const QString& relative) const { return QDir(m_dir.path()).filePath(relative); }

    // A program with its DLLs for Windows and a finished runtime for Linux, so
    // nothing depends on the host's ldd.
    void writeSources(const QByteArray& version)
    {
        const QString windows = path(QStringLiteral("windows-x64"));
        QVERIFY(writeFile(windows + QStringLiteral("/Keldra.exe"), "exe " + version));
        QVERIFY(writeFile(windows + QStringLiteral("/Qt6Core.dll"), QByteArray(300000, 'c') + version));
        QVERIFY(writeFile(windows + QStringLiteral("/Keldra.version"), version + '\n'));
        const QString linux = path(QStringLiteral("linux-x64"));
        QVERIFY(writeFile(linux + QStringLiteral("/Keldra"), "elf " + version));
        QVERIFY(writeFile(linux + QStringLiteral("/qt.conf"), "[Paths]\n"));
        QVERIFY(writeFile(linux + QStringLiteral("/lib/libQt6Core.so.6"), QByteArray(300000, 'l') + version));
        QVERIFY(writeFile(linux + QStringLiteral("/lib/libc.so.6"), "libc"));
        QVERIFY(writeFile(linux + QStringLiteral("/Keldra.version"), version + '\n'));
        m_options.windowsExecutable = windows + QStringLiteral("/Keldra.exe");
        m_options.linuxExecutable = linux + QStringLiteral("/Keldra");
    }

    Error prepare(const QString& root, CancelAt when, qint64* filesAtCancel = nullptr)
    {
        bool cancel = when == CancelAt::Start;
        qint64 files = 0;
        PreparationMonitor monitor;
        monitor.cancelRequested = [&cancel] { return cancel; };
        monitor.copied = [&](qint64 copied, qint64) {
            files = copied;
            if (when == CancelAt::Middle && copied == 3)
                cancel = true;
        };
        const PortableBundleManager manager(monitor);
        const Error result =
            manager.preparePortableBundle(root, m_options, [&](int step, int, const QString&) {
                // The last files are the launchers and the README.
                if (when == CancelAt::End && step == 6)
                    cancel = true;
            });
        if (filesAtCancel)
            *filesAtCancel = files;
        return result;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        writeSources("1.0.0");
    }

    void cancelOnANewDriveLeavesNothingBehind()
    {
        for (const CancelAt when : {CancelAt::Start, CancelAt::Middle, CancelAt::End}) {
            const QString root = path(QStringLiteral("new-drive-%1").arg(int(when)));
            QVERIFY(writeFile(root + QStringLiteral("/keldra.kldr"), "the user's vault"));
            QVERIFY(writeFile(root + QStringLiteral("/photos/a.jpg"), "a photo"));
            const auto before = snapshot(root);
            qint64 files = 0;
            const Error result = prepare(root, when, &files);
            QVERIFY2(result.is(Error::Reason::PreparationCancelled), qPrintable(result.toString()));
            QCOMPARE(DeploymentErrorText::message(result),
                     QStringLiteral("Preparação cancelada. A unidade USB ficou como estava."));
            QCOMPARE(snapshot(root), before);
            // The cancel came where it was meant to.
            QCOMPARE(files, when == CancelAt::Start ? 0 : when == CancelAt::Middle ? 3 : 8);
        }
    }

    void cancelOnAPreparedDriveKeepsItsBundle()
    {
        for (const CancelAt when : {CancelAt::Start, CancelAt::Middle, CancelAt::End}) {
            writeSources("1.0.0");
            const QString root = path(QStringLiteral("prepared-drive-%1").arg(int(when)));
            QVERIFY(QDir().mkpath(root));
            const Error first = PortableBundleManager().preparePortableBundle(root, m_options, {});
            QVERIFY2(first.ok(), qPrintable(first.toString()));
            // What the user and earlier runs added: kept as they are.
            QVERIFY(writeFile(root + QStringLiteral("/Keldra/update-state.json"), "{\"app\":\"Keldra\"}"));
            QVERIFY(writeFile(root + QStringLiteral("/Keldra/linux/notes.txt"), "mine"));
            QVERIFY(writeFile(root + QStringLiteral("/Keldra-Linux.sh"), "an edited launcher"));
            // A newer build: most files change, one version file goes away.
            writeSources("2.0.0");
            QVERIFY(QFile::remove(path(QStringLiteral("windows-x64/Keldra.version"))));

            const auto before = snapshot(root);
            const Error result = prepare(root, when);
            QVERIFY2(result.is(Error::Reason::PreparationCancelled), qPrintable(result.toString()));
            QCOMPARE(snapshot(root), before);

            // Not cancelled, the same preparation goes through.
            const Error again = prepare(root, CancelAt(-1));
            QVERIFY2(again.ok(), qPrintable(again.toString()));
            QCOMPARE(readFile(root + QStringLiteral("/Keldra/linux/Keldra")), QByteArray("elf 2.0.0"));
            QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Keldra/windows/Keldra.version")));
            QVERIFY(!QFileInfo::exists(root + QStringLiteral("/.keldra-prepare-undo")));
        }
    }

    // The counts a progress display shows: every file, once, and all their bytes.
    void reportsFilesAndBytesCopied()
    {
        writeSources("3.0.0");
        const QString root = path(QStringLiteral("counted-drive"));
        QVERIFY(QDir().mkpath(root));
        QList<QPair<qint64, qint64>> reports;
        PreparationMonitor monitor;
        monitor.copied = [&reports](qint64 files, qint64 bytes) { reports.append({files, bytes}); };
        const Error result = PortableBundleManager(monitor).preparePortableBundle(root, m_options, {});
        QVERIFY2(result.ok(), qPrintable(result.toString()));
        qint64 sourceBytes = 0;
        for (const QString& source :
             {path(QStringLiteral("windows-x64")), path(QStringLiteral("linux-x64"))}) {
            QDirIterator it(source, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                sourceBytes += it.fileInfo().size();
            }
        }
        QCOMPARE(reports.size(), 8);
        for (int i = 0; i < reports.size(); ++i)
            QCOMPARE(reports.at(i).first, qint64(i + 1));
        QCOMPARE(reports.last().second, sourceBytes);
    }
};

QTEST_GUILESS_MAIN(PreparationCancelTest)
#include "test_preparation_cancel.moc"
