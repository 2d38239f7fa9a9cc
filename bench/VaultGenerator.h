#pragma once

#include <QByteArray>
#include <QString>

namespace Keldra::Bench {

// Writes a vault with many small files in one pass. Importing them one by one
// would rewrite the header once per file, which for 10,000 files takes far
// longer than the measurements themselves.
class VaultGenerator
{
public:
    struct Layout
    {
        int fileCount = 0;
        int folderCount = 1; // files are spread over folders "dNNN"
        int fileSize = 1024; // bytes of random content per file
    };

    [[nodiscard]] static bool generate(const QString& containerPath, const QByteArray& password,
                                       const Layout& layout, QString* error);

    static QString folderName(int folder);
    static QString filePath(const Layout& layout, int file);
};

} // namespace Keldra::Bench
