// The camera access library over the test producer: GENICAM_GENTL64_PATH names the
// producer's folder (and any others a test adds), the Aravis transport stays out.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <list>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "KZRGeniCam.h"

constexpr const char* kAreaSerial = "KZRGEV0001";
constexpr const char* kLineSerial = "KZRCL0042";

inline std::string ProducerDir(const char* folder) {
    return std::string(KZR_TEST_PRODUCER_DIR) + "/" + folder;
}

/// Sets the producer path for one test and starts the library; the last UnInit
/// closes the producers, so every test starts from a freshly built producer.
class GenTLTest : public ::testing::Test {
protected:
    void SetUp() override { Start(ProducerDir("producer")); }
    void TearDown() override {
        if (m_started) KZRGENICAM::UnInit();
        unsetenv("GENICAM_GENTL64_PATH");
    }
    void Start(const std::string& path) {
        setenv("KZR_ARAVIS", "off", 1);
        setenv("KZR_GENTL", "on", 1);
        setenv("GENICAM_GENTL64_PATH", path.c_str(), 1);
        KZRGENICAM::Init();
        m_started = true;
    }

private:
    bool m_started = false;
};

/// Releases every record of a listing at scope end.
class CListing {
public:
    explicit CListing(const char* filter) : m_records(KZRGENICAM::Discovery(filter)) {}
    ~CListing() {
        for (auto* r : m_records)
            if (r) r->release();
    }
    CListing(const CListing&) = delete;
    CListing& operator=(const CListing&) = delete;
    const std::list<KZRGENICAM::ICameraInfo*>& Records() const { return m_records; }
    const KZRGENICAM::ICameraInfo* Find(const char* serial) const {
        for (auto* r : m_records)
            if (r && std::string(r->getSerialNumber()) == serial) return r;
        return nullptr;
    }

private:
    std::list<KZRGENICAM::ICameraInfo*> m_records;
};

/// A camera opened by serial number, released at scope end.
struct SCameraDeleter {
    void operator()(KZRGENICAM::ICamera* c) const {
        if (c) c->release();
    }
};
using CameraPtr = std::unique_ptr<KZRGENICAM::ICamera, SCameraDeleter>;

inline CameraPtr OpenCamera(const char* serial) {
    CameraPtr camera(KZRGENICAM::CreateCameraBySN(serial));
    if (camera && camera->open(1) != 0) camera.reset();
    return camera;
}

/// One row of a table of cases kept beside the tests, by column name.
struct SRow {
    std::map<std::string, std::string> cells;
    /// The cell; "-" stands for an empty one.
    std::string operator[](const char* column) const {
        const std::string& cell = cells.at(column);
        return cell == "-" ? std::string() : cell;
    }
};

inline void PrintTo(const SRow& row, std::ostream* os) {
    *os << row["name"];
}

inline std::string RowName(const testing::TestParamInfo<SRow>& info) {
    return info.param["name"];
}

/// The rows of a tab-separated file of this folder: a header line naming the
/// columns, then one case a line; lines starting with '#' are comments.
inline std::vector<SRow> LoadRows(const char* file) {
    std::ifstream in(std::string(KZR_TEST_SOURCE_DIR) + "/" + file);
    if (!in) throw std::runtime_error(std::string("cannot read ") + file);
    std::vector<std::string> header;
    std::vector<SRow> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::istringstream split(line);
        for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
        if (cells.size() != header.size() && !header.empty())
            throw std::runtime_error(std::string(file) + ": wrong cell count in " + line);
        if (header.empty()) {
            header = cells;
            continue;
        }
        rows.emplace_back();
        for (size_t i = 0; i < cells.size(); ++i) rows.back().cells[header[i]] = cells[i];
    }
    return rows;
}
