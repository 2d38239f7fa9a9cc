// What the window keeps between runs (the settings file and the last
// container) and locking the vault without the user: after inactivity, when
// the session locks, never under copies open for editing.
#include "SessionWait.h"
#include "VaultWindowFixture.h"
#include "ui/AppSettings.h"
#include "ui/DesktopLauncher.h"
#include "ui/InactivityLock.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;
using Core::VaultState;

namespace {

constexpr qint64 kMinute = 60 * 1000;

} // namespace

class TestWindowPreferences : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
    }

    void init() { DialogHooks::reset(); }
    void cleanup()
    {
        AppSettings::setLocation(QString());
        DesktopLauncher::setLauncher({});
    }

    void settingsLiveBesideADriveProgramElseInTheUserFolder()
    {
        const QString root = m_workDir.filePath(QStringLiteral("usb"));
        QCOMPARE(AppSettings::defaultFilePath(root + QStringLiteral("/Keldra/linux/Keldra")),
                 root + QStringLiteral("/Keldra/Keldra.ini"));
        const QString installed = AppSettings::defaultFilePath(QStringLiteral("/usr/bin/keldra"));
        QVERIFY(installed.endsWith(QStringLiteral("/Keldra.ini")));
        QVERIFY(installed.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)));

        // Without a location nothing is kept.
        AppSettings::setLastContainer(m_workDir.filePath(QStringLiteral("x.kldr")));
        AppSettings::setInactivityMinutes(3);
        QCOMPARE(AppSettings::lastContainer(), QString());
        QCOMPARE(AppSettings::inactivityMinutes(), AppSettings::kDefaultInactivityMinutes);

        // A container on the settings' drive is found again under another mount point.
        const QString file = m_workDir.filePath(QStringLiteral("usb/Keldra/Keldra.ini"));
        AppSettings::setLocation(file, root);
        AppSettings::setLastContainer(root + QStringLiteral("/cofres/keldra.kldr"));
        QCOMPARE(AppSettings::lastContainer(), root + QStringLiteral("/cofres/keldra.kldr"));
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("container/last")).toString(),
                 QStringLiteral("cofres/keldra.kldr"));
        AppSettings::setLocation(file, QStringLiteral("/media/outra"));
        QCOMPARE(AppSettings::lastContainer(), QStringLiteral("/media/outra/cofres/keldra.kldr"));
        const QString elsewhere = m_workDir.filePath(QStringLiteral("casa/keldra.kldr"));
        AppSettings::setLastContainer(elsewhere);
        QCOMPARE(AppSettings::lastContainer(), elsewhere);

        // "Never" is kept; a value a hand edit broke falls back to the default.
        AppSettings::setInactivityMinutes(0);
        QCOMPARE(AppSettings::inactivityMinutes(), 0);
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("lock/inactivityMinutes"), "muito");
        QCOMPARE(AppSettings::inactivityMinutes(), AppSettings::kDefaultInactivityMinutes);
    }

    void nextStartSelectsTheLastContainer()
    {
        AppSettings::setLocation(m_workDir.filePath(QStringLiteral("config/Keldra.ini")));
        const QString container = m_workDir.filePath(QStringLiteral("ultimo/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(container).absolutePath()));
        {
            auto first = makeWindow();
            QVERIFY(first->vault().createVault(container, kPassword.toUtf8()));
            DialogHooks::queueFileName(container);
            first->chooseContainer();
        }
        auto second = makeWindow();
        QCOMPARE(second->containerFilePath(), container);
        // The tooltip holds the whole text: the label itself is shortened
        // when the system's font leaves it too little room.
        QCOMPARE(second->findChild<QLabel*>(QStringLiteral("containerLabel"))
                     ->toolTip()
                     .section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Container: Keldra"));
        QVERIFY(second->findChild<QAction*>(QStringLiteral("unlockAction"))->isEnabled());
        second.reset();

        // Its drive gone, the start is as before.
        QVERIFY(QFile::rename(container, container + QStringLiteral(".fora")));
        auto third = makeWindow();
        QCOMPARE(third->containerFilePath(), QString());
        QVERIFY(QFile::rename(container + QStringLiteral(".fora"), container));
    }

    void vaultLocksAfterInactivity()
    {
        AppSettings::setLocation(m_workDir.filePath(QStringLiteral("idle/Keldra.ini")));
        auto window = makeWindow();
        window->show();
        QVERIFY(createAndUnlock(*window, m_workDir.filePath(QStringLiteral("idle.kldr"))));
        auto* lock = window->findChild<InactivityLock*>();
        QVERIFY(lock);
        qint64 now = 0;
        lock->setClock([&now] { return now; });
        QCOMPARE(lock->timeoutMinutes(), 10);

        // Use of the program counts the period again.
        now = 9 * kMinute;
        lock->check();
        QTest::keyClick(window->vaultBrowser()->table(), Qt::Key_Down);
        now = 18 * kMinute;
        lock->check();
        QCOMPARE(window->vault().state(), VaultState::Unlocked);
        now = 19 * kMinute + 1;
        lock->check();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Locked);
        QCOMPARE(status(*window), QStringLiteral("Cofre bloqueado por inatividade."));

        // "Preferências" changes the period and keeps it; "nunca" never locks.
        const auto choose = [&](int minutes) {
            DialogHooks::queueDialogHandler([minutes](QDialog& dialog) {
                auto* box = dialog.findChild<QSpinBox*>(QStringLiteral("inactivityMinutes"));
                if (minutes == 0 && box->specialValueText() != QStringLiteral("nunca"))
                    return int(QDialog::Rejected);
                box->setValue(minutes);
                return int(QDialog::Accepted);
            });
            window->findChild<QAction*>(QStringLiteral("preferencesAction"))->trigger();
        };
        choose(2);
        QCOMPARE(AppSettings::inactivityMinutes(), 2);
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        SessionWait::idle(*window);
        now += 2 * kMinute;
        lock->check();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Locked);
        choose(0);
        QCOMPARE(AppSettings::inactivityMinutes(), 0);
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        SessionWait::idle(*window);
        now += 600 * kMinute;
        lock->check();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Unlocked);

        // The session locking locks the vault whatever the period.
        lock->reportSystemLock();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Locked);
        QVERIFY(status(*window).contains(QStringLiteral("suspensão")));

        // ...also when it comes in the middle of a command: once it has ended.
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        SessionWait::idle(*window);
        const QString big = m_workDir.filePath(QStringLiteral("grande.bin"));
        QVERIFY(writeFile(big, QByteArray(40 << 20, 'g')));
        QVERIFY(window->vault().importFile(big, QStringLiteral("grande.bin")));
        window->refreshVaultFiles();
        window->verifyVault();
        QVERIFY(window->session().isBusy());
        lock->reportSystemLock();
        SessionWait::idle(*window);
        QTRY_COMPARE(window->vault().state(), VaultState::Locked);
        DialogHooks::takeRecords();
        QVERIFY(SessionWait::closeWindow(*window));
    }

    void copiesOpenForEditingKeepTheVaultUnlocked()
    {
        auto window = makeWindow();
        QVERIFY(createAndUnlock(*window, m_workDir.filePath(QStringLiteral("copies.kldr"))));
        const QString local = m_workDir.filePath(QStringLiteral("nota.txt"));
        QVERIFY(writeFile(local, "nota"));
        QVERIFY(window->vault().importFile(local, QStringLiteral("nota.txt")));
        window->refreshVaultFiles();
        QVERIFY(selectRow(*window, QStringLiteral("nota.txt")));
        DesktopLauncher::setLauncher([](const QUrl&) { return true; });
        window->openSelectedFile();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Unlocked);

        auto* lock = window->findChild<InactivityLock*>();
        qint64 now = 0;
        lock->setClock([&now] { return now; });
        now = 11 * kMinute;
        lock->check();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Unlocked);
        QVERIFY2(status(*window).contains(QStringLiteral("abertos para edição")),
                 qPrintable(status(*window)));
        lock->reportSystemLock();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Unlocked);

        // Locked by hand and opened again, the old copy no longer holds it.
        window->lockVault();
        SessionWait::idle(*window);
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        SessionWait::idle(*window);
        now += 11 * kMinute;
        lock->check();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), VaultState::Locked);
    }
};

QTEST_MAIN(TestWindowPreferences)
#include "test_window_preferences.moc"
