// The window keeps edits in open copies: a pulled drive locks the vault and
// keeps them for the next unlock, which offers them back; deleting a file
// whose copy holds edits asks first.
#include "SessionWait.h"
#include "TempLocationOverride.h"
#include "VaultWindowFixture.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;
using Kind = DialogHooks::Kind;

class TestEditCopiesWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    std::unique_ptr<TestSupport::TempLocationOverride> m_tempLocation;

    QString openCopy(MainWindow& window, const QString& vaultPath, const QByteArray& content)
    {
        QString copy;
        if (!window.vault().importFile(source(vaultPath, content), vaultPath) ||
            !window.vault().prepareFileForEditing(vaultPath, &copy))
            return QString();
        return copy;
    }
    QString source(const QString& name, const QByteArray& content)
    {
        const QString path = m_workDir.filePath(QStringLiteral("src/") + name);
        writeFile(path, content);
        return path;
    }
    bool actionEnabled(MainWindow& window, const char* name)
    {
        return window.findChild<QAction*>(QString::fromLatin1(name))->isEnabled();
    }

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
        // Workspaces of this test only.
        QVERIFY(QDir().mkpath(m_workDir.filePath(QStringLiteral("tmp"))));
        m_tempLocation =
            std::make_unique<TestSupport::TempLocationOverride>(m_workDir.filePath(QStringLiteral("tmp")));
    }
    void cleanupTestCase() { m_tempLocation.reset(); }
    void cleanup() { DialogHooks::reset(); }

    void pulledDriveLocksAndEditsComeBackAtNextUnlock()
    {
        const QString container = m_workDir.filePath(QStringLiteral("usb/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(container).absolutePath()));
        auto window = makeWindow();
        QVERIFY(createAndUnlock(*window, container));
        const auto* watch = window->findChild<QTimer*>(QStringLiteral("containerWatch"));
        QVERIFY(watch && watch->isActive());
        QVERIFY(watch->interval() <= 1000); // noticed within two seconds

        const QString edited = openCopy(*window, QStringLiteral("nota.txt"), "original");
        const QString untouched = openCopy(*window, QStringLiteral("outra.txt"), "outra");
        QVERIFY(writeFile(edited, "editada antes de puxar o pendrive"));
        window->refreshVaultFiles();

        const QString aside = container + QStringLiteral(".fora");
        QVERIFY(QFile::rename(container, aside));
        QTRY_COMPARE_WITH_TIMEOUT(window->vault().state(), Core::VaultState::Locked, 10000);
        // The message says the edited copy was kept.
        const QStringList pulled = texts(DialogHooks::takeRecords(), Kind::Warning);
        QCOMPARE(pulled.size(), 1);
        QVERIFY2(pulled.first().startsWith(QStringLiteral("A unidade do cofre foi removida. O cofre foi "
                                                          "bloqueado.\n\nAs cópias editadas de 1 arquivo(s) "
                                                          "foram mantidas")),
                 qPrintable(pulled.first()));
        for (const char* action :
             {"lockAction", "importAction", "openAction", "newFolderAction", "compactAction"})
            QVERIFY2(!actionEnabled(*window, action), action);
        QVERIFY(window->vault().fileIndex().entries().isEmpty());
        QVERIFY(rowNames(*window).isEmpty());
        QVERIFY(QFileInfo::exists(edited));
        QVERIFY(!QFileInfo::exists(untouched));

        // Closing asks, because the edits are not in the vault yet; "Não" keeps the window.
        window->show();
        DialogHooks::queueQuestionAnswer(false);
        QVERIFY(!SessionWait::closeWindow(*window));
        const QStringList asked = texts(DialogHooks::takeRecords(), Kind::Question);
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.first().contains(QStringLiteral("1 arquivo(s)")), qPrintable(asked.first()));
        DialogHooks::queueQuestionAnswer(true);
        QVERIFY(SessionWait::closeWindow(*window));

        // The drive is back: the next unlock names the edited file, with
        // "Sim" as the default; "Não" says where the edits stay.
        QVERIFY(QFile::rename(aside, container));
        DialogHooks::takeRecords();
        DialogHooks::queueText(kPassword);
        DialogHooks::queueQuestionAnswer(false);
        window->unlockVault();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question).size(), 1);
        const QString offered = texts(records, Kind::Question).first();
        QVERIFY2(offered.contains(QStringLiteral("\n  nota.txt\n")) &&
                     !offered.contains(QStringLiteral("outra")),
                 qPrintable(offered));
        for (const DialogHooks::Record& record : records) {
            if (record.kind == Kind::Question)
                QVERIFY(record.acceptByDefault);
        }
        QCOMPARE(texts(records, Kind::Information).size(), 1);
        QVERIFY2(texts(records, Kind::Information).first().contains(QStringLiteral("próximo desbloqueio")),
                 qPrintable(texts(records, Kind::Information).first()));
        QVERIFY(QFileInfo::exists(edited));
        window->lockVault();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        QVERIFY(QFileInfo::exists(edited));

        // Offered again at the next unlock; "Sim" stores it.
        DialogHooks::queueText(kPassword);
        DialogHooks::queueQuestionAnswer(true);
        window->unlockVault();
        SessionWait::idle(*window);
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question).size(), 1);
        QVERIFY(texts(records, Kind::Information).isEmpty());
        QCOMPARE(
            vaultContent(*window, QStringLiteral("nota.txt"), m_workDir.filePath(QStringLiteral("n.out"))),
            QByteArray("editada antes de puxar o pendrive"));
        QVERIFY(!QFileInfo::exists(edited));
        QVERIFY(SessionWait::closeWindow(*window)); // nothing left unsaved: no question
        QVERIFY(texts(DialogHooks::takeRecords(), Kind::Question).isEmpty());
    }

    void recoveryNamesTenFilesThenCountsTheRest()
    {
        const QString container = m_workDir.filePath(QStringLiteral("many/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(container).absolutePath()));
        auto window = makeWindow();
        QVERIFY(createAndUnlock(*window, container));
        for (int i = 0; i < 12; ++i) {
            const QString copy =
                openCopy(*window, QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "v1");
            QVERIFY(writeFile(copy, "v2 editada"));
        }
        const QString aside = container + QStringLiteral(".fora");
        QVERIFY(QFile::rename(container, aside));
        QTRY_COMPARE_WITH_TIMEOUT(window->vault().state(), Core::VaultState::Locked, 10000);
        QVERIFY(texts(DialogHooks::takeRecords(), Kind::Warning)
                    .first()
                    .contains(QStringLiteral("12 arquivo(s)")));
        QVERIFY(QFile::rename(aside, container));

        DialogHooks::queueText(kPassword);
        DialogHooks::queueQuestionAnswer(true);
        window->unlockVault();
        SessionWait::idle(*window);
        const QStringList offered = texts(DialogHooks::takeRecords(), Kind::Question);
        QCOMPARE(offered.size(), 1);
        int listed = 0;
        for (int i = 0; i < 12; ++i)
            listed += offered.first().contains(QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')));
        QCOMPARE(listed, 10);
        QVERIFY2(offered.first().contains(QStringLiteral("\n  e mais 2\n")), qPrintable(offered.first()));
        QVERIFY(SessionWait::closeWindow(*window));
    }

    void deletingAFileWithEditsAsksFirst()
    {
        const QString container = m_workDir.filePath(QStringLiteral("del/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(container).absolutePath()));
        auto window = makeWindow();
        QVERIFY(createAndUnlock(*window, container));
        const QString copy = openCopy(*window, QStringLiteral("apagar.txt"), "v1");
        QVERIFY(writeFile(copy, "v2 editada"));
        window->refreshVaultFiles();

        QVERIFY(selectRow(*window, QStringLiteral("apagar.txt")));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueQuestionAnswer(false);
        window->deleteSelectedFile();
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Question).size(), 2);
        QVERIFY(filePaths(*window).contains(QStringLiteral("apagar.txt")));
        QCOMPARE(readFile(copy), QByteArray("v2 editada"));

        QVERIFY(selectRow(*window, QStringLiteral("apagar.txt")));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueQuestionAnswer(true);
        window->deleteSelectedFile();
        QVERIFY(!filePaths(*window).contains(QStringLiteral("apagar.txt")));
        QVERIFY(!QFileInfo::exists(copy));
        // Locking does not bring the deleted file back.
        window->lockVault();
        SessionWait::idle(*window);
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        SessionWait::idle(*window);
        QVERIFY(!filePaths(*window).contains(QStringLiteral("apagar.txt")));
        QVERIFY(SessionWait::closeWindow(*window));
    }
};

QTEST_MAIN(TestEditCopiesWindow)
#include "test_edit_copies_window.moc"
