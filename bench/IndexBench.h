#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace Keldra::UI {
class MainWindow;
}

namespace Keldra::Bench {

// Times the operations whose cost grows with the number of files: listing,
// opening and searching folders in the window, renaming, creating a folder, deleting and importing a
// small file. Each is reported as a median in milliseconds together with the
// time the drive alone needs for the same header write, so the difference is
// what the program itself adds.
class IndexBench
{
public:
    IndexBench(QString containerPath, QByteArray password, int runs);
    // Prints "name value" lines; false when the vault cannot be opened or an
    // operation fails.
    [[nodiscard]] bool run(QTextStream& out, QString* error);

private:
    [[nodiscard]] bool measureWindow(QTextStream& out, QString* error);
    // With a folder of the vault shown: opening it again, and a search typed key by key.
    [[nodiscard]] bool measureOpenAndSearch(UI::MainWindow& window, QTextStream& out, QString* error);
    // A folder that holds all of fileCount files, listed by the browser alone.
    bool measureFlatFolder(qsizetype fileCount, QTextStream& out);
    [[nodiscard]] bool measureVault(QTextStream& out, QString* error);
    double driveBaselineMs(qint64 headerBytes) const;

    QString m_containerPath;
    QByteArray m_password;
    int m_runs;
};

} // namespace Keldra::Bench
