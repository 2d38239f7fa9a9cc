#include "config/WorkGate.h"

#include <QMetaObject>
#include <QMutexLocker>

namespace Keldra::Config {

namespace {

struct Answer
{
    bool given = false;
    bool value = false;
};

} // namespace

bool WorkGate::ask(QObject* receiver, std::function<bool()> call)
{
    const auto answer = std::make_shared<Answer>();
    const std::shared_ptr<WorkGate> self = shared_from_this();
    {
        QMutexLocker lock(&m_mutex);
        if (m_abandoned)
            return false;
    }
    const bool posted = QMetaObject::invokeMethod(
        receiver,
        [self, answer, call = std::move(call)] {
            const bool value = call();
            QMutexLocker lock(&self->m_mutex);
            answer->value = value;
            answer->given = true;
            self->m_answered.wakeAll();
        },
        Qt::QueuedConnection);
    if (!posted)
        return false;
    QMutexLocker lock(&m_mutex);
    while (!answer->given && !m_abandoned)
        m_answered.wait(&m_mutex);
    return answer->given && answer->value;
}

void WorkGate::abandon()
{
    QMutexLocker lock(&m_mutex);
    m_abandoned = true;
    m_answered.wakeAll();
}

} // namespace Keldra::Config
