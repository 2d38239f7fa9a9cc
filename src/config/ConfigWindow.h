#pragma once

#include "deployment/BundleSourceLocator.h"
#include "deployment/PortableBundleManager.h"
#include "platform/DeviceManager.h"
#include "platform/UsbDevice.h"

#include <QList>
#include <QMainWindow>
#include <QSize>

#include <functional>
#include <memory>

class QAction;
class QCloseEvent;
class QComboBox;
class QLabel;
class QProgressDialog;
class QPushButton;
class QTextEdit;

namespace Keldra::Core {
class WorkerThread;
}

namespace Keldra::Config {

class BackgroundWidget;
class WorkGate;

// The preparation tool's only window: pick a mounted USB drive, then prepare it
// (copy the portable bundles) or update the bundles already on it.
class ConfigWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Detects drives with the platform's detector.
    explicit ConfigWindow(QWidget* parent = nullptr);
    // A null detector means detection is unavailable.
    explicit ConfigWindow(std::unique_ptr<Platform::DeviceManager> deviceManager, QWidget* parent = nullptr);
    ~ConfigWindow() override;

    // Looks next to the tool, then in the build tree; fixed for the run.
    void locateBundleSources();
    void locateBundleSources(const QString& toolDirectory, const QString& buildTreeDirectory);
    // Status labels and log lines for the two sources.
    void reportBundleSources();

    const Deployment::BundleSource& windowsBundleSource() const { return m_windowsSource; }
    const Deployment::BundleSource& linuxBundleSource() const { return m_linuxSource; }
    QString logText() const;

    // Size of the painted background for a screen's available size (no screen: 960 x 540).
    static QSize backgroundSizeFor(const QSize& availableScreenSize);

    // A preparation or an update runs on a thread of its own, so the window
    // stays live; these commands return once it has started.
    bool isBusy() const;

public slots:
    void refreshDevices();
    void prepareSelectedDevice();
    void updateSelectedDevice();

signals:
    // A preparation or update has ended and its outcome has been shown.
    void workFinished();

protected:
    // While work runs the window stays: a preparation may be cancelled first,
    // an update is waited for; either way the window closes once it ends.
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Work { None, Preparation, Update };

    // Runs work on its own thread, then finished on this one.
    void startWork(Work kind, std::function<void()> work, std::function<void()> finished);
    void endWork();
    void setWorkControlsEnabled(bool enabled);
    void buildMenus();
    void buildContent();
    void buildStatusBar();
    void appendLog(const QString& line);
    // The device picked in the combo box, or null when nothing valid is selected.
    const Platform::UsbDevice* selectedDevice() const;

    std::unique_ptr<Platform::DeviceManager> m_deviceManager;
    QList<Platform::UsbDevice> m_devices;
    Deployment::BundleSource m_windowsSource;
    Deployment::BundleSource m_linuxSource;
    Deployment::PortableBundleManager m_bundleManager;

    BackgroundWidget* m_background = nullptr;
    QComboBox* m_deviceCombo = nullptr;
    QLabel* m_windowsSourceLabel = nullptr;
    QLabel* m_linuxSourceLabel = nullptr;
    QPushButton* m_refreshButton = nullptr;
    QPushButton* m_prepareButton = nullptr;
    QPushButton* m_updateButton = nullptr;
    QTextEdit* m_log = nullptr;
    QAction* m_refreshAction = nullptr;
    QAction* m_prepareAction = nullptr;
    QAction* m_quitAction = nullptr;
    QAction* m_updateAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QLabel* m_versionStatusLabel = nullptr;
    QLabel* m_publisherStatusLabel = nullptr;

    Work m_work = Work::None;
    std::unique_ptr<Core::WorkerThread> m_thread;
    std::shared_ptr<WorkGate> m_gate;
    std::unique_ptr<QProgressDialog> m_progress;
    bool m_closeWhenDone = false;
};

// Makes the tool's pictures and icon available; safe to call more than once.
void registerConfigResources();

// Title of the window and of its message boxes.
QString configWindowTitle();

} // namespace Keldra::Config
