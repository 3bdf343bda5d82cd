// What the camera access library's discovery knows beyond the host's camera
// record: the transport, a GigE Vision camera's IP and MAC address, and whether
// another application already controls that camera.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qrvacq {

struct CameraRecord {
    std::string serial;
    int transport = 0;  ///< the library's: 1 GigE Vision, 2 USB3 Vision, 4 Camera Link, 8 GenTL
    std::string link;   ///< the transport's own link text
    std::string ip;     ///< GigE Vision: dotted IPv4 address, else empty
    std::string mac;    ///< GigE Vision: aa:bb:cc:dd:ee:ff, else empty
    bool simulated = false;  ///< a camera of the --sim scenario: its addresses are only data
};

/// Keeps the camera library started from construction to destruction, so that
/// the plug-in opens a camera listed here without a discovery round of its own.
class CameraDirectory {
public:
    /// simulated: the serial numbers of the --sim scenario's cameras.
    explicit CameraDirectory(std::set<std::string> simulated = {});
    ~CameraDirectory();
    CameraDirectory(const CameraDirectory&) = delete;
    CameraDirectory& operator=(const CameraDirectory&) = delete;

    /// Every camera the library finds; discovered on the first call.
    const std::vector<CameraRecord>& Records();
    /// The record of this serial number, or null.
    const CameraRecord* Find(const std::string& serial);

private:
    std::set<std::string> m_simulated;
    std::vector<CameraRecord> m_records;
    bool m_discovered = false;
};

/// "GigE Vision", "USB3 Vision", "Camera Link", "GenTL".
std::string TransportName(int transport);

/// The IPv4 address and MAC address in a link text, where it holds them.
void SplitLink(const std::string& link, std::string& ip, std::string& mac);

/// Reads the GigE Vision control channel privilege register (0x0A00) of the
/// camera at ip over GVCP. Empty when the camera does not answer within
/// timeoutMs; UINT32_MAX when it refused the read (exclusive access held by
/// another application).
std::optional<std::uint32_t> ReadControlPrivilege(const std::string& ip, int timeoutMs);

/// A message when the camera is a GigE Vision camera that another application
/// controls now; empty otherwise (also when that cannot be told).
std::string ControlledElsewhere(CameraDirectory& directory, const std::string& serial);

/// The directory main keeps for this run, or null (set once by main).
CameraDirectory* RunDirectory();
void SetRunDirectory(CameraDirectory* directory);

}  // namespace qrvacq
