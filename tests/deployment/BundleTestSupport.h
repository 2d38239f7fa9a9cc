#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
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

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace BundleTestSupport
