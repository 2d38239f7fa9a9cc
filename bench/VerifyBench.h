#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace Keldra::Bench {

// Times a check of every file of vaults of growing size, as `keldra-cli verify`
// runs it after the unlock, so a cost per file that grows with the number of
// files shows as a ratio above 2 between a vault and one of half its files.
class VerifyBench
{
public:
    VerifyBench(QString folder, QByteArray password);
    // Prints "verify_N_ms" for every size and the ratios of consecutive sizes;
    // false when a vault cannot be made or a file does not verify.
    [[nodiscard]] bool run(QTextStream& out, QString* error);

private:
    QString m_folder;
    QByteArray m_password;
};

} // namespace Keldra::Bench
