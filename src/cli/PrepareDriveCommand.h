#pragma once

#include <QStringList>

// keldra-cli prepare-drive DRIVE_ROOT [--linux PATH] [--windows PATH]
// args are the words after the command name. Returns the process exit code:
// 0 when the drive was prepared, 1 when it was not,
// 2 for wrong arguments (the caller prints the usage).
int runPrepareDriveCommand(const QStringList& args);
