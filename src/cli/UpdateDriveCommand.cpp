#include "cli/UpdateDriveCommand.h"

#include "cli/CliConsole.h"
#include "deployment/BundleUpdater.h"
#include "texts/DeploymentErrorText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <memory>
#include <unistd.h>

using Keldra::Deployment::BundleUpdater;
using Keldra::Deployment::UpdateOutcome;

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

// keldra-cli's status for a wrong command line.
constexpr int kExitUsage = 2;

int usage()
{
    err() << "uso: keldra-cli update-drive RAIZ_DA_UNIDADE [--manifest URL] [--yes]" << Qt::endl;
    return kExitUsage;
}

// Asks on the terminal; anything but an explicit yes declines, as in the window.
bool askOnTerminal(const QString& title, const QString& text)
{
    out() << title << Qt::endl << text << Qt::endl << "Continuar? [s/N] " << Qt::flush;
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QLatin1String("s") || answer == QLatin1String("sim") || answer == QLatin1String("y") ||
           answer == QLatin1String("yes");
}

// The release notes are not signed: whoever serves the manifest writes them.
// They end the question, after its "Versão disponível" line, and reach the
// terminal escaped as ls shows names: no escape sequence, no line of their own.
QString withNotesShown(const QString& question)
{
    const qsizetype available = question.indexOf(QStringLiteral("\nVersão disponível: "));
    const qsizetype notes = available < 0 ? -1 : question.indexOf(QStringLiteral("\n\n"), available);
    if (notes < 0)
        return Keldra::Cli::shown(question);
    return question.left(notes + 2) + Keldra::Cli::shown(question.mid(notes + 2));
}

} // namespace

int runUpdateDriveCommand(const QStringList& args)
{
    QString root;
    QString manifestArgument = Keldra::Deployment::kUpdateManifestUrl;
    bool assumeYes = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--manifest")) {
            if (i + 1 >= args.size())
                return usage();
            manifestArgument = args.at(++i);
        } else if (arg == QLatin1String("--yes")) {
            assumeYes = true;
        } else if (root.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            root = arg;
        } else {
            return usage();
        }
    }
    if (root.isEmpty())
        return usage();
    const QUrl manifestUrl(manifestArgument, QUrl::StrictMode);
    if (!manifestUrl.isValid() || manifestUrl.isRelative()) {
        err() << "Endereço de manifesto inválido: " << manifestArgument << Qt::endl;
        return 1;
    }
    root = QDir::cleanPath(QFileInfo(root).absoluteFilePath());

    // The downloads run event loops, which need an application object.
    std::unique_ptr<QCoreApplication> ownApplication;
    static int argc = 1;
    static char programName[] = "keldra-cli";
    static char* argv[] = {programName, nullptr};
    if (!QCoreApplication::instance())
        ownApplication = std::make_unique<QCoreApplication>(argc, argv);

    const bool terminal = isatty(STDIN_FILENO) != 0;
    QString lastLabel;
    BundleUpdater::Callbacks callbacks;
    callbacks.log = [](const QString& line) { out() << line << Qt::endl; };
    callbacks.inform = [](const QString& text) { out() << text << Qt::endl; };
    callbacks.progress = [&lastLabel](int, int, const QString& label) {
        if (label != lastLabel)
            out() << label << Qt::endl;
        lastLabel = label;
    };
    callbacks.confirm = [assumeYes, terminal](const QString& title, const QString& question) {
        if (assumeYes)
            return true;
        const QString text = withNotesShown(question);
        if (terminal)
            return askOnTerminal(title, text);
        out() << text << Qt::endl;
        err() << "Sem terminal para confirmar; use --yes para aplicar a atualização." << Qt::endl;
        return false;
    };

    BundleUpdater updater(std::move(callbacks));
#ifdef KELDRA_CLI_TEST_RUNNING_NAME
    // The tests' build: a program named Keldra elsewhere on the machine must not stop it.
    updater.setRunningProbe(
        [] { return BundleUpdater::processMayBeRunning(QStringLiteral(KELDRA_CLI_TEST_RUNNING_NAME)); });
#endif
    const UpdateOutcome outcome = updater.updateDrive(root, manifestUrl);
    if (outcome == UpdateOutcome::Failed) {
        using Keldra::Texts::DeploymentErrorText;
        const QString text = DeploymentErrorText::message(updater.lastError());
        // The window shows some failures both in its log and in a box; the log's
        // line is the one printed here, on standard output like the log.
        switch (DeploymentErrorText::presentation(updater.lastError())) {
        case DeploymentErrorText::Presentation::Notice:
        case DeploymentErrorText::Presentation::LoggedWarning:
            out() << text << Qt::endl;
            break;
        case DeploymentErrorText::Presentation::Warning:
            err() << text << Qt::endl;
            break;
        case DeploymentErrorText::Presentation::Silent:
            break;
        }
    }
    return outcome == UpdateOutcome::Updated || outcome == UpdateOutcome::UpToDate ? 0 : 1;
}
