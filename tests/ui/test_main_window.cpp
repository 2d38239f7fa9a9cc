#include "FakeDeviceManager.h"
#include "SessionWait.h"
#include "TestFiles.h"
#include "ui/DesktopLauncher.h"
#include "ui/DeviceListPanel.h"
#include "ui/MainWindow.h"
#include "ui/VaultBrowser.h"
#include "widgets/DialogHooks.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>

#include <memory>

using namespace Keldra;
using namespace Keldra::UI;
using Keldra::Widgets::DialogHooks;
using namespace TestSupport;

namespace {

const QByteArray kPassword = QByteArrayLiteral("senha-de-teste-1");

struct Window
{
    FakeDeviceManager* devices = nullptr;
    std::unique_ptr<MainWindow> window;

    explicit Window(const QList<Platform::UsbDevice>& initial = {})
    {
        auto fake = std::make_unique<FakeDeviceManager>();
        fake->devices = initial;
        devices = fake.get();
        window = std::make_unique<MainWindow>(std::move(fake));
    }
    MainWindow* operator->() const { return window.get(); }

    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    QListWidget* deviceList() const { return window->deviceListPanel()->list(); }
    VaultBrowser* browser() const { return window->vaultBrowser(); }
    QTableWidget* table() const { return browser()->table(); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(QString::fromLatin1(name)); }
    void choose(const QString& container) const
    {
        DialogHooks::queueFileName(container);
        action("chooseContainerAction")->trigger();
    }
    void unlock(const QByteArray& password = kPassword) const
    {
        DialogHooks::queueText(QString::fromUtf8(password));
        action("unlockAction")->trigger();
        SessionWait::idle(*window);
    }
    QStringList names() const
    {
        QStringList result;
        for (int row = 0; row < table()->rowCount(); ++row)
            result << table()->item(row, 1)->text();
        return result;
    }
    int rowOf(const QString& name) const { return names().indexOf(name); }
    void clickHeader(int column) const { emit table()->horizontalHeader()->sectionClicked(column); }
};

QStringList enabledActions(const Window& window)
{
    QStringList enabled;
    for (const char* name :
         {"exitAction",       "refreshDevicesAction", "chooseContainerAction", "createVaultAction",
          "backupAction",     "changePasswordAction", "unlockAction",          "lockAction",
          "newFolderAction",  "importAction",         "exportAction",          "openAction",
          "moveFileAction",   "renameFileAction",     "renameFolderAction",    "deleteFolderAction",
          "deleteFileAction", "compactAction",        "verifyAction",          "helpAction",
          "websiteAction",    "aboutAction"}) {
        QAction* action = window.action(name);
        if (!action)
            return {QStringLiteral("missing ") + QString::fromLatin1(name)};
        if (action->isEnabled())
            enabled << QString::fromLatin1(name);
    }
    return enabled;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_vaultPath; // a vault with folders and files, built once

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
        m_vaultPath = m_workDir.filePath(QStringLiteral("drive/keldra.kldr"));
        QVERIFY(QDir().mkpath(m_workDir.filePath(QStringLiteral("drive"))));

        // Folders and files built straight through the vault, so the browser
        // has something to show; the window only unlocks it.
        Core::VaultManager vault;
        QVERIFY(vault.createVault(m_vaultPath, kPassword));
        QVERIFY(vault.unlockVault(m_vaultPath, kPassword));
        const QString source = m_workDir.filePath(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(source));
        const QList<QPair<QString, QByteArray>> files = {
            {QStringLiteral("b.txt"), QByteArray(300, 'b')},
            {QStringLiteral("a.txt"), QByteArray(100, 'a')},
            {QStringLiteral("C.txt"), QByteArray(100, 'c')},
            {QStringLiteral("foto.JPG"), QByteArray(200, 'j')},
            {QStringLiteral("DOCS/nota.md"), QByteArray(10, 'n')},
            {QStringLiteral("docs/2024/fundo.txt"), QByteArray(1, 'f')},
        };
        for (const auto& [path, content] : files) {
            const QString local =
                QDir(source).filePath(QString(path).replace(QLatin1Char('/'), QLatin1Char('_')));
            QVERIFY(writeFile(local, content));
            QVERIFY2(vault.importFile(local, path), qPrintable(path));
        }
        QVERIFY(vault.createDirectory(QStringLiteral("Zeta")));
        QVERIFY(vault.lockVault());
    }

    void init() { DialogHooks::reset(); }

    void windowSizeFollowsTheScreen_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("wide screen is capped") << QSize(1920, 1040) << QSize(1152, 648);
        QTest::newRow("minimum width") << QSize(1280, 720) << QSize(900, 506);
        QTest::newRow("height-limited") << QSize(1024, 500) << QSize(888, 500);
        QTest::newRow("cap reached exactly") << QSize(1921, 2000) << QSize(1152, 648);
    }
    void windowSizeFollowsTheScreen()
    {
        QFETCH(QSize, available);
        QFETCH(QSize, expected);
        QCOMPARE(MainWindow::centralAreaSize(available), expected);
    }

    void windowShellIsResizableAndTitled()
    {
        Window window;
        QCOMPARE(window->windowTitle(), QStringLiteral("Keldra"));
        QVERIFY(window->minimumSize() != window->maximumSize());
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Pronto"));
        QCOMPARE(window.label("versionLabel")->text(), QStringLiteral("Versão 1.0.0"));
        QCOMPARE(window.label("dateLabel")->text(),
                 QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")));
        QCOMPARE(window.deviceList()->count(), 1);
        QCOMPARE(window.deviceList()->item(0)->text(), QStringLiteral("Nenhum dispositivo USB detectado."));
        QCOMPARE(window.action("openAction")->shortcut(), QKeySequence(Qt::Key_Return));
        QCOMPARE(window.action("lockAction")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+L")));

        MainWindow withoutDetection{std::unique_ptr<Platform::DeviceManager>()};
        QListWidget* list = withoutDetection.deviceListPanel()->list();
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(),
                 QStringLiteral("Detecção de USB ainda não disponível neste sistema."));
    }

    void defaultDriveIsTheOnlyMountedOne()
    {
        const QString a = m_workDir.filePath(QStringLiteral("drive"));
        Window one({FakeDeviceManager::unmounted(QStringLiteral("SEM"), QStringLiteral("/dev/sdz1")),
                    FakeDeviceManager::mounted(QStringLiteral("PENDRIVE"), a)});
        QCOMPARE(one.deviceList()->currentRow(), 1);
        QVERIFY(one.deviceList()->item(1)->text().startsWith(QStringLiteral("PENDRIVE (%1) | ").arg(a)));
        QVERIFY(one.deviceList()->item(1)->text().endsWith(QStringLiteral(" livres")));

        Window two({FakeDeviceManager::mounted(QStringLiteral("A"), a),
                    FakeDeviceManager::mounted(QStringLiteral("B"), m_workDir.path())});
        QCOMPARE(two.deviceList()->currentRow(), -1);
        QVERIFY(two.deviceList()->selectedItems().isEmpty());

        // A refresh that leaves one drive selects it.
        two.devices->devices.removeLast();
        two.action("refreshDevicesAction")->trigger();
        QCOMPARE(two.deviceList()->currentRow(), 0);
    }

    void unmountedDrivesAreGreyAndUnselectable()
    {
        Platform::UsbDevice noNode = FakeDeviceManager::unmounted(QString(), QString());
        Window window(
            {FakeDeviceManager::unmounted(QStringLiteral("DADOS"), QStringLiteral("/dev/sdz1")), noNode});
        QListWidgetItem* item = window.deviceList()->item(0);
        QCOMPARE(item->text(), QStringLiteral("DADOS (/dev/sdz1) | não montado"));
        QCOMPARE(window.deviceList()->item(1)->text(),
                 QStringLiteral("não montado (não montado) | não montado"));
        QVERIFY(!(item->flags() & Qt::ItemIsSelectable));
        // Greyed: drawn unlike the list's normal text.
        QVERIFY(item->foreground().style() != Qt::NoBrush);
        QVERIFY(item->foreground().color() != window.deviceList()->palette().color(QPalette::Text));
        QCOMPARE(item->data(Qt::UserRole).toString(), QString());
        const QString hint =
            QStringLiteral("Monte a unidade USB no gerenciador de arquivos e atualize a lista.");
        QCOMPARE(item->toolTip(), hint);
        window.deviceList()->setCurrentRow(0);
        QVERIFY(window.deviceList()->selectedItems().isEmpty());
        // Double-clicking a drive without a mount point does nothing.
        emit window.deviceList()->itemDoubleClicked(item);
        QVERIFY(DialogHooks::records().isEmpty());
        // Choosing a container elsewhere keeps the hint of the greyed drive.
        window.choose(QStringLiteral("/elsewhere/keldra.kldr"));
        QCOMPARE(item->toolTip(), hint);
    }

    void containerDriveSnapsBack()
    {
        const QString a = m_workDir.filePath(QStringLiteral("drive"));
        const QString b = m_workDir.path();
        // B's root is a prefix of A's path, and B is listed last: only a
        // trailing-slash match on A's directory may win, and the later match wins.
        Window window(
            {FakeDeviceManager::mounted(QStringLiteral("A"), a + QLatin1Char('/')),
             FakeDeviceManager::mounted(QStringLiteral("C"), m_workDir.filePath(QStringLiteral("dr"))),
             FakeDeviceManager::mounted(QStringLiteral("B"), b)});
        window.choose(m_vaultPath);
        QCOMPARE(window->containerFilePath(), m_vaultPath);
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Container selecionado."));
        QCOMPARE(window.deviceList()->currentRow(), 2);

        window.devices->devices = {FakeDeviceManager::mounted(QStringLiteral("B"), b),
                                   FakeDeviceManager::mounted(QStringLiteral("A"), a)};
        window.action("refreshDevicesAction")->trigger();
        QCOMPARE(window.deviceList()->currentRow(), 1);

        window.deviceList()->setCurrentRow(0);
        QCOMPARE(window.deviceList()->currentRow(), 1);
        QListWidgetItem* item = window.deviceList()->item(1);
        QCOMPARE(item->font().weight(), int(QFont::Bold));
        QVERIFY(item->background() != window.deviceList()->item(0)->background());
        QCOMPARE(item->toolTip(), QStringLiteral("Dispositivo associado ao container selecionado."));
        QCOMPARE(window.deviceList()->item(0)->font().weight(), int(QFont::Normal));
    }

    void similarMountPointsDoNotMatch()
    {
        // Rooted on the current drive on Windows, as the chosen container is.
        const QString media = QFileInfo(QStringLiteral("/media/u")).absoluteFilePath();
        Window window({FakeDeviceManager::mounted(QStringLiteral("USB1"), media + QStringLiteral("/USB1"))});
        QCOMPARE(window.deviceList()->currentRow(), 0);
        window.choose(media + QStringLiteral("/USB10/keldra.kldr"));
        QCOMPARE(window.deviceList()->currentRow(), -1);
        QCOMPARE(window.deviceList()->item(0)->font().weight(), int(QFont::Normal));

        window.devices->devices.append(
            FakeDeviceManager::mounted(QStringLiteral("USB10"), media + QStringLiteral("/USB10")));
        window.action("refreshDevicesAction")->trigger();
        QCOMPARE(window.deviceList()->currentRow(), 1);
    }

    void statusBarNamesTheContainer_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QString() << "Container: nenhum";
        QTest::newRow("default name in capitals") << "/x/KELDRA.KLDR"
                                                  << "Container: Keldra";
        QTest::newRow("other name") << "/x/copia.kldr"
                                    << "Container: copia.kldr";
        QTest::newRow("long name") << "/x/um-nome-de-container-bem-comprido-demais.kldr"
                                   << "Container: um-nome-de-container-bem-comprido-demais.kldr";
    }
    void statusBarNamesTheContainer()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        Window window;
        window->show();
        if (!path.isEmpty())
            window.choose(path);
        QLabel* label = window.label("containerLabel");
        // The tooltip adds where the container is (on Windows, rooted paths gain the current drive).
        const QString where = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
        QCOMPARE(label->toolTip(), path.isEmpty() ? text : text + QLatin1Char('\n') + where);
        // The visible text fits the label, elided in the middle when needed.
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width() - 8);
        if (label->fontMetrics().horizontalAdvance(text) <= label->width() - 8)
            QCOMPARE(label->text(), text);
        else
            QVERIFY(label->text().contains(QChar(0x2026)));
        QCOMPARE(window.label("vaultStateLabel")->text(), QStringLiteral("COFRE"));
        QVERIFY(window.label("vaultStateLabel")->isVisible());
    }

    void doubleClickingADriveFindsItsContainer()
    {
        const QString empty = m_workDir.filePath(QStringLiteral("empty-drive"));
        QVERIFY(QDir().mkpath(empty));
        Window window({FakeDeviceManager::mounted(QStringLiteral("VAZIO"), empty),
                       FakeDeviceManager::mounted(QStringLiteral("COFRE"),
                                                  m_workDir.filePath(QStringLiteral("drive")))});
        emit window.deviceList()->itemDoubleClicked(window.deviceList()->item(0));
        QCOMPARE(window->containerFilePath(), QString());
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title, QStringLiteral("Keldra"));
        // Says which file was looked for, and where.
        QVERIFY(records[0].text.contains(QStringLiteral("keldra.kldr")));
        QVERIFY(records[0].text.contains(empty));

        emit window.deviceList()->itemDoubleClicked(window.deviceList()->item(1));
        QCOMPARE(window->containerFilePath(), m_vaultPath);
        QVERIFY(window.action("unlockAction")->isEnabled());
        QCOMPARE(window.deviceList()->currentRow(), 1);
    }

    // One unlock covers the action states, the browser and closing.
    void actionsBrowserAndClosingWithAnUnlockedVault()
    {
        Window window;
        QToolButton* padlock = window->deviceListPanel()->padlock();
        window->show();

        QCOMPARE(enabledActions(window),
                 QStringList({"exitAction", "refreshDevicesAction", "chooseContainerAction",
                              "createVaultAction", "helpAction", "websiteAction", "aboutAction"}));
        QVERIFY(!padlock->isEnabled());
        QCOMPARE(padlock->toolTip(), QStringLiteral("Selecione um container para desbloquear o cofre."));
        QCOMPARE(window.label("protectedFilesLabel")->text(), QStringLiteral("Nenhum cofre em uso (aberto)"));
        const QImage lockedState = window.label("vaultStateLabel")->grab().toImage();

        window.choose(m_vaultPath);
        QCOMPARE(enabledActions(window),
                 QStringList({"exitAction", "refreshDevicesAction", "chooseContainerAction",
                              "createVaultAction", "backupAction", "changePasswordAction", "unlockAction",
                              "helpAction", "websiteAction", "aboutAction"}));
        QVERIFY(padlock->isEnabled());
        QVERIFY(!padlock->isChecked());
        QCOMPARE(padlock->toolTip(), QStringLiteral("Desbloquear cofre"));

        // A cancelled password prompt from the padlock leaves it unchecked.
        padlock->click();
        SessionWait::idle(*window.window);
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        QVERIFY(!padlock->isChecked());

        DialogHooks::queueText(QString::fromUtf8(kPassword));
        padlock->click();
        SessionWait::idle(*window.window);
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QVERIFY(padlock->isChecked());
        QCOMPARE(padlock->toolTip(), QStringLiteral("Bloquear cofre"));
        // The same label, drawn otherwise once the vault is open.
        QVERIFY(window.label("vaultStateLabel")->grab().toImage() != lockedState);
        QCOMPARE(window.label("protectedFilesLabel")->text(),
                 QStringLiteral("Arquivos protegidos | Pasta: Raiz | 6 arquivos no cofre."));
        QCOMPARE(enabledActions(window),
                 QStringList({"exitAction", "lockAction", "newFolderAction", "importAction", "compactAction",
                              "verifyAction", "helpAction", "websiteAction", "aboutAction"}));

        // Root: folders first (by name), then files; no ".." row; nothing selected.
        QTableWidget* table = window.table();
        QCOMPARE(window.names(), QStringList({"DOCS", "Zeta", "a.txt", "b.txt", "C.txt", "foto.JPG"}));
        QCOMPARE(table->currentRow(), -1);
        QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Pasta"));
        QCOMPARE(table->item(5, 3)->text(), QStringLiteral("JPG"));
        QVERIFY(table->item(5, 2)->textAlignment() & Qt::AlignRight);

        // Selection-dependent actions.
        table->selectRow(window.rowOf(QStringLiteral("b.txt")));
        QCOMPARE(window.browser()->selectedVaultPath(), QStringLiteral("b.txt"));
        QCOMPARE(
            enabledActions(window),
            QStringList({"exitAction", "lockAction", "newFolderAction", "importAction", "exportAction",
                         "openAction", "moveFileAction", "renameFileAction", "deleteFileAction",
                         "compactAction", "verifyAction", "helpAction", "websiteAction", "aboutAction"}));
        table->selectRow(window.rowOf(QStringLiteral("Zeta")));
        QVERIFY(window.browser()->selectedItemIsDirectory());
        QCOMPARE(window.browser()->selectedVaultPath(), QString());
        // A folder row is exported, moved and deleted like a file, with its content.
        QCOMPARE(
            enabledActions(window),
            QStringList({"exitAction", "lockAction", "newFolderAction", "importAction", "exportAction",
                         "moveFileAction", "renameFolderAction", "deleteFolderAction", "deleteFileAction",
                         "compactAction", "verifyAction", "helpAction", "websiteAction", "aboutAction"}));

        // Sorting: size descending keeps folders on top, sorted by name.
        window.clickHeader(2);
        window.clickHeader(2);
        QCOMPARE(window.names(), QStringList({"Zeta", "DOCS", "b.txt", "foto.JPG", "C.txt", "a.txt"}));
        QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 2);
        QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        window.clickHeader(3); // another column starts ascending
        QCOMPARE(window.names(), QStringList({"DOCS", "Zeta", "foto.JPG", "a.txt", "b.txt", "C.txt"}));
        QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
        window.clickHeader(0); // the icon column does not sort
        QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 3);
        window.clickHeader(1);

        // Into "DOCS": the parent match ignores letter case ("docs/2024" was
        // created under "DOCS"), and ".." leads back to the root.
        table->selectRow(window.rowOf(QStringLiteral("DOCS")));
        emit table->itemDoubleClicked(table->item(table->currentRow(), 1));
        QCOMPARE(window.browser()->currentDirectory(), QStringLiteral("DOCS"));
        QCOMPARE(window.names(), QStringList({"..", "2024", "nota.md"}));
        QCOMPARE(table->item(0, 1)->data(Qt::UserRole).toString(), QString());
        QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Pasta"));
        QCOMPARE(window.label("protectedFilesLabel")->text(),
                 QStringLiteral("Arquivos protegidos | Pasta: DOCS | 6 arquivos no cofre."));
        table->selectRow(0);
        QVERIFY(window.browser()->selectedItemIsParentDirectory());
        QVERIFY(!window.action("renameFolderAction")->isEnabled());

        table->selectRow(window.rowOf(QStringLiteral("2024")));
        window.browser()->enterSelectedDirectory();
        QCOMPARE(window.names(), QStringList({"..", "fundo.txt"}));
        QCOMPARE(window.browser()->currentDirectory(), QStringLiteral("docs/2024"));
        QCOMPARE(table->item(0, 1)->data(Qt::UserRole).toString(), QStringLiteral("docs"));
        table->selectRow(0);
        emit table->itemDoubleClicked(table->item(0, 1));
        QCOMPARE(window.browser()->currentDirectory(), QStringLiteral("docs"));
        window.browser()->navigateToParentDirectory();
        QCOMPARE(window.browser()->currentDirectory(), QString());
        QCOMPARE(window.names().first(), QStringLiteral("DOCS"));

        // Closing locks the vault.
        QVERIFY(SessionWait::closeWindow(*window.window));
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
    }

    void keyboardReachesTheTableNotThePlaceholders()
    {
        Window window;
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.window.get()));
        QListWidget* list = window.deviceList();
        QCOMPARE(list->count(), 1);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Space);
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(list->currentRow(), -1);

        // Unlocked, the arrows move through the vault's rows.
        window.choose(m_vaultPath);
        window.unlock();
        QTRY_COMPARE(QApplication::focusWidget(), window.table()); // once the progress dialog has gone
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(window.table()->currentRow(), 0);
        QVERIFY(window.browser()->selectedItemIsDirectory());
        QVERIFY(SessionWait::closeWindow(*window.window));
    }

    void websiteAddressIsToldWhenNoBrowserStarts()
    {
        Window window;
        QList<QUrl> asked;
        bool started = true;
        DesktopLauncher::setLauncher([&](const QUrl& url) {
            asked << url;
            return started;
        });
        window.action("websiteAction")->trigger();
        QVERIFY(DialogHooks::takeRecords().isEmpty());
        started = false;
        window.action("websiteAction")->trigger();
        DesktopLauncher::setLauncher({});
        QCOMPARE(asked.size(), 2);
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].kind, DialogHooks::Kind::Information);
        QVERIFY2(records[0].text.contains(asked[0].toString()), qPrintable(records[0].text));
    }

    void helpWithoutItsResourceSaysSo()
    {
        // This test program is built without the resources.
        Window window;
        QString shown;
        DialogHooks::queueDialogHandler([&](QDialog& dialog) {
            shown = dialog.findChild<QTextBrowser*>()->toPlainText();
            return int(QDialog::Rejected);
        });
        window.action("helpAction")->trigger();
        QVERIFY(shown.startsWith(QStringLiteral("Ajuda indisponível")));
        QVERIFY(shown.contains(QStringLiteral("Não foi possível carregar o arquivo de ajuda do Keldra.")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
