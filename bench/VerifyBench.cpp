#include "VerifyBench.h"

#include "VaultGenerator.h"
#include "core/vault/VaultManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace Keldra::Bench {

using namespace Keldra::Core;

VerifyBench::VerifyBench(QString folder, QByteArray password)
    : m_folder(std::move(folder)), m_password(std::move(password))
{
}

bool VerifyBench::run(QTextStream& out, QString* error)
{
    // 15,000 is near the most small files an index holds (about 18,000).
    const QList<int> sizes{5000, 10000, 15000};
    QList<double> times;
    for (const int files : sizes) {
        const QString container = QDir(m_folder).filePath(QStringLiteral("verify-%1.kldr").arg(files));
        VaultGenerator::Layout layout;
        layout.fileCount = files;
        layout.folderCount = 100;
        layout.fileSize = 1024;
        if (!VaultGenerator::generate(container, m_password, layout, error))
            return false;
        VaultManager vault;
        if (!vault.unlockVault(container, m_password)) {
            *error = QStringLiteral("unlock failed: ") + vault.lastError().toString();
            return false;
        }
        // What keldra-cli verify does after the unlock.
        QElapsedTimer timer;
        timer.start();
        const QList<VaultFileEntry> entries = vault.fileIndex().entries();
        for (const VaultFileEntry& entry : entries) {
            if (!vault.verifyFile(entry.vaultPath)) {
                *error = QStringLiteral("%1 does not verify: %2")
                             .arg(entry.vaultPath, vault.lastError().toString());
                return false;
            }
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        times.append(ms);
        out << "verify_" << files << "_ms " << QString::number(ms, 'f', 1) << '\n';
        out << "verify_" << files << "_us_per_file " << QString::number(ms * 1000 / files, 'f', 1) << '\n';
        (void)vault.lockVault();
        QFile::remove(container);
    }
    // Linear: 2 and 3 (a cost per file that grows with the count: 4 and 9).
    out << "verify_ratio_10000_5000 " << QString::number(times.at(1) / times.at(0), 'f', 2) << '\n';
    out << "verify_ratio_15000_5000 " << QString::number(times.at(2) / times.at(0), 'f', 2) << '\n';
    return true;
}

} // namespace Keldra::Bench
