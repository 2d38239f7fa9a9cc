#pragma once

#include <QString>

namespace Keldra::UI {

// What the window remembers between runs: the last container and the
// inactivity time. Kept in an INI file beside the program when it runs from
// a prepared drive (so nothing of it stays on the computers it visits), else
// in the user's configuration folder. Until a location is set, nothing is
// read or written: tests and tools never touch the user's settings by
// accident.
class AppSettings
{
public:
    // The file for a program at programPath: <drive>/Keldra/Keldra.ini when it
    // runs from a drive's bundle, else Keldra.ini in the configuration folder.
    static QString defaultFilePath(const QString& programPath);
    // driveRoot: the drive the file lives on, for a portable file; a
    // container on that drive is stored relative to it, so it is found again
    // under another mount point or drive letter.
    static void setLocation(const QString& filePath, const QString& driveRoot = QString());
    static QString filePath();

    // Empty when none is remembered.
    static QString lastContainer();
    static void setLastContainer(const QString& path);

    static constexpr int kDefaultInactivityMinutes = 10;
    // 0 = never.
    static int inactivityMinutes();
    static void setInactivityMinutes(int minutes);
};

} // namespace Keldra::UI
