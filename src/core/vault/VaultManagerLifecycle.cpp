// Keys and lifecycle of the vault: create, unlock, lock, password change,
// and the index encryption every other operation stores through.

#include "crypto/SecureMemory.h"
#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerLock.h"
#include "storage/ContainerRecovery.h"
#include "vault/CompactionCopy.h"
#include "vault/IndexCheck.h"
#include "vault/VaultChange.h"
#include "vault/VaultManager.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QMessageAuthenticationCode>

namespace Keldra::Core {

namespace {

const QByteArray Magic = QByteArrayLiteral("KELDRA");
const QByteArray PurposeMasterKey = QByteArrayLiteral("master-key");
const QByteArray PurposeIndex = QByteArrayLiteral("index");
const QByteArray PurposeFileBlock = QByteArrayLiteral("file-block");
const QString KdfArgon2id = QStringLiteral("Argon2id");
const QString CipherName = QStringLiteral("XChaCha20-Poly1305");
constexpr int SaltSize = 16;
constexpr int MasterKeySize = 64;
constexpr int SessionKeySize = 64;
// Legacy PBKDF2 headers were written with 250000 iterations. Far more is no
// header of ours: it would only keep the unlock busy for hours.
constexpr int MaxLegacyIterations = 2000000;

using Reason = Error::Reason;

// Header values that no password can open: an altered or cut header, not a wrong password.
Error checkKeyFields(const ContainerCryptoMetadata& crypto)
{
    const auto damaged = [](const char* why) { return Error(Reason::DamagedContainer, QLatin1String(why)); };
    if (crypto.encryptedMasterKey.size() < CryptoManager::KeySize + CryptoManager::TagSize)
        return damaged("wrapped master key missing or too short");
    if (crypto.nonce.size() != CryptoManager::NonceSize)
        return damaged("master key nonce of the wrong size");
    if (crypto.kdf == KdfArgon2id
            ? crypto.salt.size() < SaltSize
            : crypto.salt.isEmpty() || crypto.kdfIterations < 1 || crypto.kdfIterations > MaxLegacyIterations)
        return damaged("key derivation salt or iterations unusable");
    return Error();
}

// Every save writes a fresh nonce and a new encrypted index: a header saved
// by anyone else since we read it has another seal.
QByteArray indexSealOf(const ContainerDocument& document)
{
    Sha256 hash;
    if (!hash.addData(document.crypto.payloadNonce) || !hash.addData(document.encryptedIndex))
        return QByteArray();
    return hash.result();
}

// The fields that decide whether a password opens the wrapped master key.
bool sameKeyFields(const ContainerCryptoMetadata& a, const ContainerCryptoMetadata& b)
{
    return a.kdf == b.kdf && a.cipher == b.cipher && a.kdfIterations == b.kdfIterations && a.salt == b.salt &&
           a.nonce == b.nonce && a.encryptedMasterKey == b.encryptedMasterKey;
}

} // namespace

VaultManager::VaultManager() = default;

VaultManager::~VaultManager()
{
    // The window locks before it closes; this only makes sure no key
    // outlives the object.
    forgetMasterKey();
}

VaultState VaultManager::state() const
{
    return m_state;
}

QString VaultManager::containerPath() const
{
    return m_containerPath;
}

SecureFileIndex VaultManager::fileIndex() const
{
    return m_index;
}

QList<TrackedTempFile> VaultManager::modifiedOpenFiles() const
{
    return m_fileSync.modifiedFiles();
}

const Error& VaultManager::lastError() const
{
    return m_lastError;
}

bool VaultManager::finish(const Error& error) const
{
    m_lastError = error;
    return error.ok();
}

bool VaultManager::fail(const Error& error) const
{
    // A step that failed without saying why is still a failure.
    m_lastError =
        error.ok() ? Error(Error::Reason::Internal, QStringLiteral("failed without a reason")) : error;
    return false;
}

bool VaultManager::fail(Error::Reason reason, const QString& detail) const
{
    return fail(Error(reason, detail));
}

QByteArray VaultManager::associatedData(const ContainerDocument& document, const QByteArray& purpose)
{
    const char sep = '|';
    QByteArray data = Magic;
    data += sep;
    data += purpose;
    data += sep;
    data += QByteArray::number(document.formatVersion);
    if (purpose == PurposeFileBlock)
        return data;
    data += sep;
    data += document.crypto.cipher.toUtf8();
    if (purpose == PurposeMasterKey) {
        data += sep;
        data += document.crypto.kdf.toUtf8();
        data += sep;
        data += QByteArray::number(document.crypto.kdfIterations);
        data += sep;
        data += document.crypto.salt;
        data += sep;
        data += document.crypto.nonce;
        return data;
    }
    data += sep;
    data += document.crypto.payloadNonce;
    return data;
}

QByteArray VaultManager::deriveSessionKey(const QByteArray& password,
                                          const ContainerCryptoMetadata& crypto) const
{
    KeyDerivationParams params;
    params.algorithm = crypto.kdf;
    params.salt = crypto.salt;
    params.iterations = crypto.kdfIterations;
    params.keyLength = SessionKeySize;
    return m_cryptoManager.deriveKey(password, params);
}

QByteArray VaultManager::encryptMasterKey(const ContainerDocument& document, const QByteArray& password,
                                          const QByteArray& masterKey) const
{
    QByteArray derived = deriveSessionKey(password, document.crypto);
    const KeyWiper wiper(derived);
    if (derived.size() < CryptoManager::KeySize || masterKey.isEmpty())
        return QByteArray();
    return m_cryptoManager.encrypt(masterKey,
                                   QByteArray::fromRawData(derived.constData(), CryptoManager::KeySize),
                                   document.crypto.nonce, associatedData(document, PurposeMasterKey));
}

QByteArray VaultManager::decryptMasterKey(const ContainerDocument& document, const QByteArray& password) const
{
    QByteArray masterKey;
    (void)finish(unwrapMasterKey(document, password, &masterKey));
    return masterKey;
}

Error VaultManager::unwrapMasterKey(const ContainerDocument& document, const QByteArray& password,
                                    QByteArray* masterKey) const
{
    masterKey->clear();
    if (const Error fields = checkKeyFields(document.crypto); !fields.ok())
        return fields;
    QByteArray derived = deriveSessionKey(password, document.crypto);
    const KeyWiper wiper(derived);
    if (derived.size() < CryptoManager::KeySize)
        return Error(Reason::Internal, QStringLiteral("key derivation failed"));
    *masterKey = m_cryptoManager.decrypt(document.crypto.encryptedMasterKey,
                                         QByteArray::fromRawData(derived.constData(), CryptoManager::KeySize),
                                         document.crypto.nonce, associatedData(document, PurposeMasterKey));
    // The tag cannot tell a wrong password from an altered wrapped key or header field.
    if (masterKey->isEmpty())
        return Error(Reason::WrongPassword, QStringLiteral("master key does not open"));
    return Error();
}

QByteArray VaultManager::cipherKey() const
{
    if (m_masterKey.size() < CryptoManager::KeySize)
        return QByteArray();
    return QByteArray::fromRawData(m_masterKey.constData(), CryptoManager::KeySize);
}

void VaultManager::forgetMasterKey()
{
    wipe(m_masterKey);
    m_containerManager.setJournalKey(QByteArray());
}

QByteArray VaultManager::encryptIndex(const ContainerDocument& document, const SecureFileIndex& index) const
{
    const QByteArray key = cipherKey();
    if (key.isEmpty())
        return QByteArray();
    return m_cryptoManager.encrypt(index.toJson(), key, document.crypto.payloadNonce,
                                   associatedData(document, PurposeIndex));
}

bool VaultManager::decryptIndex(const ContainerDocument& document, SecureFileIndex* out) const
{
    return openIndex(document, out).ok();
}

Error VaultManager::openIndex(const ContainerDocument& document, SecureFileIndex* out) const
{
    const QByteArray key = cipherKey();
    if (!out || key.isEmpty())
        return Error(Reason::WrongState, QStringLiteral("no key"));
    if (document.encryptedIndex.isEmpty())
        return Error(Reason::DamagedContainer, QStringLiteral("no index"));
    QByteArray plain = m_cryptoManager.decrypt(document.encryptedIndex, key, document.crypto.payloadNonce,
                                               associatedData(document, PurposeIndex));
    const KeyWiper wiper(plain);
    if (plain.isEmpty())
        return Error(Reason::WrongPassword, QStringLiteral("index does not open under this key"));
    // It authenticated, so whoever sealed it had the key: still, an index
    // that does not read whole must never be taken as an empty vault, or the
    // next save would write that over every record.
    if (!SecureFileIndex::parseWhole(plain, out))
        return Error(Reason::DamagedContainer, QStringLiteral("index is not a readable index"));
    return Error();
}

bool VaultManager::indexOpensUnder(const ContainerDocument& document, const QByteArray& masterKey) const
{
    if (masterKey.size() < CryptoManager::KeySize || document.encryptedIndex.isEmpty())
        return false;
    QByteArray plain = m_cryptoManager.decrypt(
        document.encryptedIndex, QByteArray::fromRawData(masterKey.constData(), CryptoManager::KeySize),
        document.crypto.payloadNonce, associatedData(document, PurposeIndex));
    const KeyWiper wiper(plain);
    return !plain.isEmpty() && SecureFileIndex::parseWhole(plain, nullptr);
}

HeaderJournal::Verdict VaultManager::judgeJournal(const QString& path, const HeaderJournal::Pending& journal,
                                                  const QByteArray& masterKey, const QByteArray* password,
                                                  bool restoredOpens) const
{
    using Verdict = HeaderJournal::Verdict;
    if (HeaderJournal::hasMac(journal.bytes)) {
        QByteArray key = HeaderJournal::keyFor(masterKey);
        const KeyWiper wiper(key);
        return HeaderJournal::authenticates(journal.bytes, key) ? Verdict::Apply : Verdict::SetAside;
    }
    // A journal of an earlier version: anyone can write one. It is applied
    // only when the header it restores is this vault's and the header now on
    // the drive is not whole, so it can never replace or cut a sound vault.
    ContainerDocument restored;
    QBuffer head;
    head.setData(journal.restoredHead);
    if (!head.open(QIODevice::ReadOnly) || !m_containerManager.readDocument(&head, &restored).ok() ||
        !indexOpensUnder(restored, masterKey))
        return Verdict::SetAside;
    ContainerDocument current;
    if (!m_containerManager.readDocument(path, &current).ok())
        return Verdict::Apply;
    if (sameKeyFields(current.crypto, restored.crypto))
        return indexOpensUnder(current, masterKey) ? Verdict::SetAside : Verdict::Apply;
    // A password change, torn or complete: only the password tells which.
    if (!password)
        return Verdict::Leave;
    if (!restoredOpens)
        return Verdict::SetAside;
    QByteArray currentKey;
    const KeyWiper wiper(currentKey);
    const bool currentWhole = unwrapMasterKey(current, *password, &currentKey).ok() &&
                              currentKey == masterKey && indexOpensUnder(current, masterKey);
    return currentWhole ? Verdict::SetAside : Verdict::Apply;
}

Error VaultManager::readSettledDocument(const QString& path, ContainerDocument* document) const
{
    const QByteArray& masterKey = m_masterKey;
    const auto judge = [&](const HeaderJournal::Pending& journal) {
        return judgeJournal(path, journal, masterKey, nullptr, false);
    };
    if (const Error recovered = ContainerRecovery::recover(path, judge); !recovered.ok())
        return recovered;
    return m_containerManager.readDocument(path, document);
}

Error VaultManager::openSettledDocument(const QString& path, const QByteArray& password,
                                        ContainerDocument* document, QByteArray* masterKey) const
{
    using State = HeaderJournal::Pending::State;
    wipe(*masterKey);
    const HeaderJournal::Pending pending = HeaderJournal::inspect(path);
    ContainerDocument current;
    const Error currentRead = m_containerManager.readDocument(path, &current);
    ContainerDocument restored;
    bool hasRestored = false;
    if (pending.state == State::Applicable) {
        QBuffer head;
        head.setData(pending.restoredHead);
        hasRestored =
            head.open(QIODevice::ReadOnly) && m_containerManager.readDocument(&head, &restored).ok();
    }

    // The password is proven before anything in or beside the container changes:
    // against the header a torn change's journal would restore, then the one on the drive.
    Error opened = currentRead;
    ContainerDocument proven;
    bool restoredOpens = false;
    if (hasRestored) {
        opened = unwrapMasterKey(restored, password, masterKey);
        restoredOpens = opened.ok();
        if (restoredOpens)
            proven = restored;
    }
    if (!opened.ok() && currentRead.ok() &&
        !(hasRestored && sameKeyFields(current.crypto, restored.crypto))) {
        opened = unwrapMasterKey(current, password, masterKey);
        if (opened.ok())
            proven = current;
    }
    if (!opened.ok()) {
        wipe(*masterKey);
        return opened;
    }

    const QByteArray& key = *masterKey;
    const auto judge = [&](const HeaderJournal::Pending& journal) {
        // Judged on what was read before the password was proven, or not at all.
        if (journal.bytes != pending.bytes)
            return HeaderJournal::Verdict::Leave;
        return judgeJournal(path, journal, key, &password, restoredOpens);
    };
    Error settled = ContainerRecovery::recover(path, judge);
    // Only a journal rewrites the header, and none can appear while we hold
    // the lock: without one, the header read above is the one on the drive.
    if (settled.ok()) {
        if (pending.state == State::None && currentRead.ok())
            *document = current;
        else
            settled = m_containerManager.readDocument(path, document);
    }
    // The header now on the drive is the one the key must open; after a
    // password change rolled back or set aside it may be the other one.
    if (settled.ok() && !sameKeyFields(document->crypto, proven.crypto))
        settled = unwrapMasterKey(*document, password, masterKey);
    if (!settled.ok())
        wipe(*masterKey);
    return settled;
}

Error VaultManager::beginChange(const ContainerLock& lock, ContainerDocument* document)
{
    if (m_state != VaultState::Unlocked || m_containerPath.isEmpty())
        return Error(Reason::WrongState, QStringLiteral("not unlocked"));
    if (!lock.error().ok())
        return lock.error();
    if (const Error read = readSettledDocument(m_containerPath, document); !read.ok())
        return read;
    const QByteArray seal = indexSealOf(*document);
    if (!seal.isEmpty() && seal == m_indexSeal)
        return Error();
    // Another program saved since we read the index: build on its index, never
    // write ours over it.
    SecureFileIndex current;
    if (const Error opened = openIndex(*document, &current); !opened.ok()) {
        if (opened.is(Reason::DamagedContainer))
            return opened;
        return Error(Reason::VaultInUse, QStringLiteral("the container now holds an index we cannot open"));
    }
    adoptIndex(current, *document);
    return Error();
}

bool VaultManager::refreshIndex(bool* changed)
{
    const QByteArray sealBefore = m_indexSeal;
    const VaultChange change(*this);
    const bool ok = finish(change.error());
    if (changed)
        *changed = ok && m_indexSeal != sealBefore;
    return ok;
}

bool VaultManager::takeOverNewerIndex() const
{
    ContainerDocument document;
    if (m_state != VaultState::Unlocked || !m_containerManager.readDocument(m_containerPath, &document).ok())
        return false;
    const QByteArray seal = indexSealOf(document);
    SecureFileIndex current;
    if (seal.isEmpty() || seal == m_indexSeal || !decryptIndex(document, &current))
        return false;
    adoptIndex(current, document);
    return true;
}

void VaultManager::adoptIndex(const SecureFileIndex& index, const ContainerDocument& document) const
{
    m_index = index;
    m_indexSeal = indexSealOf(document);
    m_payloadStart = document.payloadOffset > 0 ? document.payloadOffset : ContainerFormat::PayloadStart;
    m_damaged = IndexCheck::damagedFiles(index, m_payloadStart, QFileInfo(m_containerPath).size());
}

bool VaultManager::isDamaged(const QString& storedPath) const
{
    return m_damaged.contains(storedPath);
}

Error VaultManager::storeIndex(ContainerDocument* document, const SecureFileIndex& newIndex,
                               qint64 sizeToRestore)
{
    ContainerDocument next = *document;
    next.fileIndex = newIndex;
    next.filePayloads.clear();
    next.encryptedPayload.clear();
    next.crypto.authTag.clear();
    // A fresh nonce for every save: the index is never encrypted twice
    // under the same nonce.
    next.crypto.payloadNonce = m_cryptoManager.generateNonce(next.crypto.nonce.size());
    next.encryptedIndex = encryptIndex(next, newIndex);
    if (next.encryptedIndex.isEmpty())
        return Error(Reason::Internal, QStringLiteral("index encryption failed"));
    const Error written = sizeToRestore >= 0
                              ? m_containerManager.updateDocumentHeader(m_containerPath, next, sizeToRestore)
                              : m_containerManager.updateDocumentHeader(m_containerPath, next);
    if (!written.ok())
        return written;
    *document = next;
    adoptIndex(newIndex, next);
    return Error();
}

bool VaultManager::createVault(const QString& path, const QByteArray& password)
{
    m_lastError = Error();
    if (m_state == VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("a vault is unlocked"));
    if (password.isEmpty())
        return fail(Reason::InvalidArgument, QStringLiteral("empty password"));
    // Not a fault of the drive: the chosen place does not exist.
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return fail(Reason::InvalidArgument, QStringLiteral("no such folder"));

    ContainerDocument document;
    document.formatVersion = 3;
    document.crypto.kdf = KdfArgon2id;
    document.crypto.cipher = CipherName;
    document.crypto.kdfIterations = 0;
    document.crypto.nonce = m_cryptoManager.generateNonce(CryptoManager::NonceSize);
    document.crypto.salt = m_cryptoManager.generateSalt(SaltSize);
    document.crypto.payloadNonce = m_cryptoManager.generateNonce(document.crypto.nonce.size());

    m_containerPath = path;
    m_index.clear();

    m_masterKey = m_cryptoManager.generateSalt(MasterKeySize);
    document.crypto.encryptedMasterKey = encryptMasterKey(document, password, m_masterKey);
    if (document.crypto.encryptedMasterKey.isEmpty()) {
        forgetMasterKey();
        return fail(Reason::Internal, QStringLiteral("master key wrapping failed"));
    }
    document.encryptedIndex = encryptIndex(document, SecureFileIndex());
    forgetMasterKey();
    if (document.encryptedIndex.isEmpty())
        return fail(Reason::Internal, QStringLiteral("index encryption failed"));

    m_state = VaultState::Locked;
    // A journal beside an earlier container at this path belongs to that one:
    // set it aside now so that it can never be applied to the new vault.
    const auto setAside = [](const HeaderJournal::Pending&) { return HeaderJournal::Verdict::SetAside; };
    if (const Error recovered = ContainerRecovery::recover(path, setAside); !recovered.ok())
        return fail(recovered);
    return finish(m_containerManager.writeDocument(path, document));
}

bool VaultManager::unlockVault(const QString& path, const QByteArray& password)
{
    m_lastError = Error();
    m_restoredFromCompactionCopy = false;
    // Unlocking over an open vault would drop its key and editing copies.
    if (m_state == VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("already unlocked"));
    if (password.isEmpty())
        return fail(Reason::InvalidArgument, QStringLiteral("empty password"));

    // A change torn by a crash or a pulled drive is rolled back before anything
    // is read; a header another program is rewriting right now is not read at all.
    ContainerDocument document;
    {
        const ContainerLock lock(path);
        if (!lock.error().ok())
            return fail(lock.error());
        // The password is proven before a journal may change anything.
        QByteArray key;
        const KeyWiper keyWiper(key);
        const Error opened = openSettledDocument(path, password, &document, &key);
        // A header that opens under another password is never replaced by a kept copy.
        if (opened.is(Reason::WrongPassword) || opened.is(Reason::VaultInUse))
            return fail(opened);
        if (const Error settled = settleCompactionCopy(path, password, opened, &document); !settled.ok())
            return fail(settled);
        if (m_restoredFromCompactionCopy || !opened.ok()) {
            if (const Error reopened = openSettledDocument(path, password, &document, &key); !reopened.ok())
                return fail(reopened);
        }
        m_masterKey = QByteArray(key.constData(), key.size());
    }

    // The key opened, so an index that does not is damage, not a wrong password.
    SecureFileIndex loaded;
    if (const Error opened = openIndex(document, &loaded); !opened.ok()) {
        forgetMasterKey();
        if (opened.is(Reason::DamagedContainer))
            return fail(opened);
        return fail(Reason::DamagedContainer, QStringLiteral("index fails authentication"));
    }
    m_containerPath = path;
    adoptIndex(loaded, document);
    m_state = VaultState::Unlocked;
    m_containerManager.setJournalKey(HeaderJournal::keyFor(m_masterKey));

    // Without a workspace and its record the vault is not usable as
    // promised: report the failure truthfully by going back to Locked.
    m_vaultId = QMessageAuthenticationCode::hash(QByteArrayLiteral("keldra-workspace"), m_masterKey,
                                                 QCryptographicHash::Sha256);
    if (!m_tempWorkspace.prepare() ||
        !m_fileSync.attach(m_tempWorkspace.workspacePath(), QFileInfo(path).absoluteFilePath(), m_vaultId)) {
        m_fileSync.detach();
        (void)m_tempWorkspace.cleanup();
        forgetMasterKey();
        wipe(m_vaultId);
        m_index.clear();
        m_damaged.clear();
        m_state = VaultState::Locked;
        return fail(Reason::WorkspaceUnavailable, QStringLiteral("workspace folder cannot be made"));
    }
    return true;
}

namespace {

// Where the last block the index points at ends.
qint64 blocksEnd(const SecureFileIndex& index)
{
    qint64 end = 0;
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& entry : entries) {
        for (const VaultFileBlock& block : entry.blocks)
            end = qMax(end, block.offset + block.encryptedSize);
    }
    return end;
}

} // namespace

Error VaultManager::settleCompactionCopy(const QString& path, const QByteArray& password, const Error& read,
                                         ContainerDocument* document)
{
    CompactionCopy::Kept kept;
    if (!CompactionCopy::find(path, &kept)) {
        CompactionCopy::discardUnusable(path);
        return read;
    }
    // Whole: the header and index authenticate under `key`, and the file
    // holds every block the index points at. Each key derivation is costly,
    // so a key once unwrapped serves every check it can.
    const auto opensWhole = [this](const ContainerDocument& candidate, const QByteArray& key, qint64 size) {
        // A copy of its own: wiping the vault's key wipes every array sharing its buffer.
        m_masterKey = QByteArray(key.constData(), key.size());
        SecureFileIndex index;
        const bool whole = !key.isEmpty() && decryptIndex(candidate, &index) && blocksEnd(index) <= size;
        forgetMasterKey();
        return whole;
    };
    ContainerDocument copy;
    QByteArray copyKey;
    const KeyWiper copyKeyWiper(copyKey);
    const Error copyRead = m_containerManager.readDocument(kept.path, &copy);
    const Error copyOpened = copyRead.ok() ? unwrapMasterKey(copy, password, &copyKey) : copyRead;
    const bool copyOpens = copyOpened.ok() && opensWhole(copy, copyKey, kept.size);

    if (read.ok()) {
        QByteArray key;
        const KeyWiper keyWiper(key);
        // Another password, or another vault: the unlock says so, and the copy stays.
        if (!unwrapMasterKey(*document, password, &key).ok())
            return Error();
        if (opensWhole(*document, key, QFileInfo(path).size())) {
            // Compaction finished, or stopped before emptying it: the copy is older than the container.
            if (copyOpens)
                CompactionCopy::discard(path);
            return Error();
        }
    }
    if (!copyOpens)
        return read.ok() || !copyOpened.is(Reason::WrongPassword) ? read : copyOpened;

    const auto verify = [&](const QString& written) {
        ContainerDocument back;
        if (m_containerManager.readDocument(written, &back).ok() &&
            opensWhole(back, copyKey, QFileInfo(written).size()))
            return Error();
        return Error(Reason::WriteFailed, QStringLiteral("restored container does not read back"));
    };
    if (const Error restored = CompactionCopy::restore(kept, path, verify); !restored.ok())
        return restored;
    if (const Error reread = readSettledDocument(path, document); !reread.ok())
        return reread;
    CompactionCopy::discard(path);
    m_restoredFromCompactionCopy = true;
    return Error();
}

bool VaultManager::lockVault()
{
    m_lastError = Error();
    if (m_state == VaultState::Unlocked && !syncModifiedTempFiles())
        return false;

    m_fileSync.clear();
    m_fileSync.detach();
    const bool cleaned = m_tempWorkspace.cleanup();
    forgetMasterKey();
    wipe(m_vaultId);
    m_state = VaultState::Locked;
    if (!cleaned)
        return fail(Reason::WorkspaceUnavailable, QStringLiteral("workspace folder not removed"));
    return true;
}

bool VaultManager::changePassword(const QString& path, const QByteArray& oldPassword,
                                  const QByteArray& newPassword)
{
    m_lastError = Error();
    if (m_state != VaultState::Locked)
        return fail(Reason::WrongState, QStringLiteral("not locked"));
    if (oldPassword.isEmpty() || newPassword.isEmpty())
        return fail(Reason::InvalidArgument, QStringLiteral("empty password"));

    // Held to the end: the header written below is the one read here.
    const ContainerLock lock(path);
    if (!lock.error().ok())
        return fail(lock.error());
    ContainerDocument document;
    QByteArray key;
    const KeyWiper wiper(key);
    if (const Error opened = openSettledDocument(path, oldPassword, &document, &key); !opened.ok())
        return fail(opened);

    // Legacy key derivations are converted to Argon2id on the way.
    const ContainerDocument before = document;
    document.crypto.kdf = KdfArgon2id;
    document.crypto.kdfIterations = 0;
    document.crypto.cipher = CipherName;
    document.crypto.nonce = m_cryptoManager.generateNonce(CryptoManager::NonceSize);
    document.crypto.salt = m_cryptoManager.generateSalt(SaltSize);

    // The cipher name is bound into the index's associated data: a header
    // that named it differently would lose its index, so re-seal the index
    // under the new name instead of leaving it unreadable.
    if (before.crypto.cipher != document.crypto.cipher) {
        if (key.size() < CryptoManager::KeySize)
            return fail(Reason::DamagedContainer, QStringLiteral("master key too short"));
        const QByteArray cipherKeyView = QByteArray::fromRawData(key.constData(), CryptoManager::KeySize);
        QByteArray plainIndex =
            m_cryptoManager.decrypt(before.encryptedIndex, cipherKeyView, before.crypto.payloadNonce,
                                    associatedData(before, PurposeIndex));
        const KeyWiper indexWiper(plainIndex);
        if (plainIndex.isEmpty())
            return fail(Reason::DamagedContainer, QStringLiteral("index fails authentication"));
        document.crypto.payloadNonce = m_cryptoManager.generateNonce(CryptoManager::NonceSize);
        document.encryptedIndex = m_cryptoManager.encrypt(
            plainIndex, cipherKeyView, document.crypto.payloadNonce, associatedData(document, PurposeIndex));
        if (document.encryptedIndex.isEmpty())
            return fail(Reason::Internal, QStringLiteral("index encryption failed"));
    }

    document.crypto.encryptedMasterKey = encryptMasterKey(document, newPassword, key);
    if (document.crypto.encryptedMasterKey.isEmpty())
        return fail(Reason::Internal, QStringLiteral("master key wrapping failed"));
    m_containerManager.setJournalKey(HeaderJournal::keyFor(key));
    const Error written = m_containerManager.updateDocumentHeader(path, document);
    m_containerManager.setJournalKey(QByteArray());
    return finish(written);
}

} // namespace Keldra::Core
