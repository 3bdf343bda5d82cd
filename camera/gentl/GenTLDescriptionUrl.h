// Where a GenTL port's GenICam description lives, and fetching it from there.
//
//   Local:[///]name.ext;address;length[?SchemaVersion=x.y.z]   in the port's memory
//   File:[///]path/name.ext[?SchemaVersion=x.y.z]              on this machine
//   Web:...                                                    refused
//
// Address and length are hexadecimal, any case, with or without "0x" (producers
// send both). A File: path is absolute and percent-escapes in it are decoded.
#pragma once

#include <cstdint>
#include <string>

#include "GenTL.h"

namespace KZRGENICAM::detail {

struct SGenTLApi;

/// The largest description read, zipped or plain.
constexpr uint64_t kMaxDescriptionBytes = 64ull << 20;

enum class EDescriptionKind { Local, File };

struct SDescriptionUrl {
    EDescriptionKind kind = EDescriptionKind::Local;
    std::string name;  // the file name (Local) or the path's last part (File)
    uint64_t address = 0;
    uint64_t length = 0;
    std::string path;  // File: the decoded absolute path
};

/// Parses url; false, with why naming the fault, when it is malformed, asks for
/// nothing (length 0) or too much, or is on the web.
bool ParseDescriptionUrl(const std::string& url, SDescriptionUrl& out, std::string& why);

/// The first URL of a port (GCGetPortURLInfo on GenTL 1.1 and later, else
/// GCGetPortURL); empty when the port names none.
std::string PortDescriptionUrl(const SGenTLApi& api, gentl::PORT_HANDLE port);

/// The bytes a parsed URL names: read through GCReadPort (Local) or from a regular
/// file of at most kMaxDescriptionBytes (File). Empty with why set on failure.
std::string FetchDescription(const SGenTLApi& api, gentl::PORT_HANDLE port,
                             const SDescriptionUrl& url, std::string& why);

/// A regular file's content, at most cap bytes: devices, FIFOs and sockets are
/// refused without blocking, and no more than cap + 1 bytes are ever read.
bool ReadRegularFile(const std::string& path, uint64_t cap, std::string& data, std::string& why);

}  // namespace KZRGENICAM::detail
