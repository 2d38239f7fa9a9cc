// Stands in for the vault application on test drives: a real Qt Widgets
// program, so the copied libraries and platform plug-ins are the real ones.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Keldra"));
    label.show();
    return app.exec();
}
