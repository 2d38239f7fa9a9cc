// A preparation started from the tool's window runs beside it: the window keeps
// answering, the progress dialog shows what was copied, and a cancel from the
// dialog or from closing the window leaves the drive as it was.
#include "config/ConfigWindow.h"
#include "widgets/DialogHooks.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QMap>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace Keldra::Config;
using Keldra::Platform::DeviceManager;
using Keldra::Platform::UsbDevice;
using Keldra::Widgets::DialogHooks;

namespace {

constexpr int kWorkTimeoutMs = 120000;

class OneDrive : public DeviceManager
{
public:
    explicit OneDrive(QString root) : m_root(std::move(root)) {}
    QList<UsbDevice> detectUsbDevices() const override
    {
        UsbDevice drive;
        drive.id = QStringLiteral("/dev/sdb1:") + m_root;
        drive.devicePath = QStringLiteral("/dev/sdb1");
        drive.displayName = QStringLiteral("PEN");
        drive.rootPath = m_root;
        drive.mounted = true;
        drive.removable = true;
        return {drive};
    }

private:
    QString m_root;
};

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        entries.insert(QDir(root).relativeFilePath(path),
                       it.fileInfo().isDir() || !file.open(QIODevice::ReadOnly) ? QByteArray("<folder>")
                                                                                : file.readAll());
    }
    return entries;
}

QProgressDialog* progressDialogOf(const QWidget* window)
{
    for (QProgressDialog* dialog : window->findChildren<QProgressDialog*>()) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

} // namespace

class ConfigWindowWorkTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tool;
    QString m_root;
    std::unique_ptr<ConfigWindow> m_window;

    QString path(const QString& relative) const { return QDir(m_dir.path()).filePath(relative); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A finished Linux runtime (no ldd) of 128 MiB, big enough for a copy
        // that takes many turns of the event loop.
        m_tool = path(QStringLiteral("tool"));
        const QString bundle = m_tool + QStringLiteral("/bundles/linux-x64");
        QVERIFY(writeFile(bundle + QStringLiteral("/Keldra"), "program"));
        QVERIFY(writeFile(bundle + QStringLiteral("/qt.conf"), "[Paths]\n"));
        for (int i = 0; i < 32; ++i)
            QVERIFY(writeFile(bundle + QStringLiteral("/lib/lib%1.so").arg(i),
                              QByteArray(4 << 20, char('a' + i))));
    }

    void init()
    {
        static int drives = 0;
        m_root = path(QStringLiteral("drive-%1").arg(++drives));
        QVERIFY(writeFile(m_root + QStringLiteral("/keldra.kldr"), "the user's vault"));
        m_window = std::make_unique<ConfigWindow>(std::make_unique<OneDrive>(m_root));
        m_window->locateBundleSources(m_tool, path(QStringLiteral("no-build-tree")));
        m_window->refreshDevices();
        m_window->show();
        DialogHooks::setTestMode(true);
        DialogHooks::reset();
    }

    void cleanup()
    {
        m_window.reset();
        DialogHooks::setTestMode(false);
        DialogHooks::reset();
    }

    // A timer on the window's thread keeps firing through the whole copy, and
    // the dialog tells how many files and bytes are on the drive so far.
    void windowStaysLiveAndShowsWhatWasCopied()
    {
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 worstGap = 0;
        int ticks = 0;
        bool started = false;
        QStringList labels;
        QTimer probe;
        probe.setInterval(20);
        connect(&probe, &QTimer::timeout, this, [&] {
            if (!started)
                return;
            const qint64 now = clock.elapsed();
            worstGap = qMax(worstGap, now - last);
            last = now;
            ++ticks;
            if (QProgressDialog* dialog = progressDialogOf(m_window.get()))
                labels.append(dialog->labelText());
        });

        QSignalSpy finished(m_window.get(), &ConfigWindow::workFinished);
        DialogHooks::queueQuestionAnswer(true);
        clock.start();
        probe.start();
        // As a click would: from the event loop. The gaps count from its return:
        // opening the progress dialog is the window's own work.
        QTimer::singleShot(0, m_window.get(), [&] {
            m_window->prepareSelectedDevice();
            started = true;
            last = clock.elapsed();
        });
        QVERIFY(finished.wait(kWorkTimeoutMs));
        probe.stop();

        QVERIFY2(worstGap < 250, qPrintable(QString::number(worstGap)));
        // A window thread busy with the copy itself would see one late tick at the end.
        QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
        labels.removeDuplicates();
        const QStringList counts = labels.filter(QStringLiteral(" copiados"));
        QVERIFY2(!counts.isEmpty(), qPrintable(labels.join(QLatin1Char('|'))));
        QVERIFY2(counts.first().startsWith(QStringLiteral("Copiando bundle Linux...\n")),
                 qPrintable(counts.first()));
        QVERIFY(!progressDialogOf(m_window.get()));

        const auto shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1).kind, DialogHooks::Kind::Information);
        QCOMPARE(QFileInfo(m_root + QStringLiteral("/Keldra/linux/lib/lib31.so")).size(), qint64(4 << 20));
        QVERIFY(m_window->isEnabled());
    }

    void cancelFromTheDialogUndoesThePreparation()
    {
        const auto before = snapshot(m_root);
        QSignalSpy finished(m_window.get(), &ConfigWindow::workFinished);
        DialogHooks::queueQuestionAnswer(true);
        m_window->prepareSelectedDevice();
        QVERIFY(m_window->isBusy());
        QProgressDialog* dialog = progressDialogOf(m_window.get());
        QVERIFY(dialog);
        QPushButton* cancel = dialog->findChild<QPushButton*>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("Cancelar"));
        QTRY_VERIFY(dialog->labelText().contains(QStringLiteral(" copiados")));
        cancel->click();
        QVERIFY(finished.wait(kWorkTimeoutMs));

        QCOMPARE(snapshot(m_root), before);
        const auto shown = DialogHooks::takeRecords();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1).kind, DialogHooks::Kind::Information);
        QCOMPARE(shown.at(1).text, QStringLiteral("Preparação cancelada. A unidade USB ficou como estava."));
        QVERIFY(m_window->isVisible());
    }

    // Closing asks first; "Não" keeps the preparation going, "Sim" cancels it
    // and the window closes once the drive is back as it was.
    void closingDuringAPreparationAsksAndCancels()
    {
        const auto before = snapshot(m_root);
        QSignalSpy finished(m_window.get(), &ConfigWindow::workFinished);
        DialogHooks::queueQuestionAnswer(true);
        m_window->prepareSelectedDevice();
        DialogHooks::takeRecords();

        DialogHooks::queueQuestionAnswer(false);
        QVERIFY(!m_window->close());
        QVERIFY(m_window->isVisible());
        QVERIFY(m_window->isBusy());
        DialogHooks::queueQuestionAnswer(true);
        QVERIFY(!m_window->close());
        const auto asked = DialogHooks::takeRecords();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(1).kind, DialogHooks::Kind::Question);

        QVERIFY(finished.wait(kWorkTimeoutMs));
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(snapshot(m_root), before);
    }
};

QTEST_MAIN(ConfigWindowWorkTest)
#include "test_config_window_work.moc"
