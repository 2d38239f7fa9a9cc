// What the window shows about the vault's long commands: the progress
// dialogs' width and wording, and the files the integrity check found damaged.
#include "SessionWait.h"
#include "VaultWindowFixture.h"
#include "ui/OperationProgressDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Keldra;
using namespace Keldra::UI;
using namespace VaultWindowFixture;
using Kind = DialogHooks::Kind;

namespace {

struct ProgressSample
{
    int width = 0;
    int left = 0;
    QString label;
};

// Samples the progress dialog shown while `command` runs: its events are
// processed while the operation works. Returns once the operation has ended.
QList<ProgressSample> sampleProgress(MainWindow& window, const std::function<void()>& command)
{
    QList<ProgressSample> samples;
    const auto sample = [&samples] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<OperationProgressDialog*>(widget);
            if (dialog && dialog->isVisible())
                samples.append({dialog->width(), dialog->x(), dialog->findChild<QLabel*>()->text()});
        }
    };
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, sample);
    timer.start();
    command();
    // The dialog is on screen as soon as the command returns; a fast
    // operation may end before the timer's first tick.
    sample();
    SessionWait::idle(window);
    return samples;
}

const Core::VaultFileEntry* entryAt(const QList<Core::VaultFileEntry>& entries, const QString& path)
{
    for (const Core::VaultFileEntry& entry : entries) {
        if (entry.vaultPath == path)
            return &entry;
    }
    return nullptr;
}

QTableWidgetItem* cell(MainWindow& window, const QString& name, int column)
{
    QTableWidget* table = window.vaultBrowser()->table();
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 1)->text() == name)
            return table->item(row, column);
    }
    return nullptr;
}

} // namespace

class TestWindowFeedback : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;

    QString source(const QString& name, const QByteArray& content)
    {
        const QString path = m_workDir.filePath(QStringLiteral("src/") + name);
        writeFile(path, content);
        return path;
    }

private slots:
    void initTestCase()
    {
        DialogHooks::setTestMode(true);
        QVERIFY(m_workDir.isValid());
    }

    void init() { DialogHooks::reset(); }

    void containerDialogsNameTheirFilesInPortuguese()
    {
        auto window = makeWindow();
        window->chooseContainer();
        window->createVault();
        const QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QVERIFY(records.size() >= 2);
        for (const DialogHooks::Record& record : records) {
            if (record.kind == DialogHooks::Kind::OpenFile || record.kind == DialogHooks::Kind::SaveFile)
                QVERIFY2(record.filter.startsWith(QStringLiteral("Cofre do Keldra (*.kldr);;")),
                         qPrintable(record.filter));
        }
    }

    void compactionProgressMatchesTheOthers()
    {
        auto window = makeWindow();
        window->show();
        QVERIFY(createAndUnlock(*window, m_workDir.filePath(QStringLiteral("compact.kldr"))));
        const QString longName = QString(150, QLatin1Char('n')) + QStringLiteral(".txt");
        QVERIFY(window->vault().importFile(source(QStringLiteral("long"), QByteArray(70000, 'l')), longName));
        QVERIFY(window->vault().importFile(source(QStringLiteral("gone"), QByteArray(5000, 'g')),
                                           QStringLiteral("gone.txt")));
        QVERIFY(window->vault().deleteFile(QStringLiteral("gone.txt")));
        window->refreshVaultFiles();

        const QList<ProgressSample> verify = sampleProgress(*window, [&] { window->verifyVault(); });
        DialogHooks::queueQuestionAnswer(true);
        const QList<ProgressSample> compact = sampleProgress(*window, [&] { window->compactVault(); });
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Information).size(), 2);
        QVERIFY(!verify.isEmpty() && !compact.isEmpty());

        // One width for both, kept while the labels change, and the same place.
        for (const ProgressSample& sample : compact) {
            QCOMPARE(sample.width, verify.first().width);
            QCOMPARE(sample.left, compact.first().left);
        }
        // A file being copied is named after a verb, shortened to fit.
        bool named = false;
        for (const ProgressSample& sample : compact) {
            if (!sample.label.startsWith(QStringLiteral("Copiando ")))
                continue;
            named = true;
            QVERIFY2(sample.label.contains(QStringLiteral("nnn")) && !sample.label.contains(longName),
                     qPrintable(sample.label));
        }
        QVERIFY(named);
        QVERIFY(SessionWait::closeWindow(*window));
    }

    void exportStartsAwayFromTheVaultDrive()
    {
        // The container sits on a listed USB drive.
        const QString drive = m_workDir.filePath(QStringLiteral("pendrive"));
        QVERIFY(QDir().mkpath(drive));
        auto devices = std::make_unique<FakeDeviceManager>();
        devices->devices = {FakeDeviceManager::mounted(QStringLiteral("PENDRIVE"), drive)};
        MainWindow window(std::move(devices));
        QVERIFY(createAndUnlock(window, QDir(drive).filePath(QStringLiteral("keldra.kldr"))));
        QVERIFY(
            window.vault().importFile(source(QStringLiteral("doc"), "segredo"), QStringLiteral("doc.txt")));
        window.refreshVaultFiles();
        QVERIFY(selectRow(window, QStringLiteral("doc.txt")));

        // Import and export start in the user's folders, not on the drive.
        window.importFiles();
        DialogHooks::queueQuestionAnswer(true);
        window.exportSelectedFile();
        SessionWait::idle(window);
        QList<DialogHooks::Record> records = DialogHooks::takeRecords();
        QCOMPARE(records.size(), 3);
        QVERIFY2(records[0].text.startsWith(QDir::homePath()), qPrintable(records[0].text));
        QVERIFY2(records[2].text.startsWith(QDir::homePath() + QLatin1Char('/')) &&
                     records[2].text.endsWith(QStringLiteral("/doc.txt")),
                 qPrintable(records[2].text));

        // A folder on the drive is warned about; declining exports nothing.
        const QString onDrive = QDir(drive).filePath(QStringLiteral("doc.txt"));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(onDrive);
        DialogHooks::queueQuestionAnswer(false);
        window.exportSelectedFile();
        SessionWait::idle(window);
        records = DialogHooks::takeRecords();
        QCOMPARE(texts(records, Kind::Question).size(), 2);
        QVERIFY(texts(records, Kind::Question).last().contains(QDir::toNativeSeparators(drive)));
        QVERIFY(!QFileInfo::exists(onDrive));
        DialogHooks::queueQuestionAnswer(true);
        DialogHooks::queueFileName(onDrive);
        DialogHooks::queueQuestionAnswer(true);
        window.exportSelectedFile();
        SessionWait::idle(window);
        QCOMPARE(readFile(onDrive), QByteArray("segredo"));
        DialogHooks::takeRecords();

        // Once accepted, the session is not asked again; other folders never are.
        const QString elsewhere = m_workDir.filePath(QStringLiteral("fora/doc.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(elsewhere).absolutePath()));
        for (const QString& target : {QDir(drive).filePath(QStringLiteral("outra.txt")), elsewhere}) {
            DialogHooks::queueQuestionAnswer(true);
            DialogHooks::queueFileName(target);
            window.exportSelectedFile();
            SessionWait::idle(window);
            QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Question).size(), 1);
            QCOMPARE(readFile(target), QByteArray("segredo"));
        }
        QVERIFY(SessionWait::closeWindow(window));
    }

    void damagedFilesStayMarkedUntilLocked()
    {
        auto window = makeWindow();
        const QString container = m_workDir.filePath(QStringLiteral("damaged.kldr"));
        QVERIFY(createAndUnlock(*window, container));
        QVERIFY(
            window->vault().importFile(source(QStringLiteral("ok"), "intacto"), QStringLiteral("ok.txt")));
        QVERIFY(window->vault().importFile(source(QStringLiteral("bad"), QByteArray(3000, 'b')),
                                           QStringLiteral("ruim.txt")));
        window->refreshVaultFiles();
        const QList<Core::VaultFileEntry> entries = window->vault().fileIndex().entries();
        const Core::VaultFileEntry* bad = entryAt(entries, QStringLiteral("ruim.txt"));
        QVERIFY(bad);
        {
            QFile file(container);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 at = bad->blocks.first().offset + 3;
            QVERIFY(file.seek(at));
            char byte = 0;
            QCOMPARE(file.read(&byte, 1), qint64(1));
            byte = char(byte ^ 0x5a);
            QVERIFY(file.seek(at));
            QCOMPARE(file.write(&byte, 1), qint64(1));
        }
        const QIcon plainIcon = cell(*window, QStringLiteral("ok.txt"), 0)->icon();
        QVERIFY(cell(*window, QStringLiteral("ruim.txt"), 0)->toolTip().isEmpty());

        QVERIFY(selectRow(*window, QStringLiteral("ok.txt")));
        window->verifyVault();
        SessionWait::idle(*window);
        QCOMPARE(texts(DialogHooks::takeRecords(), Kind::Warning).size(), 1);
        const auto marked = [&](const QString& name) {
            QTableWidgetItem* icon = cell(*window, name, 0);
            return icon && icon->toolTip().contains(QStringLiteral("danificado")) &&
                   cell(*window, name, 1)->toolTip().contains(QStringLiteral("danificado")) &&
                   icon->icon().cacheKey() != plainIcon.cacheKey();
        };
        QVERIFY(marked(QStringLiteral("ruim.txt")));
        QVERIFY(!marked(QStringLiteral("ok.txt")));
        QCOMPARE(window->vaultBrowser()->selectedVaultPath(), QStringLiteral("ok.txt"));

        // Kept through a rename and a search; gone once locked and unlocked.
        QVERIFY(window->vault().renameFile(QStringLiteral("ruim.txt"), QStringLiteral("ainda-ruim.txt")));
        window->refreshVaultFiles();
        QVERIFY(marked(QStringLiteral("ainda-ruim.txt")));
        window->vaultBrowser()->searchBox()->setText(QStringLiteral("ruim"));
        QVERIFY(marked(QStringLiteral("ainda-ruim.txt")));
        window->vaultBrowser()->searchBox()->clear();
        window->lockVault();
        SessionWait::idle(*window);
        DialogHooks::queueText(kPassword);
        window->unlockVault();
        SessionWait::idle(*window);
        QVERIFY(cell(*window, QStringLiteral("ainda-ruim.txt"), 0));
        QVERIFY(!marked(QStringLiteral("ainda-ruim.txt")));
        QVERIFY(SessionWait::closeWindow(*window));
    }
};

QTEST_MAIN(TestWindowFeedback)
#include "test_window_feedback.moc"
