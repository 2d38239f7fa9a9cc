#include "KeldraVersion.h"
#include "core/vault/AllocatorTuning.h"
#include "ui/AppSettings.h"
#include "ui/BundleLocation.h"
#include "ui/MainWindow.h"
#include "ui/ProgramDrive.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[])
{
    Keldra::Core::AllocatorTuning::keepLargeBuffers();
    // From a drive, plug-ins come from the bundle only: a Qt the host may have
    // is built for another C library and would crash the program.
    const QString programPath = argc > 0 ? QFile::decodeName(argv[0]) : QString();
    const QString bundledPlugins = Keldra::UI::BundleLocation::pluginDirectory(programPath);
    const bool fromBundle = !bundledPlugins.isEmpty();
    const bool platformRequested = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    const QByteArray requestedPlatform = qgetenv("QT_QPA_PLATFORM");
    if (fromBundle) {
        QCoreApplication::setLibraryPaths({bundledPlugins});
        // The bundle carries the X11 platform only (Wayland desktops run it
        // through XWayland); programs Keldra starts keep the user's choice.
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    if (fromBundle && platformRequested)
        qputenv("QT_QPA_PLATFORM", requestedPlatform);
    else if (fromBundle)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Keldra"));
    QApplication::setApplicationVersion(QStringLiteral(KELDRA_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Keldra"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/Keldra.ico")));
    // Beside the program on a drive, else in the user's configuration folder.
    Keldra::UI::AppSettings::setLocation(Keldra::UI::AppSettings::defaultFilePath(programPath),
                                         Keldra::UI::programDriveRoot(programPath));

    // Every text of the window is Portuguese; Qt's own dialogs and buttons
    // (file dialogs, "OK"/"Cancel") follow when the translation is installed,
    // on the drive or on this machine.
    QTranslator qtTranslator;
    const QString translation = QStringLiteral("qtbase_pt_BR");
    if (qtTranslator.load(translation, Keldra::UI::BundleLocation::translationDirectory(programPath)) ||
        qtTranslator.load(translation, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    Keldra::UI::MainWindow window;
    window.show();
    return QApplication::exec();
}
