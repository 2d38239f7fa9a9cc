#include "config/ConfigWindowUpdate.h"

#include "config/ConfigWindow.h"
#include "config/WorkGate.h"
#include "deployment/BundleUpdater.h"
#include "texts/DeploymentErrorText.h"
#include "widgets/DialogHooks.h"

#include <QMetaObject>
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
    if (isBusy())
        return;
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
    // The device list may change while the update runs; keep our own copy of the root.
    const QString rootPath = device->rootPath;

    // The update runs on its own thread. What it reports is queued to this one;
    // its question and its notices wait there for the user. The progress dialog
    // opens with the first report, after the drive checks.
    m_gate = std::make_shared<WorkGate>();
    const std::shared_ptr<WorkGate> gate = m_gate;
    Deployment::BundleUpdater::Callbacks callbacks;
    callbacks.log = [this](const QString& line) {
        QMetaObject::invokeMethod(
            this, [this, line] { appendLog(line); }, Qt::QueuedConnection);
    };
    callbacks.inform = [this, gate, title](const QString& text) {
        (void)gate->ask(this, [this, title, text] {
            DialogHooks::information(this, title, text);
            return true;
        });
    };
    callbacks.progress = [this, title](int value, int maximum, const QString& label) {
        QMetaObject::invokeMethod(
            this,
            [this, title, value, maximum, label] {
                if (!m_progress) {
                    m_progress = std::make_unique<QProgressDialog>(label, QString(), 0, maximum, this);
                    m_progress->setWindowTitle(title);
                    m_progress->setCancelButton(nullptr);
                    m_progress->setMinimumDuration(0);
                    m_progress->show();
                }
                m_progress->setMaximum(maximum);
                m_progress->setLabelText(label);
                m_progress->setValue(value);
            },
            Qt::QueuedConnection);
    };
    callbacks.confirm = [this, gate](const QString& questionTitle, const QString& text) {
        return gate->ask(this, [this, questionTitle, text] {
            return DialogHooks::question(this, questionTitle, text, QStringLiteral("Sim"),
                                         QStringLiteral("Não"));
        });
    };

    const auto updater = std::make_shared<Deployment::BundleUpdater>(std::move(callbacks));
    if (runningProbeSetting())
        updater->setRunningProbe(runningProbeSetting());
    const auto outcome = std::make_shared<Deployment::UpdateOutcome>(Deployment::UpdateOutcome::Failed);
    const QUrl manifestUrl = updateManifestUrl();
    startWork(
        Work::Update,
        [updater, outcome, rootPath, manifestUrl] { *outcome = updater->updateDrive(rootPath, manifestUrl); },
        [this, title, updater, outcome] {
            if (*outcome != Deployment::UpdateOutcome::Failed)
                return;
            const Deployment::Error& error = updater->lastError();
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
        });
}

} // namespace Keldra::Config
