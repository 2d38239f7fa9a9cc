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
