#include "storage/ContainerHeaderWriter.h"

#include "format/ContainerFormat.h"
#include "storage/ContainerFaultInjector.h"
#include "storage/ContainerFile.h"
#include "storage/HeaderJournal.h"

#include <QFileInfo>
#include <QSet>

namespace Keldra::Core {

using namespace ContainerFormat;

namespace {

// The length line of every container this system writes: exactly 20 digits and a line feed.
bool parseLengthLine(const QByteArray& line, qint64* length)
{
    if (line.size() != LengthLineSize || line.back() != '\n')
        return false;
    qint64 value = 0;
    for (qint64 i = 0; i < LengthLineSize - 1; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > HeaderRegionSize)
            value = HeaderRegionSize + 1; // out of range; stop growing
    }
    *length = value;
    return true;
}

// Containers whose region this process has seen zero beyond the header; our
// own rewrites keep it so. Saves reading the whole region at every change.
QSet<QString>& cleanRegions()
{
    static QSet<QString> paths;
    return paths;
}

// Position after the last non-zero byte of the region from `from` on (`from` when all zero).
qint64 endOfPadding(ContainerFile* container, qint64 from)
{
    constexpr qint64 Chunk = 1024 * 1024;
    const qint64 regionEnd = HeaderRegionStart + HeaderRegionSize;
    qint64 end = from;
    for (qint64 at = from; at < regionEnd; at += Chunk) {
        const QByteArray bytes = container->readAt(at, qMin(Chunk, regionEnd - at));
        if (bytes.isEmpty())
            return -1;
        for (qint64 i = bytes.size() - 1; i >= 0; --i) {
            if (bytes[i] != '\0') {
                end = at + i + 1;
                break;
            }
        }
    }
    return end;
}

// Puts the old bytes back in place after a failed rewrite and drops the journal.
void rollBack(ContainerFile* container, const QString& containerPath, const JournalRange& range)
{
    if (container->seek(range.offset) && container->writeAll(range.oldBytes) && container->sync())
        (void)HeaderJournal::discard(containerPath);
}

} // namespace

Error ContainerHeaderWriter::rewriteHeader(const QString& containerPath, const QByteArray& header,
                                           qint64 sizeToRestore, const QByteArray& journalKey)
{
    using Reason = Error::Reason;
    if (header.isEmpty())
        return Error(Reason::Internal, QStringLiteral("empty header"));
    if (header.size() > HeaderRegionSize)
        return Error(Reason::IndexFull, QStringLiteral("header of %1 bytes").arg(header.size()));
    // An unsettled earlier change must be rolled back by ContainerRecovery before
    // anything is appended; recovering here could cut off blocks just written.
    if (QFileInfo::exists(HeaderJournal::journalPath(containerPath)))
        return Error(Reason::WriteFailed, QStringLiteral("an earlier change is not settled"));

    ContainerFile container(containerPath);
    if (!container.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return container.error();
    const QByteArray prefix = container.readAt(0, HeaderRegionStart);
    qint64 oldLength = 0;
    if (prefix.size() != HeaderRegionStart || !prefix.startsWith(Magic) ||
        !parseLengthLine(prefix.mid(MagicSize), &oldLength))
        return Error(Reason::DamagedContainer, QStringLiteral("no container magic or length line"));
    oldLength = qMin(oldLength, HeaderRegionSize);

    // Compare only as far as either header reaches; beyond it both are zero
    // padding. A region we have not seen yet may carry other bytes there
    // (another writer); they are cleared with the same journaled write.
    qint64 reach = qMax<qint64>(header.size(), oldLength);
    const QString key = QFileInfo(containerPath).absoluteFilePath();
    if (!cleanRegions().contains(key)) {
        const qint64 end = endOfPadding(&container, HeaderRegionStart + reach);
        if (end < 0)
            return Error(Reason::DamagedContainer, QStringLiteral("header region cut short"));
        if (end == HeaderRegionStart + reach)
            cleanRegions().insert(key); // nothing to clear, whatever happens to this rewrite
        reach = end - HeaderRegionStart;
    }
    const QByteArray oldBytes = container.readAt(MagicSize, LengthLineSize + reach);
    if (oldBytes.size() != LengthLineSize + reach)
        return Error(Reason::DamagedContainer, QStringLiteral("header region cut short"));
    QByteArray newBytes = lengthLine(header.size()) + header;
    newBytes.append(QByteArray(reach - header.size(), '\0'));

    qint64 first = 0;
    while (first < newBytes.size() && newBytes[first] == oldBytes[first])
        ++first;
    if (first == newBytes.size()) {
        cleanRegions().insert(key);
        return Error(); // already on the drive as it should be
    }
    qint64 last = newBytes.size() - 1;
    while (newBytes[last] == oldBytes[last])
        --last;

    JournalRange range;
    range.offset = MagicSize + first;
    range.oldBytes = oldBytes.mid(first, last - first + 1);
    range.newBytes = newBytes.mid(first, last - first + 1);
    ContainerFaultInjector::noteHeaderRewrite();
    const qint64 restoreSize = sizeToRestore >= 0 ? qMin(sizeToRestore, container.size()) : container.size();
    if (const Error journaled = HeaderJournal::write(containerPath, restoreSize, {range}, journalKey);
        !journaled.ok())
        return journaled;

    if (!container.seek(range.offset) || !container.writeAll(range.newBytes) || !container.sync()) {
        const Error error = container.error();
        rollBack(&container, containerPath, range);
        return error;
    }
    if (const Error discarded = HeaderJournal::discard(containerPath); !discarded.ok()) {
        // The journal would undo this header at the next open: undo it now so
        // the failure we report matches what is on the drive.
        rollBack(&container, containerPath, range);
        return discarded;
    }
    cleanRegions().insert(key);
    return Error();
}

} // namespace Keldra::Core
