#include "config/ConfigWindow.h"

#include "config/WorkGate.h"
#include "deployment/UpdateState.h"
#include "texts/DeploymentErrorText.h"
#include "widgets/DialogHooks.h"

#include <QLocale>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>

#include <memory>

namespace Keldra::Config {

using Widgets::DialogHooks;

namespace {

// What the preparation's thread hands back once it has ended.
struct PreparationResult
{
    Deployment::Error error;
    Deployment::Error stateError;
};

QString copiedText(qint64 files, qint64 bytes)
{
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return QStringLiteral("%1 %2, %3 copiados")
        .arg(brazil.toString(files), files == 1 ? QStringLiteral("arquivo") : QStringLiteral("arquivos"),
             brazil.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat));
}

} // namespace

void ConfigWindow::prepareSelectedDevice()
{
    if (isBusy())
        return;
    const QString title = configWindowTitle();
    if (!m_windowsSource.isAvailable() && !m_linuxSource.isAvailable()) {
        DialogHooks::warning(
            this, title,
            QStringLiteral("Compile pelo menos um bundle do Keldra antes de preparar a unidade."));
        return;
    }
    const Platform::UsbDevice* device = selectedDevice();
    if (!device) {
        DialogHooks::information(this, title, QStringLiteral("Selecione uma unidade USB primeiro."));
        return;
    }
    if (!device->mounted || device->rootPath.isEmpty()) {
        DialogHooks::information(
            this, title,
            QStringLiteral("Monte a unidade USB no gerenciador de arquivos e atualize a lista antes de "
                           "preparar."));
        return;
    }
    // The device list may be refreshed while dialogs run; keep our own copy of the root.
    const QString rootPath = device->rootPath;
    if (!DialogHooks::question(
            this, QStringLiteral("Preparar unidade USB"),
            QStringLiteral("Preparar a estrutura Keldra em %1?\n\nA unidade não será formatada. Arquivos "
                           "existentes do bundle Keldra podem ser substituídos.")
                .arg(rootPath),
            QStringLiteral("Sim"), QStringLiteral("Não")))
        return;

    Deployment::PortableBundleOptions options;
    options.windowsExecutable = m_windowsSource.executablePath;
    options.windowsSourceDirectory = m_windowsSource.directory;
    options.linuxExecutable = m_linuxSource.executablePath;
    options.linuxSourceDirectory = m_linuxSource.directory;

    m_progress = std::make_unique<QProgressDialog>(QStringLiteral("Preparando unidade USB..."),
                                                   QStringLiteral("Cancelar"), 0, 7, this);
    QProgressDialog* progress = m_progress.get();
    progress->setWindowTitle(title);
    // Not modal: a modal progress dialog runs the event loop inside setValue().
    // The window's commands are disabled instead while the work runs.
    // Cancelling keeps the dialog up while what was copied is undone.
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setValue(0);
    progress->show();

    m_gate = std::make_shared<WorkGate>();
    const std::shared_ptr<WorkGate> gate = m_gate;
    connect(progress, &QProgressDialog::canceled, this, [this, gate, progress] {
        if (gate->cancelRequested())
            return;
        gate->requestCancel();
        progress->setLabelText(QStringLiteral("Cancelando e desfazendo o que foi copiado..."));
        if (auto* button = progress->findChild<QPushButton*>())
            button->setEnabled(false);
        appendLog(QStringLiteral("Cancelando a preparação..."));
    });

    // Reports cross to this thread queued, and stop with the window.
    const auto stepReport = std::make_shared<QString>();
    Deployment::PreparationMonitor monitor;
    monitor.cancelRequested = [gate] { return gate->cancelRequested(); };
    monitor.copied = [progress, gate, stepReport](qint64 files, qint64 bytes) {
        QMetaObject::invokeMethod(
            progress,
            [progress, gate, text = copiedText(files, bytes), stepReport] {
                if (!gate->cancelRequested())
                    progress->setLabelText(*stepReport + QLatin1Char('\n') + text);
            },
            Qt::QueuedConnection);
    };
    const auto report = [progress, gate, stepReport](int step, int total, const QString& text) {
        QMetaObject::invokeMethod(
            progress,
            [progress, gate, step, total, text, stepReport] {
                *stepReport = text;
                progress->setMaximum(total);
                progress->setValue(step);
                if (!gate->cancelRequested())
                    progress->setLabelText(text);
            },
            Qt::QueuedConnection);
    };

    const auto result = std::make_shared<PreparationResult>();
    const bool windows = !options.windowsExecutable.isEmpty();
    const bool linux = !options.linuxExecutable.isEmpty();
    startWork(
        Work::Preparation,
        [rootPath, options, monitor, report, result] {
            const Deployment::PortableBundleManager manager(monitor);
            result->error = manager.preparePortableBundle(rootPath, options, report);
            if (result->error.ok())
                result->stateError = Deployment::writeUpdateState(
                    rootPath, Deployment::copiedBundleVersion(rootPath), QString());
        },
        [this, title, rootPath, result, windows, linux] {
            if (!result->error.ok()) {
                const QString text = Texts::DeploymentErrorText::message(result->error);
                if (result->error.is(Deployment::Error::Reason::PreparationCancelled)) {
                    appendLog(text);
                    DialogHooks::information(this, title, text);
                } else {
                    appendLog(QStringLiteral("Falha: %1").arg(text));
                    DialogHooks::warning(this, title, text);
                }
                return;
            }
            const QString preparedFor = Deployment::PortableBundleManager::preparedForText(windows, linux);
            appendLog(QStringLiteral("Unidade preparada: %1").arg(rootPath));
            if (result->stateError.ok())
                appendLog(QStringLiteral("Estado de atualização registrado: %1")
                              .arg(Deployment::updateStatePath(rootPath)));
            else
                appendLog(
                    QStringLiteral("Aviso: %1").arg(Texts::DeploymentErrorText::message(result->stateError)));
            DialogHooks::information(this, title,
                                     Texts::DeploymentErrorText::drivePrepared() + QStringLiteral("\n\n") +
                                         preparedFor);
        });
}

} // namespace Keldra::Config
