// Which index records cannot be right, found without a key or a read of the payload.
#include "core/format/ContainerFormat.h"
#include "core/vault/IndexCheck.h"
#include "core/vault/VaultManager.h"

#include <QtTest>

using namespace Keldra::Core;

namespace {

constexpr qint64 Start = ContainerFormat::PayloadStart;
constexpr qint64 End = Start + 10000;

VaultFileBlock block(qint64 offset, qint64 plainSize)
{
    return VaultFileBlock{offset, plainSize, plainSize + CryptoManager::TagSize, QByteArray(24, 'n')};
}

VaultFileEntry file(const QString& path, const QList<VaultFileBlock>& blocks, qint64 extra = 0)
{
    VaultFileEntry entry;
    entry.vaultPath = path;
    entry.blocks = blocks;
    for (const VaultFileBlock& b : blocks)
        entry.sizeBytes += b.plainSize;
    entry.sizeBytes += extra;
    return entry;
}

} // namespace

class TestIndexCheck : public QObject
{
    Q_OBJECT

private slots:
    void recordsThatCannotBeRight()
    {
        SecureFileIndex index;
        index.addOrReplace(file("sound", {block(Start, 84), block(Start + 100, 4)})); // back to back
        index.addOrReplace(file("empty", {}));
        index.addOrReplace(file("after", {block(Start + 120, 10)}));
        // A chain of partial overlaps: every file in it is suspect, the next one is not.
        index.addOrReplace(file("a", {block(Start + 1000, 100)}));
        index.addOrReplace(file("b", {block(Start + 1110, 100)}));
        index.addOrReplace(file("c", {block(Start + 1220, 100)}));
        index.addOrReplace(file("next", {block(Start + 1336, 10)}));
        index.addOrReplace(file("self", {block(Start + 2000, 10), block(Start + 2000, 10)}));
        index.addOrReplace(file("miscount", {block(Start + 3000, 10)}, 1));
        index.addOrReplace(file("header", {block(Start - 16, 10)}));
        index.addOrReplace(file("beyond", {block(End - 25, 10)}));
        index.addOrReplace(file("last byte", {block(End - 26, 10)}));
        VaultFileBlock tag = block(Start + 4000, 10);
        tag.encryptedSize = 10;
        index.addOrReplace(file("tag", {tag}));
        index.addOrReplace(file("huge", {block(Start + 5000, VaultManager::BlockSize + 1)}));
        index.addOrReplace(file("negative", {block(Start + 6000, -16)}));

        const QSet<QString> expected{"a",      "b",      "c",   "self", "miscount",
                                     "header", "beyond", "tag", "huge", "negative"};
        QCOMPARE(IndexCheck::damagedFiles(index, Start, End), expected);
        QVERIFY(IndexCheck::damagedFiles(SecureFileIndex(), Start, End).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIndexCheck)
#include "test_index_check.moc"
