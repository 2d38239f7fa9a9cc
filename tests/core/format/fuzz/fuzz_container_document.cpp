// libFuzzer target for the two parsers that read what is on the drive: the
// container header (ContainerManager::readDocument) and the index JSON
// (SecureFileIndex::fromJson). The first input byte picks what the rest is:
//   0: index JSON; once read and written, it must read back to the same JSON;
//   1: a whole container file as it is;
//   2: header JSON placed in a well-formed region (correct length line);
//   3: a length line (first 21 bytes) and header bytes of the fuzzer's choosing.
#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"
#include "core/format/SecureFileIndex.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Keldra::Core;
using namespace Keldra::Core::ContainerFormat;

namespace {

struct Scratch
{
    std::unique_ptr<QTemporaryDir> dir;
    QString regionFile;
    QString rawFile;
};

Scratch& scratch()
{
    static Scratch s = [] {
        Scratch made;
        const QString base =
            QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        made.dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/keldra-fuzz-XXXXXX"));
        made.regionFile = made.dir->filePath(QStringLiteral("region.kldr"));
        made.rawFile = made.dir->filePath(QStringLiteral("raw.kldr"));
        // A zero-filled container; each input overwrites only its own prefix.
        QFile f(made.regionFile);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(HeaderRegionStart + HeaderRegionSize + 64))
            std::abort();
        return made;
    }();
    return s;
}

void writeAt(const QString& path, const QByteArray& bytes, bool truncate)
{
    QFile f(path);
    if (!f.open(truncate ? QIODevice::WriteOnly | QIODevice::Truncate : QIODevice::ReadWrite))
        std::abort();
    if (f.write(bytes) != bytes.size())
        std::abort();
}

void readRegion(const QByteArray& prefix)
{
    const QByteArray bounded = prefix.left(HeaderRegionStart + HeaderRegionSize);
    writeAt(scratch().regionFile, bounded, false);
    ContainerDocument document;
    ContainerManager manager;
    (void)manager.readDocument(scratch().regionFile, &document);
    writeAt(scratch().regionFile, QByteArray(bounded.size(), '\0'), false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: {
        // The first pass may normalise (dates beyond year 9999 cannot be read back);
        // from then on what we write must be what we read.
        const QByteArray once = SecureFileIndex::fromJson(rest).toJson();
        const QByteArray json = SecureFileIndex::fromJson(once).toJson();
        if (SecureFileIndex::fromJson(json).toJson() != json) {
            std::fprintf(stderr, "index JSON does not survive a round trip\n");
            std::abort();
        }
        break;
    }
    case 1: {
        writeAt(scratch().rawFile, rest, true);
        ContainerDocument document;
        (void)ContainerManager().readDocument(scratch().rawFile, &document);
        break;
    }
    case 2: {
        readRegion(Magic + lengthLine(rest.size()) + rest);
        break;
    }
    default:
        readRegion(Magic + rest);
        break;
    }
    return 0;
}
