#include "Shell.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <memory>
#include <ostream>
#include <thread>

#include "Text.h"

namespace qrvacq {

/// What one line did, for the output line and for expect.
struct Shell::Call {
    std::string text;  ///< "GetParamInt(h1, \"Width\")"
    int result = 0;
    bool failed = false;
    std::string shownResult;           ///< empty: the code, with name and meaning when not 0
    std::string detail;                ///< out values, shown after a success
    std::vector<std::string> records;  ///< extra indented lines (list calls)
    bool isCall = true;                ///< false for shell-only commands such as sleep

    void Finish(int code) {
        result = code;
        failed = code != QRV_OK;
    }
    void Add(const std::string& name, const std::string& value) {
        detail += (detail.empty() ? "" : " ") + name + "=" + value;
    }
};

namespace {

bool IsKeyword(const ShellToken& token, const char* word) {
    return !token.quoted && token.text == word;
}

bool IsHandleName(const std::string& text) {
    if (text.empty() || text == "null" || text == "out") return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0])) && text[0] != '_') return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ImageText(const QRVImage& image) {
    return std::to_string(image.Width()) + "x" + std::to_string(image.Height()) + "x" +
           std::to_string(image.Channels()) + "x" + std::to_string(image.BitsPerChannel()) +
           " bytes=" + std::to_string(image.DataSize());
}

// A no-op host callback for SetCallBackFunc; its signature is the plug-in's
// business, it only has to be a callable address.
extern "C" void NoopCallback() {}

}  // namespace

bool TokenizeShellLine(const std::string& line, std::vector<ShellToken>& tokens,
                       std::string& error) {
    tokens.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        ShellToken token;
        if (line[i] != '"') {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
                token.text += line[i++];
            }
            tokens.push_back(std::move(token));
            continue;
        }
        token.quoted = true;
        ++i;
        bool closed = false;
        while (i < line.size()) {
            const char c = line[i++];
            if (c == '"') {
                closed = true;
                break;
            }
            if (c != '\\') {
                token.text += c;
                continue;
            }
            if (i >= line.size()) break;
            const char escape = line[i++];
            switch (escape) {
                case '"':
                case '\\':
                    token.text += escape;
                    break;
                case 'n':
                    token.text += '\n';
                    break;
                case 't':
                    token.text += '\t';
                    break;
                case 'x': {
                    std::vector<unsigned char> byte;
                    if (i + 2 > line.size() || !ParseHex(line.substr(i, 2), byte)) {
                        error = "\\x needs two hex digits";
                        return false;
                    }
                    token.text += static_cast<char>(byte[0]);
                    i += 2;
                    break;
                }
                default:
                    error = std::string("unknown escape \\") + escape;
                    return false;
            }
        }
        if (!closed) {
            error = "unterminated quote";
            return false;
        }
        if (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            error = "a quoted word must end at a blank";
            return false;
        }
        tokens.push_back(std::move(token));
    }
    return true;
}

Shell::Shell(const PluginApi& api, std::ostream& out, std::ostream& err)
    : m_api(api), m_out(out), m_err(err) {
    m_commands = {
        {"close", &Shell::CmdClose},
        {"executecmd", &Shell::CmdExecuteCmd},
        {"getcameralist", &Shell::CmdGetCameraList},
        {"getcardlist", &Shell::CmdGetCardList},
        {"getnodetype", &Shell::CmdGetNodeType},
        {"getparambool", &Shell::CmdGetParamBool},
        {"getparamfloat", &Shell::CmdGetParamFloat},
        {"getparamint", &Shell::CmdGetParamInt},
        {"getparamstr", &Shell::CmdGetParamStr},
        {"getregisterdata", &Shell::CmdGetRegisterData},
        {"grabimage", &Shell::CmdGrabImage},
        {"grabimageex", &Shell::CmdGrabImageEx},
        {"isopen", &Shell::CmdIsOpen},
        {"open", &Shell::CmdOpen},
        {"setcallbackfunc", &Shell::CmdSetCallBackFunc},
        {"setparambool", &Shell::CmdSetParamBool},
        {"setparamfloat", &Shell::CmdSetParamFloat},
        {"setparamint", &Shell::CmdSetParamInt},
        {"setparamstr", &Shell::CmdSetParamStr},
        {"setregisterdata", &Shell::CmdSetRegisterData},
        {"startacquire", &Shell::CmdStartAcquire},
        {"stopacquire", &Shell::CmdStopAcquire},
        {"sleep", &Shell::CmdSleep},
    };
}

int Shell::Run(std::istream& in) {
    std::string line;
    while (!m_expectFailed && std::getline(in, line)) {
        ++m_lineNumber;
        Execute(line);
    }
    if (m_pendingFailure) m_anyFailure = true;
    if (m_expectFailed) return kExitCallFailed;
    if (m_malformed) return kExitUsage;
    return m_anyFailure ? kExitCallFailed : kExitOk;
}

void Shell::Execute(const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') return;

    auto malformed = [this](const std::string& message) {
        m_err << "qrvacq: line " << m_lineNumber << ": " << message << std::endl;
        m_malformed = true;
        m_lastResult.reset();  // an expect after a skipped line has nothing to check
    };
    std::vector<ShellToken> tokens;
    if (!TokenizeShellLine(line, tokens, m_error)) return malformed(m_error);
    const std::string command = Lower(tokens[0].text);
    const Args args(tokens.begin() + 1, tokens.end());
    if (command == "expect") {
        if (!Expect(args)) malformed(m_error);
        return;
    }
    const auto handler = m_commands.find(command);
    if (tokens[0].quoted || handler == m_commands.end()) {
        return malformed("unknown command " + Quote(tokens[0].text));
    }
    Call call;
    if (!(this->*handler->second)(args, call)) return malformed(command + ": " + m_error);
    if (!call.isCall) return;

    if (m_pendingFailure) m_anyFailure = true;
    m_pendingFailure = call.failed;
    m_lastResult = call.result;
    std::string shown = call.shownResult;
    if (shown.empty()) {
        shown = call.failed ? DescribeResult(call.result) : std::to_string(call.result);
    }
    m_lastCall = call.text + " = " + shown;
    m_out << m_lastCall;
    if (!call.failed && !call.detail.empty()) m_out << " " << call.detail;
    m_out << "\n";
    if (!call.failed) {
        for (const std::string& record : call.records) m_out << "  " << record << "\n";
    }
    m_out.flush();
}

bool Shell::Expect(const Args& args) {
    if (!Count(args, 1, 1)) return false;
    if (!m_lastResult) {
        m_error = "expect: no call on the line before to check";
        return false;
    }
    if (IsKeyword(args[0], "any")) {
        m_pendingFailure = false;
        return true;
    }
    int expected = 0;
    if (!IntArg(args[0], expected)) {
        m_error = "expect: " + m_error;
        return false;
    }
    if (*m_lastResult == expected) {
        m_pendingFailure = false;
        return true;
    }
    m_err << "qrvacq: line " << m_lineNumber << ": expected " << expected << ", got "
          << *m_lastResult << ": " << m_lastCall << std::endl;
    m_expectFailed = true;
    return true;
}

bool Shell::Count(const Args& args, std::size_t min, std::size_t max) {
    if (args.size() >= min && args.size() <= max) return true;
    m_error = "expected " + std::to_string(min) + (max == min ? "" : " to " + std::to_string(max)) +
              " arguments, got " + std::to_string(args.size());
    return false;
}

bool Shell::HandleArg(const ShellToken& token, QRVCameraHandle& handle, std::string& shown) {
    shown = token.text;
    if (IsKeyword(token, "null")) {
        handle = nullptr;
        return true;
    }
    if (!token.quoted && token.text.size() > 2 && token.text.compare(0, 2, "0x") == 0) {
        // A raw address: lets a script pass a handle the plug-in never issued.
        char* end = nullptr;
        const unsigned long long address = std::strtoull(token.text.c_str() + 2, &end, 16);
        if (*end == '\0') {
            handle = reinterpret_cast<QRVCameraHandle>(static_cast<std::uintptr_t>(address));
            return true;
        }
    }
    const auto found = token.quoted ? m_handles.end() : m_handles.find(token.text);
    if (found == m_handles.end()) {
        m_error = "unknown handle " + Quote(token.text) + " (name one with open ... -> NAME)";
        return false;
    }
    handle = found->second;
    return true;
}

bool Shell::IntArg(const ShellToken& token, int& value) {
    if (ParseInt(token.text, value)) return true;
    m_error = Quote(token.text) + " is not an int";
    return false;
}

bool Shell::OutArgs(const Args& args, std::size_t first, std::size_t pointers,
                    std::vector<bool>& isNull) {
    isNull.assign(pointers, false);
    const std::size_t given = args.size() > first ? args.size() - first : 0;
    if (given != 0 && given != 1 && given != pointers) {
        m_error = "give no out-pointer word, one for all, or one per pointer (" +
                  std::to_string(pointers) + ")";
        return false;
    }
    for (std::size_t i = 0; i < given; ++i) {
        const ShellToken& token = args[first + i];
        if (!IsKeyword(token, "null") && !IsKeyword(token, "out")) {
            m_error = "out-pointer word must be out or null, got " + Quote(token.text);
            return false;
        }
    }
    for (std::size_t i = 0; i < pointers; ++i) {
        if (given > 0) isNull[i] = IsKeyword(args[first + (given == 1 ? 0 : i)], "null");
    }
    return true;
}

bool Shell::CmdOpen(const Args& args, Call& call) {
    const bool toNull = args.size() == 3 && IsKeyword(args[2], "null");
    const bool toName = args.size() == 4 && IsKeyword(args[2], "->") && !args[3].quoted &&
                        IsHandleName(args[3].text);
    if (!toNull && !toName) {
        m_error = "usage: open SERIAL CONFIG -> NAME, or open SERIAL CONFIG null";
        return false;
    }
    QRVCameraHandle handle = nullptr;
    const std::string& serial = args[0].text;
    const std::string& config = args[1].text;
    call.Finish(m_api.Open(QRVString(serial.c_str()), toName ? &handle : nullptr, QRVString(""),
                           QRVString(config.c_str())));
    call.text = "Open(" + Quote(serial) + ", " + (toName ? "&" + args[3].text : "null") +
                ", \"\", " + Quote(config) + ")";
    if (toName) {
        m_handles[args[3].text] = handle;
        call.Add(args[3].text, handle ? "non-null" : "null");
    }
    return true;
}

bool Shell::CmdClose(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 1, 1) || !HandleArg(args[0], handle, shown)) return false;
    call.Finish(m_api.Close(handle));
    call.text = "Close(" + shown + ")";
    return true;
}

bool Shell::CmdIsOpen(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 1, 1) || !HandleArg(args[0], handle, shown)) return false;
    const bool open = m_api.IsOpen(handle);
    call.result = open ? 1 : 0;
    call.shownResult = open ? "1 true" : "0 false";
    call.text = "IsOpen(" + shown + ")";
    return true;
}

bool Shell::CmdExecuteCmd(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 2, 2) || !HandleArg(args[0], handle, shown)) return false;
    call.Finish(m_api.ExecuteCMD(handle, QRVString(args[1].text.c_str())));
    call.text = "ExecuteCMD(" + shown + ", " + Quote(args[1].text) + ")";
    return true;
}

bool Shell::CmdGetCameraList(const Args& args, Call& call) {
    std::vector<bool> isNull;
    if (!Count(args, 0, 1) || !OutArgs(args, 0, 1, isNull)) return false;
    QRVCameraInfoArray list;
    const int count = m_api.GetCameraList(isNull[0] ? nullptr : &list);
    call.result = count;
    call.failed = count < 0;
    if (count < 0) call.shownResult = DescribeResult(count);
    call.text = "GetCameraList()";
    if (isNull[0]) {
        call.Add("list", "null");
        return true;
    }
    call.Add("records", std::to_string(list.Length()));
    for (long i = 0; i < list.Length(); ++i) {
        const QRVCameraInfo& info = list.At(i);
        call.records.push_back(
            "[" + std::to_string(i) + "] serial=" + Quote(ToStd(info.GetSerialNumber())) +
            " vendor=" + Quote(ToStd(info.GetManufacturerInfo())) +
            " model=" + Quote(ToStd(info.GetModelName())) + " id=" + Quote(ToStd(info.GetID())) +
            " interface=" + std::to_string(info.GetInterface()) + " " +
            InterfaceName(info.GetInterface()));
    }
    return true;
}

bool Shell::CmdGetCardList(const Args& args, Call& call) {
    std::vector<bool> isNull;
    if (!Count(args, 0, 1) || !OutArgs(args, 0, 1, isNull)) return false;
    QRVCardInfoArray list;
    const int count = m_api.GetCardList(isNull[0] ? nullptr : &list);
    call.result = count;
    call.failed = count < 0;
    if (count < 0) call.shownResult = DescribeResult(count);
    call.text = "GetCardList()";
    if (isNull[0]) {
        call.Add("list", "null");
        return true;
    }
    call.Add("records", std::to_string(list.Length()));
    for (long i = 0; i < list.Length(); ++i) {
        const QRVCardInfo& card = list.At(i);
        call.records.push_back("[" + std::to_string(i) +
                               "] sdk=" + Quote(ToStd(card.GetSDKName())) +
                               " driver=" + std::to_string(card.GetDriverType()) +
                               " interface=" + std::to_string(card.GetInterface()) + " " +
                               InterfaceName(card.GetInterface()));
        for (const CLServer& server : card.GetServers()) {
            std::string record = "  server " + Quote(ToStd(server.GetServerName())) + " devices";
            for (const QRVString& device : server.GetDevices())
                record += " " + Quote(ToStd(device));
            call.records.push_back(record);
        }
    }
    return true;
}

bool Shell::CmdGetNodeType(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 2, 2) || !HandleArg(args[0], handle, shown)) return false;
    const int type = m_api.GetNodeType(handle, QRVString(args[1].text.c_str()));
    const char* name = NodeTypeName(type);
    call.result = type;
    call.failed = name == nullptr;
    if (name) call.shownResult = std::to_string(type) + " " + name;
    call.text = "GetNodeType(" + shown + ", " + Quote(args[1].text) + ")";
    return true;
}

bool Shell::CmdGetParamBool(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    if (!Count(args, 2, 3) || !HandleArg(args[0], handle, shown) || !OutArgs(args, 2, 1, isNull)) {
        return false;
    }
    bool value = false;
    call.Finish(
        m_api.GetParamBool(handle, QRVString(args[1].text.c_str()), isNull[0] ? nullptr : &value));
    call.text = "GetParamBool(" + shown + ", " + Quote(args[1].text) + ")";
    call.Add("value", isNull[0] ? "null" : value ? "true" : "false");
    return true;
}

bool Shell::CmdGetParamInt(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    if (!Count(args, 2, 6) || !HandleArg(args[0], handle, shown) || !OutArgs(args, 2, 4, isNull)) {
        return false;
    }
    int values[4] = {0, 0, 0, 0};
    auto out = [&](int i) { return isNull[static_cast<std::size_t>(i)] ? nullptr : &values[i]; };
    call.Finish(
        m_api.GetParamInt(handle, QRVString(args[1].text.c_str()), out(0), out(1), out(2), out(3)));
    call.text = "GetParamInt(" + shown + ", " + Quote(args[1].text) + ")";
    const char* names[] = {"value", "min", "max", "inc"};
    for (int i = 0; i < 4; ++i) call.Add(names[i], out(i) ? std::to_string(values[i]) : "null");
    return true;
}

bool Shell::CmdGetParamFloat(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    if (!Count(args, 2, 6) || !HandleArg(args[0], handle, shown) || !OutArgs(args, 2, 4, isNull)) {
        return false;
    }
    float values[4] = {0, 0, 0, 0};
    auto out = [&](int i) { return isNull[static_cast<std::size_t>(i)] ? nullptr : &values[i]; };
    call.Finish(m_api.GetParamFloat(handle, QRVString(args[1].text.c_str()), out(0), out(1), out(2),
                                    out(3)));
    call.text = "GetParamFloat(" + shown + ", " + Quote(args[1].text) + ")";
    const char* names[] = {"value", "min", "max", "inc"};
    for (int i = 0; i < 4; ++i) call.Add(names[i], out(i) ? FormatFloat(values[i]) : "null");
    return true;
}

bool Shell::CmdGetParamStr(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    if (!Count(args, 2, 4) || !HandleArg(args[0], handle, shown) || !OutArgs(args, 2, 2, isNull)) {
        return false;
    }
    QRVString value;
    QRVStringArray entries;
    call.Finish(m_api.GetParamStr(handle, QRVString(args[1].text.c_str()),
                                  isNull[0] ? nullptr : &value, isNull[1] ? nullptr : &entries));
    call.text = "GetParamStr(" + shown + ", " + Quote(args[1].text) + ")";
    call.Add("value", isNull[0] ? "null" : Quote(ToStd(value)));
    std::string list = "[";
    for (int i = 0; i < entries.size(); ++i) list += (i ? ", " : "") + Quote(ToStd(entries.at(i)));
    call.Add("entries", isNull[1] ? "null" : list + "]");
    return true;
}

bool Shell::CmdGetRegisterData(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    int count = 0;
    if (!Count(args, 3, 4) || !HandleArg(args[0], handle, shown) || !IntArg(args[2], count) ||
        !OutArgs(args, 3, 1, isNull)) {
        return false;
    }
    // Exactly count bytes (at least one, so the pointer is never null by accident):
    // a plug-in writing past them shows up under AddressSanitizer.
    const std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 1;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
    call.Finish(m_api.GetRegisterData(handle, QRVString(args[1].text.c_str()),
                                      isNull[0] ? nullptr : buffer.get(), count));
    call.text = "GetRegisterData(" + shown + ", " + Quote(args[1].text) + ", " +
                (isNull[0] ? "null" : "buffer") + ", " + std::to_string(count) + ")";
    call.Add("data", isNull[0] ? "null" : ToHex(buffer.get(), count > 0 ? size : 0));
    return true;
}

bool Shell::CmdSetRegisterData(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 3, 4) || !HandleArg(args[0], handle, shown)) return false;
    const bool nullData = IsKeyword(args[2], "null");
    std::vector<unsigned char> bytes;
    if (!nullData && !ParseHex(args[2].text, bytes)) {
        m_error = Quote(args[2].text) + " is not an even number of hex digits";
        return false;
    }
    int count = static_cast<int>(bytes.size());
    if (args.size() == 4 && !IntArg(args[3], count)) return false;
    // A count beyond the data reads zero padding, never past the buffer.
    if (count > 0 && static_cast<std::size_t>(count) > bytes.size()) {
        bytes.resize(static_cast<std::size_t>(count), 0);
    }
    if (bytes.empty()) bytes.push_back(0);
    call.Finish(m_api.SetRegisterData(handle, QRVString(args[1].text.c_str()),
                                      nullData ? nullptr : bytes.data(), count));
    call.text = "SetRegisterData(" + shown + ", " + Quote(args[1].text) + ", " +
                (nullData ? "null" : args[2].text) + ", " + std::to_string(count) + ")";
    return true;
}

bool Shell::CmdGrabImage(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    int timeout = 0;
    if (!Count(args, 2, 3) || !HandleArg(args[0], handle, shown) || !IntArg(args[1], timeout) ||
        !OutArgs(args, 2, 1, isNull)) {
        return false;
    }
    call.Finish(m_api.GrabImage(handle, isNull[0] ? nullptr : &m_image, timeout));
    call.text = "GrabImage(" + shown + ", " + std::to_string(timeout) + ")";
    call.Add("image", isNull[0] ? "null" : ImageText(m_image));
    return true;
}

bool Shell::CmdGrabImageEx(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    std::vector<bool> isNull;
    int timeout = 0;
    if (!Count(args, 2, 4) || !HandleArg(args[0], handle, shown) || !IntArg(args[1], timeout) ||
        !OutArgs(args, 2, 2, isNull)) {
        return false;
    }
    const std::uint64_t updatesBefore = m_chunks.getUpdateCount();
    call.Finish(m_api.GrabImageEx(handle, isNull[0] ? nullptr : &m_image,
                                  isNull[1] ? nullptr : &m_chunks, timeout));
    call.text = "GrabImageEx(" + shown + ", " + std::to_string(timeout) + ")";
    call.Add("image", isNull[0] ? "null" : ImageText(m_image));
    if (isNull[1]) {
        call.Add("chunks", "null");
    } else if (m_chunks.getUpdateCount() == updatesBefore) {
        call.Add("chunks", "unchanged");
    } else {
        call.Add("chunks", std::to_string(m_chunks.getSize()));
    }
    return true;
}

bool Shell::CmdSetCallBackFunc(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    int tag = 0;
    if (!Count(args, 3, 3) || !HandleArg(args[0], handle, shown) || !IntArg(args[1], tag)) {
        return false;
    }
    void* callback = nullptr;
    if (IsKeyword(args[2], "noop")) {
        void (*function)() = NoopCallback;
        static_assert(sizeof(callback) == sizeof(function), "function and data pointers differ");
        std::memcpy(&callback, &function, sizeof(callback));
    } else if (!IsKeyword(args[2], "null")) {
        m_error = "callback must be null or noop";
        return false;
    }
    call.Finish(m_api.SetCallBackFunc(handle, tag, callback));
    call.text = "SetCallBackFunc(" + shown + ", " + std::to_string(tag) + ", " + args[2].text + ")";
    return true;
}

bool Shell::CmdSetParamBool(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    bool value = false;
    if (!Count(args, 3, 3) || !HandleArg(args[0], handle, shown)) return false;
    if (!ParseBool(args[2].text, value)) {
        m_error = Quote(args[2].text) + " is not true, false, 1 or 0";
        return false;
    }
    call.Finish(m_api.SetParamBool(handle, QRVString(args[1].text.c_str()), value));
    call.text = "SetParamBool(" + shown + ", " + Quote(args[1].text) + ", " +
                (value ? "true" : "false") + ")";
    return true;
}

bool Shell::CmdSetParamInt(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    int value = 0;
    if (!Count(args, 3, 3) || !HandleArg(args[0], handle, shown) || !IntArg(args[2], value)) {
        return false;
    }
    call.Finish(m_api.SetParamInt(handle, QRVString(args[1].text.c_str()), value));
    call.text =
        "SetParamInt(" + shown + ", " + Quote(args[1].text) + ", " + std::to_string(value) + ")";
    return true;
}

bool Shell::CmdSetParamFloat(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    float value = 0;
    if (!Count(args, 3, 3) || !HandleArg(args[0], handle, shown)) return false;
    if (!ParseFloat(args[2].text, value)) {
        m_error = Quote(args[2].text) + " is not a float";
        return false;
    }
    call.Finish(m_api.SetParamFloat(handle, QRVString(args[1].text.c_str()), value));
    call.text =
        "SetParamFloat(" + shown + ", " + Quote(args[1].text) + ", " + FormatFloat(value) + ")";
    return true;
}

bool Shell::CmdSetParamStr(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 3, 3) || !HandleArg(args[0], handle, shown)) return false;
    call.Finish(m_api.SetParamStr(handle, QRVString(args[1].text.c_str()),
                                  QRVString(args[2].text.c_str())));
    call.text =
        "SetParamStr(" + shown + ", " + Quote(args[1].text) + ", " + Quote(args[2].text) + ")";
    return true;
}

bool Shell::CmdStartAcquire(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    int start = 0;
    int unused = 0;
    if (!Count(args, 1, 3) || !HandleArg(args[0], handle, shown)) return false;
    if (args.size() > 1 && !IntArg(args[1], start)) return false;
    if (args.size() > 2 && !IntArg(args[2], unused)) return false;
    call.Finish(m_api.StartAcquire(handle, start, unused));
    call.text = "StartAcquire(" + shown + ", " + std::to_string(start) + ", " +
                std::to_string(unused) + ")";
    return true;
}

bool Shell::CmdStopAcquire(const Args& args, Call& call) {
    QRVCameraHandle handle = nullptr;
    std::string shown;
    if (!Count(args, 1, 1) || !HandleArg(args[0], handle, shown)) return false;
    call.Finish(m_api.StopAcquire(handle));
    call.text = "StopAcquire(" + shown + ")";
    return true;
}

bool Shell::CmdSleep(const Args& args, Call& call) {
    int ms = 0;
    if (!Count(args, 1, 1) || !IntArg(args[0], ms)) return false;
    if (ms < 0 || ms > 60000) {
        m_error = "sleep takes 0 to 60000 ms";
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    call.isCall = false;
    return true;
}

}  // namespace qrvacq
