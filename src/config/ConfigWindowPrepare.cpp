#include "config/ConfigWindow.h"

#include "deployment/UpdateState.h"
#include "texts/DeploymentErrorText.h"
#include "widgets/DialogHooks.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace Keldra::Config {

using Widgets::DialogHooks;

void ConfigWindow::prepareSelectedDevice()
{
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

    QProgressDialog progress(QStringLiteral("Preparando unidade USB..."), QString(), 0, 7, this);
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setCancelButton(nullptr);
    progress.setMinimumDuration(0);
    progress.show();

    Deployment::PortableBundleOptions options;
    options.windowsExecutable = m_windowsSource.executablePath;
    options.windowsSourceDirectory = m_windowsSource.directory;
    options.linuxExecutable = m_linuxSource.executablePath;
    options.linuxSourceDirectory = m_linuxSource.directory;

    const Deployment::Error error = m_bundleManager.preparePortableBundle(
        rootPath, options, [&progress](int step, int total, const QString& text) {
            progress.setMaximum(total);
            progress.setValue(step);
            progress.setLabelText(text);
            QCoreApplication::processEvents();
        });
    progress.setValue(progress.maximum());

    if (!error.ok()) {
        const QString text = Texts::DeploymentErrorText::message(error);
        appendLog(QStringLiteral("Falha: %1").arg(text));
        DialogHooks::warning(this, title, text);
        return;
    }

    appendLog(QStringLiteral("Unidade preparada: %1").arg(rootPath));
    const Deployment::Error stateError =
        Deployment::writeUpdateState(rootPath, Deployment::copiedBundleVersion(rootPath), QString());
    if (stateError.ok())
        appendLog(QStringLiteral("Estado de atualização registrado: %1")
                      .arg(Deployment::updateStatePath(rootPath)));
    else
        appendLog(QStringLiteral("Aviso: %1").arg(Texts::DeploymentErrorText::message(stateError)));
    DialogHooks::information(this, title, Texts::DeploymentErrorText::drivePrepared());
}

} // namespace Keldra::Config
