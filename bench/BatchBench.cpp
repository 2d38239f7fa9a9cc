#include "BatchBench.h"

#include "VaultGenerator.h"

#include "core/format/ContainerFormat.h"
#include "core/vault/ImportBatch.h"
#include "core/vault/VaultManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>

namespace Keldra::Bench {

using namespace Keldra::Core;

namespace {

constexpr int TreeFiles = 1000;
constexpr int TreeFolders = 10;
constexpr int FileSize = 16 * 1024;
constexpr int VaultFiles = 10000;
constexpr int Rounds = 5;

// Bytes this process handed to write calls so far (/proc/self/io "wchar"):
// counts every byte, on any file system, the journal and the header too.
qint64 bytesWrittenSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

qint64 headerLength(const QString& container)
{
    QFile file(container);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(ContainerFormat::MagicSize))
        return -1;
    return file.read(ContainerFormat::LengthDigits).toLongLong();
}

bool runProgram(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

BatchBench::BatchBench(QString folder, QByteArray password)
    : m_folder(std::move(folder)), m_password(std::move(password))
{
}

bool BatchBench::run(QTextStream& out, QString* error)
{
    const auto fail = [error](const QString& why) {
        *error = why;
        return false;
    };
    const QDir folder(m_folder);
    const QString tree = folder.filePath(QStringLiteral("batch-tree"));
    const QString copy = folder.filePath(QStringLiteral("batch-copy"));
    const QString container = folder.filePath(QStringLiteral("batch.kldr"));
    QDir(tree).removeRecursively();
    QDir(copy).removeRecursively();
    QFile::remove(container);

    QByteArray content(FileSize, Qt::Uninitialized);
    for (int i = 0; i < TreeFiles; ++i) {
        const QString sub = QStringLiteral("pasta-%1").arg(i % TreeFolders, 2, 10, QLatin1Char('0'));
        if (!QDir().mkpath(QDir(tree).filePath(sub)))
            return fail(QStringLiteral("cannot make the tree"));
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(content.data()), FileSize / 4);
        QFile file(QDir(tree).filePath(sub + QStringLiteral("/foto-%1.jpg").arg(i, 4, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != FileSize)
            return fail(QStringLiteral("cannot write the tree"));
    }
    VaultGenerator::Layout layout;
    layout.fileCount = VaultFiles;
    layout.folderCount = 100;
    layout.fileSize = 1024;
    if (!VaultGenerator::generate(container, m_password, layout, error))
        return false;
    if (!runProgram(QStringLiteral("sync"), {}))
        return fail(QStringLiteral("sync failed"));

    // Rounds taken in turn, medians reported: the drive is shared with
    // whatever else the machine does, and one round can be far off.
    QList<double> copyMs;
    QList<double> importMs;
    qint64 written = -1;
    qint64 header = -1;
    QElapsedTimer timer;
    const QString round = folder.filePath(QStringLiteral("batch-round.kldr"));
    for (int r = 0; r < Rounds; ++r) {
        // The drive alone: the same tree copied and put on the drive.
        timer.start();
        if (!runProgram(QStringLiteral("cp"), {QStringLiteral("-r"), tree, copy}) ||
            !runProgram(QStringLiteral("sync"), {}))
            return fail(QStringLiteral("cp -r or sync failed"));
        copyMs.append(timer.nsecsElapsed() / 1e6);
        QDir(copy).removeRecursively();

        QFile::remove(round);
        if (!QFile::copy(container, round) || !runProgram(QStringLiteral("sync"), {}))
            return fail(QStringLiteral("cannot copy the vault"));
        VaultManager vault;
        if (!vault.unlockVault(round, m_password))
            return fail(QStringLiteral("unlock failed: ") + vault.lastError().toString());
        const ImportBatch batch = ImportBatch::fromSources({tree}, QString());
        ImportBatchSummary summary;
        const qint64 writtenBefore = bytesWrittenSoFar();
        timer.restart();
        const bool imported = vault.importBatch(batch, ExistingFiles::Replace, {}, &summary);
        importMs.append(timer.nsecsElapsed() / 1e6);
        written = qMax(written, bytesWrittenSoFar() - writtenBefore);
        if (!imported)
            return fail(QStringLiteral("import failed: ") + vault.lastError().toString());
        if (summary.imported != TreeFiles)
            return fail(QStringLiteral("imported %1 files").arg(summary.imported));
        header = headerLength(round);
        if (!vault.lockVault())
            return fail(QStringLiteral("lock failed"));
    }
    QFile::remove(round);
    const auto median = [](QList<double> values) {
        std::sort(values.begin(), values.end());
        return values.at(values.size() / 2);
    };

    const qint64 payload = qint64(TreeFiles) * FileSize;
    const qint64 allowed = 2 * payload + 4 * header;
    out << "batch_files " << TreeFiles << "\n"
        << "batch_payload_bytes " << payload << "\n"
        << "batch_header_bytes " << header << "\n"
        << "batch_written_bytes " << written << "\n"
        << "batch_written_ratio " << QString::number(double(written) / allowed, 'f', 2) << "\n"
        << "batch_import_ms " << QString::number(median(importMs), 'f', 1) << "\n"
        << "batch_cp_sync_ms " << QString::number(median(copyMs), 'f', 1) << "\n"
        << "batch_time_ratio " << QString::number(median(importMs) / median(copyMs), 'f', 2) << "\n";
    QDir(tree).removeRecursively();
    QFile::remove(container);
    return true;
}

} // namespace Keldra::Bench
