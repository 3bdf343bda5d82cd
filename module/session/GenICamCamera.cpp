#include "GenICamCamera.h"

#include "log/ErrorLog.h"

CGenICamCamera::CGenICamCamera() = default;

CGenICamCamera::~CGenICamCamera() {
    // A destructor must not throw; whatever the camera library raises here is
    // dropped, and each step still runs.
    if (m_camera) {
        try {
            if (m_camera->isOpen()) Close();
        } catch (...) {
        }
        // The session owns the camera object: give it back once, after closing.
        KZRGENICAM::ICamera* camera = m_camera;
        m_camera = nullptr;
        try {
            camera->release();
        } catch (...) {
        }
    }
    try {
        ReleaseCameraInfos();
    } catch (...) {
    }
}

bool CGenICamCamera::CameraReady() {
    return m_camera && m_camera->isOpen();
}

bool CGenICamCamera::IsOpen() {
    if (!m_camera) return false;
    if (m_cameraLink) return true;
    return m_camera->isConnected();
}

void CGenICamCamera::StopStream() {
    m_abortWait.store(true);
    if (m_grabbing.load()) {
        // Cleared after the call: a stop that throws leaves a stream that may
        // still run, and the session keeps knowing it.
        m_camera->stopGrabbing();
        m_grabbing.store(false);
    }
}

int CGenICamCamera::Close() {
    if (!CameraReady()) return 101007;
    if (m_grabbing.load()) StopStream();
    m_camera->close();
    return 0;
}

void CGenICamCamera::ReleaseCameraInfos() {
    // Drop each record from the list as it is released, so that a failure half-way
    // can never lead to a second release.
    while (!m_cameraInfos.empty()) {
        KZRGENICAM::ICameraInfo* info = m_cameraInfos.front();
        m_cameraInfos.pop_front();
        if (info) info->release();
    }
}

int CGenICamCamera::Open(QRVString serialNumber, QRVString configPath) {
    if (IsOpen()) return 0;

    if (m_camera) {
        // A camera from an earlier open that is no longer connected: give it back
        // before asking for a new one.
        if (m_camera->isOpen()) Close();
        m_camera->release();
        m_camera = nullptr;
        m_cameraLink = false;
    }

    m_camera = KZRGENICAM::CreateCameraBySN(serialNumber.toUtf8().constData());
    if (!m_camera) {
        ModuleLog() << LogBegin << "Open camera failed, error = " << 101005 << LogEnd;
        return 101005;
    }

    const int openResult = m_camera->open(1);
    if (openResult != 0) {
        m_camera->release();
        m_camera = nullptr;
        ModuleLog() << LogBegin << "Open camera failed, error = " << openResult << LogEnd;
        return 101016;
    }

    KZRGENICAM::ICameraInfo* info = m_camera->getInfo();
    if (!info || info->getInterfaceType() != KZRGENICAM::TransportCameraLink) return 0;

    if (!LoadCameraConfigFile(configPath)) {
        ModuleLog() << LogBegin << "Open camera failed, error = " << 100009 << LogEnd;
        return 100009;
    }

    const std::vector<std::string> protocols = KZRGENICAM::GetCLProtocols();
    const std::vector<std::string> ports = KZRGENICAM::GetCLSerials();
    std::string protocol;
    std::string port;

    for (const std::string& name : protocols) {
        if (name.find("ZOZIR") != std::string::npos) protocol = name;
    }

    QRVString portKey;
    if (serialNumber.contains(QRVString("KZRCL"), QRVString::CaseSensitive)) {
        portKey = serialNumber.mid(serialNumber.length() - 3);
    } else {
        portKey = QRVString(info->getLinkName()).mid(30, 3);
    }
    const std::string key = portKey.toUtf8().str();
    for (const std::string& name : ports) {
        if (name.find("ZOZIR") != std::string::npos && name.find(key) != std::string::npos) {
            port = name;
        }
    }

    if (!protocol.empty() && !port.empty()) m_camera->setSerialPort(protocol.c_str(), port.c_str());
    m_cameraLink = true;
    return 0;
}
