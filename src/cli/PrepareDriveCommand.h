#pragma once

#include <QStringList>

// keldra-cli prepare-drive DRIVE_ROOT [--linux PATH] [--windows PATH]
// args are the words after the command name. Returns the process exit code:
// 0 when the drive was prepared, 1 otherwise.
int runPrepareDriveCommand(const QStringList& args);
