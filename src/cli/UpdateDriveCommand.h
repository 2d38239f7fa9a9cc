#pragma once

#include <QStringList>

// keldra-cli update-drive DRIVE_ROOT [--manifest URL] [--yes]
// args are the words after the command name. Returns the process exit code: 0 when
// the drive is up to date afterwards (updated, or nothing newer), 1 otherwise, 2 for
// a wrong command line.
int runUpdateDriveCommand(const QStringList& args);
