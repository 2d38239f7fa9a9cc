#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace TestSupport {

// Points the system's temporary folder (QDir::tempPath) at `path` for one scope, so the
// workspaces a test makes land in a folder of the test. Unix reads TMPDIR (and the runtime
// folder, unset meanwhile); Windows reads TMP, then TEMP. The folder compaction keeps its copy
// in across restarts (KELDRA_STATE_DIR) goes under it as well.
class TempLocationOverride
{
public:
    explicit TempLocationOverride(const QString& path);
    ~TempLocationOverride();
    TempLocationOverride(const TempLocationOverride&) = delete;
    TempLocationOverride& operator=(const TempLocationOverride&) = delete;

private:
    struct Saved
    {
        const char* name;
        bool wasSet;
        QByteArray value;
    };
    QList<Saved> m_saved;
};

} // namespace TestSupport
