#pragma once

#include "Error.h"

class QFileDevice;

namespace Keldra::Core {

// Turns what the system said about a failed change on the drive into a
// reason: a full drive (or an exhausted quota) is told apart from every other
// refusal, because the user can do something about it.
namespace DriveError {

// errno, or GetLastError() on Windows. Read it right after the failing call.
int last();
// Cleared before a call whose failure is classified afterwards, so an old code cannot leak in.
void clear();
bool meansDriveFull(int systemError);

// DriveFull or WriteFailed, with `what` and the system's text as the detail.
Error fromCode(int systemError, const QString& what);
// The same for a Qt file that just failed; Qt reports a full drive as ResourceError.
Error fromFile(const QFileDevice& file, int systemError, const QString& what);

} // namespace DriveError

} // namespace Keldra::Core
