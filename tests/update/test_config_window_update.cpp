// "Verificar atualizações" in the preparation tool's window: the device checks, the
// question and message boxes, the log, and a real update served from 127.0.0.1.
#include "LoopbackHttpServer.h"
#include "UpdateFixtures.h"
#include "UpdateTestCase.h"
#include "config/ConfigWindow.h"
#include "config/ConfigWindowUpdate.h"
#include "platform/DeviceManager.h"
#include "widgets/DialogHooks.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Keldra;
using namespace UpdateFixtures;

namespace {

const QString kTitle = QStringLiteral("KeldraConfig");

class FixedDevices : public Platform::DeviceManager
{
public:
    explicit FixedDevices(QList<Platform::UsbDevice> devices) : m_devices(std::move(devices)) {}
    QList<Platform::UsbDevice> detectUsbDevices() const override { return m_devices; }

private:
    QList<Platform::UsbDevice> m_devices;
};

Platform::UsbDevice drive(const QString& root, bool mounted)
{
    Platform::UsbDevice device;
    device.id = QStringLiteral("/dev/sdz1:") + root;
    device.devicePath = QStringLiteral("/dev/sdz1");
    device.displayName = QStringLiteral("KELDRA");
    device.rootPath = mounted ? root : QString();
    device.removable = true;
    device.mounted = mounted;
    return device;
}

bool progressDialogVisible()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (qobject_cast<QProgressDialog*>(widget) && widget->isVisible())
            return true;
    }
    return false;
}

} // namespace

class ConfigWindowUpdateTest : public UpdateTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void unusableSelectionsAreRefused();
    void updateFromTheWindow();
    void declinedUpdateChangesNothing();
    void unreachableManifestIsReported();

private:
    std::unique_ptr<Config::ConfigWindow> windowFor(const QList<Platform::UsbDevice>& devices);
};

void ConfigWindowUpdateTest::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QCOMPARE(Config::updateManifestUrl().scheme(), QStringLiteral("https"));
    QCOMPARE(Config::updateManifestUrl().path(), kManifestPath);
    // Whatever else runs on this machine, the application is not running from the test drive.
    Config::setUpdateRunningProbe([] { return false; });
}

void ConfigWindowUpdateTest::init()
{
    Widgets::DialogHooks::setTestMode(true);
    Widgets::DialogHooks::reset();
    setUpStage();
    publishUpdate();
    Config::setUpdateManifestUrl(QUrl(manifestUrl()));
}

void ConfigWindowUpdateTest::cleanup()
{
    Widgets::DialogHooks::setTestMode(false);
    Widgets::DialogHooks::reset();
}

std::unique_ptr<Config::ConfigWindow>
ConfigWindowUpdateTest::windowFor(const QList<Platform::UsbDevice>& devices)
{
    auto window = std::make_unique<Config::ConfigWindow>(std::make_unique<FixedDevices>(devices));
    window->refreshDevices();
    return window;
}

void ConfigWindowUpdateTest::unusableSelectionsAreRefused()
{
    // Two mounted drives: nothing is preselected. The button reaches the update.
    auto twoDrives = windowFor({drive(m_root, true), drive(m_work->path(), true)});
    QPushButton* check = nullptr;
    for (QPushButton* button : twoDrives->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Verificar atualizações"))
            check = button;
    }
    QVERIFY(check);
    check->click();
    auto shown = Widgets::DialogHooks::takeRecords();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, Widgets::DialogHooks::Kind::Information);
    QCOMPARE(shown.first().title, kTitle);
    QCOMPARE(shown.first().text, QStringLiteral("Selecione uma unidade USB primeiro."));

    auto unmounted = windowFor({drive(m_root, false), drive(m_work->path(), true)});
    QComboBox* combo = unmounted->findChild<QComboBox*>();
    QVERIFY(combo);
    combo->setCurrentIndex(0);
    unmounted->updateSelectedDevice();
    shown = Widgets::DialogHooks::takeRecords();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text,
             QStringLiteral("Monte a unidade USB e atualize a lista antes de verificar atualizações."));
    QVERIFY(m_server->requestedPaths().isEmpty());
}

void ConfigWindowUpdateTest::updateFromTheWindow()
{
    auto window = windowFor({drive(m_root, true)});
    window->show();
    Widgets::DialogHooks::queueQuestionAnswer(true);
    window->updateSelectedDevice();
    // It runs beside the window, which waits for it before it closes.
    QVERIFY(window->isBusy());
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!window->isBusy(), 60000);
    QVERIFY(!window->isVisible());

    const auto shown = Widgets::DialogHooks::takeRecords();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.at(0).kind, Widgets::DialogHooks::Kind::Question);
    QCOMPARE(shown.at(0).title, QStringLiteral("Atualização disponível"));
    QVERIFY(shown.at(0).text.startsWith(QStringLiteral("Atualizar Keldra na unidade %1?").arg(m_root)));
    QCOMPARE(shown.at(1).kind, Widgets::DialogHooks::Kind::Information);
    QCOMPARE(shown.at(1).title, kTitle);
    QCOMPARE(shown.at(1).text, QStringLiteral("Atualização concluída.\n\nVersão instalada: 1.2.0"));
    QVERIFY(window->logText().endsWith(QStringLiteral("Unidade atualizada para Keldra 1.2.0.")));
    QCOMPARE(readFile(QDir(m_root).filePath(QStringLiteral("Keldra/windows/Keldra.exe"))),
             QByteArrayLiteral("Keldra/windows/Keldra.exe 1.2.0"));
    QVERIFY(!progressDialogVisible());
}

void ConfigWindowUpdateTest::declinedUpdateChangesNothing()
{
    auto window = windowFor({drive(m_root, true)});
    const auto before = snapshot(m_root);
    Widgets::DialogHooks::queueQuestionAnswer(false);
    window->updateSelectedDevice();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isBusy(), 60000);

    const auto shown = Widgets::DialogHooks::takeRecords();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, Widgets::DialogHooks::Kind::Question);
    QVERIFY(window->logText().endsWith(QStringLiteral("Atualização cancelada pelo usuário.")));
    QCOMPARE(m_server->requestCount(QStringLiteral("/pkg.zip")), 0);
    QCOMPARE(snapshot(m_root), before);
    QVERIFY(!progressDialogVisible());
}

void ConfigWindowUpdateTest::unreachableManifestIsReported()
{
    const QString missing = m_server->baseUrl() + QStringLiteral("/000Updates/keldra/missing.json");
    Config::setUpdateManifestUrl(QUrl(missing));
    auto window = windowFor({drive(m_root, true)});
    window->updateSelectedDevice();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isBusy(), 60000);

    const QString expected =
        QStringLiteral("Falha ao consultar manifesto: HTTP 404 ao acessar: %1").arg(missing);
    const auto shown = Widgets::DialogHooks::takeRecords();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, Widgets::DialogHooks::Kind::Warning);
    QCOMPARE(shown.first().title, kTitle);
    QCOMPARE(shown.first().text, expected);
    QVERIFY(window->logText().endsWith(expected));
    QVERIFY(!progressDialogVisible());
}

QTEST_MAIN(ConfigWindowUpdateTest)
#include "test_config_window_update.moc"
