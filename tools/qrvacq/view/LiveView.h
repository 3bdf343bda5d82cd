// view: a live view of one camera in the browser. The camera is opened and
// grabbed through the plug-in as `grab` does; a small HTTP server on loopback
// serves the page (files of this folder, compiled in), the latest frame, the
// per-second statistics and the feature tree, and writes features through the
// same entry points as `set`.
#pragma once

#include <string>

#include "Commands.h"

namespace qrvacq {

struct ViewOptions {
    int port = 8080;                 ///< 0: any free port
    std::string bind = "127.0.0.1";  ///< another address only when asked
    int timeoutMs = 1000;            ///< GrabImage's time-out
    /// Once a page has been seen, the view ends when no page has asked for
    /// anything for this long (the last page was closed).
    int idleSeconds = 8;
};

/// Serves until Ctrl-C or until the last page closes; then stops acquisition and
/// closes the camera. Exit status as the other commands.
int RunView(const PluginApi& api, const CameraTarget& target, const ViewOptions& options);

/// The page's files, served from memory: "index.html", "view.js", "view.css".
/// Null for any other name.
const std::string* ViewAsset(const std::string& name);

}  // namespace qrvacq
