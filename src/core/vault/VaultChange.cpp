#include "vault/VaultChange.h"

#include "storage/HeaderJournal.h"
#include "vault/VaultManager.h"

#include <QFileInfo>

namespace Keldra::Core {

VaultChange::VaultChange(VaultManager& vault, const Error& refusal)
    : VaultChange(vault, [&refusal] { return refusal; })
{
}

VaultChange::VaultChange(VaultManager& vault, const Precheck& precheck)
    : m_vault(vault), m_payload(vault.m_containerPath)
{
    vault.m_lastError = Error();
    if (vault.m_state != VaultState::Unlocked || vault.m_containerPath.isEmpty()) {
        m_error = Error(Error::Reason::WrongState, QStringLiteral("not unlocked"));
        return;
    }
    if (precheck) {
        m_error = precheck();
        if (!m_error.ok())
            return;
    }
    m_lock.emplace(vault.m_containerPath);
    m_error = vault.beginChange(*m_lock, &m_document);
    if (m_error.ok())
        m_index = vault.m_index;
}

VaultChange::~VaultChange()
{
    rollBackPayload();
}

Error VaultChange::openPayload()
{
    if (!m_error.ok())
        return m_error;
    if (!m_payload.isOpen() && !m_payload.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return m_payload.error();
    qint64 end = m_payload.size();
    if (m_committedSize < 0) {
        // Bytes after the last block the header points at belong to no file:
        // an import killed before its header was written left them. The new
        // blocks go in their place rather than after them.
        const qint64 used = usedEnd();
        if (used >= 0 && used < end) {
            if (!m_payload.resize(used))
                return m_payload.error();
            end = used;
        }
        m_committedSize = end;
    }
    if (!m_payload.seek(end))
        return m_payload.error();
    return Error();
}

qint64 VaultChange::appendOffset() const
{
    if (m_payload.isOpen())
        return m_payload.pos();
    const qint64 size = QFileInfo(m_vault.m_containerPath).size();
    const qint64 used = m_committedSize < 0 ? usedEnd() : -1;
    return used >= 0 && used < size ? used : size;
}

Error VaultChange::commit()
{
    if (!m_error.ok())
        return m_error;
    if (m_payload.isOpen()) {
        // The blocks are on the drive before the header that points at them.
        if (!m_payload.sync())
            return m_payload.error();
        m_payload.close();
    }
    // A roll-back of this header (now or at the next open) also cuts the appended blocks off.
    if (const Error stored = m_vault.storeIndex(&m_document, m_index, m_committedSize); !stored.ok())
        return stored;
    m_committedSize = -1;
    return Error();
}

void VaultChange::adoptWritten(const ContainerDocument& written)
{
    m_document = written;
    m_index = written.fileIndex;
    m_vault.adoptIndex(written.fileIndex, written);
}

qint64 VaultChange::usedEnd() const
{
    // Only for a settled container with records that can be trusted: a
    // pending journal or a damaged record says the header may not tell the
    // whole story.
    if (!m_vault.m_damaged.isEmpty() ||
        QFileInfo::exists(HeaderJournal::journalPath(m_vault.m_containerPath)))
        return -1;
    if (m_vault.m_payloadStart <= 0)
        return -1;
    qint64 end = m_vault.m_payloadStart;
    // The stored index, not the working copy: a file the change replaces
    // keeps its blocks until the commit.
    const QList<VaultFileEntry> entries = m_vault.m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        for (const VaultFileBlock& block : entry.blocks)
            end = qMax(end, block.offset + block.encryptedSize);
    }
    return end;
}

// When this fails too (drive gone), the header still points only at the
// blocks of the last commit.
void VaultChange::rollBackPayload()
{
    if (m_committedSize < 0)
        return;
    if (m_payload.isOpen()) {
        // Nothing appended (a refusal before the first block): nothing to undo.
        if (m_payload.size() != m_committedSize)
            (void)(m_payload.resize(m_committedSize) && m_payload.sync());
        m_payload.close();
    } else {
        ContainerFile again(m_vault.m_containerPath);
        if (again.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
            (void)(again.resize(m_committedSize) && again.sync());
    }
    m_committedSize = -1;
}

} // namespace Keldra::Core
