// The copy rules of a preparation: which files are taken from which source,
// how existing files are replaced, and how missing tools are reported.
#include "BundleTestSupport.h"
#include "deployment/PortableBundleManager.h"
#include "deployment/UpdateState.h"
#include "texts/DeploymentErrorText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Deployment;
using namespace BundleTestSupport;
using Keldra::Texts::DeploymentErrorText;

namespace {

void writeScript(const QString& path, const QByteArray& body)
{
    QVERIFY(writeFile(path, "#!/bin/sh\n" + body));
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

} // namespace

class PortableBundleCopyTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PortableBundleManager m_manager;
    QByteArray m_savedPath;

    QString path(const QString& relative) const { return QDir(m_dir.path()).filePath(relative); }

    // Puts fake ldd/ldconfig first on PATH for one test.
    void useFakeTools(const QByteArray& ldd, const QByteArray& ldconfig)
    {
        const QString tools = path(QStringLiteral("tools"));
        QDir(tools).removeRecursively();
        writeScript(tools + QStringLiteral("/ldd"), ldd);
        writeScript(tools + QStringLiteral("/ldconfig"), ldconfig);
        qputenv("PATH", QFile::encodeName(tools) + ':' + m_savedPath);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_savedPath = qgetenv("PATH");
    }

    void cleanup() { qputenv("PATH", m_savedPath); }

    void refusesMissingDriveRoot()
    {
        const QString root = path(QStringLiteral("no-such-drive"));
        QList<int> steps;
        const Error result = m_manager.preparePortableBundle(
            root, {}, [&steps](int step, int, const QString&) { steps.append(step); });
        QVERIFY(!result.ok());
        QCOMPARE(DeploymentErrorText::message(result), QStringLiteral("Unidade USB inválida."));
        QCOMPARE(steps, QList<int>{0});
        QVERIFY(!QFileInfo::exists(root));
    }

    void stopsWhenTheBundleFolderCannotBeCreated()
    {
        const QString root = path(QStringLiteral("blocked"));
        QVERIFY(writeFile(root + QStringLiteral("/Keldra"), "a file where the folder belongs"));
        const Error result = m_manager.preparePortableBundle(root, {}, {});
        QVERIFY(!result.ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Não foi possível criar a pasta: %1").arg(root + QStringLiteral("/Keldra")));
    }

    // Without platforms/qwindows.dll the folder is not a deployed runtime:
    // only the program (renamed) and the DLLs beside it are taken.
    void windowsOnlyPreparationTakesProgramAndDlls()
    {
        const QString source = path(QStringLiteral("win-partial"));
        QVERIFY(writeFile(source + QStringLiteral("/MyApp.EXE"), "program"));
        QVERIFY(writeFile(source + QStringLiteral("/Qt6Core.dll"), "core"));
        QVERIFY(writeFile(source + QStringLiteral("/libcrypto-3-x64.dll"), "crypto"));
        QVERIFY(writeFile(source + QStringLiteral("/notes.txt"), "not a library"));
        QVERIFY(writeFile(source + QStringLiteral("/imageformats/qjpeg.dll"), "plugin"));
        const QString root = path(QStringLiteral("drive-win"));
        QVERIFY(QDir().mkpath(root));

        PortableBundleOptions options;
        options.windowsExecutable = source + QStringLiteral("/MyApp.EXE");
        const Error result = m_manager.preparePortableBundle(root, options, {});
        QVERIFY2(result.ok(), qPrintable(DeploymentErrorText::message(result)));

        QStringList copied =
            QDir(root + QStringLiteral("/Keldra/windows")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        copied.sort();
        QCOMPARE(copied, (QStringList{QStringLiteral("Keldra.exe"), QStringLiteral("Qt6Core.dll"),
                                      QStringLiteral("libcrypto-3-x64.dll")}));
        QCOMPARE(readFile(root + QStringLiteral("/Keldra/windows/Keldra.exe")), QByteArray("program"));
        for (const char* file : {"/Keldra-Windows.bat", "/Keldra/README.txt"})
            QVERIFY2(QFileInfo(root + QString::fromLatin1(file)).isFile(), file);
        // Nothing for a system without a bundle.
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Keldra/linux")));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Keldra-Linux.sh")));
    }

    // A Linux folder with qt.conf is a finished runtime: copied whole, no ldd.
    // The drive records the version of the bundle it got, not the tool's: the
    // build's version file is copied with the program, and a stale one goes.
    void versionFileTravelsWithTheProgram()
    {
        const QString root = path(QStringLiteral("drive-version"));
        QVERIFY(QDir().mkpath(root));
        QCOMPARE(copiedBundleVersion(root), QStringLiteral("0.0.0"));
        const QString source = path(QStringLiteral("win-versioned"));
        QVERIFY(writeFile(source + QStringLiteral("/Keldra.exe"), "program"));
        QVERIFY(writeFile(source + QStringLiteral("/Keldra.version"), "2.1.0\n"));
        PortableBundleOptions options;
        options.windowsExecutable = source + QStringLiteral("/Keldra.exe");
        Error result = m_manager.preparePortableBundle(root, options, {});
        QVERIFY2(result.ok(), qPrintable(DeploymentErrorText::message(result)));
        QCOMPARE(copiedBundleVersion(root), QStringLiteral("2.1.0"));

        QVERIFY(QFile::remove(source + QStringLiteral("/Keldra.version")));
        result = m_manager.preparePortableBundle(root, options, {});
        QVERIFY2(result.ok(), qPrintable(DeploymentErrorText::message(result)));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Keldra/windows/Keldra.version")));
        QCOMPARE(copiedBundleVersion(root), QStringLiteral("0.0.0"));

        QVERIFY(writeFile(root + QStringLiteral("/Keldra/linux/Keldra.version"), "not a version"));
        QCOMPARE(copiedBundleVersion(root), QStringLiteral("0.0.0"));
    }

    void linuxDeployedRuntimeIsCopiedWhole()
    {
        useFakeTools("exit 1\n", "exit 1\n");
        const QString source = path(QStringLiteral("linux-runtime"));
        QVERIFY(writeFile(source + QStringLiteral("/Keldra"), "elf"));
        QVERIFY(writeFile(source + QStringLiteral("/qt.conf"), "[Paths]\n"));
        QVERIFY(writeFile(source + QStringLiteral("/translations/pt_BR.qm"), "qm"));
        const QString root = path(QStringLiteral("drive-linux"));
        QVERIFY(QDir().mkpath(root));

        PortableBundleOptions options;
        options.linuxExecutable = source + QStringLiteral("/Keldra");
        const Error result = m_manager.preparePortableBundle(root, options, {});
        QVERIFY2(result.ok(), qPrintable(DeploymentErrorText::message(result)));
        QCOMPARE(readFile(root + QStringLiteral("/Keldra/linux/qt.conf")), QByteArray("[Paths]\n"));
        QCOMPARE(readFile(root + QStringLiteral("/Keldra/linux/translations/pt_BR.qm")), QByteArray("qm"));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Keldra/linux/lib")));
    }

    // Links a drive may carry are removed and replaced, never written through.
    void linksOnTheDriveAreNotFollowed()
    {
        useFakeTools("exit 1\n", "exit 1\n");
        const QString source = path(QStringLiteral("linux-runtime-links"));
        QVERIFY(writeFile(source + QStringLiteral("/Keldra"), "elf"));
        QVERIFY(writeFile(source + QStringLiteral("/qt.conf"), "[Paths]\n"));
        QVERIFY(writeFile(source + QStringLiteral("/plugins/tls/libqopensslbackend.so"), "tls"));
        const QString outside = path(QStringLiteral("outside"));
        QVERIFY(writeFile(outside + QStringLiteral("/program"), "someone else's program"));
        QVERIFY(writeFile(outside + QStringLiteral("/launcher"), "someone else's script"));
        QVERIFY(QDir().mkpath(outside + QStringLiteral("/plugins")));
        const QString root = path(QStringLiteral("drive-links"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Keldra/linux")));
        QVERIFY(
            QFile::link(outside + QStringLiteral("/program"), root + QStringLiteral("/Keldra/linux/Keldra")));
        QVERIFY(QFile::link(outside + QStringLiteral("/plugins"),
                            root + QStringLiteral("/Keldra/linux/plugins")));
        QVERIFY(
            QFile::link(outside + QStringLiteral("/launcher"), root + QStringLiteral("/Keldra-Linux.sh")));
        QVERIFY(QFile::link(outside + QStringLiteral("/state"),
                            root + QStringLiteral("/Keldra/update-state.json")));

        PortableBundleOptions options;
        options.linuxExecutable = source + QStringLiteral("/Keldra");
        const Error result = m_manager.preparePortableBundle(root, options, {});
        QVERIFY2(result.ok(), qPrintable(DeploymentErrorText::message(result)));
        const Error error = writeUpdateState(root, QStringLiteral("1.0.0"), QString());
        QVERIFY2(error.ok(), qPrintable(error.toString()));

        QCOMPARE(readFile(outside + QStringLiteral("/program")), QByteArray("someone else's program"));
        QCOMPARE(readFile(outside + QStringLiteral("/launcher")), QByteArray("someone else's script"));
        QVERIFY(QDir(outside + QStringLiteral("/plugins")).isEmpty());
        QVERIFY(!QFileInfo::exists(outside + QStringLiteral("/state")));
        for (const char* file : {"/Keldra/linux/Keldra", "/Keldra/linux/plugins", "/Keldra-Linux.sh",
                                 "/Keldra/update-state.json"})
            QVERIFY2(!QFileInfo(root + QString::fromLatin1(file)).isSymLink(), file);
        QCOMPARE(readFile(root + QStringLiteral("/Keldra/linux/Keldra")), QByteArray("elf"));
        QCOMPARE(readFile(root + QStringLiteral("/Keldra/linux/plugins/tls/libqopensslbackend.so")),
                 QByteArray("tls"));
    }

    void copyFileReplacingRules()
    {
        const QString source = path(QStringLiteral("copy/source.bin"));
        const QString destination = path(QStringLiteral("copy/out/destination.bin"));
        QVERIFY(writeFile(source, QByteArray(3 * 1024 * 1024 + 17, 's')));
        QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadGroup);
        Error result;

        // A missing destination folder is reported with the destination path.
        QVERIFY(!(result = m_manager.copyFileReplacing(source, destination)).ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Não foi possível criar o arquivo: %1").arg(destination));

        // Larger than one chunk, content and permissions carried over.
        QVERIFY(QDir().mkpath(QFileInfo(destination).absolutePath()));
        QVERIFY(writeFile(destination, "old"));
        QVERIFY((result = m_manager.copyFileReplacing(source, destination)).ok());
        QCOMPARE(readFile(destination), readFile(source));
        QCOMPARE(QFile::permissions(destination), QFile::permissions(source));

        // A rebuilt file of the same size is copied; an identical one is left alone.
        QByteArray differsAtTheEnd(3 * 1024 * 1024 + 17, 's');
        differsAtTheEnd[differsAtTheEnd.size() - 1] = 'd';
        QVERIFY(writeFile(destination, differsAtTheEnd));
        QVERIFY((result = m_manager.copyFileReplacing(source, destination)).ok());
        QCOMPARE(readFile(destination), readFile(source));
        const QDateTime copiedAt = QFileInfo(destination).lastModified();
        {
            QFile copied(destination);
            QVERIFY(copied.open(QIODevice::ReadOnly));
            QVERIFY(copied.setFileTime(copiedAt.addSecs(-3600), QFileDevice::FileModificationTime));
        }
        QVERIFY((result = m_manager.copyFileReplacing(source, destination)).ok());
        QCOMPARE(QFileInfo(destination).lastModified(), copiedAt.addSecs(-3600));

        // Copying a file onto itself changes nothing.
        QVERIFY((result = m_manager.copyFileReplacing(source, source)).ok());

        // An unreadable source (a directory) leaves the destination as it was.
        QVERIFY(writeFile(destination, "keep me"));
        QVERIFY(!(result = m_manager.copyFileReplacing(path(QStringLiteral("copy/out")), destination)).ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Não foi possível copiar o arquivo: out"));
        QCOMPARE(readFile(destination), QByteArray("keep me"));
    }

    void copyExecutableNamesTheProgram()
    {
        const QString target = path(QStringLiteral("exe-target"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(writeFile(path(QStringLiteral("exe/MyApp.EXE")), "w"));
        QVERIFY(writeFile(path(QStringLiteral("exe/vault-app")), "l"));
        Error result;
        QString copied;
        QVERIFY(
            (result = m_manager.copyExecutable(path(QStringLiteral("exe/MyApp.EXE")), target, &copied)).ok());
        QCOMPARE(copied, target + QStringLiteral("/Keldra.exe"));
        QVERIFY(
            (result = m_manager.copyExecutable(path(QStringLiteral("exe/vault-app")), target, &copied)).ok());
        QCOMPARE(copied, target + QStringLiteral("/Keldra"));
        QCOMPARE(readFile(copied), QByteArray("l"));

        const QString missing = path(QStringLiteral("exe/none.exe"));
        QVERIFY(!(result = m_manager.copyExecutable(missing, target, &copied)).ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Executável do Keldra não encontrado: %1").arg(missing));
        QVERIFY(!(result = m_manager.copyDirectoryContents(path(QStringLiteral("nowhere")), target)).ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Pasta de origem não encontrada: %1").arg(path(QStringLiteral("nowhere"))));
    }

    void parsesLddOutput()
    {
        useFakeTools("cat <<'OUT'\n"
                     "\tlinux-vdso.so.1 (0x00007ffd)\n"
                     "\tlibfoo.so.1 => /opt/x/libfoo.so.1 (0x00007f01)\n"
                     "\tlibbar.so.2 => /opt/x/libbar.so.2 (0x00007f02)\n"
                     "\tlibfoo.so.1 => /opt/x/libfoo.so.1 (0x00007f03)\n"
                     "\tlibgone.so.3 => not found\n"
                     "\t/lib64/ld-linux-x86-64.so.2 (0x00007f04)\n"
                     "OUT\n",
                     "exit 0\n");
        QStringList libraries = m_manager.linuxLibraryDependencies(QStringLiteral("/any/binary"));
        libraries.sort();
        QCOMPARE(libraries,
                 (QStringList{QStringLiteral("/lib64/ld-linux-x86-64.so.2"),
                              QStringLiteral("/opt/x/libbar.so.2"), QStringLiteral("/opt/x/libfoo.so.1")}));

        useFakeTools("echo '\tlibfoo.so.1 => /opt/x/libfoo.so.1'; exit 1\n", "exit 0\n");
        QVERIFY(m_manager.linuxLibraryDependencies(QStringLiteral("/any/binary")).isEmpty());
        Error result;
        QVERIFY(!(result = m_manager.copyLinuxLibraryDependencies(QStringLiteral("/any/binary"),
                                                                  path(QStringLiteral("lib"))))
                     .ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Não foi possível identificar as dependências Linux de: /any/binary"));
    }

    void tlsLibrariesComeFromTheLoaderCache()
    {
        const QString lib = path(QStringLiteral("tls-lib"));
        QVERIFY(QDir().mkpath(lib));
        QVERIFY(writeFile(path(QStringLiteral("sys/libssl.so.3")), "ssl3"));
        Error result;

        useFakeTools("exit 0\n", "echo \"\tlibssl.so.3 (libc6,x86-64) => " +
                                     QFile::encodeName(path(QStringLiteral("sys/libssl.so.3"))) +
                                     "\"\necho '\tlibssl.so (libc6,x86-64) => /usr/lib/libssl.so'\n"
                                     "echo '\tlibssl.so.1.1 (libc6,x86-64) => /nonexistent/libssl.so.1.1'\n");
        QVERIFY2((result = m_manager.copyLinuxTlsLibraries(lib)).ok(),
                 qPrintable(DeploymentErrorText::message(result)));
        QCOMPARE(QDir(lib).entryList(QDir::Files), QStringList{QStringLiteral("libssl.so.3")});

        useFakeTools("exit 0\n", "echo '\tlibcrypto.so.3 (libc6,x86-64) => /usr/lib/libcrypto.so.3'\n");
        QVERIFY(!(result = m_manager.copyLinuxTlsLibraries(lib)).ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Biblioteca libssl.so não encontrada no ambiente Linux."));

        useFakeTools("exit 0\n", "exit 3\n");
        QVERIFY(!(result = m_manager.copyLinuxTlsLibraries(lib)).ok());
        QCOMPARE(DeploymentErrorText::message(result),
                 QStringLiteral("Não foi possível localizar as bibliotecas TLS do Linux."));
    }

    void stateFileRecordsPackageHashAndReportsFailures()
    {
        const QString root = path(QStringLiteral("state-drive"));
        QVERIFY(QDir().mkpath(root));
        QVERIFY(writeUpdateState(root, QStringLiteral("1.2.0"), QStringLiteral("ab12")).ok());
        const QByteArray json = readFile(updateStatePath(root));
        QVERIFY(json.contains("\n    \"app\": \"Keldra\"")); // indented, not compact
        const QJsonObject state = QJsonDocument::fromJson(json).object();
        QCOMPARE(state.value(QStringLiteral("installedVersion")).toString(), QStringLiteral("1.2.0"));
        QCOMPARE(state.value(QStringLiteral("lastPackageSha256")).toString(), QStringLiteral("ab12"));
        QCOMPARE(updateStatePath(root), root + QStringLiteral("/Keldra/update-state.json"));

        const QString blocked = path(QStringLiteral("state-blocked"));
        QVERIFY(writeFile(blocked + QStringLiteral("/Keldra"), "file"));
        Error error = writeUpdateState(blocked, QStringLiteral("1.0.0"), QString());
        QVERIFY(!error.ok());
        QCOMPARE(DeploymentErrorText::message(error),
                 QStringLiteral("Não foi possível criar a pasta de estado da atualização."));

        const QString occupied = path(QStringLiteral("state-occupied"));
        QVERIFY(QDir().mkpath(occupied + QStringLiteral("/Keldra/update-state.json")));
        error = writeUpdateState(occupied, QStringLiteral("1.0.0"), QString());
        QVERIFY(!error.ok());
        QCOMPARE(
            DeploymentErrorText::message(error),
            QStringLiteral("Não foi possível abrir o arquivo de estado: %1").arg(updateStatePath(occupied)));
    }
};

QTEST_GUILESS_MAIN(PortableBundleCopyTest)
#include "test_portable_bundle_copy.moc"
