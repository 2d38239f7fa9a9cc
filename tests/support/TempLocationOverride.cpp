#include "TempLocationOverride.h"

#include <QDir>
#include <QFile>

namespace TestSupport {

namespace {

QList<const char*> temporaryFolderVariables()
{
#ifdef Q_OS_WIN
    return {"TMP", "TEMP"};
#else
    return {"TMPDIR"};
#endif
}

} // namespace

TempLocationOverride::TempLocationOverride(const QString& path)
{
    const QByteArray value = QFile::encodeName(QDir::toNativeSeparators(path));
    for (const char* name : temporaryFolderVariables()) {
        m_saved.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
        qputenv(name, value);
    }
    // What compaction keeps across restarts goes to the test's folder too, not the user's.
    m_saved.append(
        {"KELDRA_STATE_DIR", qEnvironmentVariableIsSet("KELDRA_STATE_DIR"), qgetenv("KELDRA_STATE_DIR")});
    qputenv("KELDRA_STATE_DIR", QFile::encodeName(QDir::toNativeSeparators(path + QLatin1String("/state"))));
}

TempLocationOverride::~TempLocationOverride()
{
    for (const Saved& saved : std::as_const(m_saved)) {
        if (saved.wasSet)
            qputenv(saved.name, saved.value);
        else
            qunsetenv(saved.name);
    }
}

} // namespace TestSupport
