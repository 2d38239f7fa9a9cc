#pragma once

#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

namespace Keldra::Config {

// Shared by the window and the thread doing its long work: the cancel request,
// and questions the work must have the user answer on the window's thread. The
// window never waits for the work while the work waits for an answer: once the
// window abandons the gate, waiting work is released with the fallback answer.
class WorkGate : public std::enable_shared_from_this<WorkGate>
{
public:
    void requestCancel() { m_cancelRequested = true; }
    bool cancelRequested() const { return m_cancelRequested; }

    // From the work's thread: runs call on receiver's thread and returns its
    // answer, or false if the gate is abandoned or the receiver goes first.
    bool ask(QObject* receiver, std::function<bool()> call);
    // From the window's thread: releases waiting work and answers later
    // questions with false.
    void abandon();

private:
    std::atomic_bool m_cancelRequested{false};
    QMutex m_mutex;
    QWaitCondition m_answered;
    bool m_abandoned = false;
};

} // namespace Keldra::Config
