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
#ifndef Q_OS_WIN
    // The private folder would otherwise be the session's runtime folder, outside the test's.
    m_saved.append(
        {"XDG_RUNTIME_DIR", qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"), qgetenv("XDG_RUNTIME_DIR")});
    qunsetenv("XDG_RUNTIME_DIR");
#endif
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
