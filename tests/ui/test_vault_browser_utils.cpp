#include "ui/ProgramDrive.h"
#include "ui/VaultBrowserRows.h"
#include "ui/VaultBrowserUtils.h"

#include <QFileInfo>
#include <QLocale>
#include <QTest>

using namespace Keldra::UI;
using Keldra::Core::VaultDirectoryEntry;
using Keldra::Core::VaultFileEntry;

namespace {

VaultFileEntry file(const QString& path, qint64 size = 0, const QDateTime& modified = QDateTime())
{
    VaultFileEntry entry;
    entry.vaultPath = path;
    entry.sizeBytes = size;
    entry.lastModifiedUtc = modified;
    return entry;
}

VaultDirectoryEntry folder(const QString& path, const QDateTime& modified = QDateTime())
{
    VaultDirectoryEntry entry;
    entry.path = path;
    entry.modifiedUtc = modified;
    return entry;
}

QStringList paths(const QList<VaultFileEntry>& rows)
{
    QStringList result;
    for (const VaultFileEntry& row : rows)
        result << row.vaultPath;
    return result;
}

QStringList paths(const QList<VaultDirectoryEntry>& rows)
{
    QStringList result;
    for (const VaultDirectoryEntry& row : rows)
        result << row.path;
    return result;
}

QDateTime at(int day)
{
    return QDateTime(QDate(2024, 3, day), QTime(12, 0), Qt::UTC);
}

} // namespace

class TestVaultBrowserUtils : public QObject
{
    Q_OBJECT

private slots:
    void directoryPathsGetExactlyOneTrailingSlash()
    {
        QCOMPARE(normalizeDirectoryPath(QStringLiteral("/media/u/USB/")), QStringLiteral("/media/u/USB/"));
        QCOMPARE(normalizeDirectoryPath(QStringLiteral(" /media/u/USB ")), QStringLiteral("/media/u/USB/"));
        QCOMPARE(normalizeDirectoryPath(QStringLiteral("/media/u/USB///")), QStringLiteral("/media/u/USB/"));
        QCOMPARE(normalizeDirectoryPath(QStringLiteral("E:\\")), QStringLiteral("E:/"));
        QCOMPARE(normalizeDirectoryPath(QStringLiteral("/")), QStringLiteral("/"));
        // The trailing slash is what keeps USB1 from matching a path on USB10.
        QVERIFY(!normalizeDirectoryPath(QStringLiteral("/media/u/USB10"))
                     .startsWith(normalizeDirectoryPath(QStringLiteral("/media/u/USB1"))));
    }

    void initTestCase()
    {
#ifndef Q_OS_WIN
        // A zone with daylight saving time, before the first date is shown.
        qputenv("TZ", "Europe/Berlin");
#endif
    }

    void datesAreLocalAcrossDaylightSavingChanges()
    {
#ifndef Q_OS_WIN
        const QDateTime spring(QDate(2024, 3, 31), QTime(1, 0), Qt::UTC);
        QCOMPARE(formatFileDate(spring.addSecs(-60)), QStringLiteral("31/03/2024 01:59"));
        QCOMPARE(formatFileDate(spring), QStringLiteral("31/03/2024 03:00"));
        const QDateTime autumn(QDate(2024, 10, 27), QTime(1, 0), Qt::UTC);
        QCOMPARE(formatFileDate(autumn.addSecs(-60)), QStringLiteral("27/10/2024 02:59"));
        QCOMPARE(formatFileDate(autumn), QStringLiteral("27/10/2024 02:00"));
#endif
        // Whatever the zone, as Qt's own conversion to local time shows it.
        for (qint64 step = 0; step < 400; ++step) {
            const QDateTime when = QDateTime::fromSecsSinceEpoch(86400 + step * 2'000'003, Qt::UTC);
            QCOMPARE(formatFileDate(when),
                     QLocale().toString(when.toLocalTime(), QStringLiteral("dd/MM/yyyy HH:mm")));
        }
    }

    void typesAndDates()
    {
        QCOMPARE(fileTypeLabel(QStringLiteral("report.PDF")), QStringLiteral("PDF"));
        QCOMPARE(fileTypeLabel(QStringLiteral("docs/archive.tar.gz")), QStringLiteral("GZ"));
        QCOMPARE(fileTypeLabel(QStringLiteral("LEIAME")), QStringLiteral("Arquivo"));
        QCOMPARE(formatFileDate(QDateTime()), QString());
        QVERIFY(formatFileDate(at(5)).contains(QStringLiteral("/03/2024")));
    }

    void filesSortByEveryColumnStably()
    {
        const QList<VaultFileEntry> rows = {
            file(QStringLiteral("b.txt"), 30, at(3)), file(QStringLiteral("A.txt"), 10, at(2)),
            file(QStringLiteral("a.txt"), 10, at(2)), file(QStringLiteral("c.PDF"), 20, at(1)),
            file(QStringLiteral("LEIAME"), 5, at(4)),
        };
        auto sorted = [&](int column, Qt::SortOrder order) {
            QList<VaultFileEntry> copy = rows;
            sortVaultRows(copy, column, order);
            return paths(copy);
        };
        // Equal names keep the index order in both directions.
        QCOMPARE(sorted(1, Qt::AscendingOrder), QStringList({"A.txt", "a.txt", "b.txt", "c.PDF", "LEIAME"}));
        QCOMPARE(sorted(1, Qt::DescendingOrder), QStringList({"LEIAME", "c.PDF", "b.txt", "A.txt", "a.txt"}));
        QCOMPARE(sorted(2, Qt::AscendingOrder), QStringList({"LEIAME", "A.txt", "a.txt", "c.PDF", "b.txt"}));
        QCOMPARE(sorted(2, Qt::DescendingOrder), QStringList({"b.txt", "c.PDF", "A.txt", "a.txt", "LEIAME"}));
        // "Arquivo" < "PDF" < "TXT", ties broken by name.
        QCOMPARE(sorted(3, Qt::AscendingOrder), QStringList({"LEIAME", "c.PDF", "A.txt", "a.txt", "b.txt"}));
        QCOMPARE(sorted(4, Qt::AscendingOrder), QStringList({"c.PDF", "A.txt", "a.txt", "b.txt", "LEIAME"}));
        QCOMPARE(sorted(4, Qt::DescendingOrder), QStringList({"LEIAME", "b.txt", "A.txt", "a.txt", "c.PDF"}));
        // Unknown columns fall back to the name.
        QCOMPARE(sorted(7, Qt::AscendingOrder), sorted(1, Qt::AscendingOrder));
    }

    void foldersSortByNameExceptByDate()
    {
        const QList<VaultDirectoryEntry> rows = {
            folder(QStringLiteral("x/Beta"), at(1)),
            folder(QStringLiteral("x/alpha"), at(3)),
            folder(QStringLiteral("x/Gamma"), at(2)),
        };
        for (int column : {1, 2, 3}) {
            QList<VaultDirectoryEntry> copy = rows;
            sortVaultRows(copy, column, Qt::AscendingOrder);
            QCOMPARE(paths(copy), QStringList({"x/alpha", "x/Beta", "x/Gamma"}));
            sortVaultRows(copy, column, Qt::DescendingOrder);
            QCOMPARE(paths(copy), QStringList({"x/Gamma", "x/Beta", "x/alpha"}));
        }
        QList<VaultDirectoryEntry> copy = rows;
        sortVaultRows(copy, 4, Qt::AscendingOrder);
        QCOMPARE(paths(copy), QStringList({"x/Beta", "x/Gamma", "x/alpha"}));
    }

    void fileIconsDistinguishBadgesFromDesktopIcons()
    {
        const QImage badge =
            vaultItemIcon(VaultTableItemKind::File, QStringLiteral("photo.JPG")).pixmap(22, 22).toImage();
        QCOMPARE(badge.size(), QSize(22, 22));
        // One badge per kind of file, whatever the suffix's letter case.
        QCOMPARE(vaultItemIcon(VaultTableItemKind::File, QStringLiteral("b.png")).pixmap(22, 22).toImage(),
                 badge);
        const QImage key =
            vaultItemIcon(VaultTableItemKind::File, QStringLiteral("id.KEY")).pixmap(22, 22).toImage();
        QVERIFY(key != badge);
        // Types without a badge use the desktop's icons; they are never the badge sheet.
        const QIcon markdown = vaultItemIcon(VaultTableItemKind::File, QStringLiteral("notes.md"));
        QVERIFY(markdown.pixmap(22, 22).toImage() != badge);
        QVERIFY(!vaultItemIcon(VaultTableItemKind::ParentDirectory, QString()).isNull());
    }

    void programDriveRootNeedsTheBundleLayout()
    {
        // "/" here, or on Windows the current drive's root ("E:/"), which rooted paths resolve against.
        const QString root = QFileInfo(QStringLiteral("/")).absoluteFilePath();
        const QString usb = root + QStringLiteral("media/u/USB");
        QCOMPARE(programDriveRoot(QStringLiteral("/media/u/USB/Keldra/linux/Keldra")), usb);
        QCOMPARE(programDriveRoot(QStringLiteral("/media/u/USB/keldra/Windows/KELDRA.EXE")), usb);
        QCOMPARE(programDriveRoot(QStringLiteral("/Keldra/linux/Keldra")), root);
        QCOMPARE(programDriveRoot(QStringLiteral("/media/u/USB/Keldra/../Keldra/linux/Keldra")), usb);
        // Anything else is no drive: an installed or built program, a mixed-up layout.
        for (const char* path : {"", "/usr/bin/Keldra", "/media/u/USB/Keldra/linux/Keldra.exe",
                                 "/media/u/USB/Keldra/windows/Keldra", "/media/u/USB/Outro/linux/Keldra",
                                 "/home/u/build/bin/Keldra"})
            QCOMPARE(programDriveRoot(QString::fromLatin1(path)), QString());
    }
};

QTEST_MAIN(TestVaultBrowserUtils)
#include "test_vault_browser_utils.moc"
