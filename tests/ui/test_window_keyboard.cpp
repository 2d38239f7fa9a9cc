// The window's size and keyboard use: resizing down to a small screen, menu
// letters and key names, Tab between the parts, and which row stays selected
// after the table's commands.
#include "SessionWait.h"
#include "VaultWindowFixture.h"
#include "ui/DeviceListPanel.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;

namespace {

// The Alt letter of a menu text, lower case; null without one.
QChar mnemonic(const QString& text)
{
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
}

// Every item of the menu and its submenus has a letter of its own in its menu.
void checkMenuLetters(const QList<QAction*>& actions, const QString& where, QStringList* faults)
{
    QSet<QChar> used;
    for (const QAction* action : actions) {
        if (action->isSeparator())
            continue;
        const QChar letter = mnemonic(action->text());
        if (letter.isNull() || used.contains(letter))
            *faults << QStringLiteral("%1 > %2").arg(where, action->text());
        used.insert(letter);
        if (action->menu())
            checkMenuLetters(action->menu()->actions(), where + QStringLiteral(" > ") + action->text(),
                             faults);
    }
}

// Where the widget lies in the window's client area.
QRect inWindow(const QWidget* widget)
{
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

} // namespace

class TestWindowKeyboard : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;

    QString source(const QString& name)
    {
        const QString path = m_workDir.filePath(QStringLiteral("src/") + name);
        writeFile(path, name.toUtf8());
        return path;
    }

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
    }

    void init() { DialogHooks::reset(); }

    void windowResizesDownToASmallScreen()
    {
        auto window = makeWindow();
        QVERIFY(window->minimumSize() != window->maximumSize());
        // It starts within the screen (the test screen is smaller than the usual start).
        const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
        QVERIFY(window->width() <= available.width() && window->height() <= available.height());
        QVERIFY(window->maximumWidth() > 2000 && window->maximumHeight() > 2000);
        window->show();
        window->resize(1, 1);
        QTest::qWait(10);
        // 800 x 600 less a panel and a title bar.
        const QSize minimum = window->size();
        QVERIFY2(minimum.width() <= 780 && minimum.height() <= 520,
                 qPrintable(QStringLiteral("%1 x %2").arg(minimum.width()).arg(minimum.height())));
        const QRect client = window->rect();
        for (const QWidget* part :
             QList<const QWidget*>{window->deviceListPanel()->padlock(), window->vaultBrowser()->searchBox(),
                                   window->findChild<QWidget*>(QStringLiteral("vaultStateLabel")),
                                   window->findChild<QWidget*>(QStringLiteral("containerLabel"))})
            QVERIFY2(client.contains(inWindow(part)), qPrintable(part->objectName()));

        // Larger, the table and the drive list take the room.
        const int tableWidth = window->vaultBrowser()->table()->width();
        const int tableHeight = window->vaultBrowser()->table()->height();
        const int listWidth = window->deviceListPanel()->list()->width();
        window->resize(minimum + QSize(200, 100));
        QTest::qWait(10);
        QVERIFY(window->vaultBrowser()->table()->width() >= tableWidth + 180);
        QVERIFY(window->vaultBrowser()->table()->height() >= tableHeight + 80);
        QVERIFY(window->deviceListPanel()->list()->width() >= listWidth + 180);
        window->showMaximized();
        QVERIFY(window->isMaximized());
    }

    void menusHaveLettersAndKeyNames()
    {
        auto window = makeWindow();
        QStringList faults;
        checkMenuLetters(window->menuBar()->actions(), QStringLiteral("barra"), &faults);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));

        const auto action = [&](const char* name) {
            return window->findChild<QAction*>(QString::fromLatin1(name));
        };
        QCOMPARE(action("openAction")->shortcut().toString(QKeySequence::NativeText),
                 QStringLiteral("Enter"));
        QCOMPARE(action("deleteFileAction")->shortcut().toString(QKeySequence::NativeText),
                 QStringLiteral("Delete"));

        // Moving and renaming a file are in the protected files' menu too, with keys of their own.
        QMenu* protectedMenu =
            action("newFolderAction")->associatedObjects().isEmpty()
                ? nullptr
                : qobject_cast<QMenu*>(action("newFolderAction")->associatedObjects().first());
        QVERIFY(protectedMenu);
        QVERIFY(protectedMenu->actions().contains(action("moveFileAction")));
        QVERIFY(protectedMenu->actions().contains(action("renameFileAction")));
        QCOMPARE(action("renameFileAction")->shortcut(), QKeySequence(Qt::Key_F2));
        QVERIFY(!action("moveFileAction")->shortcut().isEmpty());
        QStringList keys;
        for (QAction* item : window->findChildren<QAction*>()) {
            if (!item->shortcut().isEmpty() && item != action("renameFolderAction"))
                keys << item->shortcut().toString();
        }
        const qsizetype count = keys.size();
        keys.removeDuplicates();
        QCOMPARE(keys.size(), count);
    }

    void altLettersAndF10OpenTheMenus()
    {
        auto window = makeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QMenuBar* bar = window->menuBar();
        QTest::keyClick(window.get(), Qt::Key_U, Qt::AltModifier);
        QVERIFY(bar->activeAction());
        QCOMPARE(bar->activeAction()->text().remove(QLatin1Char('&')), QStringLiteral("USB"));
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        bar->setActiveAction(nullptr);

        QTest::keyClick(window->vaultBrowser()->table(), Qt::Key_F10);
        QVERIFY(bar->activeAction());
        QCOMPARE(bar->activeAction(), bar->actions().first());
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }

    void tableIsOneTabStopWithRowKeys()
    {
        auto window = makeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        const QString container = m_workDir.filePath(QStringLiteral("keys.kldr"));
        QVERIFY(createAndUnlock(*window, container));
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            QVERIFY(window->vault().importFile(source(QString::fromLatin1(name)), QString::fromLatin1(name)));
        QVERIFY(window->vault().createDirectory(QStringLiteral("pasta")));
        window->refreshVaultFiles();
        QTableWidget* table = window->vaultBrowser()->table();
        table->setFocus();
        table->setCurrentCell(1, 1);

        // End and Home go to the last and first rows.
        QTest::keyClick(table, Qt::Key_End);
        QCOMPARE(table->currentRow(), table->rowCount() - 1);
        QTest::keyClick(table, Qt::Key_Home);
        QCOMPARE(table->currentRow(), 0);
        QCOMPARE(table->currentColumn(), 1);

        // Shift+F10 asks for the context menu of the current row.
        QObject::disconnect(window->vaultBrowser(), &VaultBrowser::contextMenuRequested, window.get(),
                            nullptr);
        QSignalSpy menu(window->vaultBrowser(), &VaultBrowser::contextMenuRequested);
        QTest::keyClick(table, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(menu.size(), 1);

        // Tab leaves the table and comes back around; it never walks cells.
        QList<QWidget*> visited;
        for (int i = 0; i < 8 && (visited.isEmpty() || QApplication::focusWidget() != table); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(table->currentRow(), 0);
        QVERIFY(visited.first() != table);
        QVERIFY(visited.contains(window->deviceListPanel()->padlock()));
        QCOMPARE(visited.last(), table);
        QTest::keyClick(table, Qt::Key_Backtab);
        QVERIFY(QApplication::focusWidget() != table);
        QVERIFY(SessionWait::closeWindow(*window));
    }

    void rowsStaySelectedAfterTableCommands()
    {
        auto window = makeWindow();
        const QString container = m_workDir.filePath(QStringLiteral("rows.kldr"));
        QVERIFY(createAndUnlock(*window, container));
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            QVERIFY(window->vault().importFile(source(QString::fromLatin1(name)), QString::fromLatin1(name)));
        QVERIFY(window->vault().createDirectory(QStringLiteral("alfa")));
        QVERIFY(window->vault().createDirectory(QStringLiteral("beta")));
        QVERIFY(window->vault().createDirectory(QStringLiteral("vazia")));
        QVERIFY(window->vault().createDirectory(QStringLiteral("beta/dentro")));
        window->refreshVaultFiles();
        VaultBrowser* browser = window->vaultBrowser();
        QTableWidget* table = browser->table();

        // Up with "..", and with Backspace: the folder left is selected.
        QVERIFY(selectRow(*window, QStringLiteral("beta")));
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(browser->currentDirectory(), QStringLiteral("beta"));
        QVERIFY(selectRow(*window, QStringLiteral("dentro")));
        QTest::keyClick(table, Qt::Key_Return);
        QVERIFY(selectRow(*window, QStringLiteral("..")));
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(browser->selectedDirectoryPath(), QStringLiteral("beta/dentro"));
        QTest::keyClick(table, Qt::Key_Backspace);
        QCOMPARE(browser->currentDirectory(), QString());
        QCOMPARE(browser->selectedDirectoryPath(), QStringLiteral("beta"));

        // A renamed file or folder stays selected under its new name.
        QVERIFY(selectRow(*window, QStringLiteral("b.txt")));
        DialogHooks::queueText(QStringLiteral("z.txt"));
        window->renameSelectedFile();
        QCOMPARE(browser->selectedVaultPath(), QStringLiteral("z.txt"));
        QVERIFY(selectRow(*window, QStringLiteral("alfa")));
        DialogHooks::queueText(QStringLiteral("gama"));
        window->renameSelectedDirectory();
        QCOMPARE(browser->selectedDirectoryPath(), QStringLiteral("gama"));

        // After a delete the row that took its place is selected; the last row's predecessor.
        QCOMPARE(rowNames(*window), QStringList({"beta", "gama", "vazia", "a.txt", "c.txt", "z.txt"}));
        QVERIFY(selectRow(*window, QStringLiteral("a.txt")));
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedFile();
        QCOMPARE(browser->selectedVaultPath(), QStringLiteral("c.txt"));
        QVERIFY(selectRow(*window, QStringLiteral("z.txt")));
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedFile();
        QCOMPARE(browser->selectedVaultPath(), QStringLiteral("c.txt"));
        QVERIFY(selectRow(*window, QStringLiteral("vazia")));
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedDirectory();
        QCOMPARE(browser->selectedVaultPath(), QStringLiteral("c.txt"));
        QVERIFY(SessionWait::closeWindow(*window));
    }
};

QTEST_MAIN(TestWindowKeyboard)
#include "test_window_keyboard.moc"
