#include "Directory.h"

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "KZRGeniCam.h"

namespace qrvacq {

namespace {

CameraDirectory* g_directory = nullptr;

// Four decimal numbers 0-255 joined by dots.
bool IsIPv4(const std::string& word) {
    int parts = 0, digits = 0, value = 0;
    for (const char c : word + ".") {
        if (c == '.') {
            if (digits == 0 || value > 255 || ++parts > 4) return false;
            digits = value = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c)) && digits < 3) {
            value = value * 10 + (c - '0');
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 4;
}

bool IsMac(const std::string& word) {
    if (word.size() != 17) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (i % 3 == 2 ? (c != ':' && c != '-') : !std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

#if !defined(_WIN32)
// GVCP (GigE Vision control protocol), UDP port 3956, big-endian.
constexpr std::uint16_t kGvcpPort = 3956;
constexpr std::uint16_t kReadRegCmd = 0x0080;
constexpr std::uint16_t kReadRegAck = 0x0081;
constexpr std::uint32_t kCcpAddress = 0x0A00;
constexpr std::uint16_t kStatusAccessDenied = 0x8006;

void Put16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}
std::uint16_t Get16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}
#endif

}  // namespace

CameraDirectory::CameraDirectory(std::set<std::string> simulated)
    : m_simulated(std::move(simulated)) {
    KZRGENICAM::Init();
}

CameraDirectory::~CameraDirectory() {
    KZRGENICAM::UnInit();
}

const std::vector<CameraRecord>& CameraDirectory::Records() {
    if (m_discovered) return m_records;
    m_discovered = true;
    for (KZRGENICAM::ICameraInfo* info : KZRGENICAM::Discovery(nullptr)) {
        if (!info) continue;
        CameraRecord record;
        const char* serial = info->getSerialNumber();
        const char* link = info->getLinkName();
        record.serial = serial ? serial : "";
        record.link = link ? link : "";
        record.transport = info->getInterfaceType();
        record.simulated = m_simulated.count(record.serial) > 0;
        if (record.transport == KZRGENICAM::TransportGigE)
            SplitLink(record.link, record.ip, record.mac);
        info->release();
        m_records.push_back(std::move(record));
    }
    return m_records;
}

const CameraRecord* CameraDirectory::Find(const std::string& serial) {
    for (const CameraRecord& record : Records())
        if (record.serial == serial) return &record;
    return nullptr;
}

std::string TransportName(int transport) {
    switch (transport) {
        case KZRGENICAM::TransportGigE:
            return "GigE Vision";
        case KZRGENICAM::TransportUSB3:
            return "USB3 Vision";
        case KZRGENICAM::TransportCameraLink:
            return "Camera Link";
        case KZRGENICAM::TransportGenTL:
            return "GenTL";
        default:
            return "transport " + std::to_string(transport);
    }
}

void SplitLink(const std::string& link, std::string& ip, std::string& mac) {
    std::istringstream words(link);
    std::string word;
    while (words >> word) {
        if (ip.empty() && IsIPv4(word)) {
            ip = word;
        } else if (mac.empty() && IsMac(word)) {
            mac = word;
        }
    }
}

std::optional<std::uint32_t> ReadControlPrivilege(const std::string& ip, int timeoutMs) {
#if defined(_WIN32)
    // The GigE Vision cameras asked are the Aravis transport's, which Windows
    // builds do not have.
    (void)ip;
    (void)timeoutMs;
    return std::nullopt;
#else
    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    camera.sin_port = htons(kGvcpPort);
    if (inet_pton(AF_INET, ip.c_str(), &camera.sin_addr) != 1) return std::nullopt;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    const std::uint16_t requestId =
        static_cast<std::uint16_t>(0x4000 | (getpid() & 0x3fff));  // never 0
    unsigned char request[12] = {0x42, 0x01};                      // key, flags: acknowledge
    Put16(request + 2, kReadRegCmd);
    Put16(request + 4, 4);
    Put16(request + 6, requestId);
    Put16(request + 8, static_cast<std::uint16_t>(kCcpAddress >> 16));
    Put16(request + 10, static_cast<std::uint16_t>(kCcpAddress));
    std::optional<std::uint32_t> privilege;
    if (sendto(fd, request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&camera),
               sizeof(camera)) == static_cast<ssize_t>(sizeof(request))) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd wait{fd, POLLIN, 0};
            if (poll(&wait, 1, static_cast<int>(left)) <= 0) break;
            unsigned char ack[64];
            const ssize_t got = recv(fd, ack, sizeof(ack), 0);
            if (got < 8 || Get16(ack + 2) != kReadRegAck || Get16(ack + 6) != requestId) continue;
            if (Get16(ack) == kStatusAccessDenied) {
                privilege = UINT32_MAX;
            } else if (Get16(ack) == 0 && got >= 12) {
                privilege = static_cast<std::uint32_t>(ack[8]) << 24 |
                            static_cast<std::uint32_t>(ack[9]) << 16 |
                            static_cast<std::uint32_t>(ack[10]) << 8 | ack[11];
            }
            break;
        }
    }
    close(fd);
    return privilege;
#endif
}

std::string ControlledElsewhere(CameraDirectory& directory, const std::string& serial) {
    const CameraRecord* record = directory.Find(serial);
    // A simulated camera's address is only data: nothing is sent there. The
    // GigE Vision cameras asked are Aravis's, so with Aravis off none is.
    const char* aravis = std::getenv("KZR_ARAVIS");
    if (aravis && std::strcmp(aravis, "off") == 0) return {};
    if (!record || record->simulated || record->ip.empty()) return {};
    const std::optional<std::uint32_t> privilege = ReadControlPrivilege(record->ip, 200);
    if (!privilege || *privilege == 0) return {};
    char detail[96];
    if (*privilege == UINT32_MAX) {
        std::snprintf(detail, sizeof(detail), "the camera at %s refuses even to be asked",
                      record->ip.c_str());
    } else {
        std::snprintf(detail, sizeof(detail), "the camera at %s reports control privilege 0x%x",
                      record->ip.c_str(), static_cast<unsigned>(*privilege));
    }
    return std::string("controlled by another application (") + detail + "); close it there first";
}

CameraDirectory* RunDirectory() {
    return g_directory;
}

void SetRunDirectory(CameraDirectory* directory) {
    g_directory = directory;
}

}  // namespace qrvacq
