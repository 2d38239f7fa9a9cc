#include "BundleLocation.h"
#include "KeldraVersion.h"
#include "MainWindow.h"
#include "vault/AllocatorTuning.h"

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
    if (!bundledPlugins.isEmpty())
        QCoreApplication::setLibraryPaths({bundledPlugins});
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keldra"));
    QApplication::setApplicationVersion(QStringLiteral(KELDRA_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Keldra"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/Keldra.ico")));

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
