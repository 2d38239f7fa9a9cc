#include "vault/VaultChange.h"

#include "vault/VaultManager.h"

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
    const qint64 end = m_payload.size();
    if (m_committedSize < 0)
        m_committedSize = end;
    if (!m_payload.seek(end))
        return m_payload.error();
    return Error();
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

// When this fails too (drive gone), the header still points only at the
// blocks of the last commit.
void VaultChange::rollBackPayload()
{
    if (m_committedSize < 0)
        return;
    if (m_payload.isOpen()) {
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
