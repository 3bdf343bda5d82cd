// Transport interface of the camera access library. Each transport (simulated,
// Aravis, ...) discovers its own cameras and creates them; the library's free
// functions merge what every registered transport offers.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "KZRGeniCam.h"

namespace KZRGENICAM {

class ITransport {
public:
    virtual ~ITransport() = default;
    /// Short name for messages ("sim", "aravis").
    virtual const char* name() const = 0;
    /// Called by the first Init and the last UnInit of the library.
    virtual void start() = 0;
    virtual void stop() = 0;
    /// Appends this transport's records for the filter (see Discovery).
    virtual void discover(const char* filter, std::list<ICameraInfo*>& out) = 0;
    /// The camera with this serial number, or null when this transport has none.
    virtual ICamera* createCameraBySN(const char* serialNumber) = 0;
    /// Camera Link serial ports and protocols this transport offers (in order).
    virtual void clSerials(std::vector<std::string>& out) = 0;
    virtual void clProtocols(std::vector<std::string>& out) = 0;
};

/// Registers a transport; transports are asked in registration order. The library
/// owns it from then on. Registration is normally done by the library itself.
KZR_API void RegisterTransport(std::unique_ptr<ITransport> transport);

}  // namespace KZRGENICAM
