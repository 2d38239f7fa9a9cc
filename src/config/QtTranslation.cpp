#include "config/QtTranslation.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace Keldra::Config {

bool installQtTranslation(const QString& programDirectory)
{
    const QString name = QStringLiteral("qtbase_pt_BR");
    auto* translator = new QTranslator(QCoreApplication::instance());
    if ((translator->load(name, QDir(programDirectory).filePath(QStringLiteral("translations"))) ||
         translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace Keldra::Config
