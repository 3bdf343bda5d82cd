#include "GenTLPortDevice.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <limits>

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

constexpr uint64_t kMaxDescription = 64ull << 20;
constexpr size_t kReadChunk = 64 * 1024;

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

bool ParseHex(const std::string& text, uint64_t& out) {
    if (text.empty() || text.size() > 16) return false;
    out = 0;
    for (char c : text) {
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : (std::tolower(static_cast<unsigned char>(c)) >= 'a' &&
                         std::tolower(static_cast<unsigned char>(c)) <= 'f')
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
        if (v < 0) return false;
        out = out * 16 + static_cast<uint64_t>(v);
    }
    return true;
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
    const SGenTLApi& api = device.Api();
    // The URL list of GenTL 1.1 and later first; GCGetPortURL, which it replaces,
    // for older producers.
    std::string url;
    uint32_t urls = 0;
    if (api.GCGetNumPortURLs && api.GCGetPortURLInfo &&
        api.GCGetNumPortURLs(port, &urls) == GC_ERR_SUCCESS && urls > 0)
        url = GenTLText([&](char* text, size_t* size) {
            INFO_DATATYPE type;
            return api.GCGetPortURLInfo(port, 0, URL_INFO_URL, &type, text, size);
        });
    if (url.empty())
        url =
            GenTLText([&](char* text, size_t* size) { return api.GCGetPortURL(port, text, size); });
    if (url.empty()) {
        why = "the port names no description";
        return std::string();
    }
    std::string data;
    std::string fileName;
    if (StartsWithNoCase(url, "Local:")) {
        // Local:name;address;length (hexadecimal), the name maybe with "?SchemaVersion=...".
        const std::string rest = url.substr(6);
        const size_t a = rest.find(';');
        const size_t b = a == std::string::npos ? a : rest.find(';', a + 1);
        uint64_t address = 0, length = 0;
        if (b == std::string::npos || !ParseHex(rest.substr(a + 1, b - a - 1), address) ||
            !ParseHex(rest.substr(b + 1), length) || length == 0 || length > kMaxDescription) {
            why = "malformed description URL \"" + url + "\"";
            return std::string();
        }
        fileName = rest.substr(0, std::min(a, rest.find('?')));
        data.resize(length);
        for (uint64_t done = 0; done < length;) {
            size_t step = static_cast<size_t>(std::min<uint64_t>(kReadChunk, length - done));
            const size_t asked = step;
            const GC_ERROR rc = api.GCReadPort(port, address + done, &data[done], &step);
            if (rc != GC_ERR_SUCCESS || step != asked) {
                why = "reading the description failed (" + std::to_string(rc) + ")";
                return std::string();
            }
            done += step;
        }
    } else if (StartsWithNoCase(url, "File:")) {
        std::string path = url.substr(5);
        if (path.rfind("///", 0) == 0) path = path.substr(2);
        fileName = path.substr(0, path.find('?'));
        std::ifstream file(fileName, std::ios::binary);
        if (!file) {
            why = "description file \"" + fileName + "\" not readable";
            return std::string();
        }
        data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (data.size() > kMaxDescription) {
            why = "description file too large";
            return std::string();
        }
    } else if (StartsWithNoCase(url, "Web:")) {
        why = "description URL \"" + url + "\" is on the web: descriptions are not downloaded";
        return std::string();
    } else {
        why = "unknown description URL \"" + url + "\"";
        return std::string();
    }
    if (EndsWithNoCase(fileName, ".zip")) return Unzip(data, why);
    return data;
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
