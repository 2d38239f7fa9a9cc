#include "UpdatePackage.h"

#include "DriveLayout.h"

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

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

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

QString zipFailure(const QString& reason)
{
    return QStringLiteral("Falha ao extrair ZIP: %1").arg(reason);
}

bool readEntry(zip_t* archive, zip_uint64_t index, Entry* entry, QString* error)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    const char* rawName = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
    if (!rawName || zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) {
        setError(error, zipFailure(QString::fromLocal8Bit(zip_strerror(archive))));
        return false;
    }
    entry->index = index;
    entry->name = QString::fromUtf8(rawName);
    if (!isSafeEntryName(entry->name)) {
        setError(error, QStringLiteral("Pacote com caminho inseguro: %1").arg(shownName(entry->name)));
        return false;
    }
    entry->directory = entry->name.endsWith(QLatin1Char('/'));
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX) {
        const quint32 mode = attributes >> 16;
        const quint32 type = mode & kUnixTypeMask;
        if (type == kUnixSymlink) {
            setError(error, QStringLiteral("Pacote com link simbólico: %1").arg(shownName(entry->name)));
            return false;
        }
        if (type != 0 && type != kUnixRegular && type != kUnixDirectory) {
            setError(error, QStringLiteral("Pacote com entrada que não é arquivo nem pasta: %1")
                                .arg(shownName(entry->name)));
            return false;
        }
        entry->directory = entry->directory || type == kUnixDirectory;
        entry->executable = (mode & 0111) != 0;
    }
    entry->size = entry->directory ? 0 : static_cast<qint64>(stat.size);
    if (!entry->directory && (stat.size > static_cast<zip_uint64_t>(std::numeric_limits<qint64>::max())))
        entry->size = std::numeric_limits<qint64>::max();
    return true;
}

bool listEntries(zip_t* archive, const PackageLimits& limits, QList<Entry>* entries, qint64* total,
                 QString* error)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0) {
        setError(error, zipFailure(QString::fromLocal8Bit(zip_strerror(archive))));
        return false;
    }
    if (count > limits.maxEntries) {
        setError(
            error,
            QStringLiteral("Pacote com entradas demais: %1 (limite: %2).").arg(count).arg(limits.maxEntries));
        return false;
    }
    *total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        Entry entry;
        if (!readEntry(archive, static_cast<zip_uint64_t>(i), &entry, error))
            return false;
        if (entry.size > limits.maxBytes - *total) {
            setError(error, QStringLiteral("Pacote grande demais: mais de %1 bytes descompactados.")
                                .arg(limits.maxBytes));
            return false;
        }
        *total += entry.size;
        if (entries)
            entries->append(entry);
    }
    return true;
}

void addExecuteBits(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                                    QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

bool extractEntry(zip_t* archive, const Entry& entry, const QDir& destination, QString* error)
{
    const QString path = destination.filePath(entry.name);
    if (entry.directory) {
        if (QDir().mkpath(path))
            return true;
        setError(error, zipFailure(QStringLiteral("não foi possível criar a pasta %1").arg(path)));
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        setError(error, zipFailure(QStringLiteral("não foi possível criar a pasta de %1").arg(path)));
        return false;
    }
    // NewOnly: a repeated entry must not replace what an earlier one wrote.
    QFile output(path);
    if (!output.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        setError(error, zipFailure(QStringLiteral("não foi possível criar %1").arg(path)));
        return false;
    }
    zip_file_t* input = zip_fopen_index(archive, entry.index, 0);
    if (!input) {
        setError(error, zipFailure(QString::fromLocal8Bit(zip_strerror(archive))));
        return false;
    }
    QByteArray buffer(kReadChunkBytes, '\0');
    qint64 written = 0;
    bool ok = true;
    while (ok) {
        const zip_int64_t read = zip_fread(input, buffer.data(), static_cast<zip_uint64_t>(buffer.size()));
        if (read == 0)
            break;
        if (read < 0) {
            setError(error, zipFailure(QString::fromLocal8Bit(zip_file_strerror(input))));
            ok = false;
        } else if (read > entry.size - written) {
            setError(error,
                     QStringLiteral("Pacote com tamanho declarado incorreto: %1").arg(shownName(entry.name)));
            ok = false;
        } else if (output.write(buffer.constData(), read) != read) {
            setError(error, zipFailure(QStringLiteral("não foi possível gravar %1").arg(path)));
            ok = false;
        } else {
            written += read;
        }
    }
    const int closed = zip_fclose(input); // reports a checksum mismatch
    if (ok && closed != 0) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, closed);
        setError(error, zipFailure(QString::fromLocal8Bit(zip_error_strerror(&zipError))));
        zip_error_fini(&zipError);
        ok = false;
    }
    if (ok && written != entry.size) {
        setError(error,
                 QStringLiteral("Pacote com tamanho declarado incorreto: %1").arg(shownName(entry.name)));
        ok = false;
    }
    if (ok && (!output.flush() || output.error() != QFileDevice::NoError)) {
        setError(error, zipFailure(QStringLiteral("não foi possível gravar %1").arg(path)));
        ok = false;
    }
    output.close();
    if (ok && entry.executable)
        addExecuteBits(path);
    return ok;
}

// The archive's entries, every one checked against the limits before anything is unpacked.
bool listArchive(const ZipArchive& archive, const PackageLimits& limits, QList<Entry>* entries, qint64* total,
                 QString* error)
{
    if (!archive.get()) {
        setError(error, zipFailure(archive.openError()));
        return false;
    }
    return listEntries(archive.get(), limits, entries, total, error);
}

} // namespace

bool inspectZip(const QString& zipPath, PackageContents* contents, QString* error,
                const PackageLimits& limits)
{
    const ZipArchive archive(zipPath);
    QList<Entry> entries;
    qint64 total = 0;
    if (!listArchive(archive, limits, &entries, &total, error))
        return false;
    if (contents)
        *contents = PackageContents{entries.size(), total};
    return true;
}

bool extractZip(const QString& zipPath, const QString& destination, QString* error,
                const PackageLimits& limits)
{
    const ZipArchive archive(zipPath);
    QList<Entry> entries;
    qint64 total = 0;
    if (!listArchive(archive, limits, &entries, &total, error))
        return false;
    if (!QDir().mkpath(destination)) {
        setError(error, QStringLiteral("Não foi possível criar staging: %1").arg(destination));
        return false;
    }
    const QDir target(destination);
    for (const Entry& entry : std::as_const(entries)) {
        if (!extractEntry(archive.get(), entry, target, error))
            return false;
    }
    return true;
}

bool validateExtractedPackage(const QString& extractedRoot, QString* error)
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
        if (!QFileInfo::exists(path)) {
            setError(error, QStringLiteral("Pacote sem arquivo obrigatório: %1").arg(path));
            return false;
        }
    }
    for (const QString& name : {QStringLiteral("lib"), QStringLiteral("plugins")}) {
        const QString path = packagePath(extractedRoot, linuxFolder, name);
        if (!QFileInfo(path).isDir()) {
            setError(error, QStringLiteral("Pacote sem diretório obrigatório: %1").arg(path));
            return false;
        }
    }
    return true;
}

} // namespace Keldra::Deployment
