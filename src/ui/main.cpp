#include "KeldraVersion.h"
#include "MainWindow.h"
#include "vault/AllocatorTuning.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[])
{
    Keldra::Core::AllocatorTuning::keepLargeBuffers();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keldra"));
    QApplication::setApplicationVersion(QStringLiteral(KELDRA_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Keldra"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/Keldra.ico")));

    // Every text of the window is Portuguese; Qt's own dialogs and buttons
    // (file dialogs, "OK"/"Cancel") follow when the translation is installed.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_pt_BR"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    Keldra::UI::MainWindow window;
    window.show();
    return QApplication::exec();
}
