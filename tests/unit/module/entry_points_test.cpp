// The 22 entry points on simulated cameras, one row of entry_points.rows per
// case: a scenario of tests/fixtures/sim/module.json, then calls with their
// expected results and checks of what the camera library, the node maps, the log
// and the host's objects saw. The entry points are linked in here, so that the
// log, the clock and the debugger output can be watched.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KZRSim.h"
#include "QRVAcqGenIcam.h"
#include "log/ErrorLog.h"
#include "platform/Platform.h"
#include "plugin/SessionRegistry.h"

namespace {

const std::string kSim = QRV_SOURCE_DIR "/tests/fixtures/sim/";

struct SRow {
    std::string name;
    std::string scenario;
    std::vector<std::string> steps;
};

void PrintTo(const SRow& row, std::ostream* out) {
    *out << row.name;
}

/// Words split at blanks outside double quotes; \xHH, \n, \r and \t decoded.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\\' && i + 1 < text.size()) {
            const char e = text[++i];
            if (e == 'x') {
                word += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                word += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            }
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

/// "name | scenario | steps"; an indented line goes on with the row above it.
std::vector<SRow> LoadRows() {
    std::ifstream in(QRV_SOURCE_DIR "/tests/unit/module/entry_points.rows");
    if (!in) throw std::runtime_error("cannot read entry_points.rows");
    std::vector<SRow> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == ' ' && !rows.empty()) {
            for (std::string& w : Words(line)) rows.back().steps.push_back(w);
            continue;
        }
        const std::size_t a = line.find(" | "), b = line.find(" | ", a + 3);
        if (b == std::string::npos) throw std::runtime_error("malformed row: " + line);
        rows.push_back(
            {line.substr(0, a), line.substr(a + 3, b - a - 3), Words(line.substr(b + 3))});
    }
    return rows;
}

template <class Seq, class Fn>
std::string Join(const Seq& items, const char* separator, Fn&& show) {
    std::ostringstream out;
    bool first = true;
    for (const auto& item : items) {
        out << (first ? "" : separator) << show(item);
        first = false;
    }
    return out.str();
}

std::string Hex(const unsigned char* data, std::size_t size) {
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", data[i]);
        text += digits;
    }
    return text;
}

std::string Str(const QRVString& text) {
    return text.toUtf8().str();
}

/// True when another thread can take the lock at once.
bool FreeForOtherThreads(qrv::platform::FrameMutex& mutex) {
    bool taken = false;
    std::thread probe([&] {
        taken = mutex.try_lock();
        if (taken) mutex.unlock();
    });
    probe.join();
    return taken;
}

class EntryPoints : public ::testing::TestWithParam<SRow> {
protected:
    void SetUp() override {
        KZRSIM::Reset();
        const SRow& row = GetParam();
        if (row.scenario == "demo") {
            KZRSIM::SetScenario(KZRSIM::DemoScenario());
        } else {
            std::ifstream in(kSim + "module.json");
            const nlohmann::json all = nlohmann::json::parse(in);
            KZRSIM::LoadScenarioJson(all.at(row.scenario).dump(), "module.json:" + row.scenario);
        }
        // CTest runs each row in a process of its own, two at a time: the row's name and a
        // random number keep their logs apart.
        m_logPath = ::testing::TempDir() + "module_rows_" + row.name + "_" +
                    std::to_string(std::random_device{}()) + ".txt";
        m_log = std::make_unique<CErrorLog>(m_logPath.c_str(), true);
        SetModuleLogForTesting(m_log.get());
        qrv::platform::SetDebugOutputListener(
            [this](const char* text) { m_debug.push_back(text); });
        qrv::platform::SetSleepObserverForTesting(
            [this](std::uint32_t ms) { m_sleeps.push_back(ms); });
    }

    void TearDown() override {
        for (QRVCameraHandle handle : m_opened) {
            // No way out of a grab leaves the frame lock taken.
            if (const auto session = qrv::Sessions().Find(handle)) {
                EXPECT_TRUE(FreeForOtherThreads(session->FrameMutexForTesting()));
            }
            Close(handle);
        }
        qrv::platform::SetTickSourceForTesting({});
        qrv::platform::SetSleepObserverForTesting({});
        qrv::platform::SetDebugOutputListener({});
        SetModuleLogForTesting(nullptr);
        m_log.reset();
        std::remove(m_logPath.c_str());
        // Every resource the camera library handed out came back exactly once.
        const KZRSIM::LibraryCounters lib = KZRSIM::Library();
        EXPECT_EQ(lib.camerasOut, 0);
        EXPECT_EQ(lib.framesOut, 0);
        EXPECT_EQ(lib.recordsOut, 0);
        EXPECT_EQ(lib.doubleReleases, 0);
        KZRSIM::Reset();
    }

    /// Config paths: a bare name is a file of tests/fixtures/sim/cam, a path is
    /// relative to the source tree, ~TEXT is TEXT as it stands.
    static std::string CamPath(const std::string& name) {
        if (name[0] == '~') return name.substr(1);
        return name.find('/') == std::string::npos ? kSim + "cam/" + name
                                                   : std::string(QRV_SOURCE_DIR "/") + name;
    }

    /// Runs one entry point on the latest handle; out shows what it gave back.
    int Call(const std::string& name, const std::vector<std::string>& a, std::string& out) {
        const QRVCameraHandle h = m_handle;
        const auto arg = [&a](std::size_t i) { return i < a.size() ? a[i] : std::string(); };
        const auto num = [&](std::size_t i) {
            return static_cast<int>(std::stoll(arg(i), nullptr, 0));
        };
        const QRVString node(arg(0).c_str());
        if (name == "Open" || name == "OpenNull") {
            m_serial = arg(0);
            const QRVString cam(a.size() > 1 ? CamPath(a[1]).c_str() : "");
            if (name == "OpenNull") return Open(QRVString(m_serial.c_str()), nullptr, "", cam);
            int sentinel = 0;
            m_handle = &sentinel;
            const int code = Open(QRVString(m_serial.c_str()), &m_handle, "", cam);
            if (code == 0) m_opened.push_back(m_handle);
            EXPECT_EQ(code == 0, m_handle != nullptr) << "handle after Open";
            return code;
        }
        if (name == "Close") return Close(h);
        if (name == "IsOpen") return IsOpen(h) ? 1 : 0;
        if (name == "StartAcquire") return StartAcquire(h, num(0), num(1));
        if (name == "StopAcquire") return StopAcquire(h);
        if (name == "SetCallBackFunc") return SetCallBackFunc(h, num(0), nullptr);
        if (name == "GetNodeType") return GetNodeType(h, node);
        if (name == "ExecuteCMD") return ExecuteCMD(h, node);
        if (name == "SetParamBool") return SetParamBool(h, node, num(1) != 0);
        if (name == "SetParamInt") return SetParamInt(h, node, num(1));
        if (name == "SetParamFloat") return SetParamFloat(h, node, std::stof(arg(1)));
        if (name == "SetParamStr") return SetParamStr(h, node, QRVString(arg(1).c_str()));
        if (name == "GetParamBool") {
            bool value = true;
            const int code = GetParamBool(h, node, &value);
            out = value ? "1" : "0";
            return code;
        }
        if (name == "GetParamInt") {
            int v[4] = {-7, -7, -7, -7};
            const int code = GetParamInt(h, node, &v[0], &v[1], &v[2], &v[3]);
            out = Join(v, "/", [](int x) { return x; });
            return code;
        }
        if (name == "GetParamFloat") {
            float v[4] = {-7, -7, -7, -7};
            const int code = GetParamFloat(h, node, &v[0], &v[1], &v[2], &v[3]);
            out = Join(v, "/", [](float x) { return x; });
            return code;
        }
        if (name == "GetParamStr") {
            QRVString value("untouched");
            QRVStringArray entries;
            entries.push_back("kept");
            const int code = GetParamStr(h, node, &value, &entries);
            out = Str(value);
            for (int i = 0; i < entries.size(); ++i) out += (i ? "," : "/") + Str(entries.at(i));
            return code;
        }
        if (name == "GrabImage") return GrabImage(h, arg(1) == "null" ? nullptr : &m_image, num(0));
        if (name == "GrabImageEx") {
            return GrabImageEx(h, arg(1) == "null" ? nullptr : &m_image,
                               arg(2) == "null" ? nullptr : &m_chunks, num(0));
        }
        if (name == "GetCameraList") {
            QRVCameraInfoArray list;
            const int code = GetCameraList(arg(0) == "null" ? nullptr : &list);
            for (long i = 0; i < list.Length(); ++i) {
                const QRVCameraInfo& r = list.At(i);
                out += (i ? ";" : "") + Str(r.GetSerialNumber()) + "," +
                       Str(r.GetManufacturerInfo()) + "," + Str(r.GetModelName()) + "," +
                       Str(r.GetID()) + "," + Str(r.GetSDKName()) + "," +
                       std::to_string(r.GetDriverType()) + "," + std::to_string(r.GetFilter()) +
                       "," + std::to_string(r.GetCameraType()) + "," +
                       std::to_string(r.GetInterface());
            }
            return code;
        }
        if (name == "GetCardList") {
            QRVCardInfoArray list;
            const int code = GetCardList(arg(0) == "null" ? nullptr : &list);
            for (long i = 0; i < list.Length(); ++i) {
                const QRVCardInfo& r = list.At(i);
                out += (i ? ";" : "") + std::to_string(r.GetInterface()) + "," +
                       std::to_string(r.GetDriverType()) + "," + Str(r.GetSDKName());
                for (const CLServer& server : r.GetServers()) {
                    out += "," + Str(server.GetServerName()) + ":" +
                           Join(server.GetDevices(), ":", Str);
                }
            }
            return code;
        }
        ADD_FAILURE() << "unknown call " << name;
        return -1;
    }

    /// What the camera library, a node map, the log or the host saw so far.
    std::string Observe(const std::string& key) {
        const KZRSIM::CameraCounters c = KZRSIM::Counters(m_serial);
        const KZRSIM::LibraryCounters lib = KZRSIM::Library();
        const std::map<std::string, int> counts = {{"create", c.create},
                                                   {"open", c.open},
                                                   {"close", c.close},
                                                   {"release", c.release},
                                                   {"startGrabbing", c.startGrabbing},
                                                   {"stopGrabbing", c.stopGrabbing},
                                                   {"setSerialPort", c.setSerialPort},
                                                   {"getFrame", c.getFrame},
                                                   {"framesDelivered", c.framesDelivered},
                                                   {"discovery", lib.discovery},
                                                   {"ticks", m_ticks.load()}};
        const auto pair = [](const auto& p) {
            std::ostringstream text;
            text << p.first << "/" << p.second;
            return text.str();
        };
        const auto same = [](const auto& x) { return x; };
        if (counts.count(key)) return std::to_string(counts.at(key));
        if (key == "startArgs") return Join(c.startArgs, ",", pair);
        if (key == "serialPortArgs") return Join(c.serialPortArgs, ",", pair);
        if (key == "getFrameTimeouts") return Join(c.getFrameTimeouts, ",", same);
        if (key == "discoveryFilters") return Join(lib.discoveryFilters, ",", same);
        if (key == "debug") return Join(m_debug, "|", same);
        if (key == "sleeps") return Join(m_sleeps, ",", same);
        if (key == "log") return Join(LogMessages(), "|", same);
        if (key == "image") {
            return m_image.IsEmpty()
                       ? "empty"
                       : std::to_string(m_image.Width()) + "x" + std::to_string(m_image.Height());
        }
        if (key == "chunks") {
            return Hex(m_chunks.getData(), m_chunks.getSize()) + "/" +
                   std::to_string(m_chunks.getUpdateCount());
        }
        // dev.NODE or grab.NODE: the node's value; dev.NODE.OP: calls of OP on it.
        const std::size_t dot = key.find('.'), op = key.find('.', dot + 1);
        GenApi::CMemoryNodeMap* map = key.compare(0, dot, "dev") == 0
                                          ? KZRSIM::DeviceNodeMap(m_serial)
                                          : KZRSIM::GrabberNodeMap(m_serial);
        if (dot == std::string::npos || !map) return "unknown observation " + key;
        const std::string node = key.substr(dot + 1, op - dot - 1);
        if (op != std::string::npos) {
            const std::map<std::string, GenApi::EFaultOp> ops = {
                {"Any", GenApi::EFaultOp::Any},
                {"GetValue", GenApi::EFaultOp::GetValue},
                {"SetValue", GenApi::EFaultOp::SetValue},
                {"ToString", GenApi::EFaultOp::ToString},
                {"FromString", GenApi::EFaultOp::FromString},
                {"Execute", GenApi::EFaultOp::Execute},
                {"IsDone", GenApi::EFaultOp::IsDone}};
            return std::to_string(map->CallCount(node, ops.at(key.substr(op + 1))));
        }
        switch (map->GetNode(node.c_str())->GetPrincipalInterfaceType()) {
            case GenApi::intfIFloat: {
                char text[32];
                std::snprintf(text, sizeof text, "%.17g", map->PeekFloat(node));
                return text;
            }
            case GenApi::intfIString:
            case GenApi::intfIEnumeration:
                return map->PeekString(node);
            default:
                return std::to_string(map->PeekInt(node));
        }
    }

    /// Log lines without their "[time stamp] " prefix.
    std::vector<std::string> LogMessages() const {
        std::ifstream in(m_logPath, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();  // text mode on Windows
            lines.push_back(line.substr(line.find("] ") + 2));
        }
        return lines;
    }

    /// clock=START+STEP: each reading of the tick count advances it by STEP. A
    /// wait that never ends is cut off, the grab then fails.
    void SetClock(const std::string& startAndStep) {
        const std::size_t plus = startAndStep.find('+');
        const auto start = static_cast<std::uint32_t>(std::stoull(startAndStep.substr(0, plus)));
        const auto step = static_cast<std::uint32_t>(std::stoul(startAndStep.substr(plus + 1)));
        qrv::platform::SetTickSourceForTesting([this, start, step]() -> std::uint32_t {
            const int n = m_ticks++;
            if (n > 100000) throw std::runtime_error("the wait ignored its time-out");
            return start + step * static_cast<std::uint32_t>(n);
        });
    }

    std::string m_logPath;
    std::unique_ptr<CErrorLog> m_log;
    std::vector<std::string> m_debug;
    std::vector<std::uint32_t> m_sleeps;
    std::atomic<int> m_ticks{0};
    std::string m_serial;
    QRVCameraHandle m_handle = nullptr;
    std::vector<QRVCameraHandle> m_opened;
    QRVImage m_image;
    ZelChunkData m_chunks;
};


// A step is CALL=RESULT, CALL(ARGS)=RESULT[:OUT], clock=START+STEP, or
// OBSERVATION=VALUE.
TEST_P(EntryPoints, Row) {
    for (const std::string& step : GetParam().steps) {
        SCOPED_TRACE(step);
        const std::size_t open = step.find('(');
        const bool hasArgs = open < step.find('=');
        const std::size_t eq = step.find('=', hasArgs ? step.find(')') : 0);
        ASSERT_NE(eq, std::string::npos) << "malformed step";
        const std::string lhs = step.substr(0, eq), expected = step.substr(eq + 1);
        const bool isCall = hasArgs || std::isupper(static_cast<unsigned char>(lhs[0]));
        if (lhs == "clock") {
            SetClock(expected);
        } else if (isCall) {
            std::vector<std::string> args;
            if (hasArgs) {
                std::stringstream list(lhs.substr(open + 1, lhs.size() - open - 2));
                for (std::string arg; std::getline(list, arg, ',');) args.push_back(arg);
            }
            std::string out;
            const int code = Call(lhs.substr(0, hasArgs ? open : lhs.size()), args, out);
            const std::size_t colon = expected.find(':');
            EXPECT_EQ(std::to_string(code), expected.substr(0, colon));
            if (colon != std::string::npos) {
                EXPECT_EQ(out, expected.substr(colon + 1));
            }
        } else {
            EXPECT_EQ(Observe(lhs), expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, EntryPoints, ::testing::ValuesIn(LoadRows()),
                         [](const ::testing::TestParamInfo<SRow>& row) { return row.param.name; });

}  // namespace
