#pragma once

#include <QDir>
#include <QLatin1String>
#include <QString>

// The folders and files of a prepared drive, named once. Header-only and Qt Core
// only, so the vault window can recognise its own drive without linking the
// deployment library.
namespace Keldra::Deployment::DriveLayout {

// At the drive root.
inline constexpr char BundleFolder[] = "Keldra";
inline constexpr char WindowsLauncher[] = "Keldra-Windows.bat";
inline constexpr char LinuxLauncher[] = "Keldra-Linux.sh";
// An update's staging folder: the prefix and a 14-digit UTC stamp.
inline constexpr char StagingPrefix[] = ".update-";

// Where a preparation keeps the files it replaces until it ends, so a cancel can put them back.
inline constexpr char PreparationUndoFolder[] = ".keldra-prepare-undo";

// In the bundle folder.
inline constexpr char WindowsFolder[] = "windows";
inline constexpr char LinuxFolder[] = "linux";
inline constexpr char Readme[] = "README.txt";
inline constexpr char UpdateStateFile[] = "update-state.json";
inline constexpr char UpdateJournalFile[] = "update-in-progress.json";
// A platform folder moved aside by an update: the platform folder's name, this, a stamp.
inline constexpr char BackupInfix[] = ".backup-";

// In a platform folder.
inline constexpr char WindowsProgram[] = "Keldra.exe";
inline constexpr char LinuxProgram[] = "Keldra";

// "Keldra/windows" for WindowsFolder: a platform folder relative to the drive root.
inline QString platformFolder(const char* platform)
{
    return QLatin1String(BundleFolder) + QLatin1Char('/') + QLatin1String(platform);
}

// "windows.backup-<stamp>" for WindowsFolder.
inline QString backupName(const QString& platform, const QString& stamp)
{
    return platform + QLatin1String(BackupInfix) + stamp;
}

inline QString stagingName(const QString& stamp)
{
    return QLatin1String(StagingPrefix) + stamp;
}

// Paths on the drive whose root is `root`.
inline QString bundleFolder(const QString& root)
{
    return QDir(root).filePath(QLatin1String(BundleFolder));
}
inline QString windowsFolder(const QString& root)
{
    return QDir(root).filePath(platformFolder(WindowsFolder));
}
inline QString linuxFolder(const QString& root)
{
    return QDir(root).filePath(platformFolder(LinuxFolder));
}
inline QString windowsProgram(const QString& root)
{
    return QDir(windowsFolder(root)).filePath(QLatin1String(WindowsProgram));
}
inline QString linuxProgram(const QString& root)
{
    return QDir(linuxFolder(root)).filePath(QLatin1String(LinuxProgram));
}
inline QString windowsLauncher(const QString& root)
{
    return QDir(root).filePath(QLatin1String(WindowsLauncher));
}
inline QString linuxLauncher(const QString& root)
{
    return QDir(root).filePath(QLatin1String(LinuxLauncher));
}
inline QString readme(const QString& root)
{
    return QDir(bundleFolder(root)).filePath(QLatin1String(Readme));
}
inline QString updateState(const QString& root)
{
    return QDir(bundleFolder(root)).filePath(QLatin1String(UpdateStateFile));
}
inline QString updateJournal(const QString& root)
{
    return QDir(bundleFolder(root)).filePath(QLatin1String(UpdateJournalFile));
}

} // namespace Keldra::Deployment::DriveLayout
