// JSON output of the commands. Texts from the camera or the file system need
// not be UTF-8 (a folder name is any bytes); such bytes are shown as U+FFFD
// instead of ending the run.
#pragma once

#include <string>

namespace qrvacq {

template <class Json>
std::string DumpJson(const Json& value, int indent = -1) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace qrvacq
