// The part of the Windows port listing that reads SetupAPI's texts, apart so that
// a test can give it the texts real adapters carry.
#pragma once

#include <bootwire/bootwire.h>

#include <string>

namespace bootwire {

// Fills in the USB ids, the serial number and the description of `port` (whose
// name is set) from its device's first hardware id, instance id and friendly name.
void AddDeviceDetails(const std::wstring& hardwareId, const std::wstring& instanceId, const std::wstring& friendlyName,
                      PortInfo* port);

}  // namespace bootwire
