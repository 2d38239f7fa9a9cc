#pragma once

#include "TestFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>

namespace BundleTestSupport {

// The vault application from this build tree, or the stand-in when it is not built.
inline QString linuxProgram()
{
    const QDir bin(QStringLiteral(KELDRA_BIN_DIR));
    const QString real = bin.filePath(QStringLiteral("Keldra"));
    return QFileInfo::exists(real) ? real : bin.filePath(QStringLiteral("keldra_bundle_standin"));
}

using TestSupport::readFile;
using TestSupport::writeFile;

} // namespace BundleTestSupport
