#include "ui/VaultSession.h"

#include "core/WorkerThread.h"
#include "core/storage/ContainerRecovery.h"
#include "texts/VaultErrorText.h"

#include <QEventLoop>
#include <QFile>
#include <QSaveFile>

namespace Keldra::UI {

using Reason = Core::Error::Reason;

namespace {

constexpr qint64 kBackupChunkSize = 8 * 1024 * 1024;

} // namespace

VaultSession::VaultSession(QObject* parent) : QObject(parent)
{
    m_vault.setCancelFlag(&m_cancel);
}

VaultSession::~VaultSession()
{
    if (!m_busy)
        return;
    if (m_cancellable)
        m_cancel.store(true);
    m_thread->join();
}

Core::VaultState VaultSession::state() const
{
    return m_busy ? m_stateSnapshot : m_vault.state();
}

Core::SecureFileIndex VaultSession::fileIndex() const
{
    return m_busy ? m_indexSnapshot : m_vault.fileIndex();
}

QString VaultSession::containerPath() const
{
    return m_busy ? m_pathSnapshot : m_vault.containerPath();
}

bool VaultSession::start(Work work, Done done, bool cancellable)
{
    if (m_busy || !work)
        return false;
    m_stateSnapshot = m_vault.state();
    m_indexSnapshot = m_vault.fileIndex();
    m_pathSnapshot = m_vault.containerPath();
    m_cancel.store(false);
    m_cancellable = cancellable;
    m_done = std::move(done);
    m_busy = true;
    m_clock.start();
    m_thread = std::make_unique<Core::WorkerThread>([this, work = std::move(work)]() {
        const Progress relay = [this](qint64 done, qint64 total, const QString& text) {
            emit progress(done, total, text);
        };
        m_result = work(m_vault, relay);
    });
    // Emitted on the worker thread, so it reaches finished() queued.
    connect(m_thread.get(), &QThread::finished, this, &VaultSession::finished);
    m_thread->start();
    return true;
}

void VaultSession::requestCancel()
{
    if (m_cancellable)
        m_cancel.store(true);
}

void VaultSession::finished()
{
    m_thread->join();
    m_thread.reset();
    const Core::Error result = m_result;
    m_result = Core::Error();
    m_busy = false;
    m_cancellable = false;
    m_indexSnapshot = Core::SecureFileIndex();
    m_cancel.store(false);
    const Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(result);
    if (!m_busy)
        emit idle();
}

void VaultSession::waitForIdle()
{
    if (!m_busy)
        return;
    QEventLoop loop;
    connect(this, &VaultSession::idle, &loop, &QEventLoop::quit);
    loop.exec();
}

QString VaultSession::failureText(const Core::Error& error, const QString& commandText, Reason commandReason)
{
    return Texts::VaultErrorText::message(error, commandText, commandReason);
}

Core::Error VaultSession::copyContainer(const QString& sourcePath, const QString& target,
                                        const Progress& progress) const
{
    QFile source(sourcePath);
    if (const Core::Error recovered = Core::ContainerRecovery::recover(sourcePath); !recovered.ok())
        return Core::Error(Reason::ContainerUnavailable, recovered.detail());
    if (!source.open(QIODevice::ReadOnly))
        return Core::Error(Reason::ContainerUnavailable, source.errorString());
    QSaveFile output(target);
    if (!output.open(QIODevice::WriteOnly))
        return Core::Error(Reason::DestinationUnwritable, output.errorString());

    const qint64 total = source.size();
    qint64 copied = 0;
    const auto abandon = [&](Reason reason, const QString& detail) {
        output.cancelWriting();
        return Core::Error(reason, detail);
    };
    while (!source.atEnd()) {
        if (progress)
            progress(copied, total, QString());
        if (m_cancel.load())
            return abandon(Reason::Cancelled, QStringLiteral("backup cancelled"));
        const QByteArray chunk = source.read(kBackupChunkSize);
        if (chunk.isEmpty())
            return abandon(Reason::ContainerUnavailable, source.errorString());
        if (output.write(chunk) != chunk.size())
            return abandon(Reason::DestinationUnwritable, output.errorString());
        copied += chunk.size();
    }
    if (!output.flush())
        return abandon(Reason::DestinationUnwritable, output.errorString());
    if (!output.commit())
        return Core::Error(Reason::DestinationUnwritable, output.errorString());
    if (progress)
        progress(copied, total, QString());
    return Core::Error();
}

} // namespace Keldra::UI
