#pragma once

#include <QString>

namespace Keldra::Core {

// Whether two names lead to one file: by identity (device and inode, or
// volume and file index on Windows), not by path, so a hard link or a
// symbolic link to the container is the container. Without an identity for
// both (one of them missing), their canonical paths decide.
bool sameFile(const QString& a, const QString& b);

} // namespace Keldra::Core
