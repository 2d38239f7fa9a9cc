// Draws the window pictures of the user guide with a fixed, made-up drive, so
// they never show the paths of the machine that took them.
//   keldra_help_screenshots OUTPUT_DIR
// scripts/help-screenshots runs it under a virtual display.
#include "FakeDeviceManager.h"
#include "ui/MainWindow.h"
#include "widgets/DialogHooks.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

using namespace Keldra;
using Keldra::Widgets::DialogHooks;

namespace {

const QString kDriveRoot = QStringLiteral("/media/usuario/MEU PENDRIVE");
const QString kPassword = QStringLiteral("senha-das-figuras");

bool writeSample(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(QByteArray(int(size), 'k')) == size;
}

bool save(QWidget& widget, const QString& dir, const QString& name)
{
    QApplication::processEvents();
    return widget.grab().save(QDir(dir).filePath(name), "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: keldra_help_screenshots OUTPUT_DIR\n";
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir work;
    if (!QDir().mkpath(outDir) || !work.isValid()) {
        err << "cannot prepare the folders\n";
        return 1;
    }
    DialogHooks::setTestMode(true);

    auto devices = std::make_unique<FakeDeviceManager>();
    devices->devices = {FakeDeviceManager::mounted(QStringLiteral("MEU PENDRIVE"), kDriveRoot),
                        FakeDeviceManager::unmounted(QStringLiteral("BACKUP"), QStringLiteral("/dev/sdc1"))};
    UI::MainWindow window(std::move(devices));
    window.resize(640, 381);
    window.show();
    if (!save(window, outDir, QStringLiteral("janela-bloqueada.png"))) {
        err << "cannot write the locked window picture\n";
        return 1;
    }

    // The container lives in a scratch folder; the list still shows the drive.
    const QString container = work.filePath(QStringLiteral("keldra.kldr"));
    Core::VaultManager& vault = window.vault();
    bool ok = vault.createVault(container, kPassword.toUtf8());
    ok = ok && vault.unlockVault(container, kPassword.toUtf8());
    ok = ok && vault.createDirectory(QStringLiteral("Financeiro")) &&
         vault.createDirectory(QStringLiteral("Pessoal"));
    const QList<QPair<QString, qint64>> files = {{QStringLiteral("certificado.pem"), 3300},
                                                 {QStringLiteral("contrato.pdf"), 470800},
                                                 {QStringLiteral("foto-documento.jpg"), 1700000},
                                                 {QStringLiteral("senhas.txt"), 2200}};
    for (const auto& file : files) {
        const QString source = work.filePath(file.first);
        ok = ok && writeSample(source, file.second) && vault.importFile(source, file.first);
    }
    ok = ok && vault.lockVault();
    if (!ok) {
        err << "cannot build the sample vault\n";
        return 1;
    }
    DialogHooks::queueFileName(container);
    window.chooseContainer();
    DialogHooks::queueText(kPassword);
    window.unlockVault();
    window.session().waitForIdle();
    QApplication::processEvents();
    if (vault.state() != Core::VaultState::Unlocked ||
        !save(window, outDir, QStringLiteral("janela-desbloqueada.png"))) {
        err << "cannot write the unlocked window picture\n";
        return 1;
    }
    DialogHooks::queueQuestionAnswer(true);
    window.lockVault();
    window.session().waitForIdle();
    return 0;
}
