#pragma once

#include <QString>
#include <QStringList>

namespace Keldra::Core {
class VaultManager;
}

namespace Keldra::Cli {

// `import CONTAINER SOURCE... DEST` reads as `cp -r`: one file and a DEST
// that is no folder of the vault and does not end in "/" names the file;
// otherwise DEST is a folder (made when missing) that each source lands in
// under its own name, a folder with its whole tree.
bool importNamesTheFile(const Keldra::Core::VaultManager& vault, const QStringList& sources,
                        const QString& destination);

// Whether a source may be given to import at all; asked before the password.
bool importSourceAvailable(const QString& source);

// The folder form: imports the sources as one batch, tells each file left
// out on standard error and the summary on standard output. The exit status,
// or -1 when the batch as a whole failed (the vault's lastError() says why).
int importIntoFolder(Keldra::Core::VaultManager& vault, const QStringList& sources,
                     const QString& destination);

} // namespace Keldra::Cli
