#pragma once

#include <QStringList>

// keldra-cli commands over a vault container. Each takes the words after the
// command name (the container first) and returns the exit status: 0 done,
// 1 failed (one message on standard error), 2 wrong arguments.
int runCreateCommand(const QStringList& args);
int runListCommand(const QStringList& args);
int runImportCommand(const QStringList& args);
int runExportCommand(const QStringList& args);
int runMakeDirectoryCommand(const QStringList& args);
int runRemoveDirectoryCommand(const QStringList& args);
int runRenameFileCommand(const QStringList& args);
int runRenameDirectoryCommand(const QStringList& args);
int runMoveFileCommand(const QStringList& args);
int runRemoveFileCommand(const QStringList& args);
int runCompactCommand(const QStringList& args);
int runChangePasswordCommand(const QStringList& args);
int runVerifyCommand(const QStringList& args);
// Stores the edits a dead session left for this vault.
int runRecoverCommand(const QStringList& args);
