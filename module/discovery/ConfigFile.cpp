// Camera configuration files (.cam): name=value; entries written into the frame
// grabber's node map when a Camera Link camera opens.
#include <cstdint>
#include <fstream>
#include <string>

#include "discovery/CamFileFormat.h"
#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

namespace {

using qrv::camfile::ParseBool;
using qrv::camfile::ParseFloat;
using qrv::camfile::ParseInt32;

bool HasCamExtension(const QRVString& path) {
    const int n = path.length();
    if (n < 4) return false;
    return path.at(n - 1).toLatin1() == 'm' && path.at(n - 2).toLatin1() == 'a' &&
           path.at(n - 3).toLatin1() == 'c' && path.at(n - 4).toLatin1() == '.';
}

}  // namespace

bool CGenICamCamera::LoadCameraConfigFile(QRVString path) {
    if (path.isEmpty() || !HasCamExtension(path)) return false;

    const std::string localPath = qrv::platform::Utf8ToLocalCodePage(path.toUtf8().constData());
    std::ifstream file(localPath);
    if (!file.is_open()) return false;

    std::string line;
    bool firstLine = true;
    while (std::getline(file, line)) {
        try {
            std::string name, value;
            const bool entry = qrv::camfile::SplitLine(line, firstLine, name, value);
            firstLine = false;
            if (entry) ApplyConfigEntry(name.c_str(), value.c_str());
        } catch (...) {
            // One bad entry never stops the file.
        }
    }
    // Only a file read to its end counts: a read error (a folder named *.cam, an
    // I/O error part-way) also ends the loop, and is a failed read.
    return file.eof() && !file.bad();
}

int CGenICamCamera::ApplyConfigEntry(const char* name, const char* value) {
    if (!m_camera || !name || !value) return -1;
    GenApi::INodeMap* map = qrv::NodeMapOf(m_camera->getGrabberModule());
    if (!map) return -1;
    GenApi::INode* node = map->GetNode(name);
    if (!node) return 0;

    try {
        const GenApi::EInterfaceType type = node->GetPrincipalInterfaceType();
        if (!GenApi::IsWritable(static_cast<GenApi::IBase*>(node))) return 0;
        const std::string text(value);
        switch (type) {
            case GenApi::intfIInteger: {
                int64_t number = 0;
                if (!ParseInt32(text, number)) break;
                GenApi::CIntegerPtr integer = node;
                integer->SetValue(number, true);
                integer->GetValue(true, true);
                break;
            }
            case GenApi::intfIBoolean: {
                GenApi::CBooleanPtr boolean = node;
                boolean->SetValue(ParseBool(text), true);
                boolean->GetValue(true, true);
                break;
            }
            case GenApi::intfIFloat: {
                float number = 0.0f;
                if (!ParseFloat(text, number)) break;
                GenApi::CFloatPtr real = node;
                real->SetValue(static_cast<double>(number), true);
                real->GetValue(true, true);
                break;
            }
            case GenApi::intfIEnumeration: {
                GenApi::CEnumerationPtr enumeration = node;
                enumeration->FromString(GenICam::gcstring(text), true);
                enumeration->GetIntValue(true, true);
                break;
            }
            default:
                break;
        }
    } catch (...) {
        // A refused value leaves the node as it was; the next entry goes on.
    }
    return 0;
}
