// The one-shot commands of qrvacq. Each returns the process exit status
// (ExitStatus): results go to stdout, errors to stderr.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "PluginApi.h"

namespace qrvacq {

/// Settings shared by the commands that open a camera.
struct CameraTarget {
    std::string serial;
    std::string configPath;  ///< Open's 4th argument
    bool configStrict = false;  ///< a bad .cam entry fails the open
};

/// After Open with a .cam file: reads it with the plug-in's rules and checks each
/// entry against the camera's frame grabber (the feature exists, the value is one
/// of its type and range, the camera kept it), one line per bad entry on stderr.
/// The number of bad entries; -1 when they could not be checked.
int CheckCamFile(const CameraTarget& target);

int RunList(const PluginApi& api, bool json);
int RunCards(const PluginApi& api, bool json);
int RunGet(const PluginApi& api, const CameraTarget& target,
           const std::vector<std::string>& features, bool json);
/// assignments are FEATURE=VALUE.
int RunSet(const PluginApi& api, const CameraTarget& target,
           const std::vector<std::string>& assignments, bool json);
/// Every FEATURE=VALUE is checked against its feature's type first; one that
/// does not parse refuses them all (kExitUsage, nothing written, reported on
/// stderr). Then each is written in order and read back into readings (or its
/// error with a reason the plug-in's own ranges give). kExitCallFailed when a
/// write failed.
int WriteSettings(const PluginApi& api, QRVCameraHandle handle,
                  const std::vector<std::string>& assignments, nlohmann::json& readings);
/// One feature read through the entry points by its node type: name, type and
/// value (with min, max, inc, or the entries), or "error" {code, name, meaning}
/// when it could not be read.
nlohmann::json ReadFeature(const PluginApi& api, QRVCameraHandle handle, const std::string& name);
/// The readings of WriteSettings as text: values to stdout, failures to stderr.
void PrintSettings(const nlohmann::json& readings);

int RunExec(const PluginApi& api, const CameraTarget& target, const std::string& command);
/// Exactly one of readCount >= 0 and a non-empty writeHex.
int RunReg(const PluginApi& api, const CameraTarget& target, const std::string& name, int readCount,
           const std::string& writeHex);

/// Raw peek and poke on the camera's port (the node map's IPort), through the
/// camera library: the entry points reach register features only.
int RunRegAddress(const CameraTarget& target, const std::string& address, int readCount,
                  const std::string& writeHex);

/// Every read-write feature of the camera as FEATURE=VALUE lines, in the order
/// of its feature tree, through the camera library's node map. A selector's
/// features are saved for each of its entries, each block after the line that
/// selects it; the selector's own entry comes last and is restored.
int RunSave(const CameraTarget& target, const std::string& path);
/// Writes a file of RunSave back, line by line (each under the selector entries
/// written above it), retrying what failed while a pass sets more; reports each
/// setting it could not make and why, then each one the camera no longer holds.
/// A non-empty saveAfter: then saves the camera's settings there, as RunSave.
int RunLoad(const CameraTarget& target, const std::string& path, const std::string& saveAfter);

struct GrabOptions {
    int count = 1;
    int timeoutMs = 1000;
    int startArg = 0;                   ///< StartAcquire's 2nd argument
    bool chunks = false;                ///< GrabImageEx with chunk data
    std::string outDir;                 ///< empty: write nothing
    bool json = false;                  ///< one JSON object per frame and one for the summary
    bool quiet = false;                 ///< no line per frame
    bool overwrite = false;             ///< remove an earlier grab's frame files in outDir first
    std::vector<std::string> settings;  ///< FEATURE=VALUE written before StartAcquire
};

/// Exit status 130 when Ctrl-C ended the loop. cameraLost is set when the
/// camera went away during the grab.
int RunGrab(const PluginApi& api, const CameraTarget& target, const GrabOptions& options,
            bool& cameraLost);

/// The camera's events as they arrive (name or id, timestamp, data features),
/// through the camera library while the camera streams: until count events, or
/// timeoutMs without one. kExitCallFailed with fewer, or a transport without events.
int RunEvents(const CameraTarget& target, int count, int timeoutMs);

/// The camera's feature tree, read through the camera access library directly
/// (the entry points cannot enumerate nodes); the plug-in is not involved.
int RunFeatures(const CameraTarget& target, bool json);

/// An open camera that is closed when the object goes, so every early exit
/// still gives the handle back before the plug-in is unloaded.
class OpenCamera {
public:
    explicit OpenCamera(const PluginApi& api) : m_api(api) {}
    ~OpenCamera() { Close(); }
    OpenCamera(const OpenCamera&) = delete;
    OpenCamera& operator=(const OpenCamera&) = delete;

    /// Opens the target; on failure reports to stderr and returns false.
    bool Open(const CameraTarget& target);
    /// Closes now; returns the plug-in's result (0 when nothing was open), and
    /// reports a failure to stderr when report is set.
    int Close(bool report = true);
    QRVCameraHandle Handle() const { return m_handle; }

private:
    const PluginApi& m_api;
    QRVCameraHandle m_handle = nullptr;
};

}  // namespace qrvacq
