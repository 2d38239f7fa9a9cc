#include "vault/VaultPath.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace Keldra::Core {

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
}

// Windows opens the device, not a file, for these names, whatever the extension.
bool isDeviceName(const QString& component)
{
    const QString stem = component.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList fixed{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                   QStringLiteral("NUL")};
    if (fixed.contains(stem))
        return true;
    return stem.size() == 4 &&
           (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
           stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9');
}

bool isPortableComponent(const QString& component)
{
    if (component.isEmpty() || component.endsWith(QLatin1Char('.')) || component.endsWith(QLatin1Char(' ')))
        return false;
    static const QString forbidden = QStringLiteral("<>:\"|?*\\");
    for (const QChar c : component) {
        if (isControl(c) || forbidden.contains(c))
            return false;
    }
    return !isDeviceName(component);
}

} // namespace

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
    return !trimmed.contains(QLatin1Char('/')) && isPortableComponent(trimmed);
}

bool VaultPath::isPortable(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return std::all_of(parts.cbegin(), parts.cend(), isPortableComponent);
}

bool VaultPath::isInside(const QString& path, const QString& directory)
{
    return path.startsWith(directory + QLatin1Char('/'), Qt::CaseInsensitive);
}

bool VaultPath::hasFile(const SecureFileIndex& index, const QString& path)
{
    return findFile(index, path) != nullptr;
}

const VaultFileEntry* VaultPath::findFile(const SecureFileIndex& index, const QString& path)
{
    // Callers mostly pass the stored spelling: a hash lookup, where a scan of
    // every entry would make a pass over all files quadratic.
    if (const VaultFileEntry* exact = index.find(path))
        return exact;
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (entry.vaultPath.compare(path, Qt::CaseInsensitive) == 0)
            return index.find(entry.vaultPath);
    }
    return nullptr;
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
