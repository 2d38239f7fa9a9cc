#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace Keldra::Bench {

// Times a check of every file of vaults of 5,000, 10,000 and 15,000 small
// files, as `keldra-cli verify` runs it after the unlock, so a cost per file
// that grows with the number of files shows in the time per file and in the
// ratios (2 and 3 when linear).
class VerifyBench
{
public:
    VerifyBench(QString folder, QByteArray password);
    // Prints "verify_N_ms" and "verify_N_us_per_file" for every size and the ratios;
    // false when a vault cannot be made or a file does not verify.
    [[nodiscard]] bool run(QTextStream& out, QString* error);

private:
    QString m_folder;
    QByteArray m_password;
};

} // namespace Keldra::Bench
