#include "ui/VaultBrowserRows.h"

#include "core/vault/VaultPath.h"
#include "ui/VaultBrowserUtils.h"

#include <QApplication>
#include <QColor>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QTimeZone>

#include <algorithm>

namespace Keldra::UI {

using Core::VaultPath;

namespace {

QFileIconProvider& iconProvider()
{
    // Created on first use and kept: the provider caches desktop icon lookups.
    static QFileIconProvider* provider = new QFileIconProvider;
    return *provider;
}

struct Badge
{
    const char* text;
    const char* colour;
};

// Badges for the file types people keep in a vault most often.
bool badgeForSuffix(const QString& suffix, Badge* badge)
{
    static const struct
    {
        QStringList suffixes;
        Badge badge;
    } table[] = {
        {{QStringLiteral("pem"), QStringLiteral("key")}, {"KEY", "#1f735c"}},
        {{QStringLiteral("sig"), QStringLiteral("asc")}, {"SIG", "#7050a0"}},
        {{QStringLiteral("crt"), QStringLiteral("cer"), QStringLiteral("csr")}, {"CRT", "#b87118"}},
        {{QStringLiteral("encrypted")}, {"ENC", "#455c7a"}},
        {{QStringLiteral("txt"), QStringLiteral("log")}, {"TXT", "#5a5a5a"}},
        {{QStringLiteral("mp3"), QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("ogg"),
          QStringLiteral("m4a")},
         {"AUD", "#2563b4"}},
        {{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("gif"),
          QStringLiteral("bmp"), QStringLiteral("webp")},
         {"IMG", "#1f848d"}},
    };
    for (const auto& row : table) {
        if (row.suffixes.contains(suffix)) {
            *badge = row.badge;
            return true;
        }
    }
    return false;
}

QIcon badgeIcon(const Badge& badge)
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(QPen(QColor(QStringLiteral("#acacac")), 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(4, 1.5, 14, 18.5), 1.5, 1.5);

    QPainterPath fold;
    fold.moveTo(14, 1.5);
    fold.lineTo(18, 5.5);
    fold.lineTo(14, 5.5);
    fold.closeSubpath();
    painter.setPen(QPen(QColor(QStringLiteral("#bebebe")), 1));
    painter.setBrush(QColor(QStringLiteral("#ededed")));
    painter.drawPath(fold);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QString::fromLatin1(badge.colour)));
    painter.drawRoundedRect(QRectF(2.5, 11, 17, 8.5), 1.8, 1.8);

    QFont font = QApplication::font();
    font.setWeight(QFont::Bold);
    font.setPixelSize(6);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(2.5, 10.6, 17, 8.8), Qt::AlignCenter, QString::fromLatin1(badge.text));
    painter.end();
    return QIcon(pixmap);
}

int compareDates(const QDateTime& a, const QDateTime& b)
{
    if (a < b)
        return -1;
    return b < a ? 1 : 0;
}

} // namespace

QString formatFileDate(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QString();
    // A folder of thousands of files formats thousands of dates: the zone is
    // looked up once (not again for each conversion, as toLocalTime() does),
    // and "dd/MM/yyyy HH:mm" is written digit by digit rather than parsed as
    // a format for every row. Together they took most of a listing's time.
    static const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime local = dateTime.toUTC().addSecs(zone.offsetFromUtc(dateTime));
    const QDate date = local.date();
    const QTime time = local.time();
    if (date.year() < 1 || date.year() > 9999)
        return QLocale().toString(dateTime.toLocalTime(), QStringLiteral("dd/MM/yyyy HH:mm"));
    QString text(16, QLatin1Char('/'));
    const auto put = [&text](qsizetype at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = QLatin1Char(char('0' + value % 10));
    };
    put(0, date.day(), 2);
    put(3, date.month(), 2);
    put(6, date.year(), 4);
    text[10] = QLatin1Char(' ');
    put(11, time.hour(), 2);
    text[13] = QLatin1Char(':');
    put(14, time.minute(), 2);
    return text;
}

QString fileTypeLabel(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? QStringLiteral("Arquivo") : suffix.toUpper();
}

QIcon vaultItemIcon(VaultTableItemKind kind, const QString& path)
{
    switch (kind) {
    case VaultTableItemKind::ParentDirectory:
        return QApplication::style()->standardIcon(QStyle::SP_ArrowUp);
    case VaultTableItemKind::Directory: {
        static const QIcon folder = iconProvider().icon(QAbstractFileIconProvider::Folder);
        return folder;
    }
    case VaultTableItemKind::File:
        break;
    }
    // One icon per type, made once: a folder of thousands of files would
    // otherwise paint a badge or ask the desktop for every row.
    static QHash<QString, QIcon> bySuffix;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const auto known = bySuffix.constFind(suffix);
    if (known != bySuffix.constEnd())
        return *known;
    QIcon icon;
    Badge badge{};
    if (badgeForSuffix(suffix, &badge)) {
        icon = badgeIcon(badge);
    } else if (!suffix.isEmpty()) {
        icon = iconProvider().icon(QFileInfo(QStringLiteral("keldra-placeholder.%1").arg(suffix)));
    }
    // Desktops without an icon theme know no icon for most types.
    if (icon.isNull())
        icon = iconProvider().icon(QAbstractFileIconProvider::File);
    bySuffix.insert(suffix, icon);
    return icon;
}

namespace {

// Sorts rows by keys worked out once per row: a folder of thousands of files
// would otherwise cut the names out of their paths for every comparison.
template <typename Row, typename Key, typename MakeKey, typename Compare>
void sortByKeys(QList<Row>& rows, Qt::SortOrder order, MakeKey makeKey, Compare compare)
{
    std::vector<std::pair<Key, qsizetype>> keyed;
    keyed.reserve(size_t(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i)
        keyed.emplace_back(makeKey(rows.at(i)), i);
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        const int result = compare(a.first, b.first);
        return order == Qt::AscendingOrder ? result < 0 : result > 0;
    });
    QList<Row> sorted;
    sorted.reserve(rows.size());
    for (const auto& entry : keyed)
        sorted.append(std::move(rows[entry.second]));
    rows = std::move(sorted);
}

struct RowKey
{
    QString name;
    QString type;
    qint64 size = 0;
    QDateTime date;
};

int compareKeys(const RowKey& a, const RowKey& b, int column)
{
    int result = 0;
    switch (column) {
    case 2:
        result = a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
        break;
    case 3:
        result = QString::compare(a.type, b.type, Qt::CaseInsensitive);
        break;
    case 4:
        result = compareDates(a.date, b.date);
        break;
    default:
        break;
    }
    return result != 0 ? result : QString::compare(a.name, b.name, Qt::CaseInsensitive);
}

} // namespace

void sortVaultRows(QList<Core::VaultFileEntry>& rows, int column, Qt::SortOrder order)
{
    sortByKeys<Core::VaultFileEntry, RowKey>(
        rows, order,
        [column](const Core::VaultFileEntry& row) {
            return RowKey{VaultPath::baseName(row.vaultPath),
                          column == 3 ? fileTypeLabel(row.vaultPath) : QString(), row.sizeBytes,
                          row.lastModifiedUtc};
        },
        [column](const RowKey& a, const RowKey& b) { return compareKeys(a, b, column); });
}

void sortVaultRows(QList<Core::VaultDirectoryEntry>& rows, int column, Qt::SortOrder order)
{
    // Folders have no size or type: only the date column orders them otherwise than by name.
    const int folderColumn = column == 4 ? 4 : 1;
    sortByKeys<Core::VaultDirectoryEntry, RowKey>(
        rows, order,
        [](const Core::VaultDirectoryEntry& row) {
            return RowKey{VaultPath::baseName(row.path), QString(), 0, row.modifiedUtc};
        },
        [folderColumn](const RowKey& a, const RowKey& b) { return compareKeys(a, b, folderColumn); });
}

} // namespace Keldra::UI
