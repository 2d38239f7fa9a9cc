#pragma once

#include <QStringList>

// Publishing updates. args are the words after the command name; the result is the
// process exit code (0 done, 1 failed, 2 wrong command line).

// keldra-cli keygen KEYFILE: a new signing key pair, the secret in KEYFILE (owner-only)
// and the public half in KEYFILE.pub and on standard output.
int runKeygenCommand(const QStringList& args);

// keldra-cli sign-update PACKAGE.zip VERSION KEYFILE [--url URL]: the signed manifest
// for the package on standard output.
int runSignUpdateCommand(const QStringList& args);
