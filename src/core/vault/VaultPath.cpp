#include "vault/VaultPath.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace Keldra::Core {

QString VaultPath::normalized(const QString& path)
{
    QString text = path.trimmed();
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
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

QString VaultPath::parent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : path.left(slash);
}

QString VaultPath::baseName(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString VaultPath::join(const QString& directory, const QString& name)
{
    if (directory.isEmpty())
        return normalized(name);
    return normalized(directory + QLatin1Char('/') + name);
}

bool VaultPath::isValidName(const QString& name)
{
    const QString trimmed = name.trimmed();
    return !trimmed.isEmpty() && !trimmed.contains(QLatin1Char('/')) &&
           !trimmed.contains(QLatin1Char('\\')) && trimmed != QLatin1String(".") &&
           trimmed != QLatin1String("..");
}

bool VaultPath::isInside(const QString& path, const QString& directory)
{
    return path.startsWith(directory + QLatin1Char('/'), Qt::CaseInsensitive);
}

bool VaultPath::hasFile(const SecureFileIndex& index, const QString& path)
{
    const QList<VaultFileEntry> entries = index.entries();
    return std::any_of(entries.cbegin(), entries.cend(), [&](const VaultFileEntry& entry) {
        return entry.vaultPath.compare(path, Qt::CaseInsensitive) == 0;
    });
}

bool VaultPath::hasFolder(const SecureFileIndex& index, const QString& path)
{
    const QList<VaultDirectoryEntry> directories = index.directories();
    return std::any_of(directories.cbegin(), directories.cend(), [&](const VaultDirectoryEntry& directory) {
        return directory.path.compare(path, Qt::CaseInsensitive) == 0;
    });
}

void VaultPath::addMissingParents(SecureFileIndex* index, const QString& path)
{
    if (!index)
        return;
    const QString folder = parent(path);
    if (folder.isEmpty())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QString prefix;
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix = prefix.isEmpty() ? part : prefix + QLatin1Char('/') + part;
        if (!hasFolder(*index, prefix))
            index->addDirectory(VaultDirectoryEntry{prefix, now, now});
    }
}

} // namespace Keldra::Core
