#include "storage/HeaderJournal.h"

#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace Keldra::Core {

namespace {

const QByteArray JournalMagic = QByteArrayLiteral("KELDRA-JOURNAL1\n");
constexpr qint64 ChecksumSize = 32;
// A header rewrite needs one range; the bound only stops hostile files from asking for more.
constexpr qint64 MaxRanges = 64;

// The largest journal a header rewrite makes: one range over the length line
// and the whole header region, with its old and new bytes.
constexpr qint64 MaxJournalSize =
    16 + 4 * 8 + 2 * (ContainerFormat::LengthLineSize + ContainerFormat::HeaderRegionSize) + ChecksumSize;

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

QByteArray HeaderJournal::serialize(qint64 sizeToRestore, const QList<JournalRange>& ranges)
{
    QByteArray out = JournalMagic;
    appendInt64(&out, sizeToRestore);
    appendInt64(&out, ranges.size());
    for (const JournalRange& range : ranges) {
        appendInt64(&out, range.offset);
        appendInt64(&out, range.oldBytes.size());
        out.append(range.oldBytes);
        out.append(range.newBytes);
    }
    out.append(checksum(out.constData(), out.size()));
    return out;
}

bool HeaderJournal::parse(const QByteArray& bytes, qint64* sizeToRestore, QList<JournalRange>* ranges)
{
    const qint64 end = qint64(bytes.size()) - ChecksumSize;
    if (end < JournalMagic.size() || !bytes.startsWith(JournalMagic))
        return false;
    if (checksum(bytes.constData(), end) != bytes.mid(end))
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

Error HeaderJournal::write(const QString& containerPath, qint64 sizeToRestore,
                           const QList<JournalRange>& ranges)
{
    if (!journalEnabled)
        return Error();
    const QString path = journalPath(containerPath);
    Error error;
    {
        ContainerFile journal(path);
        if (!journal.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !journal.writeAll(serialize(sizeToRestore, ranges)) || !journal.sync())
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

HeaderJournal::RecoveryResult HeaderJournal::recover(const QString& containerPath)
{
    using Reason = Error::Reason;
    const auto done = [&](Recovery outcome) { return RecoveryResult{outcome, Error()}; };
    // Never a failure without a reason: the caller must not read an unsettled container.
    const auto failed = [](const Error& error) {
        const Error why = error.ok() ? Error(Reason::WriteFailed) : error;
        return RecoveryResult{Recovery::Failed, why.within(QStringLiteral("journal recovery"))};
    };
    // Removing the journal is the last step of every outcome.
    const auto discarded = [&](Recovery outcome) {
        const Error error = discard(containerPath);
        return error.ok() ? done(outcome) : failed(error);
    };

    const QString path = journalPath(containerPath);
    if (!QFileInfo::exists(path))
        return done(Recovery::NothingToDo);

    QByteArray bytes;
    bool oversized = false;
    {
        QFile journal(path);
        if (!journal.open(QIODevice::ReadOnly))
            return failed(Error(Reason::ContainerUnavailable, journal.errorString()));
        // Larger than any journal we write: not read into memory at all.
        oversized = journal.size() > MaxJournalSize;
        if (!oversized)
            bytes = journal.readAll();
    }
    // Discarded only once closed: Windows refuses to remove a file that is still open.
    if (oversized)
        return discarded(Recovery::DiscardedForeign);
    qint64 sizeToRestore = 0;
    QList<JournalRange> ranges;
    if (!parse(bytes, &sizeToRestore, &ranges)) {
        // It is synced before the container is touched, so a torn journal means an untouched container.
        return discarded(Recovery::DiscardedTorn);
    }
    if (!describesHeaderRewrite(sizeToRestore, ranges))
        return discarded(Recovery::DiscardedForeign);

    if (!QFileInfo::exists(containerPath)) // nothing left to repair; never create the container here
        return discarded(Recovery::DiscardedForeign);
    ContainerFile container(containerPath);
    if (!container.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return failed(container.error());
    if (container.size() < sizeToRestore || !rangesMatch(&container, ranges)) {
        container.close();
        return discarded(Recovery::DiscardedForeign);
    }
    for (const JournalRange& range : ranges) {
        if (!container.seek(range.offset) || !container.writeAll(range.oldBytes))
            return failed(container.error());
    }
    if (container.size() > sizeToRestore && !container.resize(sizeToRestore))
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
