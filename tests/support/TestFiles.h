#pragma once

#include <QByteArray>
#include <QString>

namespace TestSupport {

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Creates the missing folders, then writes (or replaces) the file; false unless every byte was written.
bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace TestSupport
