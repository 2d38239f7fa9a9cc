// The preparation tool's window against a fake detector, with its dialogs
// answered in advance.
#include "config/BackgroundWidget.h"
#include "config/ConfigAbout.h"
#include "config/ConfigWindow.h"
#include "config/QtTranslation.h"
#include "deployment/UpdateState.h"
#include "widgets/DialogHooks.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Keldra::Config;
using Keldra::Platform::DeviceManager;
using Keldra::Platform::UsbDevice;
using Keldra::Widgets::DialogHooks;

namespace {

class FakeDeviceManager : public DeviceManager
{
public:
    explicit FakeDeviceManager(QList<UsbDevice>* devices) : m_devices(devices) {}
    QList<UsbDevice> detectUsbDevices() const override { return *m_devices; }

private:
    QList<UsbDevice>* m_devices;
};

UsbDevice device(const QString& name, const QString& devicePath, const QString& root, bool mounted)
{
    UsbDevice d;
    d.id = mounted ? devicePath + QLatin1Char(':') + root : devicePath;
    d.devicePath = devicePath;
    d.displayName = name;
    d.rootPath = root;
    d.mounted = mounted;
    d.removable = true;
    return d;
}

bool touch(const QString& path, const QByteArray& content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QStringList itemTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(combo->itemText(i));
    return texts;
}

// Runs action once the next modal message box is up, then returns what it saw.
void whenMessageBoxOpens(const std::function<void(QMessageBox*)>& action)
{
    QTimer::singleShot(0, [action] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            whenMessageBoxOpens(action);
            return;
        }
        action(box);
    });
}

} // namespace

class ConfigWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QList<UsbDevice> m_devices;
    std::unique_ptr<ConfigWindow> m_window;

    QString path(const QString& relative) const { return QDir(m_dir.path()).filePath(relative); }
    QComboBox* combo() const { return m_window->findChild<QComboBox*>(QStringLiteral("deviceCombo")); }
    QStringList logLines() const { return m_window->logText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

    // A window whose Linux source is a finished runtime folder (no ldd needed).
    void useLinuxRuntimeSource()
    {
        const QString tool = path(QStringLiteral("tool"));
        QVERIFY(touch(tool + QStringLiteral("/bundles/linux-x64/Keldra"), "program"));
        QVERIFY(touch(tool + QStringLiteral("/bundles/linux-x64/qt.conf"), "[Paths]\n"));
        m_window->locateBundleSources(tool, path(QStringLiteral("no-build-tree")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCoreApplication::setApplicationVersion(Keldra::Deployment::configToolVersion());
    }

    void init()
    {
        m_devices.clear();
        m_window = std::make_unique<ConfigWindow>(std::make_unique<FakeDeviceManager>(&m_devices));
        DialogHooks::setTestMode(true);
        DialogHooks::reset();
    }

    void cleanup()
    {
        m_window.reset();
        DialogHooks::setTestMode(false);
        DialogHooks::reset();
    }

    void listsDevicesAndSelectsTheOnlyMountedOne()
    {
        m_devices = {device(QStringLiteral("DADOS"), QStringLiteral("/dev/sdb1"), QString(), false),
                     device(QString(), QStringLiteral("/dev/sdc1"), QStringLiteral("/media/x"), true),
                     device(QString(), QString(), QString(), false),
                     device(QStringLiteral("SEM RAIZ"), QStringLiteral("/dev/sdd1"), QString(), true)};
        m_window->refreshDevices();
        QCOMPARE(itemTexts(combo()), (QStringList{QStringLiteral("DADOS (/dev/sdb1) | não montado"),
                                                  QStringLiteral("/media/x (/media/x)"),
                                                  QStringLiteral("não montado (não montado) | não montado"),
                                                  QStringLiteral("SEM RAIZ ()")}));
        QCOMPARE(combo()->currentIndex(), 1);
        QCOMPARE(logLines().last(), QStringLiteral("4 unidade(s) USB detectada(s)."));

        // Two usable drives: the user must choose.
        m_devices.append(
            device(QStringLiteral("PEN"), QStringLiteral("/dev/sde1"), QStringLiteral("/media/pen"), true));
        m_window->refreshDevices();
        QCOMPARE(combo()->count(), 5);
        QCOMPARE(combo()->currentIndex(), -1);

        m_devices.clear();
        m_window->refreshDevices();
        QCOMPARE(combo()->count(), 0);
        QCOMPARE(logLines().last(), QStringLiteral("Nenhuma unidade USB detectada."));
    }

    void menuAndButtonRefreshTheList()
    {
        m_devices = {
            device(QStringLiteral("PEN"), QStringLiteral("/dev/sdb1"), QStringLiteral("/media/pen"), true)};
        const QList<QAction*> menus = m_window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus.at(0)->text(), QStringLiteral("Arquivo"));
        QCOMPARE(menus.at(1)->text(), QStringLiteral("Ajuda"));
        QStringList fileEntries;
        QAction* refresh = nullptr;
        for (QAction* action : menus.at(0)->menu()->actions()) {
            fileEntries.append(action->isSeparator() ? QStringLiteral("-") : action->text());
            if (action->text() == QLatin1String("Atualizar lista"))
                refresh = action;
        }
        QCOMPARE(fileEntries,
                 (QStringList{QStringLiteral("Atualizar lista"), QStringLiteral("Preparar unidade USB"),
                              QStringLiteral("-"), QStringLiteral("Sair")}));
        QVERIFY(refresh);
        refresh->trigger();
        QCOMPARE(combo()->count(), 1);

        m_devices.append(m_devices.first());
        for (auto* button : m_window->findChildren<QAbstractButton*>())
            if (button->text() == QLatin1String("Atualizar lista"))
                button->click();
        QCOMPARE(combo()->count(), 2);
    }

    void withoutDetectorSaysSo()
    {
        ConfigWindow window{std::unique_ptr<DeviceManager>{}};
        window.refreshDevices();
        QCOMPARE(window.logText(), QStringLiteral("Detecção de USB não disponível neste sistema."));
    }

    void findsSourcesNextToTheToolFirst()
    {
        const QString tool = path(QStringLiteral("discovery/tool"));
        const QString tree = path(QStringLiteral("discovery/tree"));
        QVERIFY(touch(tool + QStringLiteral("/bundles/windows-x64/Keldra.exe")));
        QVERIFY(touch(tool + QStringLiteral("/bundles/linux-x64/Keldra")));
        QVERIFY(touch(tool + QStringLiteral("/Keldra")));
        QVERIFY(touch(tree + QStringLiteral("/bundles/windows-x64/Keldra.exe")));
        m_window->locateBundleSources(tool, tree);
        QCOMPARE(m_window->windowsBundleSource().executablePath,
                 tool + QStringLiteral("/bundles/windows-x64/Keldra.exe"));
        QCOMPARE(m_window->windowsBundleSource().directory, tool + QStringLiteral("/bundles/windows-x64"));
        QCOMPARE(m_window->linuxBundleSource().executablePath,
                 tool + QStringLiteral("/bundles/linux-x64/Keldra"));

        // Each source falls back to the build tree on its own.
        QVERIFY(QDir(tool + QStringLiteral("/bundles/windows-x64")).removeRecursively());
        QVERIFY(touch(tree + QStringLiteral("/out/build/x64-release/Release/Keldra.exe")));
        m_window->locateBundleSources(tool, tree);
        QCOMPARE(m_window->windowsBundleSource().executablePath,
                 tree + QStringLiteral("/bundles/windows-x64/Keldra.exe"));
        m_window->reportBundleSources();
        QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("windowsSourceLabel"))->text(),
                 QStringLiteral("Disponível"));
        QCOMPARE(logLines(), (QStringList{QStringLiteral("Fonte Windows para preparação encontrada."),
                                          QStringLiteral("Fonte Linux para preparação encontrada.")}));

        m_window->locateBundleSources(path(QStringLiteral("discovery/empty")),
                                      path(QStringLiteral("discovery/none")));
        QVERIFY(!m_window->windowsBundleSource().isAvailable());
        QVERIFY(!m_window->linuxBundleSource().isAvailable());
        m_window->reportBundleSources();
        QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("linuxSourceLabel"))->text(),
                 QStringLiteral("Ausente"));
        QCOMPARE(logLines().mid(2), (QStringList{QStringLiteral("Fonte Windows para preparação ausente."),
                                                 QStringLiteral("Fonte Linux para preparação ausente.")}));
    }

    // The build puts the vault application beside the tool; its own copy in a folder of its own wins
    // over the one among all programs.
    void buildTreeProgramIsFoundBesideTheTool()
    {
        const QString bin = QStringLiteral(KELDRA_BIN_DIR);
        m_window->locateBundleSources(bin, path(QStringLiteral("no-tree")));
        QCOMPARE(m_window->linuxBundleSource().executablePath,
                 bin + QStringLiteral("/bundles/linux-x64/Keldra"));
    }

    void prepareRefusesWithoutWhatItNeeds()
    {
        const QString title = QStringLiteral("KeldraConfig");
        m_window->locateBundleSources(path(QStringLiteral("nothing")), path(QStringLiteral("nothing")));
        m_window->prepareSelectedDevice();
        QList<DialogHooks::Record> shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().kind, DialogHooks::Kind::Warning);
        QCOMPARE(shown.first().title, title);
        QCOMPARE(shown.first().text,
                 QStringLiteral("Compile pelo menos um bundle do Keldra antes de preparar a unidade."));

        useLinuxRuntimeSource();
        m_devices = {
            device(QStringLiteral("A"), QStringLiteral("/dev/sdb1"), QStringLiteral("/media/a"), true),
            device(QStringLiteral("B"), QStringLiteral("/dev/sdc1"), QString(), false),
            device(QStringLiteral("C"), QStringLiteral("/dev/sdd1"), QStringLiteral("/media/c"), true)};
        m_window->refreshDevices();
        m_window->prepareSelectedDevice();
        shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().kind, DialogHooks::Kind::Information);
        QCOMPARE(shown.first().text, QStringLiteral("Selecione uma unidade USB primeiro."));

        combo()->setCurrentIndex(1);
        m_window->prepareSelectedDevice();
        shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().text,
                 QStringLiteral("Monte a unidade USB no gerenciador de arquivos e atualize a lista "
                                "antes de preparar."));

        // "Não" to the question leaves the drive alone.
        const QString root = path(QStringLiteral("declined-drive"));
        QVERIFY(QDir().mkpath(root));
        m_devices = {device(QStringLiteral("PEN"), QStringLiteral("/dev/sdb1"), root, true)};
        m_window->refreshDevices();
        DialogHooks::queueQuestionAnswer(false);
        m_window->prepareSelectedDevice();
        shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().kind, DialogHooks::Kind::Question);
        QCOMPARE(shown.first().title, QStringLiteral("Preparar unidade USB"));
        QVERIFY2(shown.first().text.contains(root), qPrintable(shown.first().text));
        QVERIFY(QDir(root).isEmpty());
    }

    void preparesTheSelectedDriveAndRecordsItsState()
    {
        useLinuxRuntimeSource();
        const QString root = path(QStringLiteral("window-drive"));
        QVERIFY(QDir().mkpath(root));
        m_devices = {device(QStringLiteral("PEN"), QStringLiteral("/dev/sdb1"), root, true)};
        m_window->refreshDevices();
        DialogHooks::queueQuestionAnswer(true);
        m_window->prepareSelectedDevice();
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isBusy(), 60000);

        const QList<DialogHooks::Record> shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1).kind, DialogHooks::Kind::Information);
        QCOMPARE(shown.at(1).title, QStringLiteral("KeldraConfig"));
        // Only the Linux bundle was there to copy: no Windows launcher, and the user is told so.
        QVERIFY(shown.at(1).text.endsWith(QStringLiteral("\n\nPreparado para: Linux")));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Keldra-Windows.bat")));
        const QStringList lines = logLines();
        QCOMPARE(
            lines.mid(lines.size() - 2),
            (QStringList{
                QStringLiteral("Unidade preparada: %1").arg(root),
                QStringLiteral("Estado de atualização registrado: %1/Keldra/update-state.json").arg(root)}));
        QVERIFY(QFileInfo(root + QStringLiteral("/Keldra/linux/qt.conf")).isFile());
        QVERIFY(QFileInfo(Keldra::Deployment::updateStatePath(root)).isFile());
    }

    void reportsAFailedPreparation()
    {
        useLinuxRuntimeSource();
        const QString root = path(QStringLiteral("vanished-drive"));
        m_devices = {device(QStringLiteral("PEN"), QStringLiteral("/dev/sdb1"), root, true)};
        m_window->refreshDevices();
        DialogHooks::queueQuestionAnswer(true);
        m_window->prepareSelectedDevice();
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isBusy(), 60000);
        const QList<DialogHooks::Record> shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1).kind, DialogHooks::Kind::Warning);
        QCOMPARE(shown.at(1).text, QStringLiteral("Unidade USB inválida."));
        QCOMPARE(logLines().last(), QStringLiteral("Falha: Unidade USB inválida."));
        QVERIFY(!QFileInfo::exists(Keldra::Deployment::updateStatePath(root)));
    }

    void yesNoQuestionDefaultsToNo()
    {
        DialogHooks::setTestMode(false);
        DialogHooks::reset();
        QStringList buttons;
        QString defaultButton;
        whenMessageBoxOpens([&](QMessageBox* box) {
            for (QAbstractButton* button : box->buttons())
                buttons.append(button->text());
            defaultButton = box->defaultButton()->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QVERIFY(!DialogHooks::question(nullptr, QStringLiteral("Título"), QStringLiteral("Pergunta?"),
                                       QStringLiteral("Sim"), QStringLiteral("Não")));
        buttons.sort();
        QCOMPARE(buttons, (QStringList{QStringLiteral("Não"), QStringLiteral("Sim")}));
        QCOMPARE(defaultButton, QStringLiteral("Não"));

        whenMessageBoxOpens([](QMessageBox* box) { box->close(); });
        QVERIFY(!DialogHooks::question(nullptr, QStringLiteral("Título"), QStringLiteral("Pergunta?"),
                                       QStringLiteral("Sim"), QStringLiteral("Não")));

        whenMessageBoxOpens([](QMessageBox* box) {
            for (QAbstractButton* button : box->buttons())
                if (button->text() == QLatin1String("Sim"))
                    button->click();
        });
        QVERIFY(DialogHooks::question(nullptr, QStringLiteral("Título"), QStringLiteral("Pergunta?"),
                                      QStringLiteral("Sim"), QStringLiteral("Não")));
    }

    // The tool runs on Linux only: its about box names what it is built with there.
    void aboutListsTheLinuxComponents()
    {
        Keldra::Widgets::AboutDialog dialog(configAboutContent());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Sobre o Keldra"));
        // Every component's details, in the order listed.
        QStringList details;
        for (int row = 0; row < dialog.componentList()->count(); ++row) {
            dialog.componentList()->setCurrentRow(row);
            details.append(dialog.detailsView()->toPlainText());
        }
        const QString text = details.join(QStringLiteral("\n\n"));
        QVERIFY(text.startsWith(
            QStringLiteral("Qt Core/Network/Widgets - %1\n").arg(QString::fromLatin1(qVersion()))));
        for (const char* component : {"libsodium\n", "libzip\n", "glibc", "Interfaces do Linux"})
            QVERIFY2(text.contains(QLatin1String(component)), component);
        QVERIFY(!text.contains(QStringLiteral("Microsoft")));
    }

    // Qt's own buttons speak Portuguese too, from a folder beside the program
    // (as a bundle carries it) or from Qt's translations.
    void qtButtonsArePortuguese()
    {
        const QString qm =
            QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_pt_BR.qm");
        if (!QFileInfo::exists(qm))
            QSKIP("Qt's Portuguese translation is not installed here");
        const QString beside = path(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(beside + QStringLiteral("/translations")));
        QVERIFY(QFile::copy(qm, beside + QStringLiteral("/translations/qtbase_pt_BR.qm")));
        QVERIFY(installQtTranslation(beside));
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancelar"));
        QVERIFY(installQtTranslation(path(QStringLiteral("no-translations-here"))));
    }

    void backgroundSizeFollowsTheScreen()
    {
        QCOMPARE(ConfigWindow::backgroundSizeFor(QSize(1920, 1040)), QSize(1152, 648));
        QCOMPARE(ConfigWindow::backgroundSizeFor(QSize(1366, 728)), QSize(900, 506));
        QCOMPARE(ConfigWindow::backgroundSizeFor(QSize(1000, 500)), QSize(888, 500));
        QCOMPARE(ConfigWindow::backgroundSizeFor(QSize(3840, 2100)), QSize(1152, 648));
        QCOMPARE(ConfigWindow::backgroundSizeFor(QSize()), QSize(960, 540));

        // The window cannot be resized.
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("KeldraConfig"));
    }

    // The picture covers the widget and is cut evenly on the overflowing side.
    void backgroundIsCentredAndCropped()
    {
        QImage picture(100, 100, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QPainter(&picture).fillRect(0, 0, 100, 25, Qt::green);
        QPainter(&picture).fillRect(0, 25, 100, 25, Qt::red);
        BackgroundWidget widget;
        widget.resize(200, 100);
        widget.setPixmap(QPixmap::fromImage(picture));
        const QImage shown = widget.grab().toImage();
        // Scaled to 200 x 200 and shifted up by 50: green is cut off, red then blue remain.
        QCOMPARE(QColor(shown.pixel(100, 10)), QColor(Qt::red));
        QCOMPARE(QColor(shown.pixel(100, 90)), QColor(Qt::blue));
        QCOMPARE(QColor(shown.pixel(5, 45)), QColor(Qt::red));
    }
};

QTEST_MAIN(ConfigWindowTest)
#include "test_config_window.moc"
