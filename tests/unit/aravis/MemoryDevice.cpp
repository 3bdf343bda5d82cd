#include "MemoryDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct SMemoryState {
    std::vector<uint8_t> memory;
    std::string xml;
    ArvGc* gc = nullptr;
    std::atomic<int> delayMs{0};
};

}  // namespace

extern "C" {

struct KzrMemoryDevice {
    ArvDevice parent;
    SMemoryState* state;
};

struct KzrMemoryDeviceClass {
    ArvDeviceClass parent_class;
};

G_DEFINE_TYPE(KzrMemoryDevice, kzr_memory_device, ARV_TYPE_DEVICE)

}  // extern "C"

namespace {

SMemoryState* State(ArvDevice* device) {
    return reinterpret_cast<KzrMemoryDevice*>(device)->state;
}

bool Check(SMemoryState* s, guint64 address, guint32 size, GError** error) {
    const int delay = s->delayMs.load();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (delay < 0) {
        g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_TIMEOUT, "device gone");
        return false;
    }
    if (address + size > s->memory.size()) {
        g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_ADDRESS,
                    "address 0x%llx outside memory", static_cast<unsigned long long>(address));
        return false;
    }
    return true;
}

gboolean ReadMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                    GError** error) {
    SMemoryState* s = State(device);
    if (!Check(s, address, size, error)) return FALSE;
    std::memcpy(buffer, s->memory.data() + address, size);
    return TRUE;
}

gboolean WriteMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                     GError** error) {
    SMemoryState* s = State(device);
    if (!Check(s, address, size, error)) return FALSE;
    std::memcpy(s->memory.data() + address, buffer, size);
    return TRUE;
}

// Registers are big-endian, as GigE Vision's.
gboolean ReadRegister(ArvDevice* device, guint64 address, guint32* value, GError** error) {
    if (!ReadMemory(device, address, 4, value, error)) return FALSE;
    *value = GUINT32_FROM_BE(*value);
    return TRUE;
}

gboolean WriteRegister(ArvDevice* device, guint64 address, guint32 value, GError** error) {
    value = GUINT32_TO_BE(value);
    return WriteMemory(device, address, 4, &value, error);
}

const char* GetXml(ArvDevice* device, size_t* size) {
    SMemoryState* s = State(device);
    *size = s->xml.size();
    return s->xml.c_str();
}

ArvGc* GetGenicam(ArvDevice* device) {
    return State(device)->gc;
}

void Finalize(GObject* object) {
    SMemoryState* s = reinterpret_cast<KzrMemoryDevice*>(object)->state;
    if (s->gc) g_object_unref(s->gc);
    delete s;
    G_OBJECT_CLASS(kzr_memory_device_parent_class)->finalize(object);
}

}  // namespace

extern "C" {

static void kzr_memory_device_init(KzrMemoryDevice* self) {
    self->state = new SMemoryState;
}

static void kzr_memory_device_class_init(KzrMemoryDeviceClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    ArvDeviceClass* device = ARV_DEVICE_CLASS(klass);
    device->read_memory = ReadMemory;
    device->write_memory = WriteMemory;
    device->read_register = ReadRegister;
    device->write_register = WriteRegister;
    device->get_genicam_xml = GetXml;
    device->get_genicam = GetGenicam;
}

}  // extern "C"

ArvDevice* KzrMemoryDeviceNew(const std::string& xml, std::size_t size) {
    auto* device = static_cast<ArvDevice*>(g_object_new(kzr_memory_device_get_type(), nullptr));
    SMemoryState* s = State(device);
    s->memory.assign(size, 0);
    s->xml = xml;
    s->gc = arv_gc_new(device, s->xml.data(), s->xml.size());
    return device;
}

void KzrMemoryDeviceLoad(ArvDevice* device, const std::vector<uint8_t>& image) {
    std::vector<uint8_t>& memory = State(device)->memory;
    if (memory.size() < image.size()) memory.resize(image.size());
    std::copy(image.begin(), image.end(), memory.begin());
}

const std::vector<uint8_t>& KzrMemoryDeviceBytes(ArvDevice* device) {
    return State(device)->memory;
}

void KzrMemoryDeviceSetDelay(ArvDevice* device, int milliseconds) {
    State(device)->delayMs = milliseconds;
}

GType KzrMemoryDeviceType() {
    return kzr_memory_device_get_type();
}
