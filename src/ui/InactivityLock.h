#pragma once

#include <QObject>

#include <functional>

class QTimer;
class QWidget;

namespace Keldra::UI {

// Tells the window when the vault should be locked without being asked:
// after a period with no keyboard or mouse use of the program, and when the
// user's session locks or the computer is about to sleep (Linux: logind's
// session lock and sleep, and the screen saver, over D-Bus when the build has
// Qt D-Bus; Windows: session and power messages, see isSystemLockMessage).
// What to do about it is the window's decision.
class InactivityLock : public QObject
{
    Q_OBJECT

public:
    // Milliseconds from any fixed start; steady, never set back.
    using Clock = std::function<qint64()>;

    explicit InactivityLock(QObject* parent = nullptr);

    // Tests count time themselves and call check().
    void setClock(const Clock& clock);
    // 0 = never.
    void setTimeoutMinutes(int minutes);
    int timeoutMinutes() const { return m_minutes; }
    // Counts the period again from now.
    void restart();
    // Emits idle() when a whole period has passed without use, then counts
    // the next period. Run every few seconds by a timer of its own.
    void check();

    // The session locked or the computer is going to sleep.
    void reportSystemLock();

    // Windows: registers the window for session notifications, and tells a
    // native message that locks the session or suspends the computer.
    static void watchSessionOf(QWidget* window);
    static bool isSystemLockMessage(const QByteArray& eventType, void* message);

signals:
    void idle();
    void systemLocked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void onPrepareForSleep(bool starting);
    void onScreenSaverActiveChanged(bool active);
    void onSessionLock();

private:
    void watchSystemBus();

    Clock m_clock;
    QTimer* m_timer = nullptr;
    qint64 m_lastUse = 0;
    int m_minutes = 0;
};

} // namespace Keldra::UI
