// Call sequences through the 22 entry points on the demo cameras: live, null,
// stale and made-up handles; odd names, values, counts, out-pointers and
// time-outs; a second thread that stops or closes a handle while the first one
// calls on it. After each input every handle is closed and the simulated library
// must have every record, camera and frame back, none of them twice.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FuzzSupport.h"
#include "QRVAcqGenIcam.h"

namespace {

using qrvfuzz::CInput;

constexpr int kSlots = 4;

const char* const kSerials[] = {"SIM-AREA-001",
                                "SIM-LINE-002",
                                "SIM-CHUNK-003",
                                "SIM-M16-004",
                                "SIM-KZRCL-P01",
                                "SIM-CL-005",
                                "",
                                "SIM-NONE"};
const char* const kNames[] = {"Gain",
                              "ExposureTime",
                              "TriggerDelay",
                              "AcquisitionFrameRate",
                              "GainRaw",
                              "ExposureTimeAbs",
                              "Width",
                              "Height",
                              "PixelFormat",
                              "TriggerMode",
                              "TriggerSource",
                              "TriggerSelector",
                              "TriggerSoftware",
                              "TestRegister",
                              "DeviceUserID",
                              "ReverseX",
                              "TLParamsLocked",
                              "Device",
                              "Root",
                              "ChunkModeActive",
                              "FrameTriggerCtrl",
                              "FrameTriggerSource",
                              "DeviceTemperature",
                              ""};

class CSequence {
public:
    CSequence(const uint8_t* data, std::size_t size, const std::string& camPath)
        : m_in(data, size), m_camPath(camPath) {}

    ~CSequence() {
        JoinHelper();
        for (QRVCameraHandle& handle : m_slots) {
            if (handle) Close(handle);
            handle = nullptr;
        }
    }
    CSequence(const CSequence&) = delete;
    CSequence& operator=(const CSequence&) = delete;

    void Run() {
        for (int step = 0; step < 64 && !m_in.Empty(); ++step) Step();
    }

private:
    QRVCameraHandle Handle() {
        const uint8_t pick = m_in.Byte();
        switch (pick % 8) {
            case 0:
                return nullptr;
            case 1:
                return m_stale.empty() ? nullptr : m_stale[pick % m_stale.size()];
            case 2:
                // Never handed out: the registry must refuse it without touching it.
                return reinterpret_cast<QRVCameraHandle>(static_cast<uintptr_t>(0x1000) + pick);
            default:
                return m_slots[pick % kSlots];
        }
    }

    QRVString Name() {
        if (m_in.Byte() % 4 == 0) return QRVString(m_in.Bytes(24).c_str());
        return QRVString(m_in.Pick(kNames));
    }

    int TimeOut() {
        static const int kTimeOuts[] = {0, 1, 5, 20};
        return kTimeOuts[m_in.Byte() % 4];
    }

    template <class T>
    T* Out(T& target) {
        return m_in.Byte() % 3 == 0 ? nullptr : &target;
    }

    void Forget(QRVCameraHandle handle) {
        for (QRVCameraHandle& slot : m_slots) {
            if (slot == handle) slot = nullptr;
        }
        if (handle) m_stale.push_back(handle);
    }

    void JoinHelper() {
        if (m_helper.joinable()) m_helper.join();
    }

    /// A second host thread that stops or closes handle after a short pause.
    void StartHelper(QRVCameraHandle handle, bool close, int pauseUs) {
        JoinHelper();
        m_helper = std::thread([handle, close, pauseUs] {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
            if (close) {
                Close(handle);
            } else {
                StopAcquire(handle);
            }
        });
        // Close from the helper makes the handle stale for this thread too.
        if (close) Forget(handle);
    }

    void Step() {
        switch (m_in.Byte() % 22) {
            case 0: {
                const int slot = m_in.Byte() % kSlots;
                const char* serial = m_in.Pick(kSerials);
                static const char* const kConfig[] = {"", "missing.cam", "x.CAM", nullptr};
                const uint8_t which = m_in.Byte() % 5;
                const std::string config =
                    which == 4 ? m_camPath : (which == 3 ? m_in.Bytes(16) : kConfig[which]);
                if (m_slots[slot]) {
                    Close(m_slots[slot]);
                    Forget(m_slots[slot]);
                }
                if (m_in.Byte() % 8 == 0) {
                    Open(serial, nullptr, "", config.c_str());
                } else {
                    QRVCameraHandle handle = nullptr;
                    if (Open(serial, &handle, "", config.c_str()) == 0) m_slots[slot] = handle;
                }
                break;
            }
            case 1: {
                QRVCameraHandle handle = Handle();
                Close(handle);
                Forget(handle);
                break;
            }
            case 2:
                IsOpen(Handle());
                break;
            case 3:
                StartAcquire(Handle(), m_in.Int(-2, 16), m_in.Raw32());
                break;
            case 4:
                StopAcquire(Handle());
                break;
            case 5: {
                QRVImage image;
                GrabImage(Handle(), Out(image), TimeOut());
                break;
            }
            case 6: {
                QRVImage image;
                ZelChunkData chunks;
                GrabImageEx(Handle(), Out(image), Out(chunks), TimeOut());
                break;
            }
            case 7: {
                // An unlimited wait, ended by a stop from the helper thread if a
                // frame does not come first.
                QRVCameraHandle handle = Handle();
                StartHelper(handle, false, m_in.Int(0, 3000));
                QRVImage image;
                ZelChunkData chunks;
                if (m_in.Byte() % 2) {
                    GrabImage(handle, &image, -1);
                } else {
                    GrabImageEx(handle, &image, &chunks, -1);
                }
                JoinHelper();
                break;
            }
            case 8:
                StartHelper(Handle(), m_in.Byte() % 2 == 0, m_in.Int(0, 2000));
                break;
            case 9:
                GetNodeType(Handle(), Name());
                break;
            case 10: {
                bool value = false;
                GetParamBool(Handle(), Name(), Out(value));
                break;
            }
            case 11: {
                int v = 0, lo = 0, hi = 0, inc = 0;
                GetParamInt(Handle(), Name(), Out(v), Out(lo), Out(hi), Out(inc));
                break;
            }
            case 12: {
                float v = 0, lo = 0, hi = 0, inc = 0;
                GetParamFloat(Handle(), Name(), Out(v), Out(lo), Out(hi), Out(inc));
                break;
            }
            case 13: {
                QRVString value;
                QRVStringArray entries;
                GetParamStr(Handle(), Name(), Out(value), Out(entries));
                break;
            }
            case 14:
                SetParamBool(Handle(), Name(), m_in.Byte() % 2 == 1);
                break;
            case 15:
                SetParamInt(Handle(), Name(), m_in.Raw32());
                break;
            case 16: {
                const int32_t bits = m_in.Raw32();
                float value = 0;
                static_assert(sizeof value == sizeof bits, "float is 32 bits");
                std::memcpy(&value, &bits, sizeof value);  // NaN and infinities included
                SetParamFloat(Handle(), Name(), value);
                break;
            }
            case 17: {
                const QRVString name = Name();
                const QRVString value = m_in.Byte() % 2 ? QRVString(m_in.Bytes(16).c_str())
                                                        : QRVString(m_in.Pick(kNames));
                SetParamStr(Handle(), name, value);
                break;
            }
            case 18:
            case 19: {
                // The count never exceeds the buffer: a host that lies about its
                // buffer's size is outside what the plug-in can check.
                unsigned char buffer[64] = {};
                const int count = m_in.Int(-8, static_cast<int>(sizeof buffer));
                unsigned char* data = m_in.Byte() % 4 == 0 ? nullptr : buffer;
                if (m_in.Byte() % 2) {
                    GetRegisterData(Handle(), Name(), data, count);
                } else {
                    SetRegisterData(Handle(), Name(), data, count);
                }
                break;
            }
            case 20:
                ExecuteCMD(Handle(), Name());
                break;
            default: {
                if (m_in.Byte() % 2) {
                    QRVCameraInfoArray cameras;
                    GetCameraList(m_in.Byte() % 4 == 0 ? nullptr : &cameras);
                } else {
                    QRVCardInfoArray cards;
                    GetCardList(m_in.Byte() % 4 == 0 ? nullptr : &cards);
                }
                SetCallBackFunc(Handle(), m_in.Raw32(), nullptr);
                break;
            }
        }
    }

    CInput m_in;
    const std::string& m_camPath;
    QRVCameraHandle m_slots[kSlots] = {};
    std::vector<QRVCameraHandle> m_stale;
    std::thread m_helper;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string camPath = std::string(QRV_SOURCE_DIR) + "/examples/sim-cl-camera.cam";
    // Fresh node maps per input, so that an input's outcome does not depend on
    // what earlier inputs wrote.
    KZRSIM::SetScenario(qrvfuzz::FastDemoScenario());
    {
        CSequence sequence(data, size, camPath);
        sequence.Run();
    }
    qrvfuzz::CheckNothingOut("entry points");
    return 0;
}
