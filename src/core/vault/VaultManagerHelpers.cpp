#include "vault/VaultManagerHelpers.h"

#include <QDateTime>
#include <QStringList>

namespace Keldra::Core::detail {

QString normalizedVaultPath(const QString& path)
{
    QString text = path.trimmed();
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (text.startsWith(QLatin1Char('/')))
        text.remove(0, 1);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);

    const QStringList parts = text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList clean;
    clean.reserve(parts.size());
    for (const QString& part : parts) {
        const QString trimmed = part.trimmed();
        if (trimmed.isEmpty() || trimmed == QLatin1String(".") || trimmed == QLatin1String(".."))
            return QString();
        clean.append(trimmed);
    }
    return clean.join(QLatin1Char('/'));
}

bool pathIsInsideDirectory(const QString& path, const QString& directory)
{
    return path.startsWith(directory + QLatin1Char('/'), Qt::CaseInsensitive);
}

bool indexContainsFilePath(const SecureFileIndex& index, const QString& path)
{
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (QString::compare(entry.vaultPath, path, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool indexContainsDirectoryPath(const SecureFileIndex& index, const QString& path)
{
    const QList<VaultDirectoryEntry> directories = index.directories();
    for (const VaultDirectoryEntry& directory : directories) {
        if (QString::compare(directory.path, path, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void ensureParentDirectories(SecureFileIndex* index, const QString& path)
{
    if (!index)
        return;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return;
    const QString parent = path.left(slash);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QStringList parts = parent.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString prefix;
    for (const QString& part : parts) {
        prefix = prefix.isEmpty() ? part : prefix + QLatin1Char('/') + part;
        if (!indexContainsDirectoryPath(*index, prefix))
            index->addDirectory(VaultDirectoryEntry{prefix, now, now});
    }
}

QString lastPathComponent(const QString& path)
{
    return path.section(QLatin1Char('/'), -1);
}

} // namespace Keldra::Core::detail
