#include "ContainerHeaderWriter.h"

#include "ContainerFile.h"
#include "HeaderJournal.h"

#include <QFileInfo>

namespace Keldra::Core {

namespace {

// The length line of every container this system writes: exactly 20 digits and a line feed.
bool parseLengthLine(const QByteArray& line, qint64* length)
{
    if (line.size() != ContainerHeaderWriter::LengthLineSize || line.back() != '\n')
        return false;
    qint64 value = 0;
    for (qint64 i = 0; i < ContainerHeaderWriter::LengthLineSize - 1; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > ContainerHeaderWriter::RegionSize)
            value = ContainerHeaderWriter::RegionSize + 1; // out of range; stop growing
    }
    *length = value;
    return true;
}

// Puts the old bytes back in place after a failed rewrite and drops the journal.
bool rollBack(ContainerFile* container, const QString& containerPath, const JournalRange& range)
{
    return container->seek(range.offset) && container->writeAll(range.oldBytes) && container->sync()
           && HeaderJournal::discard(containerPath);
}

} // namespace

QByteArray ContainerHeaderWriter::lengthLine(qint64 headerLength)
{
    return QByteArray::number(headerLength).rightJustified(LengthLineSize - 1, '0') + '\n';
}

bool ContainerHeaderWriter::rewriteHeader(const QString& containerPath, const QByteArray& header,
                                          qint64 sizeToRestore)
{
    if (header.isEmpty() || header.size() > RegionSize)
        return false;
    // An unsettled earlier change must be rolled back by ContainerRecovery before
    // anything is appended; recovering here could cut off blocks just written.
    if (QFileInfo::exists(HeaderJournal::journalPath(containerPath)))
        return false;

    ContainerFile container(containerPath);
    if (!container.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return false;
    const QByteArray prefix = container.readAt(0, RegionStart);
    qint64 oldLength = 0;
    if (prefix.size() != RegionStart || !prefix.startsWith("KELDRA3")
        || !parseLengthLine(prefix.mid(MagicSize), &oldLength))
        return false;
    oldLength = qMin(oldLength, RegionSize);

    // Compare only as far as either header reaches; beyond it both are zero padding.
    const qint64 reach = qMax<qint64>(header.size(), oldLength);
    const QByteArray oldBytes = container.readAt(MagicSize, LengthLineSize + reach);
    if (oldBytes.size() != LengthLineSize + reach)
        return false;
    QByteArray newBytes = lengthLine(header.size()) + header;
    newBytes.append(QByteArray(reach - header.size(), '\0'));

    qint64 first = 0;
    while (first < newBytes.size() && newBytes[first] == oldBytes[first])
        ++first;
    if (first == newBytes.size())
        return true; // already on the drive as it should be
    qint64 last = newBytes.size() - 1;
    while (newBytes[last] == oldBytes[last])
        --last;

    JournalRange range;
    range.offset = MagicSize + first;
    range.oldBytes = oldBytes.mid(first, last - first + 1);
    range.newBytes = newBytes.mid(first, last - first + 1);
    const qint64 restoreSize = sizeToRestore >= 0 ? qMin(sizeToRestore, container.size()) : container.size();
    if (!HeaderJournal::write(containerPath, restoreSize, {range}))
        return false;

    if (!container.seek(range.offset) || !container.writeAll(range.newBytes) || !container.sync()) {
        (void)rollBack(&container, containerPath, range);
        return false;
    }
    if (!HeaderJournal::discard(containerPath)) {
        // The journal would undo this header at the next open: undo it now so
        // the failure we report matches what is on the drive.
        (void)rollBack(&container, containerPath, range);
        return false;
    }
    return true;
}

} // namespace Keldra::Core
