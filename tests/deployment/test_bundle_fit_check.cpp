// The size estimate of both bundles and the refusal of drives that are too
// full or too small, against a real tmpfs "drive" of known capacity.
#include "BundleTestSupport.h"
#include "deployment/PortableBundleManager.h"
#include "texts/DeploymentErrorText.h"

#include <QDirIterator>
#include <QLibraryInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

using namespace Keldra::Deployment;
using namespace BundleTestSupport;
using Keldra::Texts::DeploymentErrorText;

namespace {

constexpr qint64 kDriveCapacity = 4 * 1024 * 1024;
constexpr qint64 kQuarter = kDriveCapacity / 4;

qint64 treeSize(const QString& path)
{
    qint64 total = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class BundleFitCheckTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_drive;
    bool m_mounted = false;
    PortableBundleManager m_manager;

    QString path(const QString& relative) const { return QDir(m_dir.path()).filePath(relative); }

    // A Linux source folder whose whole size is the estimate (program plus payload).
    PortableBundleOptions linuxBundleOf(qint64 size)
    {
        const QString folder = path(QStringLiteral("linux-%1").arg(size));
        writeFile(folder + QStringLiteral("/Keldra"), QByteArray(1000, 'k'));
        QFile payload(folder + QStringLiteral("/payload.bin"));
        if (payload.open(QIODevice::WriteOnly))
            payload.resize(size - 1000);
        PortableBundleOptions options;
        options.linuxExecutable = folder + QStringLiteral("/Keldra");
        return options;
    }

    void requireDrive()
    {
        if (!m_mounted)
            QSKIP("needs root to mount a tmpfs drive");
        // Each case starts from an empty drive.
        for (const QFileInfo& entry :
             QDir(m_drive).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            entry.isDir() ? QDir(entry.filePath()).removeRecursively() : QFile::remove(entry.filePath());
    }

    void fill(const QString& relative, qint64 size)
    {
        QVERIFY(writeFile(QDir(m_drive).filePath(relative), QByteArray(size, 'f')));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_drive = path(QStringLiteral("drive"));
        QVERIFY(QDir().mkpath(m_drive));
#ifdef Q_OS_LINUX
        if (::geteuid() == 0)
            m_mounted =
                run(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=%1").arg(kDriveCapacity), QStringLiteral("tmpfs"), m_drive});
#endif
    }

    void cleanupTestCase()
    {
        if (m_mounted)
            QVERIFY(run(QStringLiteral("umount"), {m_drive}));
    }

    void estimatesTheWindowsBundleFromItsFolder()
    {
        const QString source = path(QStringLiteral("win"));
        QVERIFY(writeFile(source + QStringLiteral("/Keldra.exe"), QByteArray(100, 'e')));
        QVERIFY(writeFile(source + QStringLiteral("/Qt6Core.dll"), QByteArray(20, 'd')));
        QVERIFY(writeFile(source + QStringLiteral("/platforms/qwindows.dll"), QByteArray(3, 'p')));
        QVERIFY(writeFile(source + QStringLiteral("/imageformats/sub/qjpeg.dll"), QByteArray(4, 'i')));
        QVERIFY(writeFile(source + QStringLiteral("/styles/qstyle.dll"), QByteArray(5, 's')));
        QVERIFY(writeFile(source + QStringLiteral("/translations/qt_pt.qm"), QByteArray(1000, 't')));
        QVERIFY(writeFile(source + QStringLiteral("/readme.txt"), QByteArray(1000, 'r')));
        PortableBundleOptions options;
        options.windowsExecutable = source + QStringLiteral("/Keldra.exe");
        QCOMPARE(m_manager.estimateWindowsBundleSize(options), qint64(100 + 20 + 3 + 4 + 5));
        QCOMPARE(m_manager.estimateLinuxBundleSize(options), qint64(0));
        QCOMPARE(m_manager.fileSize(source), qint64(0));
        QCOMPARE(m_manager.directorySize(source + QStringLiteral("/missing")), qint64(0));
    }

    // A library needed by the program and by every plug-in is counted once.
    void countsEachLinuxLibraryOnce()
    {
#ifndef Q_OS_LINUX
        QSKIP("the Linux estimate asks ldd, here a shell script; both exist only on Linux");
#endif
        const QString shared = path(QStringLiteral("libshared.so.1"));
        QVERIFY(writeFile(shared, QByteArray(777, 'l')));
        const QString tools = path(QStringLiteral("tools"));
        QVERIFY(writeFile(tools + QStringLiteral("/ldd"), "#!/bin/sh\necho \"\tlibshared.so.1 => " +
                                                              QFile::encodeName(shared) + " (0x1)\"\n"));
        QFile::setPermissions(tools + QStringLiteral("/ldd"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(tools) + ':' + savedPath);

        const QString program = path(QStringLiteral("lonely/Keldra"));
        QVERIFY(writeFile(program, QByteArray(1234, 'k')));
        // The build's version file beside it still leaves the libraries to ldd.
        QVERIFY(writeFile(path(QStringLiteral("lonely/Keldra.version")), "1.0.0\n"));
        PortableBundleOptions options;
        options.linuxExecutable = program;
        qint64 plugins = 0;
        const QDir pluginRoot(QLibraryInfo::path(QLibraryInfo::PluginsPath));
        for (const char* category : {"platforms", "imageformats", "xcbglintegrations", "tls"})
            plugins += treeSize(pluginRoot.filePath(QString::fromLatin1(category)));
        const qint64 estimate = m_manager.estimateLinuxBundleSize(options);
        qputenv("PATH", savedPath);
        QVERIFY(plugins > 0);
        QCOMPARE(estimate, 1234 + plugins + 777);

        // Anything beside the program makes the folder the estimate, without ldd.
        QVERIFY(writeFile(path(QStringLiteral("lonely/extra.dat")), QByteArray(10, 'x')));
        QCOMPARE(m_manager.estimateLinuxBundleSize(options), qint64(1234 + 6 + 10));
    }

    void refusalsComeInOrder()
    {
        Error result;
        const PortableBundleOptions none;
        // An unknown volume is refused before any size is looked at.
        QVERIFY(!(result = m_manager.validateBundleFitsUsb(path(QStringLiteral("gone")),
                                                           path(QStringLiteral("gone/Keldra")), none))
                     .ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Não foi possível verificar o espaço livre da unidade USB."));

        requireDrive();
        fill(QStringLiteral("filler.bin"), kDriveCapacity - 256 * 1024);
        QVERIFY(
            !(result = m_manager.validateBundleFitsUsb(m_drive, m_drive + QStringLiteral("/Keldra"), none))
                 .ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Nenhum bundle válido foi encontrado para preparar a unidade USB."));

        // Both too big for the free space and above a quarter: the space message wins.
        const PortableBundleOptions big = linuxBundleOf(2 * kQuarter);
        QVERIFY(!(result = m_manager.validateBundleFitsUsb(m_drive, m_drive + QStringLiteral("/Keldra"), big))
                     .ok());
        const qint64 available = QStorageInfo(m_drive).bytesAvailable();
        // It tells what is needed and what is free.
        const QString message = DeploymentErrorText::message(result);
        QVERIFY2(message.contains(QString::number(2 * kQuarter)), qPrintable(message));
        QVERIFY2(message.contains(QString::number(available)), qPrintable(message));
    }

    void quarterOfTheCapacityIsTheLimit()
    {
        requireDrive();
        Error result = m_manager.validateBundleFitsUsb(m_drive, m_drive + QStringLiteral("/Keldra"),
                                                       linuxBundleOf(kQuarter));
        QVERIFY2(result.ok(), qPrintable(result.toString()));

        QVERIFY(!(result = m_manager.validateBundleFitsUsb(m_drive, m_drive + QStringLiteral("/Keldra"),
                                                           linuxBundleOf(kQuarter + 1)))
                     .ok());
        // It tells the drive's capacity and the bundle's estimate.
        const QString message = DeploymentErrorText::message(result);
        QVERIFY2(message.contains(QString::number(kDriveCapacity)), qPrintable(message));
        QVERIFY2(message.contains(QString::number(kQuarter + 1)), qPrintable(message));

        // The refusal stops the preparation before anything is copied.
        const Error prepared = m_manager.preparePortableBundle(m_drive, linuxBundleOf(kQuarter + 1), {});
        QVERIFY(!prepared.ok());
        QCOMPARE(DeploymentErrorText::message(prepared), DeploymentErrorText::message(result));
        QVERIFY(QDir(m_drive + QStringLiteral("/Keldra/linux")).isEmpty());
        QVERIFY(!QFileInfo::exists(m_drive + QStringLiteral("/Keldra-Linux.sh")));
    }

    // Space held by an earlier bundle folder is usable: the copy overwrites it.
    void earlierBundleFolderCountsAsUsable()
    {
        requireDrive();
        const qint64 filler = kDriveCapacity - kQuarter / 2;
        const PortableBundleOptions options = linuxBundleOf(kQuarter);
        Error result;

        fill(QStringLiteral("Keldra/linux/old.bin"), filler);
        QVERIFY2(
            (result = m_manager.validateBundleFitsUsb(m_drive, m_drive + QStringLiteral("/Keldra"), options))
                .ok(),
            qPrintable(DeploymentErrorText::message(result)));

        requireDrive();
        fill(QStringLiteral("other.bin"), filler);
        QVERIFY(
            !(result = m_manager.validateBundleFitsUsb(m_drive, m_drive + QStringLiteral("/Keldra"), options))
                 .ok());
        // The free-space refusal: it names the free bytes, the capacity refusal does not.
        const QString message = DeploymentErrorText::message(result);
        QVERIFY2(message.contains(QString::number(QStorageInfo(m_drive).bytesAvailable())),
                 qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(BundleFitCheckTest)
#include "test_bundle_fit_check.moc"
