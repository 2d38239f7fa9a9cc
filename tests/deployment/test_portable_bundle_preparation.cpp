// Prepares a drive (a temporary folder) with a real Qt program as the Linux
// bundle and a fake Windows runtime, then checks what lands on it.
#include "BundleTestSupport.h"
#include "deployment/PortableBundleManager.h"
#include "deployment/UpdateState.h"
#include "texts/DeploymentErrorText.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Keldra::Deployment;
using namespace BundleTestSupport;
using Keldra::Texts::DeploymentErrorText;

namespace {

#ifdef Q_OS_UNIX
constexpr mode_t kAllExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

bool hasAllExecuteBits(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 &&
           (info.st_mode & kAllExecuteBits) == kAllExecuteBits;
}

quint64 inodeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}
#else
// Never reached: the whole case is skipped where the Linux bundle cannot be gathered.
bool hasAllExecuteBits(const QString&)
{
    return false;
}

quint64 inodeOf(const QString&)
{
    return 0;
}
#endif

// "name => /path" lines of ldd, run with the launcher's library path.
QStringList lddResolvedPaths(const QString& binary, const QString& libDirectory, QString* unresolved)
{
    QProcess ldd;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), libDirectory);
    ldd.setProcessEnvironment(environment);
    ldd.start(QStringLiteral("ldd"), {binary});
    if (!ldd.waitForFinished(30000) || ldd.exitCode() != 0)
        return {};
    QStringList paths;
    const QStringList lines = QString::fromLocal8Bit(ldd.readAllStandardOutput()).split(QLatin1Char('\n'));
    static const QRegularExpression arrow(QStringLiteral("^\\s*(\\S+)\\s+=>\\s+(\\S+)"));
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = arrow.match(line);
        if (!match.hasMatch())
            continue; // vdso and the dynamic loader: always the running system's own
        if (match.captured(2) == QLatin1String("not"))
            unresolved->append(match.captured(1) + QLatin1Char(' '));
        else
            paths.append(match.captured(2));
    }
    return paths;
}

} // namespace

class PortableBundlePreparationTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workspace;
    QString m_drive;
    QString m_windowsSource;
    QString m_linuxSource;
    PortableBundleOptions m_options;
    PortableBundleManager m_manager;
    Error m_result;
    QList<int> m_steps;
    QList<int> m_totals;
    QStringList m_texts;
    QByteArray m_readme; // as the first preparation wrote it

    QString drivePath(const QString& relative) const { return QDir(m_drive).filePath(relative); }

private slots:
    void initTestCase()
    {
#ifndef Q_OS_LINUX
        QSKIP("the Linux bundle is gathered with ldd and ldconfig, and the tool that does it runs only on "
              "Linux");
#endif
        QVERIFY(m_workspace.isValid());
        const QDir workspace(m_workspace.path());
        m_drive = workspace.filePath(QStringLiteral("drive"));
        QVERIFY(QDir().mkpath(m_drive));

        // A deployed Windows runtime: Qt6Core.dll plus platforms/qwindows.dll.
        m_windowsSource = workspace.filePath(QStringLiteral("windows-x64"));
        QVERIFY(writeFile(m_windowsSource + QStringLiteral("/Keldra.exe"), QByteArray(4096, 'x')));
        QVERIFY(writeFile(m_windowsSource + QStringLiteral("/Qt6Core.dll"), QByteArray(2048, 'c')));
        QVERIFY(
            writeFile(m_windowsSource + QStringLiteral("/platforms/qwindows.dll"), QByteArray(1024, 'p')));
        QVERIFY(writeFile(m_windowsSource + QStringLiteral("/styles/qmodernwindowsstyle.dll"), "style"));
        QVERIFY(writeFile(m_windowsSource + QStringLiteral("/.cache"), "hidden entries stay behind"));

        // The real program alone in its folder, so the runtime is gathered with ldd.
        m_linuxSource = workspace.filePath(QStringLiteral("linux-x64"));
        QVERIFY(QDir().mkpath(m_linuxSource));
        const QString program = linuxProgram();
        QVERIFY2(QFileInfo::exists(program), qPrintable(program));
        QVERIFY(QFile::copy(program, m_linuxSource + QStringLiteral("/Keldra")));
        QVERIFY(writeFile(m_linuxSource + QStringLiteral("/Keldra.version"), "1.3.0\n"));

        // A vault already on the drive must survive the preparation.
        QVERIFY(writeFile(drivePath(QStringLiteral("keldra.kldr")), "container bytes"));

        m_options.windowsExecutable = m_windowsSource + QStringLiteral("/Keldra.exe");
        m_options.linuxExecutable = m_linuxSource + QStringLiteral("/Keldra");
        m_result = m_manager.preparePortableBundle(m_drive, m_options,
                                                   [this](int step, int total, const QString& text) {
                                                       m_steps.append(step);
                                                       m_totals.append(total);
                                                       m_texts.append(text);
                                                   });
        QVERIFY2(m_result.ok(), qPrintable(DeploymentErrorText::message(m_result)));
        m_readme = readFile(drivePath(QStringLiteral("Keldra/README.txt")));
    }

    // Each step tells the progress dialog something new, so a long copy never
    // shows the previous step's text.
    void reportsEveryStepButFour()
    {
        QVERIFY(!DeploymentErrorText::drivePrepared().isEmpty());
        QCOMPARE(m_steps, (QList<int>{0, 1, 2, 3, 5, 6, 7}));
        QCOMPARE(m_totals, QList<int>(7, 7));
        QCOMPARE(m_texts.size(), m_steps.size());
        QStringList distinct = m_texts;
        distinct.removeDuplicates();
        QCOMPARE(distinct, m_texts);
        for (const QString& text : std::as_const(m_texts))
            QVERIFY(!text.trimmed().isEmpty());
        QCOMPARE(m_texts.last(), QStringLiteral("Preparação concluída. Preparado para: Linux e Windows."));
    }

    void laysOutTheDrive()
    {
        for (const char* path :
             {"Keldra-Windows.bat", "Keldra-Linux.sh", "Keldra/README.txt", "Keldra/windows/Keldra.exe",
              "Keldra/windows/Qt6Core.dll", "Keldra/windows/platforms/qwindows.dll",
              "Keldra/windows/styles/qmodernwindowsstyle.dll", "Keldra/linux/Keldra",
              "Keldra/linux/lib/libQt6Core.so.6", "Keldra/linux/lib/libQt6Widgets.so.6",
              "Keldra/linux/lib/libssl.so.3", "Keldra/linux/plugins/platforms/libqxcb.so",
              "Keldra/linux/lib/ld-linux-x86-64.so.2", "Keldra/linux/lib/libc.so.6",
              "Keldra/linux/Keldra.version"})
            QVERIFY2(QFileInfo(drivePath(QString::fromLatin1(path))).isFile(), path);
        if (QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                              QStringLiteral("/qtbase_pt_BR.qm")))
            QVERIFY(
                QFileInfo(drivePath(QStringLiteral("Keldra/linux/translations/qtbase_pt_BR.qm"))).isFile());
        if (QFileInfo::exists(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"))) {
            QVERIFY(QFileInfo(drivePath(QStringLiteral("Keldra/linux/fonts/DejaVuSans.ttf"))).isFile());
            QVERIFY(readFile(drivePath(QStringLiteral("Keldra/linux/fonts/fonts.conf")))
                        .contains("<dir prefix=\"relative\">.</dir>"));
        }
        QVERIFY(!QFileInfo::exists(drivePath(QStringLiteral("Keldra/windows/.cache"))));
        QCOMPARE(readFile(drivePath(QStringLiteral("keldra.kldr"))), QByteArray("container bytes"));
        QCOMPARE(readFile(drivePath(QStringLiteral("Keldra/linux/Keldra"))),
                 readFile(m_options.linuxExecutable));
        // Nothing is left behind by the atomic writes.
        const QStringList rootEntries =
            QDir(m_drive).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(rootEntries,
                 (QStringList{QStringLiteral("Keldra"), QStringLiteral("Keldra-Linux.sh"),
                              QStringLiteral("Keldra-Windows.bat"), QStringLiteral("keldra.kldr")}));
    }

    // Only what the window loads: no other platforms, GL integrations,
    // network or input-device libraries.
    void bundleIsLean()
    {
        const QDir plugins(drivePath(QStringLiteral("Keldra/linux/plugins")));
        QStringList found;
        QDirIterator it(plugins.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(plugins.relativeFilePath(it.next()));
        found.sort();
        QStringList expected{QStringLiteral("platforms/libqxcb.so")};
        if (QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                              QStringLiteral("/imageformats/libqico.so")))
            expected.prepend(QStringLiteral("imageformats/libqico.so"));
        QCOMPARE(found, expected);
        const QStringList libraries =
            QDir(drivePath(QStringLiteral("Keldra/linux/lib"))).entryList(QDir::Files);
        for (const QString& library : libraries) {
            for (const char* unwanted : {"libQt6Network", "libQt6EglFS", "libinput", "libmtdev", "libudev"})
                QVERIFY2(!library.startsWith(QLatin1String(unwanted)), qPrintable(library));
        }
    }

    // What the launchers and the README must do; the Linux launcher itself is
    // run by launcherStartsTheProgram and test_linux_launcher.sh.
    void writesLaunchersAndReadme()
    {
        // The batch file works from wherever the drive is mounted and starts
        // the copied program; cmd needs CR LF line ends.
        const QByteArray batch = readFile(drivePath(QStringLiteral("Keldra-Windows.bat")));
        QVERIFY(batch.contains("%~dp0"));
        QVERIFY(batch.contains("Keldra\\windows"));
        QVERIFY(batch.contains("Keldra.exe"));
        QVERIFY(batch.endsWith("\r\n"));
        QCOMPARE(batch.count('\n'), batch.count("\r\n"));
        // cmd reads each line in the console's code page: UTF-8 (no byte-order
        // mark) only once the script has switched to it, and the message is
        // shown with its accents.
        QVERIFY(batch.startsWith("@echo off\r\n"));
        const qsizetype switched = batch.indexOf("chcp 65001");
        QVERIFY(switched > 0);
        for (qsizetype i = 0; i < switched; ++i)
            QVERIFY(static_cast<unsigned char>(batch.at(i)) < 0x80);
        QVERIFY(batch.indexOf(QStringLiteral("Executável do Keldra não encontrado").toUtf8()) > switched);

        // Started as a program from a file manager, it needs its interpreter line.
        const QByteArray launcher = readFile(drivePath(QStringLiteral("Keldra-Linux.sh")));
        QVERIFY(launcher.startsWith("#!/bin/sh\n"));
        QVERIFY(!launcher.contains('\r'));
        for (const char* message : {"Executável Linux não encontrado em", "Nenhuma pasta temporária permite",
                                    "Não foi possível iniciar o Keldra. Código de saída"})
            QVERIFY2(launcher.contains(message), message);
        QVERIFY(hasAllExecuteBits(drivePath(QStringLiteral("Keldra-Linux.sh"))));
        QVERIFY(hasAllExecuteBits(drivePath(QStringLiteral("Keldra/linux/Keldra"))));

        // The README tells what lies at the root; it is UTF-8, so accents survive.
        for (const char* name : {"Keldra-Windows.bat", "Keldra-Linux.sh", "keldra.kldr"})
            QVERIFY2(m_readme.contains(name), name);
        QCOMPARE(QString::fromUtf8(m_readme).toUtf8(), m_readme);
        QVERIFY(m_readme.startsWith(QStringLiteral("Keldra portátil\n").toUtf8()));
        QVERIFY(m_readme.contains(QStringLiteral("contém o executável Linux").toUtf8()));
    }

    void recordsTheInstalledVersion()
    {
        QCOMPARE(copiedBundleVersion(m_drive), QStringLiteral("1.3.0"));
        const Error error = writeUpdateState(m_drive, copiedBundleVersion(m_drive), QString());
        QVERIFY2(error.ok(), qPrintable(error.toString()));
        const QJsonObject state =
            QJsonDocument::fromJson(readFile(drivePath(QStringLiteral("Keldra/update-state.json")))).object();
        QCOMPARE(state.value(QStringLiteral("schemaVersion")).toInt(), 1);
        QCOMPARE(state.value(QStringLiteral("app")).toString(), QStringLiteral("Keldra"));
        QCOMPARE(state.value(QStringLiteral("installedVersion")).toString(), QStringLiteral("1.3.0"));
        QCOMPARE(state.value(QStringLiteral("updatedByConfigVersion")).toString(), QStringLiteral("1.0.0"));
        QVERIFY(!state.contains(QStringLiteral("lastPackageSha256")));
        const QDateTime installedAt =
            QDateTime::fromString(state.value(QStringLiteral("installedAt")).toString(), Qt::ISODate);
        QVERIFY(installedAt.isValid());
        QVERIFY(qAbs(installedAt.secsTo(QDateTime::currentDateTimeUtc())) < 600);
        const QJsonObject bundles = state.value(QStringLiteral("bundles")).toObject();
        QCOMPARE(bundles.value(QStringLiteral("windows-x64")).toObject(),
                 (QJsonObject{{QStringLiteral("path"), QStringLiteral("Keldra/windows")},
                              {QStringLiteral("entryPoint"), QStringLiteral("Keldra.exe")}}));
        QCOMPARE(bundles.value(QStringLiteral("linux-x64")).toObject(),
                 (QJsonObject{{QStringLiteral("path"), QStringLiteral("Keldra/linux")},
                              {QStringLiteral("entryPoint"), QStringLiteral("Keldra")}}));
    }

    // With the launcher's LD_LIBRARY_PATH, the program and its platform
    // plug-ins load every library from the drive.
    void driveIsSelfContained()
    {
        const QString lib = drivePath(QStringLiteral("Keldra/linux/lib"));
        QStringList binaries{drivePath(QStringLiteral("Keldra/linux/Keldra"))};
        const QDir platforms(drivePath(QStringLiteral("Keldra/linux/plugins/platforms")));
        for (const QString& name : platforms.entryList({QStringLiteral("*.so")}, QDir::Files))
            binaries.append(platforms.filePath(name));
        QVERIFY(binaries.size() > 1);
        for (const QString& binary : std::as_const(binaries)) {
            QString unresolved;
            const QStringList paths = lddResolvedPaths(binary, lib, &unresolved);
            QVERIFY2(!paths.isEmpty(), qPrintable(binary));
            QVERIFY2(unresolved.isEmpty(), qPrintable(binary + QStringLiteral(": ") + unresolved));
            for (const QString& path : paths)
                QVERIFY2(QFileInfo(path).absolutePath() == lib,
                         qPrintable(binary + QStringLiteral(" -> ") + path));
        }
    }

    // The launcher starts the copied program with an empty environment but
    // for the display; the bundle carries only the X11 platform.
    void launcherStartsTheProgram()
    {
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted())
            QSKIP("Xvfb is not installed");
        QVERIFY(xvfb.waitForReadyRead(10000));
        const QString display = QStringLiteral(":") + QString::fromLatin1(xvfb.readLine().trimmed());

        QProcess launcher;
        QProcessEnvironment clean;
        clean.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        clean.insert(QStringLiteral("HOME"), m_workspace.path());
        clean.insert(QStringLiteral("DISPLAY"), display);
        launcher.setProcessEnvironment(clean);
#ifdef Q_OS_UNIX
        // Own session, so the program and the shell can be stopped together.
        launcher.setChildProcessModifier([] { ::setsid(); });
#endif
        launcher.start(QStringLiteral("sh"), {drivePath(QStringLiteral("Keldra-Linux.sh"))});
        QVERIFY(launcher.waitForStarted());
        const bool ended = launcher.waitForFinished(4000);
        if (!ended) {
#ifdef Q_OS_UNIX
            ::kill(-static_cast<pid_t>(launcher.processId()), SIGTERM);
#else
            launcher.kill();
#endif
            launcher.waitForFinished(5000);
        }
        xvfb.terminate();
        xvfb.waitForFinished(5000);
        QVERIFY2(!ended, launcher.readAllStandardError().constData());
    }

    // Only files whose content changed are copied again, even at the same
    // size; the texts are rewritten.
    void repreparationCopiesOnlyChangedFiles()
    {
        const QString copiedExe = drivePath(QStringLiteral("Keldra/windows/Keldra.exe"));
        const QString copiedCore = drivePath(QStringLiteral("Keldra/windows/Qt6Core.dll"));
        const QString copiedQtLib = drivePath(QStringLiteral("Keldra/linux/lib/libQt6Core.so.6"));
        const QString readme = drivePath(QStringLiteral("Keldra/README.txt"));
        QVERIFY(writeFile(m_windowsSource + QStringLiteral("/Keldra.exe"), QByteArray(5000, 'y')));
        QVERIFY(writeFile(copiedCore, QByteArray(2048, 'Z'))); // same size, other content
        QVERIFY(writeFile(readme, "stale"));
        const quint64 qtLibInode = inodeOf(copiedQtLib);
        QVERIFY(qtLibInode != 0);

        QList<int> steps;
        const Error again = m_manager.preparePortableBundle(
            m_drive, m_options, [&steps](int step, int, const QString&) { steps.append(step); });
        QVERIFY2(again.ok(), qPrintable(DeploymentErrorText::message(again)));
        QCOMPARE(steps, (QList<int>{0, 1, 2, 3, 5, 6, 7}));
        QCOMPARE(readFile(copiedExe), QByteArray(5000, 'y'));
        QCOMPARE(readFile(copiedCore), QByteArray(2048, 'c'));
        QCOMPARE(inodeOf(copiedQtLib), qtLibInode);
        QCOMPARE(readFile(readme), m_readme);
    }
};

QTEST_GUILESS_MAIN(PortableBundlePreparationTest)
#include "test_portable_bundle_preparation.moc"
