#include "EndedProcess.h"

#include <QProcess>

namespace TestSupport {

qint64 endedProcessId()
{
    QProcess process;
#ifdef Q_OS_WIN
    process.start(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QStringLiteral("exit")});
#else
    process.start(QStringLiteral("true"));
#endif
    if (!process.waitForStarted())
        return 0;
    // QProcess forgets the id once the program has ended.
    const qint64 id = process.processId();
    return process.waitForFinished() ? id : 0;
}

} // namespace TestSupport
