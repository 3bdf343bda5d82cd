// Host data library: the camera and card description records that the plug-in
// fills for the host, and their arrays. Plain value records: every setter has a
// getter of the same name with Get.
#pragma once

#include <utility>
#include <vector>

#include "QRVData.h"
#include "QRVHostExport.h"

/// Kind of camera; the plug-in always writes QRV_CAMERA_AREA (0).
enum QRVCameraType { QRV_CAMERA_AREA = 0, QRV_CAMERA_LINE = 1 };

/// How a camera is attached. Values are fixed by the host.
enum QRVInterface {
    QRV_INTERFACE_GIGE = 0,
    QRV_INTERFACE_USB3 = 1,
    QRV_INTERFACE_UNKNOWN = 2,
    QRV_INTERFACE_CAMERALINK = 3,
    QRV_INTERFACE_GENTL = 4
};

/// One camera that the host can open.
class QRV_DATA_API QRVCameraInfo {
public:
    void SetID(QRVString id) { m_id = std::move(id); }
    void SetModelName(QRVString name) { m_model = std::move(name); }
    void SetManufacturerInfo(QRVString info) { m_manufacturer = std::move(info); }
    void SetSerialNumber(QRVString serial) { m_serial = std::move(serial); }
    void SetSDKName(QRVString name) { m_sdk = std::move(name); }
    void SetDriverType(int type) { m_driverType = type; }
    void SetCameraType(QRVCameraType type) { m_cameraType = type; }
    void SetInterface(QRVInterface intf) { m_interface = intf; }
    void SetFilter(bool filter) { m_filter = filter; }

    const QRVString& GetID() const { return m_id; }
    const QRVString& GetModelName() const { return m_model; }
    const QRVString& GetManufacturerInfo() const { return m_manufacturer; }
    const QRVString& GetSerialNumber() const { return m_serial; }
    const QRVString& GetSDKName() const { return m_sdk; }
    int GetDriverType() const { return m_driverType; }
    QRVCameraType GetCameraType() const { return m_cameraType; }
    QRVInterface GetInterface() const { return m_interface; }
    bool GetFilter() const { return m_filter; }

private:
    QRVString m_id;
    QRVString m_model;
    QRVString m_manufacturer;
    QRVString m_serial;
    QRVString m_sdk;
    int m_driverType = 0;
    QRVCameraType m_cameraType = QRV_CAMERA_AREA;
    QRVInterface m_interface = QRV_INTERFACE_UNKNOWN;
    bool m_filter = false;
};

/// The host's list of cameras. Append copies the record.
class QRV_DATA_API QRVCameraInfoArray {
public:
    void Clear() { m_items.clear(); }
    void Append(QRVCameraInfo& info) { m_items.push_back(info); }
    long Length() const { return static_cast<long>(m_items.size()); }
    /// The record at index; throws std::out_of_range outside 0..Length()-1.
    const QRVCameraInfo& At(long index) const {
        return m_items.at(static_cast<std::size_t>(index));
    }

private:
    std::vector<QRVCameraInfo> m_items;
};

/// A Camera Link serial server: a name with the devices behind it.
class QRV_DATA_API CLServer {
public:
    void SetServerName(QRVString name) { m_name = std::move(name); }
    void PushDevice(QRVString device) { m_devices.push_back(std::move(device)); }
    const QRVString& GetServerName() const { return m_name; }
    const std::vector<QRVString>& GetDevices() const { return m_devices; }

private:
    QRVString m_name;
    std::vector<QRVString> m_devices;
};

/// One frame-grabber card with its serial servers.
class QRV_DATA_API QRVCardInfo {
public:
    void SetSDKName(QRVString name) { m_sdk = std::move(name); }
    void SetDriverType(int type) { m_driverType = type; }
    void SetCameraType(QRVCameraType type) { m_cameraType = type; }
    void SetInterface(QRVInterface intf) { m_interface = intf; }
    /// Appends a copy of the server.
    void Push(CLServer server) { m_servers.push_back(std::move(server)); }

    const QRVString& GetSDKName() const { return m_sdk; }
    int GetDriverType() const { return m_driverType; }
    QRVCameraType GetCameraType() const { return m_cameraType; }
    QRVInterface GetInterface() const { return m_interface; }
    const std::vector<CLServer>& GetServers() const { return m_servers; }

private:
    QRVString m_sdk;
    int m_driverType = 0;
    QRVCameraType m_cameraType = QRV_CAMERA_AREA;
    QRVInterface m_interface = QRV_INTERFACE_UNKNOWN;
    std::vector<CLServer> m_servers;
};

/// The host's list of cards. Append copies the record.
class QRV_DATA_API QRVCardInfoArray {
public:
    void Clear() { m_items.clear(); }
    void Append(QRVCardInfo& info) { m_items.push_back(info); }
    long Length() const { return static_cast<long>(m_items.size()); }
    /// The record at index; throws std::out_of_range outside 0..Length()-1.
    const QRVCardInfo& At(long index) const { return m_items.at(static_cast<std::size_t>(index)); }

private:
    std::vector<QRVCardInfo> m_items;
};
