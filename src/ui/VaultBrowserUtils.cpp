#include "ui/VaultBrowserUtils.h"

#include <QLocale>

namespace Keldra::UI {

QString formatFileSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString normalizeDirectoryPath(QString path)
{
    path = path.trimmed();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Windows roots ("E:/") keep their slash.
    while (path.endsWith(QLatin1Char('/')) && path.size() >= 4)
        path.chop(1);
    if (!path.endsWith(QLatin1Char('/')))
        path.append(QLatin1Char('/'));
    return path;
}

} // namespace Keldra::UI
