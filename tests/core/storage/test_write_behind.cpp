// Long writes that are handed to the drive and dropped from the cache as they
// go (WriteBehind) must still leave exactly the bytes written: in a plain
// file, and through import, export and compaction of files large enough for
// the cache to be dropped several times over.
#include "core/crypto/Sha256.h"
#include "core/storage/WriteBehind.h"
#include "core/vault/VaultManager.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Core;

namespace {

const QByteArray Password = QByteArrayLiteral("write-behind-password");
constexpr qint64 MiB = 1024 * 1024;

// A pattern that differs in every 256-byte stretch, so a dropped or misplaced piece shows.
QByteArray pattern(qint64 offset, qint64 length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (qint64 i = 0; i < length; ++i) {
        const quint64 at = quint64(offset + i);
        bytes[i] = char((at >> 8) * 2654435761u + at);
    }
    return bytes;
}

QByteArray fileDigest(const QString& path)
{
    QFile file(path);
    Sha256 hash;
    if (!file.open(QIODevice::ReadOnly))
        return {};
    while (!file.atEnd()) {
        if (!hash.addData(file.read(4 * MiB)))
            return {};
    }
    return hash.result();
}

QByteArray writePatternFile(const QString& path, qint64 size)
{
    QFile file(path);
    Sha256 hash;
    if (!file.open(QIODevice::WriteOnly))
        return {};
    for (qint64 done = 0; done < size; done += 8 * MiB) {
        const QByteArray piece = pattern(done, qMin(8 * MiB, size - done));
        if (file.write(piece) != piece.size() || !hash.addData(piece))
            return {};
    }
    return hash.result();
}

} // namespace

class TestWriteBehind : public QObject
{
    Q_OBJECT

private slots:
    void plainFileReadsBackExactly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stream.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        WriteBehind writeBehind(file.handle());
        // Odd piece sizes, so the settled ranges never fall on page boundaries.
        constexpr qint64 Piece = 256 * 1024 + 16;
        const qint64 total = 3 * WriteBehind::Window + 5 * Piece;
        Sha256 expected;
        for (qint64 done = 0; done < total; done += Piece) {
            const QByteArray piece = pattern(done, qMin(Piece, total - done));
            QCOMPARE(file.write(piece), piece.size());
            QVERIFY(writeBehind.written(done, piece.size()).ok());
            QVERIFY(expected.addData(piece));
        }
        file.close();
        QCOMPARE(QFileInfo(path).size(), total);
        QCOMPARE(fileDigest(path), expected.result());

        WriteBehind closed(-1); // nothing to hand on: never an error
        QVERIFY(closed.written(0, total).ok());
    }

    void largeFileThroughTheVault()
    {
        QTemporaryDir dir;
        const QString container = dir.filePath(QStringLiteral("keldra.kldr"));
        const QString source = dir.filePath(QStringLiteral("large.bin"));
        // Five blocks and a bit: the import, the export and the compaction's
        // copy each settle and drop the cache several times.
        const QByteArray digest = writePatternFile(source, 5 * VaultManager::BlockSize + 12345);
        QVERIFY(!digest.isEmpty());

        VaultManager vault;
        QVERIFY(vault.createVault(container, Password));
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(vault.importFile(source, QStringLiteral("first.bin")));
        QVERIFY(vault.importFile(source, QStringLiteral("second.bin")));
        QVERIFY(vault.deleteFile(QStringLiteral("first.bin")));
        QString preserved;
        QVERIFY(vault.compactVault({}, &preserved));
        QVERIFY(preserved.isEmpty());

        const QString exported = dir.filePath(QStringLiteral("exported.bin"));
        QVERIFY(vault.exportFile(QStringLiteral("second.bin"), exported));
        QCOMPARE(fileDigest(exported), digest);
        QVERIFY(vault.verifyFile(QStringLiteral("second.bin")));
        QVERIFY(vault.lockVault());
    }
};

QTEST_GUILESS_MAIN(TestWriteBehind)
#include "test_write_behind.moc"
