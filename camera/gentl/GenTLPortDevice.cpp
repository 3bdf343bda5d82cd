#include "GenTLPortDevice.h"

#include <cctype>

#include "GenTLDescriptionUrl.h"

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

struct SPortTarget {
    std::shared_ptr<CGenTLDeviceHandle> device;
    PORT_HANDLE port;
    std::string xml;
};

struct SPortDevice {
    ArvDevice parent;
    SPortTarget* target;
    ArvGc* gc;
};

struct SPortDeviceClass {
    ArvDeviceClass parent;
};

GObjectClass* g_parentClass = nullptr;

void SetError(GError** error, GC_ERROR rc, const char* what) {
    const int code =
        rc == GC_ERR_TIMEOUT ? ARV_DEVICE_ERROR_TIMEOUT : ARV_DEVICE_ERROR_PROTOCOL_ERROR;
    g_set_error(error, ARV_DEVICE_ERROR, code, "%s failed (GenTL error %d)", what,
                static_cast<int>(rc));
}

SPortDevice* Self(ArvDevice* device) {
    return reinterpret_cast<SPortDevice*>(device);
}

gboolean ReadMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                    GError** error) {
    SPortTarget* t = Self(device)->target;
    size_t done = size;
    const GC_ERROR rc = t->device->Api().GCReadPort(t->port, address, buffer, &done);
    if (rc != GC_ERR_SUCCESS || done != size) {
        SetError(error, rc == GC_ERR_SUCCESS ? GC_ERR_IO : rc, "GCReadPort");
        return FALSE;
    }
    return TRUE;
}

gboolean WriteMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                     GError** error) {
    SPortTarget* t = Self(device)->target;
    size_t done = size;
    const GC_ERROR rc = t->device->Api().GCWritePort(t->port, address, buffer, &done);
    if (rc != GC_ERR_SUCCESS || done != size) {
        SetError(error, rc == GC_ERR_SUCCESS ? GC_ERR_IO : rc, "GCWritePort");
        return FALSE;
    }
    return TRUE;
}

// 32-bit registers of a GenTL port in the port's byte order, which the
// description states per register; Aravis reaches them as memory.
gboolean ReadRegister(ArvDevice* device, guint64 address, guint32* value, GError** error) {
    return ReadMemory(device, address, 4, value, error);
}

gboolean WriteRegister(ArvDevice* device, guint64 address, guint32 value, GError** error) {
    return WriteMemory(device, address, 4, &value, error);
}

ArvGc* GetGenicam(ArvDevice* device) {
    return Self(device)->gc;
}

const char* GetGenicamXml(ArvDevice* device, size_t* size) {
    SPortTarget* t = Self(device)->target;
    if (size) *size = t->xml.size();
    return t->xml.c_str();
}

ArvStream* CreateStream(ArvDevice*, ArvStreamCallback, void*, GDestroyNotify, GError** error) {
    g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_NOT_CONTROLLER,
                "a GenTL device streams through its producer");
    return nullptr;
}

void Finalize(GObject* object) {
    auto* self = reinterpret_cast<SPortDevice*>(object);
    if (self->gc) g_object_unref(self->gc);
    self->gc = nullptr;
    delete self->target;
    self->target = nullptr;
    g_parentClass->finalize(object);
}

void ClassInit(gpointer klass, gpointer) {
    g_parentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    auto* device = static_cast<ArvDeviceClass*>(klass);
    device->create_stream = CreateStream;
    device->get_genicam_xml = GetGenicamXml;
    device->get_genicam = GetGenicam;
    device->read_memory = ReadMemory;
    device->write_memory = WriteMemory;
    device->read_register = ReadRegister;
    device->write_register = WriteRegister;
}

GType PortDeviceType() {
    static const GType type = g_type_register_static_simple(
        ARV_TYPE_DEVICE, "KzrGenTLPortDevice", sizeof(SPortDeviceClass), ClassInit,
        sizeof(SPortDevice), nullptr, GTypeFlags(0));
    return type;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::char_traits<char>::length(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const size_t n = std::char_traits<char>::length(suffix);
    return text.size() >= n && StartsWithNoCase(text.substr(text.size() - n), suffix);
}

/// The first file of a zip archive, through Aravis's zip reader.
std::string Unzip(const std::string& data, std::string& why) {
    ArvZip* zip = arv_zip_new(data.data(), data.size());
    if (!zip) {
        why = "the zipped description is not a zip archive";
        return std::string();
    }
    std::string out;
    const GSList* files = arv_zip_get_file_list(zip);
    if (files && files->data) {
        const char* name = arv_zip_file_get_name(static_cast<ArvZipFile*>(files->data));
        size_t size = 0;
        void* content = name ? arv_zip_get_file(zip, name, &size) : nullptr;
        if (content) out.assign(static_cast<const char*>(content), size);
        g_free(content);
    }
    arv_zip_free(zip);
    if (out.empty()) why = "the zipped description holds no readable file";
    return out;
}

}  // namespace

std::string ReadPortDescription(const CGenTLDeviceHandle& device, PORT_HANDLE port,
                                std::string& why) {
    const std::string url = PortDescriptionUrl(device.Api(), port);
    if (url.empty()) {
        why = "the port names no description";
        return std::string();
    }
    SDescriptionUrl where;
    if (!ParseDescriptionUrl(url, where, why)) return std::string();
    const std::string data = FetchDescription(device.Api(), port, where, why);
    if (data.empty() || !EndsWithNoCase(where.name, ".zip")) return data;
    return Unzip(data, why);
}

GObjectPtr<ArvDevice> MakeGenTLPortDevice(std::shared_ptr<CGenTLDeviceHandle> device,
                                          PORT_HANDLE port, const std::string& xml,
                                          std::string& why) {
    GObjectPtr<ArvDevice> out(static_cast<ArvDevice*>(g_object_new(PortDeviceType(), nullptr)));
    auto* self = reinterpret_cast<SPortDevice*>(out.get());
    self->target = new SPortTarget{std::move(device), port, xml};
    self->gc = arv_gc_new(out.get(), self->target->xml.data(), self->target->xml.size());
    if (!self->gc || !arv_gc_get_node(self->gc, "Root")) {
        why = "the description is not a GenICam description";
        return nullptr;
    }
    // Aravis checks neither by default; GenApi callers expect both.
    arv_gc_set_range_check_policy(self->gc, ARV_RANGE_CHECK_POLICY_ENABLE);
    arv_gc_set_access_check_policy(self->gc, ARV_ACCESS_CHECK_POLICY_ENABLE);
    return out;
}

}  // namespace KZRGENICAM::detail
