// Index changes write about the size of the header, not the 8 MiB region,
// and leave the region exactly as a full rewrite would: header, then zeros.
#include "core/format/ContainerFormat.h"
#include "core/storage/ContainerFaultInjector.h"
#include "core/vault/VaultManager.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Core;

namespace {

const QByteArray Password = QByteArrayLiteral("write-bounds-password");

qint64 headerLength(const QString& container)
{
    QFile file(container);
    if (!file.open(QIODevice::ReadOnly) || file.read(7) != "KELDRA3")
        return -1;
    return file.read(21).trimmed().toLongLong();
}

// The region as the format has it: "KELDRA3", 20 digits and a line feed,
// the header JSON, then nothing but zeros up to the payload.
bool regionIsCanonical(const QString& container)
{
    QFile file(container);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray region = file.read(ContainerFormat::PayloadStart);
    if (region.size() != ContainerFormat::PayloadStart || !region.startsWith("KELDRA3"))
        return false;
    const qint64 length = region.mid(7, 20).toLongLong();
    if (region.at(27) != '\n' || length < 1 || region.at(28) != '{' || region.at(28 + length - 1) != '}')
        return false;
    for (qint64 i = 28 + length; i < region.size(); ++i) {
        if (region.at(i) != '\0')
            return false;
    }
    return true;
}

} // namespace

class TestWriteBounds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void indexChangesWriteAboutTheHeader();
    void cleanupTestCase();

private:
    QTemporaryDir m_dir;
    VaultManager m_vault;
    QString m_container;
};

void TestWriteBounds::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    QVERIFY(m_vault.createVault(m_container, Password));
    QVERIFY(m_vault.unlockVault(m_container, Password));
    const QString source = m_dir.filePath(QStringLiteral("source.txt"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(QByteArray(300, 'k')) == 300);
    file.close();
    for (int i = 0; i < 60; ++i)
        QVERIFY(m_vault.importFile(source, QStringLiteral("docs/file-%1.txt").arg(i)));
}

void TestWriteBounds::indexChangesWriteAboutTheHeader()
{
    struct Change
    {
        const char* name;
        std::function<bool()> run;
    };
    const QList<Change> changes{
        {"rename",
         [this] {
             return m_vault.renameFile(QStringLiteral("docs/file-1.txt"), QStringLiteral("docs/r.txt"));
         }},
        {"new folder", [this] { return m_vault.createDirectory(QStringLiteral("docs/new")); }},
        {"delete", [this] { return m_vault.deleteFile(QStringLiteral("docs/file-2.txt")); }},
        {"move",
         [this] { return m_vault.moveFile(QStringLiteral("docs/file-3.txt"), QStringLiteral("docs/new")); }},
    };
    for (const Change& change : changes) {
        const qint64 before = headerLength(m_container);
        ContainerFaultInjector::arm(ContainerFaultInjector::Mode::Count, 0);
        const bool done = change.run();
        const qint64 written = ContainerFaultInjector::bytesWritten();
        ContainerFaultInjector::reset();
        QVERIFY2(done, change.name);
        const qint64 after = headerLength(m_container);
        // Journal (old and new bytes) plus the header itself, each at most
        // as long as the longer header; nowhere near the 8 MiB region.
        const qint64 bound = 3 * (qMax(before, after) + 21) + 4096;
        QVERIFY2(written > 0 && written <= bound, qPrintable(QStringLiteral("%1 wrote %2 bytes, header %3")
                                                                 .arg(QLatin1String(change.name))
                                                                 .arg(written)
                                                                 .arg(after)));
        QVERIFY2(regionIsCanonical(m_container), change.name);
    }
    // What was written is what a reader sees.
    VaultManager again;
    QVERIFY(again.unlockVault(m_container, Password));
    QCOMPARE(again.fileIndex().toJson(), m_vault.fileIndex().toJson());
    QVERIFY(again.lockVault());
}

void TestWriteBounds::cleanupTestCase()
{
    ContainerFaultInjector::reset();
    QVERIFY(m_vault.lockVault());
}

QTEST_GUILESS_MAIN(TestWriteBounds)
#include "test_write_bounds.moc"
