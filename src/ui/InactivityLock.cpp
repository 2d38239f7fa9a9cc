#include "ui/InactivityLock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#ifdef KELDRA_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#include <wtsapi32.h>
#endif

namespace Keldra::UI {

namespace {

constexpr int kCheckIntervalMs = 15 * 1000;

qint64 steadyMilliseconds()
{
    static QElapsedTimer started;
    if (!started.isValid())
        started.start();
    return started.elapsed();
}

bool isUse(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

InactivityLock::InactivityLock(QObject* parent) : QObject(parent), m_clock(steadyMilliseconds)
{
    setObjectName(QStringLiteral("inactivityLock"));
    m_lastUse = m_clock();
    m_timer = new QTimer(this);
    m_timer->setInterval(kCheckIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &InactivityLock::check);
    m_timer->start();
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
    watchSystemBus();
}

void InactivityLock::setClock(const Clock& clock)
{
    m_clock = clock;
    m_timer->stop();
    restart();
}

void InactivityLock::setTimeoutMinutes(int minutes)
{
    m_minutes = qMax(0, minutes);
    restart();
}

void InactivityLock::restart()
{
    m_lastUse = m_clock();
}

void InactivityLock::check()
{
    if (m_minutes <= 0 || m_clock() - m_lastUse < qint64(m_minutes) * 60 * 1000)
        return;
    restart();
    emit idle();
}

void InactivityLock::reportSystemLock()
{
    emit systemLocked();
}

bool InactivityLock::eventFilter(QObject* watched, QEvent* event)
{
    // Only what a person does counts: synthetic timers and repaints do not.
    if (isUse(event->type()) && watched->isWidgetType())
        m_lastUse = m_clock();
    return QObject::eventFilter(watched, event);
}

void InactivityLock::onPrepareForSleep(bool starting)
{
    if (starting)
        reportSystemLock();
}

void InactivityLock::onScreenSaverActiveChanged(bool active)
{
    if (active)
        reportSystemLock();
}

void InactivityLock::onSessionLock()
{
    reportSystemLock();
}

void InactivityLock::watchSystemBus()
{
#ifdef KELDRA_HAVE_DBUS
    // Each connection simply fails where the service or bus is missing.
    const QString login = QStringLiteral("org.freedesktop.login1");
    QDBusConnection::systemBus().connect(
        login, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    // A lock of this session through logind ("loginctl lock-session", lock
    // screens that use it) comes from the session's own object: ask which.
    QDBusMessage ask = QDBusMessage::createMethodCall(login, QStringLiteral("/org/freedesktop/login1"),
                                                      QStringLiteral("org.freedesktop.login1.Manager"),
                                                      QStringLiteral("GetSessionByPID"));
    ask << quint32(QCoreApplication::applicationPid());
    auto* asked = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(ask), this);
    connect(asked, &QDBusPendingCallWatcher::finished, this, [this, login](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> session = *call;
        if (session.isError())
            return;
        QDBusConnection::systemBus().connect(login, session.value().path(),
                                             QStringLiteral("org.freedesktop.login1.Session"),
                                             QStringLiteral("Lock"), this, SLOT(onSessionLock()));
    });
    QDBusConnection session = QDBusConnection::sessionBus();
    session.connect(QString(), QStringLiteral("/org/freedesktop/ScreenSaver"),
                    QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("ActiveChanged"), this,
                    SLOT(onScreenSaverActiveChanged(bool)));
    session.connect(QString(), QStringLiteral("/org/gnome/ScreenSaver"),
                    QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("ActiveChanged"), this,
                    SLOT(onScreenSaverActiveChanged(bool)));
#endif
}

void InactivityLock::watchSessionOf(QWidget* window)
{
#ifdef Q_OS_WIN
    WTSRegisterSessionNotification(reinterpret_cast<HWND>(window->winId()), NOTIFY_FOR_THIS_SESSION);
#else
    Q_UNUSED(window);
#endif
}

bool InactivityLock::isSystemLockMessage(const QByteArray& eventType, void* message)
{
#ifdef Q_OS_WIN
    if (eventType != "windows_generic_MSG" || !message)
        return false;
    const MSG* msg = static_cast<const MSG*>(message);
    return (msg->message == WM_WTSSESSION_CHANGE && msg->wParam == WTS_SESSION_LOCK) ||
           (msg->message == WM_POWERBROADCAST && msg->wParam == PBT_APMSUSPEND);
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    return false;
#endif
}

} // namespace Keldra::UI
