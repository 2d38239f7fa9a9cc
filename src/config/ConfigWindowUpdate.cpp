#include "config/ConfigWindowUpdate.h"

#include "config/ConfigWindow.h"
#include "deployment/BundleUpdater.h"
#include "texts/DeploymentErrorText.h"
#include "widgets/DialogHooks.h"

#include <QCoreApplication>
#include <QProgressDialog>

#include <memory>
#include <utility>

namespace Keldra::Config {

using Widgets::DialogHooks;

namespace {

QUrl& manifestUrlSetting()
{
    static QUrl url(Deployment::kUpdateManifestUrl);
    return url;
}

std::function<bool()>& runningProbeSetting()
{
    static std::function<bool()> probe;
    return probe;
}

} // namespace

QUrl updateManifestUrl()
{
    return manifestUrlSetting();
}

void setUpdateManifestUrl(const QUrl& url)
{
    manifestUrlSetting() = url;
}

void setUpdateRunningProbe(std::function<bool()> probe)
{
    runningProbeSetting() = std::move(probe);
}

void ConfigWindow::updateSelectedDevice()
{
    const QString title = configWindowTitle();
    const Platform::UsbDevice* device = selectedDevice();
    if (!device) {
        DialogHooks::information(this, title, QStringLiteral("Selecione uma unidade USB primeiro."));
        return;
    }
    if (!device->mounted || device->rootPath.isEmpty()) {
        DialogHooks::information(
            this, title,
            QStringLiteral("Monte a unidade USB e atualize a lista antes de verificar atualizações."));
        return;
    }
    // The procedure spins event loops; keep our own copy of the root.
    const QString rootPath = device->rootPath;

    // Opened by the first progress report, after the drive checks; closes on return.
    std::unique_ptr<QProgressDialog> progress;
    Deployment::BundleUpdater::Callbacks callbacks;
    callbacks.log = [this](const QString& line) { appendLog(line); };
    callbacks.inform = [this, title](const QString& text) { DialogHooks::information(this, title, text); };
    callbacks.progress = [this, title, &progress](int value, int maximum, const QString& label) {
        if (!progress) {
            progress = std::make_unique<QProgressDialog>(label, QString(), 0, maximum, this);
            progress->setWindowTitle(title);
            progress->setWindowModality(Qt::ApplicationModal);
            progress->setCancelButton(nullptr);
            progress->setMinimumDuration(0);
            progress->show();
        }
        progress->setMaximum(maximum);
        progress->setLabelText(label);
        progress->setValue(value);
        QCoreApplication::processEvents();
    };
    callbacks.confirm = [this](const QString& questionTitle, const QString& text) {
        return DialogHooks::question(this, questionTitle, text, QStringLiteral("Sim"), QStringLiteral("Não"));
    };

    Deployment::BundleUpdater updater(std::move(callbacks));
    if (runningProbeSetting())
        updater.setRunningProbe(runningProbeSetting());
    if (updater.updateDrive(rootPath, updateManifestUrl()) != Deployment::UpdateOutcome::Failed)
        return;
    const Deployment::Error& error = updater.lastError();
    const QString text = Texts::DeploymentErrorText::message(error);
    switch (Texts::DeploymentErrorText::presentation(error)) {
    case Texts::DeploymentErrorText::Presentation::Notice:
        DialogHooks::information(this, title, text);
        break;
    case Texts::DeploymentErrorText::Presentation::LoggedWarning:
        appendLog(text);
        DialogHooks::warning(this, title, text);
        break;
    case Texts::DeploymentErrorText::Presentation::Warning:
        DialogHooks::warning(this, title, text);
        break;
    case Texts::DeploymentErrorText::Presentation::Silent:
        break;
    }
}

} // namespace Keldra::Config
