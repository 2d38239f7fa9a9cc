#pragma once

#include <QString>

// Small helpers shared by the window's sources: the size format and drive
// folder paths (vault paths follow Core::VaultPath).
namespace Keldra::UI {

QString formatFileSize(qint64 bytes);

// For file-system directories: "/media/u/USB" and "/media/u/USB/" both give
// "/media/u/USB/", so prefix tests cannot match "/media/u/USB10".
QString normalizeDirectoryPath(QString path);

} // namespace Keldra::UI
