// Keys and lifecycle: creation, unlocking, header tampering, password
// change, legacy key derivation and the workspace failure at unlock.
// Argon2id runs for real, so each case keeps its derivations few.

#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/crypto/CryptoManager.h"
#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"
#include "core/vault/VaultManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

namespace {

const QByteArray Password = QByteArrayLiteral("senha muito secreta");

QByteArray payloadArea(const QString& container)
{
    return readFile(container).mid(static_cast<int>(ContainerFormat::PayloadStart));
}

} // namespace

class VaultKeysTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void newContainerHeader();
    void refusedCreationWritesNothing();
    void wrongPasswordLeavesLocked();
    void headerTamperingBlocksUnlock_data();
    void headerTamperingBlocksUnlock();
    void passwordChangeKeepsIndexAndPayload();
    void legacyContainerReadableAndConverted();
    void absurdLegacyIterationCountIsRefusedAtOnce();
    void unpreparableWorkspaceLeavesLocked();

private:
    QString copyOfContainer(const QString& name);

    QTemporaryDir m_dir;
    QString m_container;
    QByteArray m_freshContainer;
};

void VaultKeysTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    VaultManager vault;
    QVERIFY(vault.createVault(m_container, Password));
    QCOMPARE(vault.state(), VaultState::Locked);
    QCOMPARE(vault.containerPath(), m_container);
    m_freshContainer = readFile(m_container);

    QVERIFY(vault.unlockVault(m_container, Password));
    QVERIFY(vault.fileIndex().entries().isEmpty());
    QVERIFY(vault.fileIndex().directories().isEmpty());
    // A password change needs the vault locked.
    QVERIFY(!vault.changePassword(m_container, Password, QByteArrayLiteral("another password")));
    QVERIFY(!vault.createVault(m_dir.filePath(QStringLiteral("other.kldr")), Password));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("other.kldr"))));

    const QString source = m_dir.filePath(QStringLiteral("a.txt"));
    QVERIFY(writeFile(source, patternBytes(3000, 1)));
    QVERIFY(vault.importFile(source, QStringLiteral("Docs/a.txt")));
    QVERIFY(vault.lockVault());
    QCOMPARE(vault.state(), VaultState::Locked);
}

void VaultKeysTest::newContainerHeader()
{
    QCOMPARE(qint64(m_freshContainer.size()), ContainerFormat::PayloadStart);
    QVERIFY(m_freshContainer.startsWith("KELDRA3"));

    const QString path = m_dir.filePath(QStringLiteral("fresh.kldr"));
    QVERIFY(writeFile(path, m_freshContainer));
    ContainerDocument document;
    QVERIFY(ContainerManager().readDocument(path, &document).ok());
    QCOMPARE(document.formatVersion, 3);
    QCOMPARE(document.crypto.kdf, QStringLiteral("Argon2id"));
    QCOMPARE(document.crypto.cipher, QStringLiteral("XChaCha20-Poly1305"));
    QCOMPARE(document.crypto.kdfIterations, 0);
    QVERIFY(document.crypto.authTag.isEmpty());
    QCOMPARE(document.crypto.salt.size(), 16);
    QCOMPARE(document.crypto.nonce.size(), 24);
    QCOMPARE(document.crypto.payloadNonce.size(), 24);
    QCOMPARE(document.crypto.encryptedMasterKey.size(), 80);
    QVERIFY(document.crypto.nonce != document.crypto.payloadNonce);
    // Index: the JSON of an empty index plus the tag.
    QCOMPARE(document.encryptedIndex.size(), SecureFileIndex().toJson().size() + 16);
}

void VaultKeysTest::refusedCreationWritesNothing()
{
    VaultManager vault;
    const QString path = m_dir.filePath(QStringLiteral("empty-password.kldr"));
    QVERIFY(!vault.createVault(path, QByteArray()));
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(!vault.unlockVault(m_container, QByteArray()));
    QVERIFY(!vault.unlockVault(m_dir.filePath(QStringLiteral("missing.kldr")), Password));
    QCOMPARE(vault.lastError().reason(), Error::Reason::ContainerUnavailable);
    const QString notAContainer = m_dir.filePath(QStringLiteral("notes.kldr"));
    QVERIFY(writeFile(notAContainer, "KELDRA3 is how it starts, but this is a note"));
    QVERIFY(!vault.unlockVault(notAContainer, Password));
    QCOMPARE(vault.lastError().reason(), Error::Reason::DamagedContainer);
    QCOMPARE(vault.state(), VaultState::Locked);
}

void VaultKeysTest::wrongPasswordLeavesLocked()
{
    VaultManager vault;
    QVERIFY(!vault.unlockVault(m_container, QByteArrayLiteral("wrong password!")));
    QCOMPARE(vault.lastError().reason(), Error::Reason::WrongPassword);
    QCOMPARE(vault.state(), VaultState::Locked);
    QVERIFY(!vault.exportFile(QStringLiteral("Docs/a.txt"), m_dir.filePath(QStringLiteral("leak"))));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("leak"))));
}

QString VaultKeysTest::copyOfContainer(const QString& name)
{
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    if (!QFile::copy(m_container, path))
        return QString();
    return path;
}

void VaultKeysTest::headerTamperingBlocksUnlock_data()
{
    // A field bound into the wrapped key reads as a wrong password (the tag
    // cannot tell them apart); once the key opens, a bad index is damage.
    QTest::addColumn<QString>("field");
    QTest::addColumn<Error::Reason>("reason");
    const auto wrong = Error::Reason::WrongPassword;
    const auto damaged = Error::Reason::DamagedContainer;
    QTest::newRow("kdf") << QStringLiteral("kdf") << damaged; // a key derivation with no iterations
    QTest::newRow("cipher") << QStringLiteral("cipher") << wrong;
    QTest::newRow("kdfIterations") << QStringLiteral("kdfIterations") << wrong;
    QTest::newRow("salt") << QStringLiteral("salt") << wrong;
    QTest::newRow("nonce") << QStringLiteral("nonce") << wrong;
    QTest::newRow("payloadNonce") << QStringLiteral("payloadNonce") << damaged;
    QTest::newRow("encryptedIndex") << QStringLiteral("encryptedIndex") << damaged;
}

void VaultKeysTest::headerTamperingBlocksUnlock()
{
    QFETCH(QString, field);
    QFETCH(Error::Reason, reason);
    const QString path = copyOfContainer(QStringLiteral("tampered-%1.kldr").arg(field));
    QVERIFY(!path.isEmpty());
    ContainerManager containers;
    ContainerDocument document;
    QVERIFY(containers.readDocument(path, &document).ok());
    const auto flip = [](QByteArray& bytes) { bytes[0] = static_cast<char>(bytes.at(0) ^ 1); };
    if (field == QLatin1String("kdf"))
        document.crypto.kdf = QStringLiteral("argon2id");
    else if (field == QLatin1String("cipher"))
        document.crypto.cipher = QStringLiteral("XChaCha20-Poly1305x");
    else if (field == QLatin1String("kdfIterations"))
        document.crypto.kdfIterations = 1; // Argon2id ignores it, the key is bound to it all the same
    else if (field == QLatin1String("salt"))
        flip(document.crypto.salt);
    else if (field == QLatin1String("nonce"))
        flip(document.crypto.nonce);
    else if (field == QLatin1String("payloadNonce"))
        flip(document.crypto.payloadNonce);
    else
        flip(document.encryptedIndex);
    QVERIFY(containers.updateDocumentHeader(path, document).ok());

    VaultManager vault;
    QVERIFY(!vault.unlockVault(path, Password));
    QCOMPARE(vault.lastError().reason(), reason);
    QCOMPARE(vault.state(), VaultState::Locked);
    QVERIFY(vault.fileIndex().entries().isEmpty());
}

void VaultKeysTest::passwordChangeKeepsIndexAndPayload()
{
    const QString path = copyOfContainer(QStringLiteral("rekeyed.kldr"));
    const QByteArray newPassword = QByteArrayLiteral("uma nova senha longa");
    ContainerManager containers;
    ContainerDocument before;
    QVERIFY(containers.readDocument(path, &before).ok());
    const QByteArray payloadBefore = payloadArea(path);
    QVERIFY(!payloadBefore.isEmpty());

    VaultManager vault;
    QVERIFY(!vault.changePassword(path, QByteArrayLiteral("not the password"), newPassword));
    QCOMPARE(vault.lastError().reason(), Error::Reason::WrongPassword);
    QVERIFY(!vault.changePassword(path, Password, QByteArray()));
    QCOMPARE(readFile(path).left(1 << 16), readFile(m_container).left(1 << 16));

    QVERIFY(vault.changePassword(path, Password, newPassword));
    ContainerDocument after;
    QVERIFY(containers.readDocument(path, &after).ok());
    QCOMPARE(after.encryptedIndex, before.encryptedIndex);
    QCOMPARE(after.crypto.payloadNonce, before.crypto.payloadNonce);
    QCOMPARE(payloadArea(path), payloadBefore);
    QVERIFY(after.crypto.salt != before.crypto.salt);
    QVERIFY(after.crypto.nonce != before.crypto.nonce);
    QVERIFY(after.crypto.encryptedMasterKey != before.crypto.encryptedMasterKey);

    QVERIFY(!vault.unlockVault(path, Password));
    QVERIFY(vault.unlockVault(path, newPassword));
    const QString out = m_dir.filePath(QStringLiteral("rekeyed-a.txt"));
    QVERIFY(vault.exportFile(QStringLiteral("docs/A.TXT"), out));
    QCOMPARE(readFile(out), patternBytes(3000, 1));
    QVERIFY(vault.lockVault());
}

void VaultKeysTest::legacyContainerReadableAndConverted()
{
    // Built by hand, without VaultManager, the way an older writer did:
    // PBKDF2 key derivation and another spelling of the cipher name.
    const QString kdf = QStringLiteral("PBKDF2-HMAC-SHA256");
    const QString cipher = QStringLiteral("xchacha20poly1305-ietf");
    const int iterations = 2000;
    CryptoManager crypto;
    ContainerDocument document;
    document.crypto.kdf = kdf;
    document.crypto.cipher = cipher;
    document.crypto.kdfIterations = iterations;
    document.crypto.salt = crypto.generateSalt(16);
    document.crypto.nonce = crypto.generateNonce(24);
    document.crypto.payloadNonce = crypto.generateNonce(24);
    const QByteArray masterKey = crypto.generateSalt(64);
    const QByteArray fileKey = masterKey.left(32);

    KeyDerivationParams params;
    params.algorithm = kdf;
    params.salt = document.crypto.salt;
    params.iterations = iterations;
    params.keyLength = 64;
    const QByteArray derived = crypto.deriveKey(Password, params);
    QCOMPARE(derived.size(), 64);
    const QByteArray masterData = "KELDRA|master-key|3|" + cipher.toUtf8() + '|' + kdf.toUtf8() + '|' +
                                  QByteArray::number(iterations) + '|' + document.crypto.salt + '|' +
                                  document.crypto.nonce;
    document.crypto.encryptedMasterKey =
        crypto.encrypt(masterKey, derived.left(32), document.crypto.nonce, masterData);

    const QByteArray content = "content written by an older version";
    VaultFileBlock block;
    block.offset = ContainerFormat::PayloadStart;
    block.plainSize = content.size();
    block.nonce = crypto.generateNonce(24);
    const QByteArray cipherText = crypto.encrypt(content, fileKey, block.nonce, "KELDRA|file-block|3");
    block.encryptedSize = cipherText.size();
    VaultFileEntry entry;
    entry.id = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
    entry.vaultPath = QStringLiteral("Old/file.txt");
    entry.sizeBytes = content.size();
    entry.lastModifiedUtc = QDateTime::currentDateTimeUtc();
    entry.sha256 = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
    entry.blocks = {block};
    SecureFileIndex index;
    QVERIFY(index.addOrReplace(entry));
    const QByteArray indexData = "KELDRA|index|3|" + cipher.toUtf8() + '|' + document.crypto.payloadNonce;
    document.encryptedIndex =
        crypto.encrypt(index.toJson(), fileKey, document.crypto.payloadNonce, indexData);

    const QString path = m_dir.filePath(QStringLiteral("legacy.kldr"));
    QVERIFY(
        ContainerManager()
            .writeDocument(path, document,
                           [&](QIODevice* output) { return output->write(cipherText) == cipherText.size(); })
            .ok());

    VaultManager vault;
    QVERIFY(vault.unlockVault(path, Password));
    const QString out = m_dir.filePath(QStringLiteral("legacy-out.txt"));
    QVERIFY(vault.exportFile(QStringLiteral("Old/file.txt"), out));
    QCOMPARE(readFile(out), content);
    QVERIFY(vault.lockVault());

    const QByteArray newPassword = QByteArrayLiteral("convertida para argon");
    QVERIFY(vault.changePassword(path, Password, newPassword));
    ContainerDocument converted;
    QVERIFY(ContainerManager().readDocument(path, &converted).ok());
    QCOMPARE(converted.crypto.kdf, QStringLiteral("Argon2id"));
    QCOMPARE(converted.crypto.kdfIterations, 0);
    QCOMPARE(converted.crypto.cipher, QStringLiteral("XChaCha20-Poly1305"));

    // The index stays readable under the new cipher name.
    QVERIFY(vault.unlockVault(path, newPassword));
    QVERIFY(vault.verifyFile(QStringLiteral("Old/file.txt")));
    QVERIFY(QFile::remove(out));
    QVERIFY(vault.exportFile(QStringLiteral("Old/file.txt"), out));
    QCOMPARE(readFile(out), content);
    QVERIFY(vault.lockVault());
}

void VaultKeysTest::absurdLegacyIterationCountIsRefusedAtOnce()
{
    // Anyone can write such a header without knowing a password; deriving
    // with it would keep the unlock busy for hours.
    CryptoManager crypto;
    ContainerDocument document;
    document.crypto.kdf = QStringLiteral("PBKDF2");
    document.crypto.cipher = QStringLiteral("XChaCha20-Poly1305");
    document.crypto.kdfIterations = 2147483647;
    document.crypto.salt = crypto.generateSalt(16);
    document.crypto.nonce = crypto.generateNonce(24);
    document.crypto.payloadNonce = crypto.generateNonce(24);
    document.crypto.encryptedMasterKey = crypto.generateSalt(80);
    document.encryptedIndex = crypto.generateSalt(64);
    const QString path = m_dir.filePath(QStringLiteral("slow.kldr"));
    QVERIFY(ContainerManager().writeDocument(path, document).ok());

    VaultManager vault;
    QVERIFY(!vault.unlockVault(path, Password));
    QCOMPARE(vault.lastError().reason(), Error::Reason::DamagedContainer);
    QVERIFY(!vault.changePassword(path, Password, "another long password"));
    QCOMPARE(vault.lastError().reason(), Error::Reason::DamagedContainer);
}

void VaultKeysTest::unpreparableWorkspaceLeavesLocked()
{
    // A temporary location below a regular file: no folder can be made there.
    const QString blocker = m_dir.filePath(QStringLiteral("not-a-folder"));
    QVERIFY(writeFile(blocker, "x"));
    auto location = std::make_unique<TempLocationOverride>(blocker);
    VaultManager vault; // takes its workspace location when made
    location.reset();

    QVERIFY(!vault.unlockVault(m_container, Password));
    QCOMPARE(vault.lastError().reason(), Error::Reason::WorkspaceUnavailable);
    QCOMPARE(vault.state(), VaultState::Locked);
    QVERIFY(vault.fileIndex().entries().isEmpty());
    QVERIFY(!vault.exportFile(QStringLiteral("Docs/a.txt"),
                              m_dir.filePath(QStringLiteral("after-failed-unlock"))));
}

QTEST_GUILESS_MAIN(VaultKeysTest)
#include "test_vault_keys.moc"
