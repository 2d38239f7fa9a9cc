#include "TinyZip.h"

namespace TinyZip {

namespace {

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(QByteArray& out, quint32 value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

} // namespace

QByteArray archive(const QList<Entry>& entries)
{
    QByteArray out;
    QByteArray directory;
    for (const Entry& entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const quint32 crc = crc32(entry.data);
        const quint32 size = static_cast<quint32>(entry.data.size());
        const quint32 declared = entry.declaredSize < 0 ? size : static_cast<quint32>(entry.declaredSize);
        const quint32 offset = static_cast<quint32>(out.size());
        const auto common = [&](QByteArray& header) {
            put16(header, 20);     // version needed
            put16(header, 0x0800); // names are UTF-8
            put16(header, 0);      // stored
            put16(header, 0);      // time
            put16(header, 0x21);   // 1980-01-01
            put32(header, crc);
            put32(header, size);
            put32(header, declared);
            put16(header, static_cast<quint32>(name.size()));
            put16(header, 0); // extra field
        };
        put32(out, 0x04034b50);
        common(out);
        out += name;
        out += entry.data;

        put32(directory, 0x02014b50);
        put16(directory, (3u << 8) | 30u); // made on Unix
        common(directory);
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, entry.mode << 16);
        put32(directory, offset);
        directory += name;
    }
    const quint32 directoryOffset = static_cast<quint32>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<quint32>(entries.size()));
    put16(out, static_cast<quint32>(entries.size()));
    put32(out, static_cast<quint32>(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

} // namespace TinyZip
