#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes ZIP archives byte by byte (stored, no compression), so a test can make the
// entries no archiver would: links, absolute and ".." names, lying sizes.
namespace TinyZip {

struct Entry
{
    QString name;
    QByteArray data;          // for a link: its target
    unsigned mode = 0100644;  // Unix type and permission bits
    qint64 declaredSize = -1; // the size the headers claim; -1: the real one
};

QByteArray archive(const QList<Entry>& entries);

inline Entry file(const QString& name, const QByteArray& data, unsigned mode = 0100644)
{
    return Entry{name, data, mode, -1};
}
inline Entry link(const QString& name, const QByteArray& target)
{
    return Entry{name, target, 0120777, -1};
}

} // namespace TinyZip
