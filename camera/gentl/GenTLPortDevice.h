// An Aravis device whose memory is a GenTL port: Aravis's GenICam engine reads
// and writes the producer's registers through GCReadPort / GCWritePort, so that
// the node-map adapter of the Aravis transport serves GenTL devices unchanged.
#pragma once

#include <memory>
#include <string>

#include "AravisSystem.h"
#include "GObjectPtr.h"
#include "GenTLPort.h"

namespace KZRGENICAM::detail {

/// The port's GenICam description as its URL names it: "Local:" (plain or zip) or
/// "File:"; "Web:" is refused. Empty with why set on failure.
std::string ReadPortDescription(const CGenTLDeviceHandle& device, gentl::PORT_HANDLE port,
                                std::string& why);

/// A new Aravis device over the port, with its GenICam tree built from xml; null
/// (why set) when the description yields no tree.
GObjectPtr<ArvDevice> MakeGenTLPortDevice(std::shared_ptr<CGenTLDeviceHandle> device,
                                          gentl::PORT_HANDLE port, const std::string& xml,
                                          std::string& why);

}  // namespace KZRGENICAM::detail
