#pragma once

#include "core/Error.h"
#include "core/vault/VaultManager.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace Keldra::Core {
class WorkerThread;
}

namespace Keldra::UI {

// Sits between the window and the vault: owns the VaultManager and runs the
// vault's long operations on a worker thread (one QThread per operation, Qt
// Core only, so the Windows bundle needs no other Qt library), one at a time, so the window
// keeps painting and answering while they work. VaultManager is not
// thread-safe: while an operation runs the window reads only the snapshot
// (state, index) taken when it started, and calls nothing else.
class VaultSession : public QObject
{
    Q_OBJECT

public:
    using Progress = Core::VaultManager::ProgressCallback;
    // Runs on the worker thread; the result is the operation's outcome.
    using Work = std::function<Core::Error(Core::VaultManager& vault, const Progress& progress)>;
    // Runs on the GUI thread once the work has ended.
    using Done = std::function<void(const Core::Error& result)>;

    explicit VaultSession(QObject* parent = nullptr);
    // Stops a running operation where it can stop, and waits for it.
    ~VaultSession() override;

    // Only while idle: the GUI thread must not call into the vault while an
    // operation runs.
    Core::VaultManager& vault() { return m_vault; }
    const Core::VaultManager& vault() const { return m_vault; }

    bool isBusy() const { return m_busy; }
    // The vault's state and index; while busy, as they were when the
    // operation started.
    Core::VaultState state() const;
    Core::SecureFileIndex fileIndex() const;
    QString containerPath() const;

    // Starts `work` on the worker thread; `done` gets its result. Refused
    // (false) while another operation runs. A cancellable operation stops
    // with Reason::Cancelled at its next check after requestCancel(), leaving
    // things as they were before it started.
    [[nodiscard]] bool start(Work work, Done done, bool cancellable);
    bool isCancellable() const { return m_busy && m_cancellable; }
    // Safe from any thread; ignored when nothing cancellable runs.
    void requestCancel();
    bool cancelRequested() const { return m_cancel.load(); }
    // How long the running operation has been at work.
    qint64 elapsedMs() const { return m_busy ? m_clock.elapsed() : 0; }

    // Returns once no operation runs, handling events meanwhile. For tests,
    // which start commands and then check their outcome.
    void waitForIdle();

    // The message for a failed operation (VaultErrorText): the reason's text,
    // else commandText; commandReason is a reason commandText already explains.
    static QString failureText(const Core::Error& error, const QString& commandText,
                               Core::Error::Reason commandReason = Core::Error::Reason::None);

    // Byte-for-byte copy of a container for a backup, through a save file: the
    // target appears only whole, and a failed or cancelled copy leaves no
    // file and keeps an earlier file of that name. A header change torn by a
    // crash is rolled back first, so the copy is a whole vault.
    // ContainerUnavailable: the container cannot be read; DestinationUnwritable:
    // the target cannot be written.
    // Stops (Cancelled) at requestCancel(); meant to run as an operation's work.
    [[nodiscard]] Core::Error copyContainer(const QString& source, const QString& target,
                                            const Progress& progress) const;

signals:
    // From the worker, queued to the GUI thread.
    void progress(qint64 done, qint64 total, const QString& text);
    // After the operation's own `done` ran.
    void idle();

private:
    void finished();

    Core::VaultManager m_vault;
    std::unique_ptr<Core::WorkerThread> m_thread;
    // Written by the worker, read once its thread has ended.
    Core::Error m_result;
    std::atomic<bool> m_cancel{false};
    bool m_busy = false;
    bool m_cancellable = false;
    Done m_done;
    QElapsedTimer m_clock;
    Core::VaultState m_stateSnapshot = Core::VaultState::Locked;
    Core::SecureFileIndex m_indexSnapshot;
    QString m_pathSnapshot;
};

} // namespace Keldra::UI
