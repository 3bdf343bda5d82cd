// Camera descriptions: bytes as a camera or a file hands them over, unpacked (plain
// XML or a zip archive) and parsed. Either step may refuse with a GenICam
// exception; nothing else may escape, and an accepted document must respect the
// caps it was read under.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "EngineNodeMap.h"
#include "XmlReader.h"

namespace {

/// Caps small enough that a hostile input reaches them within the fuzzer's budget.
GenApi::SDescriptionLimits FuzzLimits() {
    GenApi::SDescriptionLimits limits;
    limits.maxXmlBytes = std::size_t{1} << 20;
    limits.maxZipBytes = std::size_t{1} << 20;
    limits.maxDepth = 16;
    limits.maxNodes = 4096;
    limits.maxAttributeBytes = 256;
    limits.maxTextBytes = 1024;
    return limits;
}

std::size_t CheckTree(const GenApi::engine::SXmlElement& element, unsigned depth,
                      const GenApi::SDescriptionLimits& limits) {
    if (depth > limits.maxDepth || element.name.empty() || element.line == 0 || element.column == 0) std::abort();
    if (element.text.size() > limits.maxTextBytes) std::abort();
    for (const auto& attribute : element.attributes) {
        if (attribute.first.empty() || attribute.second.size() > limits.maxAttributeBytes) std::abort();
    }
    std::size_t count = 1;
    for (const auto& child : element.children) count += CheckTree(child, depth + 1, limits);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const GenApi::SDescriptionLimits limits = FuzzLimits();
    std::string xml;
    try {
        xml = GenApi::UnpackDescription(data, size, limits);
    } catch (const GenICam::GenericException&) {
        return 0;
    }
    try {
        const GenApi::engine::SXmlElement root = GenApi::engine::ParseXml(xml, limits);
        if (CheckTree(root, 1, limits) > limits.maxNodes) std::abort();
    } catch (const GenICam::GenericException& e) {
        if (std::string(e.GetDescription()).rfind("xml line ", 0) != 0) std::abort();  // unpositioned
    }
    return 0;
}
