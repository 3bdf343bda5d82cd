// features: the whole feature tree of a camera, through the camera access library.
#include <iostream>

#include "CameraNodes.h"
#include "Commands.h"
#include "JsonOut.h"
#include "Text.h"

namespace qrvacq {

int RunFeatures(const CameraTarget& target, bool json_) {
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: open " << target.serial << ": " << error << "\n";
        return kExitCallFailed;
    }
    GenApi::INodeMap* device = camera.DeviceMap();
    GenApi::INodeMap* grabber = camera.GrabberMap();
    if (!device && !grabber) {
        std::cerr << "qrvacq: " << target.serial << " has no node map\n";
        return kExitCallFailed;
    }
    nlohmann::ordered_json trees = {{"serial", target.serial}};
    trees["device"] = device ? FeatureTree(*device) : nlohmann::ordered_json(nullptr);
    trees["grabber"] = grabber ? FeatureTree(*grabber) : nlohmann::ordered_json(nullptr);
    if (json_) {
        std::cout << DumpJson(trees, 2) << "\n";
        return kExitOk;
    }
    for (const char* module : {"device", "grabber"}) {
        const nlohmann::ordered_json& tree = trees[module];
        if (tree.is_null()) continue;
        std::cout << "# " << module << " of " << target.serial << "\n";
        if (tree.empty()) {
            std::cout << "(no Root category)\n";
            continue;
        }
        PrintFeatureTree(tree, std::cout);
    }
    return kExitOk;
}

}  // namespace qrvacq
