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

int compareNames(const QString& a, const QString& b)
{
    return QString::compare(VaultPath::baseName(a), VaultPath::baseName(b), Qt::CaseInsensitive);
}

int compareDates(const QDateTime& a, const QDateTime& b)
{
    if (a < b)
        return -1;
    return b < a ? 1 : 0;
}

template <typename Row, typename Compare>
void stableSortRows(QList<Row>& rows, Qt::SortOrder order, Compare compare)
{
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        const int result = compare(a, b);
        return order == Qt::AscendingOrder ? result < 0 : result > 0;
    });
}

} // namespace

QString formatFileDate(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QString();
    return QLocale().toString(dateTime.toLocalTime(), QStringLiteral("dd/MM/yyyy HH:mm"));
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

int compareFileRows(const Core::VaultFileEntry& a, const Core::VaultFileEntry& b, int column)
{
    int result = 0;
    switch (column) {
    case 2:
        result = a.sizeBytes < b.sizeBytes ? -1 : (a.sizeBytes > b.sizeBytes ? 1 : 0);
        break;
    case 3:
        result =
            QString::compare(fileTypeLabel(a.vaultPath), fileTypeLabel(b.vaultPath), Qt::CaseInsensitive);
        break;
    case 4:
        result = compareDates(a.lastModifiedUtc, b.lastModifiedUtc);
        break;
    default:
        break;
    }
    return result != 0 ? result : compareNames(a.vaultPath, b.vaultPath);
}

int compareDirectoryRows(const Core::VaultDirectoryEntry& a, const Core::VaultDirectoryEntry& b, int column)
{
    if (column == 4) {
        const int result = compareDates(a.modifiedUtc, b.modifiedUtc);
        if (result != 0)
            return result;
    }
    return compareNames(a.path, b.path);
}

void sortVaultRows(QList<Core::VaultFileEntry>& rows, int column, Qt::SortOrder order)
{
    stableSortRows(rows, order, [column](const Core::VaultFileEntry& a, const Core::VaultFileEntry& b) {
        return compareFileRows(a, b, column);
    });
}

void sortVaultRows(QList<Core::VaultDirectoryEntry>& rows, int column, Qt::SortOrder order)
{
    stableSortRows(rows, order,
                   [column](const Core::VaultDirectoryEntry& a, const Core::VaultDirectoryEntry& b) {
                       return compareDirectoryRows(a, b, column);
                   });
}

} // namespace Keldra::UI
