// keldra-bench: helpers of bench/run.sh that need the library itself.
//   keldra-bench generate CONTAINER FILES FOLDERS FILESIZE   (password: first line of stdin)
//   keldra-bench index CONTAINER RUNS                         (password: first line of stdin)
//   keldra-bench verify FOLDER                                (password: first line of stdin)
//   keldra-bench batch FOLDER                                 (password: first line of stdin)
#include "BatchBench.h"
#include "IndexBench.h"
#include "VaultGenerator.h"
#include "VerifyBench.h"
#include "core/vault/AllocatorTuning.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

using namespace Keldra::Bench;

namespace {

QByteArray passwordFromStdin()
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return {};
    QByteArray line = in.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

int usage()
{
    std::fputs("usage: keldra-bench generate CONTAINER FILES FOLDERS FILESIZE\n"
               "       keldra-bench index CONTAINER RUNS\n"
               "       keldra-bench verify FOLDER\n"
               "       keldra-bench batch FOLDER\n"
               "The password is the first line of standard input.\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // As the programs do, so the timings are theirs.
    Keldra::Core::AllocatorTuning::keepLargeBuffers();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream out(stdout);
    QString error;

    if (args.size() == 6 && args.at(1) == QLatin1String("generate")) {
        VaultGenerator::Layout layout;
        layout.fileCount = args.at(3).toInt();
        layout.folderCount = args.at(4).toInt();
        layout.fileSize = args.at(5).toInt();
        if (!VaultGenerator::generate(args.at(2), passwordFromStdin(), layout, &error)) {
            std::fprintf(stderr, "keldra-bench: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    // Both measurements print to `out` and report a failure the same way.
    const auto report = [&](bool ok) {
        out.flush();
        if (ok)
            return 0;
        std::fprintf(stderr, "keldra-bench: %s\n", qPrintable(error));
        return 1;
    };
    if (args.size() == 4 && args.at(1) == QLatin1String("index")) {
        IndexBench bench(args.at(2), passwordFromStdin(), args.at(3).toInt());
        return report(bench.run(out, &error));
    }
    if (args.size() == 3 && args.at(1) == QLatin1String("verify")) {
        VerifyBench bench(args.at(2), passwordFromStdin());
        return report(bench.run(out, &error));
    }
    if (args.size() == 3 && args.at(1) == QLatin1String("batch")) {
        BatchBench bench(args.at(2), passwordFromStdin());
        return report(bench.run(out, &error));
    }
    return usage();
}
