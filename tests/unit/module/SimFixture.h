// Fixture of the module tests: the shared simulated transport plus an enabled
// error log in a private folder, so that log lines can be read back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MemoryNodeMap.h"
#include "SimScenario.h"
#include "log/ErrorLog.h"
#include "session/GenICamCamera.h"

namespace qrvtest {

inline std::filesystem::path MakeTempDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "test";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("qrv_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" + name);
    std::filesystem::create_directories(dir);
    return dir;
}

/// Names parameterised tests after their cases' name member.
struct ByName {
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const {
        return info.param.name;
    }
};

using NodeBuilder = std::function<void(GenApi::CMemoryNodeMap&)>;

inline KZRSIM::CameraSpec Camera(const std::string& serial, NodeBuilder device = {},
                                 int transport = KZRGENICAM::TransportGigE) {
    KZRSIM::CameraSpec desc;
    desc.serial = serial;
    desc.transport = transport;
    desc.buildDevice = std::move(device);
    desc.frameRate = 0;  // frames always ready unless a test says otherwise
    return desc;
}

class SimFixture : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        m_dir = MakeTempDir();
        m_logPath = m_dir / "log.txt";
        m_log = std::make_unique<CErrorLog>(m_logPath.string().c_str(), true);
        SetModuleLogForTesting(m_log.get());
    }

    void TearDown() override {
        SetModuleLogForTesting(nullptr);
        m_log.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        SimTest::TearDown();
    }

    /// A session opened on the camera; fails the test when Open does not return 0.
    static std::unique_ptr<CGenICamCamera> OpenSession(const std::string& serial,
                                                       const std::string& configPath = "") {
        auto session = std::make_unique<CGenICamCamera>();
        const int result = session->Open(serial.c_str(), configPath.c_str());
        EXPECT_EQ(0, result) << "Open(" << serial << ")";
        return session;
    }

    /// Log lines without their "[time stamp] " prefix.
    std::vector<std::string> LogMessages() const {
        std::ifstream in(m_logPath, std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
#if defined(_WIN32)
            // The log is written in text mode: CRLF line ends on Windows.
            if (!line.empty() && line.back() == '\r') line.pop_back();
#endif
            const std::size_t end = line.find("] ");
            lines.push_back(
                line.rfind('[', 0) == 0 && end != std::string::npos ? line.substr(end + 2) : line);
        }
        return lines;
    }

    std::filesystem::path WriteFile(const std::string& name, const std::string& content) const {
        const std::filesystem::path path = m_dir / name;
        std::ofstream out(path, std::ios::binary);
        out << content;
        return path;
    }

    std::filesystem::path m_dir;
    std::filesystem::path m_logPath;
    std::unique_ptr<CErrorLog> m_log;
};

}  // namespace qrvtest
