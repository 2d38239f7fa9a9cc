#pragma once

#include <QtGlobal>

namespace TestSupport {

// The id of a short program this test started and saw end: a process id that no running
// program has (until the system hands it out again). 0 when the program could not be run.
qint64 endedProcessId();

} // namespace TestSupport
