#include "MainWindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keldra"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setOrganizationName(QStringLiteral("Keldra"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/Keldra.ico")));

    Keldra::UI::MainWindow window;
    window.show();
    return QApplication::exec();
}
