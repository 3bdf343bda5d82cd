#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "CameraNodes.h"
#include "Directory.h"
#include "JsonOut.h"
#include "Text.h"

namespace qrvacq {

using nlohmann::json;

namespace {

void ReportFailure(const std::string& what, int code) {
    std::cerr << "qrvacq: " << what << ": " << DescribeResult(code) << "\n";
}

json ErrorJson(int code) {
    const char* name = QRVAcqResultName(code);
    const char* meaning = QRVAcqResultMeaning(code);
    return {{"code", code}, {"name", name ? name : ""}, {"meaning", meaning ? meaning : ""}};
}

// Floats pass through their shortest decimal form so that JSON shows 0.1, not
// 0.100000001.
double JsonFloat(float value) {
    return std::stod(FormatFloat(value));
}

}  // namespace

json ReadFeature(const PluginApi& api, QRVCameraHandle handle, const std::string& name) {
    json reading = {{"name", name}};
    const QRVString node(name.c_str());
    const int type = api.GetNodeType(handle, node);
    const char* typeName = NodeTypeName(type);
    if (!typeName) {
        reading["error"] = ErrorJson(type);
        return reading;
    }
    reading["type"] = typeName;
    int result = QRV_OK;
    switch (type) {
        case 1: {
            bool value = false;
            result = api.GetParamBool(handle, node, &value);
            if (result == QRV_OK) reading["value"] = value;
            break;
        }
        case 2: {
            int value = 0, min = 0, max = 0, inc = 0;
            result = api.GetParamInt(handle, node, &value, &min, &max, &inc);
            if (result == QRV_OK) {
                reading.update({{"value", value}, {"min", min}, {"max", max}, {"inc", inc}});
            }
            break;
        }
        case 3: {
            float value = 0, min = 0, max = 0, inc = 0;
            result = api.GetParamFloat(handle, node, &value, &min, &max, &inc);
            if (result == QRV_OK) {
                reading.update({{"value", JsonFloat(value)},
                                {"min", JsonFloat(min)},
                                {"max", JsonFloat(max)},
                                {"inc", JsonFloat(inc)}});
            }
            break;
        }
        case 4: {
            QRVString value;
            QRVStringArray entries;
            result = api.GetParamStr(handle, node, &value, &entries);
            if (result == QRV_OK) {
                reading["value"] = ToStd(value);
                json list = json::array();
                for (int i = 0; i < entries.size(); ++i) list.push_back(ToStd(entries.at(i)));
                reading["entries"] = list;
            }
            break;
        }
        default:
            break;  // a command has no value
    }
    if (result != QRV_OK) reading["error"] = ErrorJson(result);
    return reading;
}

namespace {

std::string NumberText(const json& value) {
    return value.is_number_float() ? FormatFloat(value.get<float>()) : value.dump();
}

// Prints a reading as text: the value to stdout, a failure to stderr.
void PrintReading(const json& reading) {
    const std::string name = reading["name"];
    if (reading.contains("error")) {
        const int code = reading["error"]["code"];
        if (!reading.contains("type")) {
            ReportFailure(name + ": not a readable feature", code);
        } else {
            ReportFailure(name + " (" + reading["type"].get<std::string>() + ")", code);
        }
        if (reading.contains("reason"))
            std::cerr << "  reason: " << reading["reason"].get<std::string>() << "\n";
        return;
    }
    const std::string type = reading["type"];
    std::cout << name << " (" << type << ")";
    if (type == "command") {
        std::cout << ": a command, run it with exec\n";
        return;
    }
    const json& value = reading["value"];
    std::cout << " = ";
    if (value.is_string()) {
        std::cout << Quote(value.get<std::string>());
    } else if (value.is_boolean()) {
        std::cout << (value.get<bool>() ? "true" : "false");
    } else {
        std::cout << NumberText(value);
    }
    if (reading.contains("min")) {
        std::cout << "  [min " << NumberText(reading["min"]) << ", max "
                  << NumberText(reading["max"]) << ", inc " << NumberText(reading["inc"]) << "]";
    }
    // GetParamStr gives a plain string's own value as its only entry; list the
    // entries only when they say more than that.
    const json& entries = reading.contains("entries") ? reading["entries"] : json::array();
    if (entries.size() > 1 || (entries.size() == 1 && entries[0] != value)) {
        std::cout << "  {";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            std::cout << (i ? ", " : "") << entries[i].get<std::string>();
        }
        std::cout << "}";
    }
    std::cout << "\n";
    if (reading.contains("note")) std::cout << "  " << reading["note"].get<std::string>() << "\n";
}

std::string RangeText(const std::string& min, const std::string& max) {
    return "[" + min + ", " + max + "]";
}

// Why the plug-in refused a write of text, from what the plug-in itself reports
// of the feature: range, increment, entries. Empty when that says nothing.
std::string WriteReason(const PluginApi& api, QRVCameraHandle handle, const std::string& name,
                        int type, const std::string& text) {
    const QRVString node(name.c_str());
    if (type == 2) {
        int value = 0, min = 0, max = 0, inc = 0, wanted = 0;
        if (api.GetParamInt(handle, node, &value, &min, &max, &inc) != QRV_OK ||
            !ParseInt(text, wanted))
            return {};
        const std::string range = RangeText(std::to_string(min), std::to_string(max)) +
                                  ", increment " + std::to_string(inc);
        // The plug-in moves a value down onto min + k*inc first: what it wrote
        // may be off the range although the value asked for was not.
        if (wanted < min) return text + " is below the minimum: " + range;
        if (wanted > max) return text + " is above the maximum: " + range;
        if (inc > 1 && (static_cast<long long>(wanted) - min) % inc != 0)
            return text + " is off the increment: " + range;
        return "the camera refused " + text + ": " + range;
    }
    if (type == 3) {
        float value = 0, min = 0, max = 0, inc = 0, wanted = 0;
        if (api.GetParamFloat(handle, node, &value, &min, &max, &inc) != QRV_OK ||
            !ParseFloat(text, wanted))
            return {};
        const std::string range = RangeText(FormatFloat(min), FormatFloat(max));
        if (wanted < min || wanted > max) return text + " is outside " + range;
        return "the camera refused " + text + " (range " + range + ")";
    }
    if (type == 4) {
        QRVString value;
        QRVStringArray entries;
        if (api.GetParamStr(handle, node, &value, &entries) != QRV_OK) return {};
        std::string list;
        bool listed = false;
        for (int i = 0; i < entries.size(); ++i) {
            const std::string entry = ToStd(entries.at(i));
            listed = listed || entry == text;
            list += (i ? ", " : "") + entry;
        }
        if (!listed) return Quote(text) + " is not an entry of " + name + "; entries: " + list;
        return "the camera refused " + Quote(text);
    }
    return {};
}

// The node a plug-in name stands for: the name itself, or its legacy variant.
GenApi::INode* FindFeature(GenApi::INodeMap& map, const std::string& name) {
    for (const char* suffix : {"", "Abs", "Raw"}) {
        GenApi::INode* node = map.GetNode((name + suffix).c_str());
        if (node && node->IsFeature()) return node;
        if (!*suffix && name != "ExposureTime" && name != "Gain" && name != "TriggerDelay" &&
            name != "AcquisitionFrameRate")
            break;
    }
    return nullptr;
}

const char* AccessWords(GenApi::EAccessMode mode) {
    switch (mode) {
        case GenApi::NI:
            return "NI (not implemented)";
        case GenApi::NA:
            return "NA (not available now)";
        case GenApi::WO:
            return "WO (write-only)";
        case GenApi::RO:
            return "RO (read-only now)";
        case GenApi::RW:
            return "RW";
        default:
            return "undefined";
    }
}

// Reasons that need the node map: a missing feature (with close names) and an
// access mode. Called after the plug-in closed the camera, because a GigE Vision
// camera takes one controlling open; readings keep their plug-in reason when the
// camera cannot be opened again.
void AddNodeMapReasons(const CameraTarget& target, json& readings) {
    bool needed = false;
    for (const json& reading : readings) needed = needed || reading.contains("needsNodeMap");
    if (!needed) return;
    LibraryCamera camera;
    std::string error;
    GenApi::INodeMap* map = camera.Open(target.serial, error) ? camera.DeviceMap() : nullptr;
    std::vector<std::string> names;
    for (json& reading : readings) {
        if (!reading.contains("needsNodeMap")) continue;
        const bool writing = reading["needsNodeMap"] == "write";
        reading.erase("needsNodeMap");
        if (!map) continue;
        const std::string name = reading["name"];
        try {
            GenApi::INode* node = FindFeature(*map, name);
            if (!node && map->GetNode(name.c_str())) {
                reading["reason"] = name + " is a node of the camera's description, not a feature";
                continue;
            }
            if (!node) {
                if (names.empty()) names = FeatureNames(*map);
                std::string reason = "no feature " + Quote(name);
                const std::vector<std::string> close = CloseNames(name, names);
                for (std::size_t i = 0; i < close.size(); ++i)
                    reason += (i ? ", " : "; did you mean ") + close[i];
                reading["reason"] = reason + (close.empty() ? "" : "?");
                continue;
            }
            const GenApi::EAccessMode mode = node->GetAccessMode();
            if (writing && node->GetPrincipalInterfaceType() == GenApi::intfIString &&
                GenApi::IsWritable(mode)) {
                reading["reason"] = "a string feature: SetParamStr writes enumerations only";
            } else if (node->GetPrincipalInterfaceType() == GenApi::intfIRegister ||
                       dynamic_cast<GenApi::IRegister*>(node) != nullptr) {
                reading["reason"] =
                    "a register: qrvacq reg " + target.serial + " " + name + " --read N reads it";
            } else if (writing ? GenApi::IsWritable(mode) : GenApi::IsReadable(mode)) {
                reading["reason"] = std::string("access mode ") + AccessWords(mode) +
                                    " allows it; the plug-in refused it all the same";
            } else {
                reading["reason"] = std::string(writing ? "not writable" : "not readable") +
                                    ": access mode " + AccessWords(mode);
            }
        } catch (const std::exception& ex) {
            reading["reason"] = std::string("the node map did not answer: ") + ex.what();
        }
    }
}

// Writes the readings marked "nodeMap" through the camera library: strings
// (IString) and integers beyond 32 bits, which the plug-in's entry points cannot
// take. After the plug-in closed the camera, as for the reasons.
void WriteThroughNodeMap(const CameraTarget& target, json& readings) {
    bool needed = false;
    for (const json& reading : readings) needed = needed || reading.contains("nodeMap");
    if (!needed) return;
    LibraryCamera camera;
    std::string error;
    GenApi::INodeMap* map = camera.Open(target.serial, error) ? camera.DeviceMap() : nullptr;
    for (json& reading : readings) {
        if (!reading.contains("nodeMap")) continue;
        const std::string text = reading["nodeMap"];
        const std::string name = reading["name"];
        reading.erase("nodeMap");
        GenApi::INode* node = map ? FindFeature(*map, name) : nullptr;
        const bool isString = node && node->GetPrincipalInterfaceType() == GenApi::intfIString;
        const bool isInt = node && node->GetPrincipalInterfaceType() == GenApi::intfIInteger;
        if (!map) {
            reading["error"] = ErrorJson(QRV_ERR_PARAMETER_ACCESS);
            reading["reason"] = "the node map could not be opened: " + error;
            continue;
        }
        if (!isString && !isInt) continue;  // an enumeration the plug-in refused: keep its reason
        GenApi::IValue* value = dynamic_cast<GenApi::IValue*>(node);
        try {
            const GenApi::EAccessMode mode = node->GetAccessMode();
            if (!GenApi::IsWritable(mode)) {
                reading["error"] = ErrorJson(QRV_ERR_PARAMETER_ACCESS);
                reading["reason"] = std::string("not writable: access mode ") + AccessWords(mode);
                continue;
            }
            if (isInt) {
                auto* integer = dynamic_cast<GenApi::IInteger*>(node);
                long long wanted = 0;
                ParseInt64(text, wanted);
                const long long min = integer->GetMin(), max = integer->GetMax();
                if (wanted < min || wanted > max) {
                    reading["error"] = ErrorJson(QRV_ERR_PARAMETER_ACCESS);
                    reading["reason"] = text + " is outside [" + std::to_string(min) + ", " +
                                        std::to_string(max) + "]";
                    continue;
                }
            }
            value->FromString(text.c_str());
            const std::string back = value->ToString().c_str();
            reading.erase("error");
            reading.erase("reason");
            reading["type"] = isString ? "string" : "int";
            if (isInt) {
                reading["value"] = std::stoll(back);
            } else {
                reading["value"] = back;
            }
            reading["path"] = "node map";
            reading["note"] = isString ? "written through the node map (SetParamStr writes "
                                         "enumerations only)"
                                       : "written through the node map (SetParamInt takes 32 "
                                         "bits)";
        } catch (const std::exception& ex) {
            reading["error"] = ErrorJson(QRV_ERR_GENICAM_EXCEPTION);
            // GenICam's messages end in " : XException thrown (file ..., line ...)".
            std::string message = ex.what();
            const std::size_t origin = message.rfind(" : ");
            if (origin != std::string::npos &&
                message.find("Exception thrown", origin) != std::string::npos)
                message.erase(origin);
            reading["reason"] = "the camera refused it: " + message;
        }
    }
}

// Why ExecuteCMD or a register call failed, from the node map (after the
// plug-in closed the camera): a missing name, the wrong kind of feature, a
// length that does not match, an access mode that forbids it. Empty when the
// node map sees nothing wrong; then the plug-in's result stands alone.
std::string ExplainFailure(const CameraTarget& target, const std::string& name,
                           GenApi::EInterfaceType wanted, bool writing, long long count) {
    LibraryCamera camera;
    std::string error;
    GenApi::INodeMap* map = camera.Open(target.serial, error) ? camera.DeviceMap() : nullptr;
    if (!map) return {};
    try {
        GenApi::INode* node = FindFeature(*map, name);
        if (!node) node = map->GetNode(name.c_str());
        if (!node) {
            std::string reason = "no feature " + Quote(name);
            const std::vector<std::string> close = CloseNames(name, FeatureNames(*map));
            for (std::size_t i = 0; i < close.size(); ++i)
                reason += (i ? ", " : "; did you mean ") + close[i];
            return reason + (close.empty() ? "" : "?");
        }
        const GenApi::EInterfaceType type = node->GetPrincipalInterfaceType();
        const bool isRegister =
            type == GenApi::intfIRegister || dynamic_cast<GenApi::IRegister*>(node) != nullptr;
        const char* wantedWord = wanted == GenApi::intfICommand ? "command" : "register";
        if ((wanted == GenApi::intfICommand && type != GenApi::intfICommand) ||
            (wanted == GenApi::intfIRegister && !isRegister))
            return name + " is not a " + wantedWord + "; qrvacq get " + target.serial + " " + name +
                   " shows what it is";
        const GenApi::EAccessMode mode = node->GetAccessMode();
        if (writing ? !GenApi::IsWritable(mode) : !GenApi::IsReadable(mode))
            return std::string(writing ? "not writable" : "not readable") + ": access mode " +
                   AccessWords(mode);
        if (wanted == GenApi::intfIRegister) {
            const long long length = dynamic_cast<GenApi::IRegister*>(node)->GetLength();
            if (count != length)
                return name + " is " + Counted(length, "byte") + " long; " +
                       (writing ? "the data given has " : "--read asked for ") +
                       Counted(count, "byte");
        }
    } catch (const std::exception& ex) {
        return std::string("the node map did not answer: ") + ex.what();
    }
    return {};
}

void PrintReadings(const json& readings, bool json_) {
    if (json_) {
        std::cout << DumpJson(readings, 2) << "\n";
        return;
    }
    for (const json& reading : readings) PrintReading(reading);
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        std::cout << line << "\n";
    }
}

}  // namespace

bool OpenCamera::Open(const CameraTarget& target) {
    Close();
    // A GigE Vision camera that another application controls would make Open
    // wait out several seconds of refused writes; it says so in one exchange.
    if (CameraDirectory* directory = RunDirectory()) {
        const std::string elsewhere = ControlledElsewhere(*directory, target.serial);
        if (!elsewhere.empty()) {
            std::cerr << "qrvacq: open " << target.serial << ": " << elsewhere << "\n";
            return false;
        }
    }
    QRVCameraHandle handle = nullptr;
    const int result = m_api.Open(QRVString(target.serial.c_str()), &handle, QRVString(""),
                                  QRVString(target.configPath.c_str()));
    if (result != QRV_OK) {
        ReportFailure("open " + target.serial, result);
        CameraDirectory* directory = RunDirectory();
        if (result == QRV_ERR_CAMERA_CONFIG_FILE && target.configPath.empty()) {
            std::cerr << "  a Camera Link camera is opened with its configuration: give the "
                         "camera's .cam file with --config FILE.cam (before the command)\n";
        }
        if (result == QRV_ERR_CAMERA_NOT_FOUND && directory) {
            std::vector<std::string> serials;
            for (const CameraRecord& record : directory->Records())
                serials.push_back(record.serial);
            const std::vector<std::string> close = CloseNames(target.serial, serials);
            if (!close.empty()) {
                std::cerr << "  did you mean ";
                for (std::size_t i = 0; i < close.size(); ++i)
                    std::cerr << (i ? ", " : "") << close[i];
                std::cerr << "?\n";
            } else if (serials.empty()) {
                std::cerr << "  no camera was found at all\n";
            }
        }
        return false;
    }
    if (!handle) {
        std::cerr << "qrvacq: open " << target.serial << ": the plug-in gave a null handle\n";
        return false;
    }
    m_handle = handle;
    if (!target.configPath.empty() && CheckCamFile(target) > 0 && target.configStrict) {
        Close();
        return false;
    }
    return true;
}

int OpenCamera::Close(bool report) {
    if (!m_handle) return QRV_OK;
    const int result = m_api.Close(m_handle);
    m_handle = nullptr;
    if (result != QRV_OK && report) ReportFailure("close", result);
    return result;
}

int RunList(const PluginApi& api, bool json_) {
    QRVCameraInfoArray list;
    const int count = api.GetCameraList(&list);
    if (count < 0) {
        ReportFailure("camera list", count);
        return kExitCallFailed;
    }
    // The transport and a GigE Vision camera's addresses come from the camera
    // library's own discovery; the host's record has no room for them.
    std::vector<CameraRecord> records;
    if (CameraDirectory* directory = RunDirectory()) records = directory->Records();
    auto recordOf = [&records](const std::string& serial) -> const CameraRecord* {
        for (const CameraRecord& record : records)
            if (record.serial == serial) return &record;
        return nullptr;
    };
    json cameras = json::array();
    std::vector<std::vector<std::string>> rows = {
        {"SERIAL", "VENDOR", "MODEL", "ID", "INTERFACE", "TRANSPORT", "IP", "MAC"}};
    for (long i = 0; i < list.Length(); ++i) {
        const QRVCameraInfo& info = list.At(i);
        const int intf = info.GetInterface();
        cameras.push_back({{"serial", ToStd(info.GetSerialNumber())},
                           {"vendor", ToStd(info.GetManufacturerInfo())},
                           {"model", ToStd(info.GetModelName())},
                           {"id", ToStd(info.GetID())},
                           {"sdk", ToStd(info.GetSDKName())},
                           {"driverType", info.GetDriverType()},
                           {"cameraType", static_cast<int>(info.GetCameraType())},
                           {"interface", intf},
                           {"interfaceName", InterfaceName(intf)}});
        const CameraRecord* record = recordOf(ToStd(info.GetSerialNumber()));
        json& camera = cameras.back();
        camera["transport"] = record ? json(TransportName(record->transport)) : json(nullptr);
        camera["ip"] = record && !record->ip.empty() ? json(record->ip) : json(nullptr);
        camera["mac"] = record && !record->mac.empty() ? json(record->mac) : json(nullptr);
        rows.push_back({ToStd(info.GetSerialNumber()), ToStd(info.GetManufacturerInfo()),
                        ToStd(info.GetModelName()), ToStd(info.GetID()),
                        std::to_string(intf) + " " + InterfaceName(intf),
                        record ? TransportName(record->transport) : "-",
                        record && !record->ip.empty() ? record->ip : "-",
                        record && !record->mac.empty() ? record->mac : "-"});
    }
    if (json_) {
        std::cout << DumpJson(cameras, 2) << "\n";
    } else {
        PrintTable(rows);
        std::cout << list.Length() << (list.Length() == 1 ? " camera\n" : " cameras\n");
    }
    if (count != list.Length()) {
        std::cerr << "qrvacq: GetCameraList returned " << count << " but filled " << list.Length()
                  << " records\n";
        return kExitCallFailed;
    }
    return kExitOk;
}

int RunCards(const PluginApi& api, bool json_) {
    QRVCardInfoArray list;
    const int count = api.GetCardList(&list);
    if (count < 0) {
        ReportFailure("card list", count);
        return kExitCallFailed;
    }
    json cards = json::array();
    for (long i = 0; i < list.Length(); ++i) {
        const QRVCardInfo& card = list.At(i);
        json servers = json::array();
        for (const CLServer& server : card.GetServers()) {
            json devices = json::array();
            for (const QRVString& device : server.GetDevices()) devices.push_back(ToStd(device));
            servers.push_back({{"name", ToStd(server.GetServerName())}, {"devices", devices}});
        }
        const int intf = card.GetInterface();
        cards.push_back({{"sdk", ToStd(card.GetSDKName())},
                         {"driverType", card.GetDriverType()},
                         {"cameraType", static_cast<int>(card.GetCameraType())},
                         {"interface", intf},
                         {"interfaceName", InterfaceName(intf)},
                         {"servers", servers}});
    }
    if (json_) {
        std::cout << DumpJson(cards, 2) << "\n";
    } else {
        for (std::size_t i = 0; i < cards.size(); ++i) {
            const json& card = cards[i];
            std::cout << "card " << i << ": sdk " << Quote(card["sdk"]) << ", driver type "
                      << card["driverType"] << ", interface " << card["interface"] << " "
                      << card["interfaceName"].get<std::string>() << "\n";
            for (const json& server : card["servers"]) {
                std::cout << "  server " << server["name"].get<std::string>() << ":";
                if (server["devices"].empty()) std::cout << " (no devices)";
                for (const json& device : server["devices"]) {
                    std::cout << " " << device.get<std::string>();
                }
                std::cout << "\n";
            }
        }
        std::cout << list.Length() << (list.Length() == 1 ? " card\n" : " cards\n");
    }
    if (count != list.Length()) {
        std::cerr << "qrvacq: GetCardList returned " << count << " but filled " << list.Length()
                  << " records\n";
        return kExitCallFailed;
    }
    return kExitOk;
}

int RunGet(const PluginApi& api, const CameraTarget& target,
           const std::vector<std::string>& features, bool json_) {
    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    int status = kExitOk;
    json readings = json::array();
    for (const std::string& feature : features) {
        json reading = ReadFeature(api, camera.Handle(), feature);
        if (reading.contains("error")) {
            status = kExitCallFailed;
            const int code = reading["error"]["code"];
            if (code == -1 || code == QRV_ERR_PARAMETER_ACCESS) reading["needsNodeMap"] = "read";
        }
        readings.push_back(std::move(reading));
    }
    if (camera.Close() != QRV_OK) status = kExitCallFailed;
    AddNodeMapReasons(target, readings);
    PrintReadings(readings, json_);
    return status;
}

bool CheckAssignments(const std::vector<std::string>& assignments) {
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::cerr << "qrvacq: expected FEATURE=VALUE, got " << Quote(assignment) << "\n";
            return false;
        }
    }
    return true;
}

int WriteSettings(const PluginApi& api, QRVCameraHandle handle,
                  const std::vector<std::string>& assignments, nlohmann::json& readings) {
    readings = json::array();
    if (!CheckAssignments(assignments)) return kExitUsage;
    // Every value is checked against its feature's type before the first write,
    // so that a typo in the last assignment leaves the camera as it was.
    struct Write {
        std::string name, text;
        int type = 0;
        bool boolValue = false;
        int intValue = 0;
        float floatValue = 0;
        bool nodeMap = false;  ///< written through the node map, not the plug-in
    };
    std::vector<Write> writes;
    bool refused = false;
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        Write write;
        write.name = assignment.substr(0, equals);
        write.text = assignment.substr(equals + 1);
        write.type = api.GetNodeType(handle, QRVString(write.name.c_str()));
        bool parsed = true;
        switch (write.type) {
            case 1:
                parsed = ParseBool(write.text, write.boolValue);
                break;
            case 2:
                parsed = ParseInt(write.text, write.intValue);
                if (!parsed) {
                    // Beyond SetParamInt's 32 bits: the node map takes 64.
                    long long wide = 0;
                    parsed = write.nodeMap = ParseInt64(write.text, wide);
                }
                break;
            case 3:
                parsed = ParseFloat(write.text, write.floatValue);
                break;
            case 5:
                std::cerr << "qrvacq: " << write.name << " is a command; run it with exec\n";
                refused = true;
                continue;
            default:
                break;
        }
        if (!parsed) {
            std::cerr << "qrvacq: " << Quote(write.text) << " is not a valid "
                      << NodeTypeName(write.type) << " value for " << write.name << "\n";
            refused = true;
        }
        writes.push_back(std::move(write));
    }
    if (refused) {
        std::cerr << "qrvacq: nothing written\n";
        return kExitUsage;
    }

    int status = kExitOk;
    for (const Write& write : writes) {
        const std::string& name = write.name;
        const std::string& text = write.text;
        const int type = write.type;
        const QRVString node(name.c_str());
        if (write.nodeMap) {
            readings.push_back({{"name", name}, {"type", NodeTypeName(type)}, {"nodeMap", text}});
            continue;
        }
        int result = QRV_OK;
        switch (type) {
            case 1:
                result = api.SetParamBool(handle, node, write.boolValue);
                break;
            case 2:
                result = api.SetParamInt(handle, node, write.intValue);
                break;
            case 3:
                result = api.SetParamFloat(handle, node, write.floatValue);
                break;
            case 4:
                result = api.SetParamStr(handle, node, QRVString(text.c_str()));
                break;
            default:
                result = type;
                break;
        }
        json reading;
        if (result != QRV_OK) {
            reading = {{"name", name}, {"error", ErrorJson(result)}};
            if (NodeTypeName(type)) reading["type"] = NodeTypeName(type);
            if (type == 4 && result == QRV_ERR_PARAMETER_ACCESS) {
                // SetParamStr writes enumerations; a string feature goes through
                // the node map, if that is what it is.
                reading["nodeMap"] = text;
            } else if (result == -1 || result == QRV_ERR_PARAMETER_ACCESS) {
                reading["needsNodeMap"] = "write";
            } else {
                const std::string reason = WriteReason(api, handle, name, type, text);
                if (!reason.empty()) reading["reason"] = reason;
            }
        } else {
            reading = ReadFeature(api, handle, name);
            int wanted = 0;
            // SetParamInt moves a value onto min + k*inc and down to max.
            if (type == 2 && ParseInt(text, wanted) && reading.contains("value") &&
                reading["value"] != wanted) {
                reading["requested"] = wanted;
                reading["note"] =
                    "asked " + text + ", written " + reading["value"].dump() +
                    (wanted > reading["max"].get<int>() ? " (the maximum)"
                                                        : " (on the grid min + k*inc)");
            }
        }
        if (reading.contains("error") && status == kExitOk) status = kExitCallFailed;
        readings.push_back(std::move(reading));
    }
    for (const json& reading : readings)
        if (reading.contains("nodeMap") && status == kExitOk) status = kExitCallFailed;
    return status;
}

void PrintSettings(const nlohmann::json& readings) {
    for (const json& reading : readings) PrintReading(reading);
}

int RunSet(const PluginApi& api, const CameraTarget& target,
           const std::vector<std::string>& assignments, bool json_) {
    if (!CheckAssignments(assignments)) return kExitUsage;
    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    json readings;
    int status = WriteSettings(api, camera.Handle(), assignments, readings);
    if (status == kExitUsage) return status;
    const bool closeFailed = camera.Close() != QRV_OK;
    WriteThroughNodeMap(target, readings);
    AddNodeMapReasons(target, readings);
    status = closeFailed ? kExitCallFailed : kExitOk;
    for (const json& reading : readings)
        if (reading.contains("error")) status = kExitCallFailed;
    PrintReadings(readings, json_);
    return status;
}

int RunExec(const PluginApi& api, const CameraTarget& target, const std::string& command) {
    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    const int result = api.ExecuteCMD(camera.Handle(), QRVString(command.c_str()));
    int status = kExitOk;
    if (result == QRV_OK) {
        std::cout << command << ": executed\n";
    } else {
        ReportFailure(command, result);
        status = kExitCallFailed;
    }
    if (camera.Close() != QRV_OK) status = kExitCallFailed;
    if (result != QRV_OK) {
        const std::string reason = ExplainFailure(target, command, GenApi::intfICommand, true, 0);
        if (!reason.empty()) std::cerr << "  reason: " << reason << "\n";
    }
    return status;
}

namespace {

void HexDump(const unsigned char* data, int count, unsigned long long base) {
    for (int offset = 0; offset < count; offset += 16) {
        const int n = std::min(16, count - offset);
        char prefix[32];
        std::snprintf(prefix, sizeof(prefix), "%04llx:", base + static_cast<unsigned>(offset));
        std::string hex, ascii;
        for (int i = 0; i < n; ++i) {
            const unsigned char byte = data[offset + i];
            hex += " " + ToHex(&byte, 1);
            ascii += (byte >= 0x20 && byte < 0x7f) ? static_cast<char>(byte) : '.';
        }
        hex.resize(16 * 3, ' ');
        std::cout << prefix << hex << "  |" << ascii << "|\n";
    }
}

}  // namespace

int RunRegAddress(const CameraTarget& target, const std::string& addressText, int readCount,
                  const std::string& writeHex) {
    unsigned long long address = 0;
    {
        errno = 0;
        char* end = nullptr;
        address = std::strtoull(addressText.c_str(), &end, 0);
        if (addressText.empty() || addressText[0] == '-' || *end != '\0' || errno != 0) {
            std::cerr << "qrvacq: --address " << Quote(addressText)
                      << " is not an address (decimal, or hex with 0x)\n";
            return kExitUsage;
        }
    }
    std::vector<unsigned char> data;
    const bool write = !writeHex.empty();
    if (write && !ParseHex(writeHex, data)) {
        std::cerr << "qrvacq: " << Quote(writeHex) << " is not an even number of hex digits\n";
        return kExitUsage;
    }
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: open " << target.serial << ": " << error << "\n";
        return kExitCallFailed;
    }
    GenApi::INodeMap* map = camera.DeviceMap();
    GenApi::IPort* port = nullptr;
    if (map) {
        GenApi::NodeList_t nodes;
        map->GetNodes(nodes);
        for (GenApi::INode* node : nodes) {
            auto* candidate = dynamic_cast<GenApi::IPort*>(node);
            if (!candidate) continue;
            if (!port || std::string(node->GetName().c_str()) == "Device") port = candidate;
        }
    }
    if (!port) {
        std::cerr << "qrvacq: " << target.serial << ": the camera's node map has no port\n";
        return kExitCallFailed;
    }
    char where[32];
    std::snprintf(where, sizeof(where), "0x%llx", address);
    try {
        if (write) {
            port->Write(data.data(), static_cast<int64_t>(address),
                        static_cast<int64_t>(data.size()));
            std::cout << where << ": wrote " << Counted(static_cast<long long>(data.size()), "byte")
                      << "\n";
        } else {
            data.assign(static_cast<std::size_t>(readCount) + 1, 0);
            port->Read(data.data(), static_cast<int64_t>(address), readCount);
            HexDump(data.data(), readCount, address);
        }
    } catch (const std::exception& ex) {
        std::string message = ex.what();
        const std::size_t origin = message.rfind(" : ");
        if (origin != std::string::npos &&
            message.find("Exception thrown", origin) != std::string::npos)
            message.erase(origin);
        std::cerr << "qrvacq: " << where << ": the camera refused the "
                  << (write ? "write" : "read") << ": " << message << "\n";
        return kExitCallFailed;
    }
    return kExitOk;
}

int RunReg(const PluginApi& api, const CameraTarget& target, const std::string& name, int readCount,
           const std::string& writeHex) {
    std::vector<unsigned char> data;
    const bool write = !writeHex.empty();
    if (write && !ParseHex(writeHex, data)) {
        std::cerr << "qrvacq: " << Quote(writeHex) << " is not an even number of hex digits\n";
        return kExitUsage;
    }
    if (write == (readCount >= 0)) {
        std::cerr << "qrvacq: reg needs exactly one of --read N and --write HEX\n";
        return kExitUsage;
    }
    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    const QRVString node(name.c_str());
    int status = kExitOk;
    bool failed = false;
    if (write) {
        const int result =
            api.SetRegisterData(camera.Handle(), node, data.data(), static_cast<int>(data.size()));
        if (result == QRV_OK) {
            std::cout << name << ": wrote " << Counted(static_cast<long long>(data.size()), "byte")
                      << "\n";
        } else {
            ReportFailure(name, result);
            status = kExitCallFailed;
            failed = true;
        }
    } else {
        // One spare byte keeps the pointer valid for a zero count.
        data.assign(static_cast<std::size_t>(readCount) + 1, 0);
        const int result = api.GetRegisterData(camera.Handle(), node, data.data(), readCount);
        if (result == QRV_OK) {
            HexDump(data.data(), readCount, 0);
        } else {
            ReportFailure(name, result);
            status = kExitCallFailed;
            failed = true;
        }
    }
    if (camera.Close() != QRV_OK) status = kExitCallFailed;
    if (failed) {
        const std::string reason =
            ExplainFailure(target, name, GenApi::intfIRegister, write,
                           write ? static_cast<long long>(data.size()) : readCount);
        if (!reason.empty()) std::cerr << "  reason: " << reason << "\n";
    }
    return status;
}

}  // namespace qrvacq
