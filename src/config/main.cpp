#include "config/ConfigWindow.h"
#include "config/QtTranslation.h"
#include "deployment/UpdateState.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KeldraConfig"));
    QApplication::setApplicationVersion(Keldra::Deployment::configToolVersion());
    QApplication::setOrganizationName(QStringLiteral("Keldra"));

    // The window's own texts are Portuguese; Qt's buttons and dialogs follow.
    Keldra::Config::installQtTranslation(QCoreApplication::applicationDirPath());

    Keldra::Config::registerConfigResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/Keldra.ico")));

    Keldra::Config::ConfigWindow window;
    window.locateBundleSources();
    window.reportBundleSources();
    window.refreshDevices();
    window.show();
    return app.exec();
}
