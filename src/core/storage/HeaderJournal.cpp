#include "storage/HeaderJournal.h"

#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <sodium.h>

namespace Keldra::Core {

namespace {

// Version 1 has no MAC (earlier versions); version 2 carries one.
const QByteArray JournalMagic = QByteArrayLiteral("KELDRA-JOURNAL1\n");
const QByteArray SignedJournalMagic = QByteArrayLiteral("KELDRA-JOURNAL2\n");
const QByteArray JournalKeyLabel = QByteArrayLiteral("keldra-header-journal");
constexpr qint64 ChecksumSize = 32;
constexpr qint64 MacSize = crypto_auth_hmacsha256_BYTES;
// A header rewrite needs one range; the bound only stops hostile files from asking for more.
constexpr qint64 MaxRanges = 64;

// The largest journal a header rewrite makes: one range over the length line
// and the whole header region, with its old and new bytes.
constexpr qint64 MaxJournalSize = 16 + 4 * 8 +
                                  2 * (ContainerFormat::LengthLineSize + ContainerFormat::HeaderRegionSize) +
                                  MacSize + ChecksumSize;

bool journalEnabled = true;

void appendInt64(QByteArray* out, qint64 value)
{
    char raw[8];
    qToLittleEndian<qint64>(value, raw);
    out->append(raw, 8);
}

bool takeInt64(const QByteArray& bytes, qint64* cursor, qint64 end, qint64* value)
{
    if (end - *cursor < 8)
        return false;
    *value = qFromLittleEndian<qint64>(bytes.constData() + *cursor);
    *cursor += 8;
    return true;
}

QByteArray checksum(const char* data, qint64 length)
{
    // OpenSSL's SHA-256, same digest: a journal of a large index is megabytes.
    return Sha256::hash(QByteArrayView(data, length));
}

QByteArray hmac(const QByteArray& key, const char* data, qint64 length)
{
    QByteArray mac(MacSize, Qt::Uninitialized);
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(key.constData()),
                                size_t(key.size()));
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(data),
                                  static_cast<unsigned long long>(length));
    crypto_auth_hmacsha256_final(&state, reinterpret_cast<unsigned char*>(mac.data()));
    sodium_memzero(&state, sizeof state);
    return mac;
}

// Every byte of each range is either its old or its new value: the journal was made for this file.
bool rangesMatch(ContainerFile* container, const QList<JournalRange>& ranges)
{
    for (const JournalRange& range : ranges) {
        const QByteArray current = container->readAt(range.offset, range.oldBytes.size());
        if (current.size() != range.oldBytes.size())
            return false;
        for (qint64 i = 0; i < current.size(); ++i) {
            if (current[i] != range.oldBytes[i] && current[i] != range.newBytes[i])
                return false;
        }
    }
    return true;
}

// The only change this system journals is one header rewrite: a single range
// inside the length line and header region, and a
// size to restore that keeps the whole header region. Anything else (a range
// over the magic or the payload, a size that would cut the header off) was not
// written by us and must never be applied.
bool describesHeaderRewrite(qint64 sizeToRestore, const QList<JournalRange>& ranges)
{
    using namespace ContainerFormat;
    if (ranges.size() != 1 || sizeToRestore < PayloadStart)
        return false;
    const JournalRange& range = ranges.first();
    const qint64 length = range.oldBytes.size();
    return length > 0 && range.offset >= MagicSize && range.offset <= PayloadStart - length;
}

} // namespace

QString HeaderJournal::journalPath(const QString& containerPath)
{
    return containerPath + QStringLiteral("-journal");
}

QByteArray HeaderJournal::keyFor(const QByteArray& masterKey)
{
    if (masterKey.isEmpty())
        return QByteArray();
    return hmac(masterKey, JournalKeyLabel.constData(), JournalKeyLabel.size());
}

QByteArray HeaderJournal::serialize(qint64 sizeToRestore, const QList<JournalRange>& ranges,
                                    const QByteArray& key)
{
    QByteArray out = key.isEmpty() ? JournalMagic : SignedJournalMagic;
    appendInt64(&out, sizeToRestore);
    appendInt64(&out, ranges.size());
    for (const JournalRange& range : ranges) {
        appendInt64(&out, range.offset);
        appendInt64(&out, range.oldBytes.size());
        out.append(range.oldBytes);
        out.append(range.newBytes);
    }
    if (!key.isEmpty())
        out.append(hmac(key, out.constData(), out.size()));
    out.append(checksum(out.constData(), out.size()));
    return out;
}

bool HeaderJournal::hasMac(const QByteArray& bytes)
{
    return bytes.startsWith(SignedJournalMagic);
}

bool HeaderJournal::parse(const QByteArray& bytes, qint64* sizeToRestore, QList<JournalRange>* ranges)
{
    const bool signedJournal = hasMac(bytes);
    if (!signedJournal && !bytes.startsWith(JournalMagic))
        return false;
    const qint64 checked = qint64(bytes.size()) - ChecksumSize;
    const qint64 end = checked - (signedJournal ? MacSize : 0);
    if (end < JournalMagic.size())
        return false;
    if (checksum(bytes.constData(), checked) != bytes.mid(checked))
        return false;
    qint64 cursor = JournalMagic.size();
    qint64 size = 0;
    qint64 count = 0;
    if (!takeInt64(bytes, &cursor, end, &size) || !takeInt64(bytes, &cursor, end, &count))
        return false;
    if (size < 0 || count < 0 || count > MaxRanges)
        return false;
    QList<JournalRange> parsed;
    for (qint64 i = 0; i < count; ++i) {
        JournalRange range;
        qint64 length = 0;
        if (!takeInt64(bytes, &cursor, end, &range.offset) || !takeInt64(bytes, &cursor, end, &length))
            return false;
        if (range.offset < 0 || length < 0 || (end - cursor) / 2 < length)
            return false;
        range.oldBytes = bytes.mid(cursor, length);
        range.newBytes = bytes.mid(cursor + length, length);
        cursor += 2 * length;
        parsed.append(range);
    }
    if (cursor != end)
        return false;
    if (sizeToRestore)
        *sizeToRestore = size;
    if (ranges)
        *ranges = parsed;
    return true;
}

bool HeaderJournal::authenticates(const QByteArray& bytes, const QByteArray& key)
{
    if (key.isEmpty() || !hasMac(bytes) || !parse(bytes, nullptr, nullptr))
        return false;
    const qint64 end = qint64(bytes.size()) - ChecksumSize - MacSize;
    const QByteArray expected = hmac(key, bytes.constData(), end);
    return sodium_memcmp(expected.constData(), bytes.constData() + end, size_t(MacSize)) == 0;
}

Error HeaderJournal::write(const QString& containerPath, qint64 sizeToRestore,
                           const QList<JournalRange>& ranges, const QByteArray& key)
{
    if (!journalEnabled)
        return Error();
    const QString path = journalPath(containerPath);
    Error error;
    {
        ContainerFile journal(path);
        if (!journal.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !journal.writeAll(serialize(sizeToRestore, ranges, key)) || !journal.sync())
            error = journal.error();
    }
    if (error.ok())
        error = ContainerFile::syncFolderOf(path);
    if (!error.ok()) {
        // A partial journal would only be discarded at the next open; try to tidy up now.
        (void)ContainerFile::removeFile(path);
    }
    return error.within(QStringLiteral("journal"));
}

Error HeaderJournal::discard(const QString& containerPath)
{
    if (!journalEnabled)
        return Error();
    const QString path = journalPath(containerPath);
    Error error = ContainerFile::removeFile(path);
    if (error.ok())
        error = ContainerFile::syncFolderOf(path);
    return error.within(QStringLiteral("journal"));
}

HeaderJournal::Pending HeaderJournal::inspect(const QString& containerPath)
{
    using State = Pending::State;
    Pending pending;
    const QString path = journalPath(containerPath);
    if (!QFileInfo::exists(path))
        return pending;
    pending.state = State::Foreign;
    {
        QFile journal(path);
        // Larger than any journal we write: not read into memory at all.
        if (!journal.open(QIODevice::ReadOnly) || journal.size() > MaxJournalSize)
            return pending;
        pending.bytes = journal.readAll();
    }
    // It is synced before the container is touched, so a torn journal means an untouched container.
    if (!parse(pending.bytes, &pending.sizeToRestore, &pending.ranges)) {
        pending.state = State::Torn;
        return pending;
    }
    if (!describesHeaderRewrite(pending.sizeToRestore, pending.ranges))
        return pending;
    ContainerFile container(containerPath);
    if (!QFileInfo::exists(containerPath) || !container.open(QIODevice::ReadOnly | QIODevice::ExistingOnly))
        return pending;
    if (container.size() < pending.sizeToRestore || !rangesMatch(&container, pending.ranges))
        return pending;
    pending.restoredHead = container.readAt(0, ContainerFormat::PayloadStart);
    if (pending.restoredHead.size() != ContainerFormat::PayloadStart)
        return pending;
    for (const JournalRange& range : pending.ranges)
        pending.restoredHead.replace(range.offset, range.oldBytes.size(), range.oldBytes);
    pending.state = State::Applicable;
    return pending;
}

HeaderJournal::RecoveryResult HeaderJournal::recover(const QString& containerPath, const Judge& judge)
{
    using Reason = Error::Reason;
    const auto done = [&](Recovery outcome) { return RecoveryResult{outcome, Error()}; };
    // Never a failure without a reason: the caller must not read an unsettled container.
    const auto failed = [](const Error& error) {
        const Error why = error.ok() ? Error(Reason::WriteFailed) : error;
        return RecoveryResult{Recovery::Failed, why.within(QStringLiteral("journal recovery"))};
    };
    const QString path = journalPath(containerPath);
    // Removing the journal is the last step of a roll-back or of a torn journal.
    const auto discarded = [&](Recovery outcome) {
        const Error error = discard(containerPath);
        return error.ok() ? done(outcome) : failed(error);
    };
    // Never deleted: a journal that may be someone's evidence, or a genuine
    // one this version could not judge, stays readable under another name.
    const auto setAside = [&]() {
        const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
        QString target = path + QStringLiteral(".rejected-") + stamp;
        for (int n = 2; QFileInfo::exists(target); ++n)
            target = path + QStringLiteral(".rejected-%1-%2").arg(stamp).arg(n);
        if (!QFile::rename(path, target))
            return failed(Error(Reason::WriteFailed, QStringLiteral("cannot set the journal aside")));
        const Error synced = ContainerFile::syncFolderOf(path);
        return synced.ok() ? done(Recovery::SetAside) : failed(synced);
    };

    const Pending pending = inspect(containerPath);
    switch (pending.state) {
    case Pending::State::None:
        return done(Recovery::NothingToDo);
    case Pending::State::Torn:
        return discarded(Recovery::DiscardedTorn);
    case Pending::State::Foreign:
        return setAside();
    case Pending::State::Applicable:
        break;
    }
    const Verdict verdict = judge ? judge(pending) : Verdict::Leave;
    if (verdict == Verdict::SetAside)
        return setAside();
    if (verdict == Verdict::Leave)
        return failed(
            Error(Reason::VaultInUse, QStringLiteral("an interrupted change waits for the password")));

    ContainerFile container(containerPath);
    if (!container.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return failed(container.error());
    // Checked again on the file now open for writing.
    if (container.size() < pending.sizeToRestore || !rangesMatch(&container, pending.ranges)) {
        container.close();
        return setAside();
    }
    for (const JournalRange& range : pending.ranges) {
        if (!container.seek(range.offset) || !container.writeAll(range.oldBytes))
            return failed(container.error());
    }
    if (container.size() > pending.sizeToRestore && !container.resize(pending.sizeToRestore))
        return failed(container.error());
    if (!container.sync())
        return failed(container.error());
    container.close();
    return discarded(Recovery::RolledBack);
}

void HeaderJournal::setEnabledForTesting(bool enabled)
{
    journalEnabled = enabled;
}

bool HeaderJournal::isEnabled()
{
    return journalEnabled;
}

} // namespace Keldra::Core
