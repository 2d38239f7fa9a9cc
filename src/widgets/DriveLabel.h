#pragma once

#include "platform/UsbDevice.h"

#include <QString>

namespace Keldra::Widgets {

// How both programs list a drive: "LABEL (/media/LABEL)", the device path in place
// of the mount point while it is not mounted, then " | não montado".
QString driveLabel(const Platform::UsbDevice& device);

} // namespace Keldra::Widgets
