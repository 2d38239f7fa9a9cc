#pragma once

#include "Error.h"
#include "format/ContainerManager.h"
#include "vault/VaultManager.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace Keldra::Core {

class VaultChange;

// Rebuilds the container with only the live blocks (copied as ciphertext,
// never decrypted) in a private temporary folder, checks it, then puts it in
// place of the container on the drive. Runs inside one VaultChange, whose
// lock keeps anyone from adding blocks to the container being copied.
class VaultCompaction
{
public:
    VaultCompaction(VaultManager& vault, VaultChange& change, const VaultManager::ProgressCallback& progress);
    // Removes the temporary folder.
    ~VaultCompaction();
    VaultCompaction(const VaultCompaction&) = delete;
    VaultCompaction& operator=(const VaultCompaction&) = delete;

    // *preservedCompactPath (may be null) names the compacted container kept
    // on the local disk when the drive's container was emptied but could not
    // be written again (the next unlock puts it back).
    [[nodiscard]] Error run(QString* preservedCompactPath);

private:
    // Refuses a damaged index, makes the temporary folder, prepares the new header.
    [[nodiscard]] Error plan();
    // Writes the new container with the live blocks into the temporary folder.
    [[nodiscard]] Error copyBlocks();
    // A copy that reads back whole: its header, its index, as many records as ours.
    bool readsBack(const QString& path) const;
    [[nodiscard]] Error verify() const;
    // Copies the new container beside the old one and renames it over it;
    // *noRoom when the drive cannot hold both.
    [[nodiscard]] Error replace(bool* noRoom);
    // Keeps the new container in a lasting local folder, then empties the old
    // one and writes the new one into it.
    [[nodiscard]] Error replaceWithoutRoom(QString* preservedCompactPath);
    void progress(qint64 done, qint64 total, const QString& text) const;

    VaultManager& m_vault;
    VaultChange& m_change;
    const VaultManager::ProgressCallback& m_progress;
    QFile m_source;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_compactPath;
    ContainerDocument m_document;
    QList<VaultFileEntry> m_entries;
    qsizetype m_directoryCount = 0;
    qint64 m_total = 0;
};

} // namespace Keldra::Core
