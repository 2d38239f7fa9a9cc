#include "deployment/UpdatePackage.h"

#include "deployment/layout/DriveLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <zip.h>

#include <limits>

namespace Keldra::Deployment {

namespace {

// File types of the Unix mode a ZIP entry carries; the same values on every system we run on.
constexpr quint32 kUnixTypeMask = 0170000;
constexpr quint32 kUnixSymlink = 0120000;
constexpr quint32 kUnixRegular = 0100000;
constexpr quint32 kUnixDirectory = 0040000;

constexpr qint64 kReadChunkBytes = 256 * 1024;
constexpr int kShownNameLength = 160;

QString packagePath(const QString& extractedRoot, const QString& platform, const QString& name)
{
    return QDir(extractedRoot)
        .filePath(QStringLiteral("%1/%2/%3").arg(QLatin1String(DriveLayout::BundleFolder), platform, name));
}

// Entry names come from the archive: shown without control characters and cut short.
QString shownName(const QString& name)
{
    QString shown = name.left(kShownNameLength);
    for (QChar& c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    return name.size() > kShownNameLength ? shown + QStringLiteral("...") : shown;
}

// Relative, '/'-separated, no empty, "." or ".." part, no backslash or control character.
bool isSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    QString path = name;
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

struct Entry
{
    zip_uint64_t index = 0;
    QString name;
    bool directory = false;
    qint64 size = 0;
    bool executable = false;
};

class ZipArchive
{
public:
    explicit ZipArchive(const QString& path)
    {
        int code = 0;
        m_archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
        if (!m_archive) {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            m_openError = QString::fromLocal8Bit(zip_error_strerror(&error));
            zip_error_fini(&error);
        }
    }
    ~ZipArchive()
    {
        if (m_archive)
            zip_discard(m_archive);
    }
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    zip_t* get() const { return m_archive; }
    QString openError() const { return m_openError; }

private:
    zip_t* m_archive = nullptr;
    QString m_openError;
};

Error zipFailure(const QString& libzipText)
{
    return Error(Error::Reason::PackageDamaged, {libzipText});
}

Error readEntry(zip_t* archive, zip_uint64_t index, Entry* entry)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    const char* rawName = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
    if (!rawName || zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
        return zipFailure(QString::fromLocal8Bit(zip_strerror(archive)));
    entry->index = index;
    entry->name = QString::fromUtf8(rawName);
    if (!isSafeEntryName(entry->name))
        return Error(Error::Reason::PackageUnsafePath, {shownName(entry->name)});
    entry->directory = entry->name.endsWith(QLatin1Char('/'));
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX) {
        const quint32 mode = attributes >> 16;
        const quint32 type = mode & kUnixTypeMask;
        if (type == kUnixSymlink)
            return Error(Error::Reason::PackageHasLink, {shownName(entry->name)});
        if (type != 0 && type != kUnixRegular && type != kUnixDirectory)
            return Error(Error::Reason::PackageSpecialEntry, {shownName(entry->name)});
        entry->directory = entry->directory || type == kUnixDirectory;
        entry->executable = (mode & 0111) != 0;
    }
    entry->size = entry->directory ? 0 : static_cast<qint64>(stat.size);
    if (!entry->directory && (stat.size > static_cast<zip_uint64_t>(std::numeric_limits<qint64>::max())))
        entry->size = std::numeric_limits<qint64>::max();
    return Error();
}

Error listEntries(zip_t* archive, const PackageLimits& limits, QList<Entry>* entries, qint64* total)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0)
        return zipFailure(QString::fromLocal8Bit(zip_strerror(archive)));
    if (count > limits.maxEntries)
        return Error(Error::Reason::PackageTooManyEntries,
                     {QString::number(count), QString::number(limits.maxEntries)});
    *total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        Entry entry;
        if (const Error read = readEntry(archive, static_cast<zip_uint64_t>(i), &entry); !read.ok())
            return read;
        if (entry.size > limits.maxBytes - *total)
            return Error(Error::Reason::PackageTooLarge, {QString::number(limits.maxBytes)});
        *total += entry.size;
        if (entries)
            entries->append(entry);
    }
    return Error();
}

void addExecuteBits(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                                    QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

Error extractEntry(zip_t* archive, const Entry& entry, const QDir& destination)
{
    const QString path = destination.filePath(entry.name);
    if (entry.directory) {
        if (QDir().mkpath(path))
            return Error();
        return Error(Error::Reason::ExtractFolderNotCreated, {path});
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return Error(Error::Reason::ExtractParentNotCreated, {path});
    // NewOnly: a repeated entry must not replace what an earlier one wrote.
    QFile output(path);
    if (!output.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Error(Error::Reason::ExtractFileNotCreated, {path}, output.errorString());
    zip_file_t* input = zip_fopen_index(archive, entry.index, 0);
    if (!input)
        return zipFailure(QString::fromLocal8Bit(zip_strerror(archive)));
    QByteArray buffer(kReadChunkBytes, '\0');
    qint64 written = 0;
    Error error;
    while (error.ok()) {
        const zip_int64_t read = zip_fread(input, buffer.data(), static_cast<zip_uint64_t>(buffer.size()));
        if (read == 0)
            break;
        if (read < 0)
            error = zipFailure(QString::fromLocal8Bit(zip_file_strerror(input)));
        else if (read > entry.size - written)
            error = Error(Error::Reason::PackageEntrySizeWrong, {shownName(entry.name)});
        else if (output.write(buffer.constData(), read) != read)
            error = Error(Error::Reason::ExtractFileNotWritten, {path}, output.errorString());
        else
            written += read;
    }
    const int closed = zip_fclose(input); // reports a checksum mismatch
    if (error.ok() && closed != 0) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, closed);
        error = zipFailure(QString::fromLocal8Bit(zip_error_strerror(&zipError)));
        zip_error_fini(&zipError);
    }
    if (error.ok() && written != entry.size)
        error = Error(Error::Reason::PackageEntrySizeWrong, {shownName(entry.name)});
    if (error.ok() && (!output.flush() || output.error() != QFileDevice::NoError))
        error = Error(Error::Reason::ExtractFileNotWritten, {path}, output.errorString());
    output.close();
    if (error.ok() && entry.executable)
        addExecuteBits(path);
    return error;
}

// The archive's entries, every one checked against the limits before anything is unpacked.
Error listArchive(const ZipArchive& archive, const PackageLimits& limits, QList<Entry>* entries,
                  qint64* total)
{
    if (!archive.get())
        return zipFailure(archive.openError());
    return listEntries(archive.get(), limits, entries, total);
}

} // namespace

Error inspectZip(const QString& zipPath, PackageContents* contents, const PackageLimits& limits)
{
    const ZipArchive archive(zipPath);
    QList<Entry> entries;
    qint64 total = 0;
    if (const Error listed = listArchive(archive, limits, &entries, &total); !listed.ok())
        return listed;
    if (contents)
        *contents = PackageContents{entries.size(), total};
    return Error();
}

Error extractZip(const QString& zipPath, const QString& destination, const PackageLimits& limits)
{
    const ZipArchive archive(zipPath);
    QList<Entry> entries;
    qint64 total = 0;
    if (const Error listed = listArchive(archive, limits, &entries, &total); !listed.ok())
        return listed;
    if (!QDir().mkpath(destination))
        return Error(Error::Reason::StagingNotCreated, {destination});
    const QDir target(destination);
    for (const Entry& entry : std::as_const(entries)) {
        if (const Error extracted = extractEntry(archive.get(), entry, target); !extracted.ok())
            return extracted;
    }
    return Error();
}

Error validateExtractedPackage(const QString& extractedRoot)
{
    const QString windowsFolder = QLatin1String(DriveLayout::WindowsFolder);
    const QString linuxFolder = QLatin1String(DriveLayout::LinuxFolder);
    const QList<QPair<QString, QString>> requiredFiles{
        {windowsFolder, QLatin1String(DriveLayout::WindowsProgram)},
        {windowsFolder, QStringLiteral("platforms/qwindows.dll")},
        {linuxFolder, QLatin1String(DriveLayout::LinuxProgram)},
        {linuxFolder, QLatin1String(DriveLayout::LinuxLauncher)},
        {linuxFolder, QStringLiteral("qt.conf")},
        {linuxFolder, QStringLiteral("lib/libssl.so.3")},
        {linuxFolder, QStringLiteral("plugins/tls/libqopensslbackend.so")},
    };
    for (const auto& [platform, name] : requiredFiles) {
        const QString path = packagePath(extractedRoot, platform, name);
        if (!QFileInfo::exists(path))
            return Error(Error::Reason::PackageMissingFile, {path});
    }
    for (const QString& name : {QStringLiteral("lib"), QStringLiteral("plugins")}) {
        const QString path = packagePath(extractedRoot, linuxFolder, name);
        if (!QFileInfo(path).isDir())
            return Error(Error::Reason::PackageMissingFolder, {path});
    }
    return Error();
}

} // namespace Keldra::Deployment
