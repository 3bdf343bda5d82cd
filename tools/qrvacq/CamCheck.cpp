// --config FILE.cam: the plug-in writes a Camera Link camera's .cam entries at
// Open and passes over the ones it cannot write without a word. Here the tool
// reads the file with the plug-in's own line and number rules and, once Open has
// succeeded, checks every entry against the frame grabber's node map: the
// feature exists, the text is a value of its type and range, the camera kept it.
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <vector>

#include "CameraNodes.h"
#include "Commands.h"
#include "Directory.h"
#include "KZRGeniCam.h"
#include "Text.h"
#include "discovery/CamFileFormat.h"

namespace qrvacq {

namespace {

namespace cam = qrv::camfile;

struct CamEntry {
    int line = 0;
    std::string name, value;
};

const char* AccessWord(GenApi::EAccessMode mode) {
    switch (mode) {
        case GenApi::NI:
            return "NI (not implemented)";
        case GenApi::NA:
            return "NA (not available)";
        case GenApi::RO:
            return "RO (read-only)";
        default:
            return "not writable";
    }
}

std::string Text(double value) {
    std::ostringstream out;
    out.precision(9);
    out << value;
    return out.str();
}

std::string DidYouMean(const std::string& name, GenApi::INodeMap& map) {
    const std::vector<std::string> close = CloseNames(name, FeatureNames(map));
    if (close.empty()) return {};
    std::string text = "; did you mean ";
    for (std::size_t i = 0; i < close.size(); ++i) text += (i ? ", " : "") + Quote(close[i]);
    return text + "?";
}

std::string IntegerProblem(GenApi::IInteger& node, const std::string& text, bool isLast) {
    int64_t value = 0;
    if (!cam::ParseInt32(text, value)) {
        long long wide = 0;
        if (ParseInt64(text, wide)) return Quote(text) + " is outside the 32 bits a .cam integer holds";
        return Quote(text) + " is not an integer";
    }
    const std::size_t sign = text[0] == '+' || text[0] == '-' ? 1 : 0;
    if (text.find_first_not_of("0123456789", sign) != std::string::npos)
        return Quote(text) + " is read as " + std::to_string(value) + " (reading stops at its first non-digit)";
    const int64_t min = node.GetMin(), max = node.GetMax();
    if (value < min || value > max)
        return std::to_string(value) + " is outside [" + std::to_string(min) + ", " + std::to_string(max) + "]";
    const int64_t inc = node.GetInc();
    if (node.GetIncMode() == GenApi::fixedIncrement && inc > 1 && (value - min) % inc != 0)
        return std::to_string(value) + " is off the increment " + std::to_string(inc) + " from " +
               std::to_string(min);
    const int64_t kept = node.GetValue(true, true);
    if (isLast && kept != value)
        return "the camera keeps " + std::to_string(kept) + ", not " + std::to_string(value);
    return {};
}

std::string FloatProblem(GenApi::IFloat& node, const std::string& text, bool isLast) {
    float single = 0.0f;
    if (!cam::ParseFloat(text, single)) return Quote(text) + " is not a number";
    const double value = single;
    double whole = 0.0;
    const char* last = text.c_str() + text.size();
    if (std::from_chars(cam::SkipPlus(text.c_str(), last), last, whole).ptr != last)
        return Quote(text) + " is read as " + Text(value) + " (reading stops at its first non-number character)";
    const double min = node.GetMin(), max = node.GetMax();
    if (value < min || value > max)
        return text + " is outside [" + Text(min) + ", " + Text(max) + "]";
    const double kept = node.GetValue(true, true);
    if (isLast && std::fabs(kept - value) > 1e-6 * std::max(1.0, std::fabs(value)))
        return "the camera keeps " + Text(kept) + ", not " + Text(value);
    return {};
}

std::string BooleanProblem(GenApi::IBoolean& node, const std::string& text, bool isLast) {
    bool known = false;
    if (!ParseBool(text, known))
        return Quote(text) + " is not a boolean (True or False); it is written as " +
               (cam::ParseBool(text) ? "true" : "false");
    const bool value = cam::ParseBool(text);
    if (isLast && node.GetValue(true, true) != value)
        return std::string("the camera keeps ") + (value ? "false" : "true") + ", not " +
               (value ? "true" : "false");
    return {};
}

std::string EnumerationProblem(GenApi::IEnumeration& node, const std::string& text, bool isLast) {
    GenApi::gcstring_vector symbolics;
    node.GetSymbolics(symbolics);
    bool listed = false;
    std::vector<std::string> names;
    for (const GenApi::gcstring& symbolic : symbolics) {
        names.push_back(symbolic.c_str());
        listed = listed || names.back() == text;
    }
    if (!listed) {
        std::string reason = Quote(text) + " is no entry of " + std::string(node.GetNode()->GetName().c_str()) + "; its entries: ";
        for (std::size_t i = 0; i < names.size(); ++i) reason += (i ? ", " : "") + names[i];
        return reason;
    }
    GenApi::IEnumEntry* current = node.GetCurrentEntry(true, true);
    const std::string kept = current ? current->GetSymbolic().c_str() : "";
    if (isLast && kept != text) return "the camera keeps " + kept + ", not " + text;
    return {};
}

/// Why the entry is bad, or empty. last: no later entry of the file writes this
/// feature, so what the camera holds now must be its value.
std::string Problem(GenApi::INodeMap& grabber, GenApi::INodeMap* device, const CamEntry& entry,
                    bool isLast) {
    GenApi::INode* node = grabber.GetNode(entry.name.c_str());
    if (!node) {
        if (device && device->GetNode(entry.name.c_str()))
            return "no feature " + Quote(entry.name) +
                   " on the frame grabber (the camera has one; a .cam file writes the grabber's)";
        return "no feature " + Quote(entry.name) + " on this camera's frame grabber" +
               DidYouMean(entry.name, grabber);
    }
    try {
        const GenApi::EInterfaceType type = node->GetPrincipalInterfaceType();
        const bool written = type == GenApi::intfIInteger || type == GenApi::intfIFloat ||
                             type == GenApi::intfIBoolean || type == GenApi::intfIEnumeration;
        if (!written)
            return "not a number, boolean or enumeration feature: a .cam file cannot write it";
        if (!GenApi::IsWritable(node->GetAccessMode()))
            return std::string("not writable: access mode ") + AccessWord(node->GetAccessMode());
        if (auto* integer = dynamic_cast<GenApi::IInteger*>(node))
            return IntegerProblem(*integer, entry.value, isLast);
        if (auto* real = dynamic_cast<GenApi::IFloat*>(node))
            return FloatProblem(*real, entry.value, isLast);
        if (auto* boolean = dynamic_cast<GenApi::IBoolean*>(node))
            return BooleanProblem(*boolean, entry.value, isLast);
        if (auto* enumeration = dynamic_cast<GenApi::IEnumeration*>(node))
            return EnumerationProblem(*enumeration, entry.value, isLast);
    } catch (const std::exception& ex) {
        return std::string("the camera cannot say: ") + ex.what();
    }
    return {};
}

}  // namespace

int CheckCamFile(const CameraTarget& target) {
    const std::string& path = target.configPath;
    // The transport from discovery first: a second open of a camera of another
    // transport (a GigE Vision camera's one controlling open) is not asked for.
    const CameraRecord* record = RunDirectory() ? RunDirectory()->Find(target.serial) : nullptr;
    if (record && record->transport != KZRGENICAM::TransportCameraLink) {
        std::cerr << "qrvacq: --config " << path << ": " << target.serial
                  << " is not a Camera Link camera; Open does not read the file\n";
        return 0;
    }
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: --config " << path << ": entries not checked: " << error << "\n";
        return -1;
    }
    if (camera.Transport() != KZRGENICAM::TransportCameraLink) {
        std::cerr << "qrvacq: --config " << path << ": " << target.serial
                  << " is not a Camera Link camera; Open does not read the file\n";
        return 0;
    }
    GenApi::INodeMap* grabber = camera.GrabberMap();
    std::ifstream file(path);
    if (!grabber || !file || !cam::HasCamExtension(path)) {
        std::cerr << "qrvacq: --config " << path << ": entries not checked: "
                  << (grabber ? "cannot read the file" : "the camera has no frame grabber node map")
                  << "\n";
        return -1;
    }
    std::vector<CamEntry> entries;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        CamEntry entry;
        entry.line = number;
        if (cam::SplitLine(line, number == 1, entry.name, entry.value)) entries.push_back(entry);
    }
    std::map<std::string, std::size_t> lastOf;
    for (std::size_t i = 0; i < entries.size(); ++i) lastOf[entries[i].name] = i;
    int bad = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CamEntry& entry = entries[i];
        const std::string reason =
            Problem(*grabber, camera.DeviceMap(), entry, lastOf[entry.name] == i);
        if (reason.empty()) continue;
        ++bad;
        std::cerr << "qrvacq: " << path << ":" << entry.line << ": " << entry.name << "="
                  << entry.value << ": " << reason << "\n";
    }
    if (bad) {
        std::cerr << "qrvacq: " << path << ": " << bad << " of " << entries.size()
                  << (entries.size() == 1 ? " entry" : " entries") << " not applied as written"
                  << (target.configStrict ? " (--strict-config: the command stops)" : "") << "\n";
    }
    return bad;
}

}  // namespace qrvacq
