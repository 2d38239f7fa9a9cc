#include "FakeDeviceManager.h"
#include "SessionWait.h"
#include "TestFiles.h"
#include "ui/MainWindow.h"
#include "ui/VaultBrowser.h"
#include "widgets/DialogHooks.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "ui/ChangePasswordDialog.h"

#include <memory>

using namespace Keldra;
using namespace Keldra::UI;
using Keldra::Widgets::DialogHooks;
using namespace TestSupport;
using Kind = DialogHooks::Kind;

namespace {

// Five two-byte characters: ten UTF-8 bytes, the shortest accepted password.
const QString kPassword = QStringLiteral("ááááá");

QStringList texts(const QList<DialogHooks::Record>& records, Kind kind)
{
    QStringList result;
    for (const DialogHooks::Record& record : records) {
        if (record.kind == kind)
            result << record.text;
    }
    return result;
}

std::unique_ptr<MainWindow> makeWindow()
{
    return std::make_unique<MainWindow>(std::make_unique<FakeDeviceManager>());
}

void trigger(MainWindow& window, const char* action)
{
    window.findChild<QAction*>(QString::fromLatin1(action))->trigger();
    SessionWait::idle(window);
}

} // namespace

class TestVaultAccessCommands : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_containerPath; // created by the first test, used by the others

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
        m_containerPath = m_workDir.filePath(QStringLiteral("keldra.kldr"));
    }

    void init() { DialogHooks::reset(); }

    void newPasswordsAreCheckedBeforeAnythingIsWritten()
    {
        auto window = makeWindow();
        // Cancelled file dialog, cancelled first and second prompts.
        trigger(*window, "createVaultAction");
        DialogHooks::queueFileName(m_containerPath);
        trigger(*window, "createVaultAction");
        DialogHooks::queueFileName(m_containerPath);
        DialogHooks::queueText(QStringLiteral("0123456789"));
        trigger(*window, "createVaultAction");
        QVERIFY(texts(DialogHooks::records(), Kind::Warning).isEmpty());

        DialogHooks::queueFileName(m_containerPath);
        DialogHooks::queueText(QStringLiteral("0123456789"));
        DialogHooks::queueText(QStringLiteral("0123456780"));
        trigger(*window, "createVaultAction");
        DialogHooks::queueFileName(m_containerPath);
        DialogHooks::queueText(QStringLiteral("123456789"));
        DialogHooks::queueText(QStringLiteral("123456789"));
        trigger(*window, "createVaultAction");

        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList({"As senhas informadas não coincidem.",
                              "Use uma senha com pelo menos 10 caracteres para criar o cofre."}));
        QStringList prompts;
        for (const DialogHooks::Record& record : records) {
            if (record.kind == Kind::Text)
                prompts << record.title + QLatin1Char('|') + record.text;
            if (record.kind == Kind::SaveFile)
                QCOMPARE(record.title + QLatin1Char('|') + record.text,
                         QStringLiteral("Criar container Keldra|keldra.kldr"));
        }
        // The first prompt already says how long the password must be.
        QCOMPARE(prompts.mid(0, 3), QStringList({"Definir senha do cofre|Senha (pelo menos 10 caracteres):",
                                                 "Definir senha do cofre|Senha (pelo menos 10 caracteres):",
                                                 "Confirmar senha do cofre|Senha:"}));
        // Prompts and refusals are centred on the window.
        for (const DialogHooks::Record& record : records)
            QCOMPARE(record.parent, window.get());
        QVERIFY(!QFile::exists(m_containerPath));
        QCOMPARE(window->containerFilePath(), QString());
    }

    void createThenUnlockShowsAnEmptyRoot()
    {
        auto window = makeWindow();
        // A folder that is gone is reported before the new password is typed.
        DialogHooks::queueFileName(m_workDir.filePath(QStringLiteral("missing-folder/keldra.kldr")));
        DialogHooks::queueText(kPassword);
        DialogHooks::queueText(kPassword);
        trigger(*window, "createVaultAction");
        const QList<DialogHooks::Record> refused = DialogHooks::takeRecords();
        QCOMPARE(texts(refused, Kind::Warning), QStringList{"A pasta de destino não foi encontrada."});
        QVERIFY(texts(refused, Kind::Text).isEmpty());
        QCOMPARE(window->containerFilePath(), QString());

        DialogHooks::queueFileName(m_containerPath);
        DialogHooks::queueText(kPassword);
        DialogHooks::queueText(kPassword);
        trigger(*window, "createVaultAction");
        QVERIFY(QFile::exists(m_containerPath));
        QCOMPARE(window->containerFilePath(), m_containerPath);
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Cofre criado com sucesso."));
        QVERIFY(window->findChild<QAction*>(QStringLiteral("unlockAction"))->isEnabled());

        DialogHooks::queueText(kPassword);
        trigger(*window, "unlockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Cofre desbloqueado."));
        QCOMPARE(window->findChild<QTableWidget*>()->rowCount(), 0);
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("protectedFilesLabel"))->text(),
                 QStringLiteral("Arquivos protegidos | Pasta: Raiz | O cofre está vazio."));

        // Backup and password change refuse to run while unlocked.
        window->backupContainer();
        SessionWait::idle(*window);
        window->changeVaultPassword();
        SessionWait::idle(*window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Information),
                 QStringList({"Bloqueie o cofre antes de fazer o backup.",
                              "Bloqueie o cofre antes de alterar a senha."}));

        trigger(*window, "lockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Cofre bloqueado."));
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("protectedFilesLabel"))->text(),
                 QStringLiteral("Nenhum cofre em uso (aberto)"));
    }

    void createNeverReplacesAFileAndStartsOnTheDrive()
    {
        // The only mounted drive is selected: the dialog starts at its root.
        const QString drive = m_workDir.filePath(QStringLiteral("pendrive"));
        QVERIFY(QDir().mkpath(drive));
        auto devices = std::make_unique<FakeDeviceManager>();
        devices->devices = {FakeDeviceManager::mounted(QStringLiteral("PENDRIVE"), drive)};
        MainWindow window(std::move(devices));
        trigger(window, "createVaultAction");
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].text, drive + QStringLiteral("/keldra.kldr"));

        // An existing vault is refused before any password is asked for.
        const QByteArray before = readFile(m_containerPath);
        QVERIFY(!before.isEmpty());
        DialogHooks::queueFileName(m_containerPath);
        DialogHooks::queueText(QStringLiteral("outra-senha-123"));
        DialogHooks::queueText(QStringLiteral("outra-senha-123"));
        trigger(window, "createVaultAction");
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Text), QStringList());
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList{"Já existe um cofre neste arquivo. Escolha outro nome ou apague-o antes pelo "
                             "gerenciador de arquivos."});
        QCOMPARE(readFile(m_containerPath), before);
        QCOMPARE(window.containerFilePath(), QString());

        // Any other file of that name is not called a vault.
        const QString notes = m_workDir.filePath(QStringLiteral("notas.kldr"));
        QVERIFY(writeFile(notes, "texto qualquer"));
        DialogHooks::queueFileName(notes);
        trigger(window, "createVaultAction");
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Text), QStringList());
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList{"Já existe um arquivo com este nome. Escolha outro nome."});
        QCOMPARE(readFile(notes), QByteArray("texto qualquer"));
    }

    void unlockNamesTheContainerAndSaysWhatItIsDoing()
    {
        auto window = makeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        DialogHooks::queueFileName(m_containerPath);
        trigger(*window, "chooseContainerAction");
        DialogHooks::takeRecords();

        // While the key is derived: the message, and a busy cursor.
        QStringList shown;
        connect(window->statusBar(), &QStatusBar::messageChanged, this, [&](const QString& message) {
            if (message.isEmpty())
                return;
            const QCursor* cursor = QApplication::overrideCursor();
            shown << message + (cursor && cursor->shape() == Qt::WaitCursor ? QStringLiteral(" [busy]")
                                                                            : QString());
        });
        DialogHooks::queueText(kPassword);
        trigger(*window, "unlockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QCOMPARE(shown, QStringList({"Derivando a chave do cofre... [busy]", "Cofre desbloqueado."}));
        QVERIFY(!QApplication::overrideCursor());
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title,
                 QStringLiteral("Senha do cofre - ") + QDir::toNativeSeparators(m_containerPath));
        QCOMPARE(records[0].parent, window.get());
        // The vault's rows take the keyboard.
        QCOMPARE(QApplication::focusWidget(), window->vaultBrowser()->table());
        QVERIFY(SessionWait::closeWindow(*window));
    }

    void wrongPasswordLeavesTheVaultLocked()
    {
        auto window = makeWindow();
        DialogHooks::queueFileName(m_containerPath);
        trigger(*window, "chooseContainerAction");
        DialogHooks::queueText(QStringLiteral("senha-errada-123"));
        trigger(*window, "unlockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Não foi possível desbloquear o cofre. Verifique a senha ou se o container "
                             "foi alterado."});
        QVERIFY(window->findChild<QAction*>(QStringLiteral("unlockAction"))->isEnabled());

        // The right password on a container whose index was altered, and a
        // file that is no container at all: both are damage, not the password.
        const QString damaged = m_workDir.filePath(QStringLiteral("danificado.kldr"));
        QVERIFY(QFile::copy(m_containerPath, damaged));
        Core::ContainerManager containers;
        Core::ContainerDocument document;
        QVERIFY(containers.readDocument(damaged, &document).ok());
        document.encryptedIndex[0] = char(document.encryptedIndex.at(0) ^ 1);
        QVERIFY(containers.updateDocumentHeader(damaged, document).ok());
        const QString notAVault = m_workDir.filePath(QStringLiteral("nota.kldr"));
        QFile note(notAVault);
        QVERIFY(note.open(QIODevice::WriteOnly) && note.write("uma nota qualquer") > 0);
        note.close();
        for (const QString& path : {damaged, notAVault}) {
            DialogHooks::queueFileName(path);
            trigger(*window, "chooseContainerAction");
            DialogHooks::queueText(kPassword);
            trigger(*window, "unlockAction");
            QCOMPARE(window->vault().state(), Core::VaultState::Locked);
            QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                     QStringList{"O container está danificado ou não é um cofre do Keldra."});
        }
    }

    void backupCopiesTheContainerExactly()
    {
        auto window = makeWindow();
        window->backupContainer();
        SessionWait::idle(*window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Information),
                 QStringList{"Selecione um container primeiro."});

        DialogHooks::queueFileName(m_workDir.filePath(QStringLiteral("nao-existe.kldr")));
        trigger(*window, "chooseContainerAction");
        // Greyed out for a container that is not there; the command still refuses it.
        QVERIFY(!window->findChild<QAction*>(QStringLiteral("backupAction"))->isEnabled());
        window->backupContainer();
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.last().title, QStringLiteral("Fazer backup"));
        QCOMPARE(records.last().text, QStringLiteral("O arquivo do container não foi encontrado."));

        DialogHooks::queueFileName(m_containerPath);
        trigger(*window, "chooseContainerAction");
        const QByteArray original = readFile(m_containerPath);
        QVERIFY(!original.isEmpty());

        // The proposal sits in the home folder; cancelling does nothing.
        DialogHooks::takeRecords();
        trigger(*window, "backupAction");
        records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].title, QStringLiteral("Fazer backup do container"));
        QVERIFY(
            records[0].text.startsWith(QDir(QDir::homePath()).filePath(QStringLiteral("keldra_backup_"))));
        QVERIFY(records[0].text.endsWith(QStringLiteral(".kldr")));

        // The container itself is refused, also spelled with "..".
        DialogHooks::queueFileName(m_workDir.filePath(QStringLiteral("sub/../keldra.kldr")));
        trigger(*window, "backupAction");
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Escolha um destino diferente do container original."});

        DialogHooks::queueFileName(m_workDir.filePath(QStringLiteral("missing-folder/backup.kldr")));
        trigger(*window, "backupAction");
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"Não foi possível criar o arquivo de backup."});

        // An older file of the same name is replaced by the exact copy once
        // Keldra's own question (naming it) is answered yes.
        const QString target = m_workDir.filePath(QStringLiteral("backup.kldr"));
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(original.size() + 100, 'x'));
        old.close();
        const QByteArray older = readFile(target);
        DialogHooks::queueFileName(target);
        DialogHooks::queueQuestionAnswer(false);
        trigger(*window, "backupAction");
        records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].kind, Kind::Question);
        QVERIFY(records[1].text.contains(QDir::toNativeSeparators(target)));
        QCOMPARE(readFile(target), older);
        DialogHooks::queueFileName(target);
        DialogHooks::queueQuestionAnswer(true);
        trigger(*window, "backupAction");
        QCOMPARE(readFile(target), original);
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Information).size(), 1);
        QVERIFY(texts(records, Kind::Warning).isEmpty());
        QCOMPARE(records.last().title, QStringLiteral("Fazer backup"));
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Backup do container concluído."));

        // A link to the container passes the path check; the copy must not
        // truncate the container it is reading.
        const QString alias = m_workDir.filePath(QStringLiteral("alias.kldr"));
        QVERIFY(QFile::link(m_containerPath, alias));
        DialogHooks::queueFileName(alias);
        DialogHooks::queueQuestionAnswer(true);
        trigger(*window, "backupAction");
        QCOMPARE(readFile(m_containerPath), original);
    }

    void changePasswordFlow()
    {
        auto window = makeWindow();
        window->changeVaultPassword();
        SessionWait::idle(*window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Information),
                 QStringList{"Selecione um container primeiro."});

        DialogHooks::queueFileName(m_containerPath);
        trigger(*window, "chooseContainerAction");
        const QByteArray before = readFile(m_containerPath);

        // Dialog cancelled: nothing happens.
        trigger(*window, "changePasswordAction");
        QCOMPARE(readFile(m_containerPath), before);

        // A wrong current password keeps the dialog open with what was typed;
        // the right one then goes through.
        bool keptOpen = false;
        DialogHooks::queueDialogHandler([&](QDialog& dialog) {
            auto& change = static_cast<ChangePasswordDialog&>(dialog);
            auto* current = dialog.findChild<QLineEdit*>(QStringLiteral("currentPasswordEdit"));
            current->setText(QStringLiteral("nao-e-a-senha"));
            dialog.findChild<QLineEdit*>(QStringLiteral("newPasswordEdit"))
                ->setText(QStringLiteral("nova-senha-123"));
            dialog.findChild<QLineEdit*>(QStringLiteral("confirmPasswordEdit"))
                ->setText(QStringLiteral("nova-senha-123"));
            change.validateAndAccept();
            keptOpen = dialog.result() != QDialog::Accepted && dialog.isEnabled();
            const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
            if (texts(records, Kind::Warning) !=
                    QStringList{
                        "Não foi possível alterar a senha. Verifique a senha atual e tente novamente."} ||
                records.last().parent != &dialog)
                keptOpen = false;
            if (readFile(m_containerPath) != before)
                keptOpen = false;
            current->setText(kPassword);
            change.validateAndAccept();
            return dialog.result();
        });
        trigger(*window, "changePasswordAction");
        QVERIFY(keptOpen);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Information),
                 QStringList{"Senha alterada com sucesso."});
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Senha alterada com sucesso."));
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);

        DialogHooks::queueText(QStringLiteral("nova-senha-123"));
        trigger(*window, "unlockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QVERIFY(SessionWait::closeWindow(*window));
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
    }

    void aMissingContainerIsReportedBeforeAnyPassword()
    {
        auto window = makeWindow();
        DialogHooks::queueFileName(m_containerPath);
        trigger(*window, "chooseContainerAction");
        const auto enabled = [&window](const char* action) {
            return window->findChild<QAction*>(QString::fromLatin1(action))->isEnabled();
        };
        QVERIFY(enabled("unlockAction") && enabled("backupAction") && enabled("changePasswordAction"));
        DialogHooks::takeRecords();

        // The drive is pulled: the commands say so at once, before a password is asked for.
        const QString aside = m_containerPath + QStringLiteral(".fora");
        QVERIFY(QFile::rename(m_containerPath, aside));
        const QString missing = QStringLiteral("O arquivo do container não foi encontrado.");
        window->unlockVault();
        SessionWait::idle(*window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].kind, DialogHooks::Kind::Warning);
        QCOMPARE(records[0].text, missing);
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
        window->changeVaultPassword();
        records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].text, missing);
        // ...and the commands that need it are greyed out.
        QVERIFY(!enabled("unlockAction") && !enabled("backupAction") && !enabled("changePasswordAction"));

        // The drive is back; the commands follow without a click.
        QVERIFY(QFile::rename(aside, m_containerPath));
        QTRY_VERIFY_WITH_TIMEOUT(enabled("unlockAction"), 5000);
        QVERIFY(enabled("backupAction") && enabled("changePasswordAction"));
        QVERIFY(QFile::rename(m_containerPath, aside));
        QTRY_VERIFY_WITH_TIMEOUT(!enabled("unlockAction"), 5000);
        QVERIFY(!enabled("backupAction") && !enabled("changePasswordAction"));
        QVERIFY(QFile::rename(aside, m_containerPath));

        QVERIFY(SessionWait::closeWindow(*window));
    }

    void closingStaysOpenWhenTheVaultCannotBeLocked()
    {
        // Its own copy of the container (password "nova-senha-123" by now).
        const QString copy = m_workDir.filePath(QStringLiteral("close/keldra.kldr"));
        QVERIFY(QDir().mkpath(QFileInfo(copy).absolutePath()));
        QVERIFY(QFile::copy(m_containerPath, copy));
        const QString source = m_workDir.filePath(QStringLiteral("nota.txt"));
        QFile note(source);
        QVERIFY(note.open(QIODevice::WriteOnly));
        note.write("nota");
        note.close();

        auto window = makeWindow();
        window->show();
        DialogHooks::queueFileName(copy);
        trigger(*window, "chooseContainerAction");
        DialogHooks::queueText(QStringLiteral("nova-senha-123"));
        trigger(*window, "unlockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QVERIFY(window->vault().importFile(source, QStringLiteral("nota.txt")));

        // An edited copy that cannot be written back keeps the vault unlocked.
        QString tempPath;
        QVERIFY(window->vault().prepareFileForEditing(QStringLiteral("nota.txt"), &tempPath));
        QFile edited(tempPath);
        QVERIFY(edited.open(QIODevice::WriteOnly | QIODevice::Append));
        edited.write(" editada");
        QVERIFY(edited.flush());
        QVERIFY(
            edited.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        edited.close();
        const QString aside = copy + QStringLiteral(".aside");
        QVERIFY(QFile::rename(copy, aside));

        // Locking by hand fails the same way and does not claim success.
        window->statusBar()->clearMessage();
        trigger(*window, "lockAction");
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        QCOMPARE(window->statusBar()->currentMessage(), QString());
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning),
                 QStringList{"O arquivo do container não foi encontrado ou não pode ser lido."});
        QVERIFY(window->findChild<QAction*>(QStringLiteral("lockAction"))->isEnabled());

        QVERIFY(!SessionWait::closeWindow(*window));
        QVERIFY(window->isVisible());
        QCOMPARE(window->vault().state(), Core::VaultState::Unlocked);
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Warning), QStringList{"Não foi possível bloquear o cofre."});
        QCOMPARE(records.last().title, QStringLiteral("Keldra"));

        // With the container back the edit is stored and the window closes.
        QVERIFY(QFile::rename(aside, copy));
        QVERIFY(SessionWait::closeWindow(*window));
        QCOMPARE(window->vault().state(), Core::VaultState::Locked);
    }
    // A refused password asks again instead of ending the creation: the path
    // is chosen once and one vault is made with the password finally agreed.
    void aRefusedNewPasswordIsAskedAgainForTheSamePath()
    {
        const QString path = m_workDir.filePath(QStringLiteral("de-novo.kldr"));
        auto window = makeWindow();
        DialogHooks::queueFileName(path);
        DialogHooks::queueText(QStringLiteral("0123456789"));
        DialogHooks::queueText(QStringLiteral("0123456780"));
        DialogHooks::queueText(QStringLiteral("curta"));
        DialogHooks::queueText(QStringLiteral("curta"));
        DialogHooks::queueText(kPassword);
        DialogHooks::queueText(kPassword);
        trigger(*window, "createVaultAction");

        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        int pathPrompts = 0;
        QStringList prompts;
        for (const DialogHooks::Record& record : records) {
            if (record.kind == Kind::SaveFile)
                ++pathPrompts;
            if (record.kind == Kind::Text) {
                prompts << record.title;
                QVERIFY(record.initialText.isEmpty());
            }
        }
        QCOMPARE(pathPrompts, 1);
        QCOMPARE(prompts.size(), 6);
        QCOMPARE(prompts.at(4), QStringLiteral("Definir senha do cofre"));
        QCOMPARE(texts(records, Kind::Warning),
                 QStringList({"As senhas informadas não coincidem.",
                              "Use uma senha com pelo menos 10 caracteres para criar o cofre."}));
        QCOMPARE(window->containerFilePath(), path);
        QVERIFY(QFile::exists(path));
        Core::VaultManager check;
        QVERIFY(check.unlockVault(path, kPassword.toUtf8()));
        QVERIFY(check.lockVault());
    }
};

QTEST_MAIN(TestVaultAccessCommands)
#include "test_vault_access_commands.moc"
