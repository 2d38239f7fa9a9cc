#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace Keldra::Bench {

// Imports a tree of 1,000 files of 16 KiB in 10 folders into a vault that
// already holds 10,000 files, as one batch, and sets it against the drive:
// the bytes written beside the payload and the final header, and the time
// beside `cp -r` of the same tree plus `sync` on the same drive. The unlock
// is not counted.
class BatchBench
{
public:
    BatchBench(QString folder, QByteArray password);
    // Prints "name value" lines; false when a step fails.
    [[nodiscard]] bool run(QTextStream& out, QString* error);

private:
    QString m_folder;
    QByteArray m_password;
};

} // namespace Keldra::Bench
