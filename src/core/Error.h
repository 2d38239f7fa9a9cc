#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace Keldra::Core {

// Why a core operation failed: a reason the window and keldra-cli turn into
// their Portuguese message, and a short detail in English for logs and test
// output, never shown as the message itself. A default Error means "no
// failure". There is deliberately no conversion to bool: `if (!error)` would
// read both ways.
class Error
{
    Q_GADGET

public:
    enum class Reason {
        None,
        // The master key does not open. A wrong password and an altered
        // wrapped key cannot be told apart (the tag fails either way).
        WrongPassword,
        // Not a container, a header or index that cannot be read or fails
        // authentication although the key opened, or impossible values.
        DamagedContainer,
        // The container is missing or cannot be opened for reading.
        ContainerUnavailable,
        // The vault's drive has no room left for the write.
        DriveFull,
        // The vault's drive cannot hold a container that large (FAT's 4 GiB).
        FileSystemLimit,
        // The vault's drive refused a write for another reason (read-only,
        // removed, input/output error).
        WriteFailed,
        // The header with the new index does not fit its fixed region.
        IndexFull,
        // A vault path that the path rules refuse (or a folder moved into itself).
        InvalidPath,
        FileNotFound,
        FolderNotFound,
        // The new path is taken by a file or a folder (any letter case).
        AlreadyExists,
        // Only an empty folder can be deleted.
        NotEmpty,
        // A copy of the file (or of a file inside the folder) is open for editing.
        FileInUse,
        // Not unlocked, or already unlocked.
        WrongState,
        // Another program is changing the container, or changed it in a way
        // this session cannot take over (another vault put in its place).
        VaultInUse,
        // The local temporary area (editing copies, the compaction's copy)
        // cannot be created, written or has no room.
        WorkspaceUnavailable,
        // A block fails authentication, or the content's size or SHA-256
        // differs from the index.
        DamagedFile,
        // The outside file to import cannot be read.
        SourceUnreadable,
        // The outside file to export to cannot be written.
        DestinationUnwritable,
        // The request itself is not acceptable: an empty password, the
        // container as its own source or destination.
        InvalidArgument,
        // A primitive failed that should not: key derivation, encryption,
        // random numbers (in practice, memory).
        Internal,
        // The caller asked the operation to stop (see VaultManager::setCancelFlag);
        // what it changed was rolled back to before it, or to its last checkpoint.
        Cancelled,
    };
    Q_ENUM(Reason)

    Error() = default;
    explicit Error(Reason reason, const QString& detail = QString()) : m_reason(reason), m_detail(detail) {}

    Reason reason() const { return m_reason; }
    const QString& detail() const { return m_detail; }
    bool ok() const { return m_reason == Reason::None; }
    bool is(Reason reason) const { return m_reason == reason; }

    // The same reason with a more specific detail in front ("journal: ...").
    Error within(const QString& context) const;
    // "DriveFull (journal: No space left on device)", for logs and tests.
    QString toString() const;
    static QString reasonName(Reason reason);

private:
    Reason m_reason = Reason::None;
    QString m_detail;
};

} // namespace Keldra::Core
