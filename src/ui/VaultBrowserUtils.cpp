#include "VaultBrowserUtils.h"

#include <QLocale>

#include <algorithm>

namespace Keldra::UI {

QString formatFileSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString parentVaultPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : path.left(slash);
}

QString vaultBaseName(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
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

QString normalizedVaultPath(QString path)
{
    path = path.trimmed();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList parts;
    for (const QString& raw : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QString part = raw.trimmed();
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QString();
        parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}

QString joinVaultPath(const QString& directory, const QString& name)
{
    if (directory.isEmpty())
        return normalizedVaultPath(name);
    return normalizedVaultPath(directory + QLatin1Char('/') + name);
}

bool isValidVaultName(const QString& name)
{
    const QString trimmed = name.trimmed();
    return !trimmed.isEmpty() && !trimmed.contains(QLatin1Char('/'))
        && !trimmed.contains(QLatin1Char('\\')) && trimmed != QLatin1String(".")
        && trimmed != QLatin1String("..");
}

bool fileIndexContainsFilePath(const Core::SecureFileIndex& index, const QString& path)
{
    const QList<Core::VaultFileEntry> entries = index.entries();
    return std::any_of(entries.cbegin(), entries.cend(), [&](const Core::VaultFileEntry& entry) {
        return entry.vaultPath.compare(path, Qt::CaseInsensitive) == 0;
    });
}

bool fileIndexContainsDirectoryPath(const Core::SecureFileIndex& index, const QString& path)
{
    const QList<Core::VaultDirectoryEntry> directories = index.directories();
    return std::any_of(directories.cbegin(), directories.cend(),
                       [&](const Core::VaultDirectoryEntry& directory) {
                           return directory.path.compare(path, Qt::CaseInsensitive) == 0;
                       });
}

} // namespace Keldra::UI
