// The description reader: XML documents (xml.tsv), zip archives built here with
// zlib and damaged field by field (zip.tsv), and files that are not regular files.
#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineNodeMap.h"
#include "RowFile.h"
#include "engine/XmlReader.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using GenApi::SDescriptionLimits;
using GenApi::engine::ParseXml;
using GenApi::engine::SXmlElement;

namespace {

/// name@line:col[attr=value,...]"text"{children}, with control bytes escaped.
std::string Dump(const SXmlElement& e) {
    std::string out = e.name + "@" + std::to_string(e.line) + ":" + std::to_string(e.column);
    if (!e.attributes.empty()) {
        out += '[';
        for (const auto& [name, value] : e.attributes) out += name + "=" + value + ",";
        out.back() = ']';
    }
    if (!e.text.empty()) {
        out += '"';
        for (const char c : e.text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
        out += '"';
    }
    if (!e.children.empty()) {
        out += '{';
        for (const SXmlElement& child : e.children) out += Dump(child) + ",";
        out.back() = '}';
    }
    return out;
}

class XmlReader : public testing::TestWithParam<qrvtest::SRow> {};

TEST_P(XmlReader, ParsesOrRefusesWithPosition) {
    const qrvtest::SRow& c = GetParam();
    SDescriptionLimits limits;
    if (c["limits"] == "small") {
        limits.maxXmlBytes = 4096;
        limits.maxDepth = 4;
        limits.maxNodes = 5;
        limits.maxAttributeBytes = limits.maxTextBytes = 8;
    }
    std::string result;
    try {
        result = Dump(ParseXml(c["input"], limits));
    } catch (const GenICam::RuntimeException& e) {
        result = "!" + std::string(e.GetDescription());
        EXPECT_EQ(result.rfind("!xml line ", 0), 0u) << result;
    }
    qrvtest::ExpectResult(result, c["expected"]);
}

INSTANTIATE_TEST_SUITE_P(Cases, XmlReader,
                         testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/xml.tsv")),
                         [](const auto& row) { return row.param["name"]; });

TEST(XmlElement, AttributeFindsByLocalName) {
    const SXmlElement root = ParseXml("<a p:x='1' y=''/>", {});
    ASSERT_NE(root.Attribute("x"), nullptr);
    EXPECT_EQ(*root.Attribute("x"), "1");
    ASSERT_NE(root.Attribute("y"), nullptr);
    EXPECT_EQ(*root.Attribute("y"), "");
    EXPECT_EQ(root.Attribute("z"), nullptr);
}

// ---- zip archives ----------------------------------------------------------

struct SZipFile {
    std::string name;
    std::string content;
    bool deflate = true;
};

void Put(std::string& s, std::size_t at, int width, uint32_t value) {
    for (int i = 0; i < width; ++i)
        s[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

/// Raw deflate data: a zlib stream without its 2-byte header and 4-byte Adler-32.
std::string RawDeflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(
        compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
                  reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9),
        Z_OK);
    return out.substr(2, size - 6);
}

/// A built archive and where its last file's headers and the end record are.
struct SZip {
    std::string bytes;
    std::size_t local = 0;
    std::size_t central = 0;
    std::size_t end = 0;
};

SZip BuildZip(const std::vector<SZipFile>& files) {
    SZip zip;
    std::string cd;
    for (const SZipFile& f : files) {
        const std::string data = f.deflate ? RawDeflate(f.content) : f.content;
        std::string header(30, '\0');
        Put(header, 0, 4, 0x04034b50);
        Put(header, 4, 2, 20);
        Put(header, 8, 2, f.deflate ? 8 : 0);
        Put(header, 14, 4,
            crc32(0, reinterpret_cast<const Bytef*>(f.content.data()),
                  static_cast<uInt>(f.content.size())));
        Put(header, 18, 4, static_cast<uint32_t>(data.size()));
        Put(header, 22, 4, static_cast<uint32_t>(f.content.size()));
        Put(header, 26, 2, static_cast<uint32_t>(f.name.size()));
        std::string entry(46, '\0');
        Put(entry, 0, 4, 0x02014b50);
        Put(entry, 4, 4, 0x00140014);          // versions made by and needed
        entry.replace(10, 20, header, 8, 20);  // method, time, date, crc, sizes, name length
        Put(entry, 42, 4, static_cast<uint32_t>(zip.bytes.size()));
        zip.local = zip.bytes.size();
        zip.central = cd.size();
        zip.bytes += header + f.name + data;
        cd += entry + f.name;
    }
    zip.central += zip.bytes.size();
    std::string end(22, '\0');
    Put(end, 0, 4, 0x06054b50);
    Put(end, 8, 2, static_cast<uint32_t>(files.size()));
    Put(end, 10, 2, static_cast<uint32_t>(files.size()));
    Put(end, 12, 4, static_cast<uint32_t>(cd.size()));
    Put(end, 16, 4, static_cast<uint32_t>(zip.bytes.size()));
    zip.end = zip.bytes.size() + cd.size();
    zip.bytes += cd + end;
    return zip;
}

const std::string kXml =
    "<RegisterDescription ModelName=\"Z\"><Integer Name=\"W\"/></RegisterDescription>";

std::string WithXml(std::string text) {
    for (auto at = text.find("$XML"); at != std::string::npos; at = text.find("$XML"))
        text.replace(at, 4, kXml);
    return text;
}

class ZipReader : public testing::TestWithParam<qrvtest::SRow> {};

TEST_P(ZipReader, UnpacksOrRefuses) {
    const qrvtest::SRow& c = GetParam();
    std::vector<SZipFile> files;
    std::istringstream list(c["files"]);
    for (std::string file; std::getline(list, file, ';');) {
        const bool stored = file.rfind("stored ", 0) == 0;
        if (stored) file = file.substr(7);
        const auto eq = file.find('=');
        files.push_back({file.substr(0, eq), WithXml(file.substr(eq + 1)), !stored});
    }
    SZip zip = BuildZip(files);
    std::istringstream damage(c["damage"]);
    for (std::string patch; damage >> patch;) {
        if (patch[0] == '+') {
            zip.bytes.append(std::stoul(patch.substr(1)), 'c');
            continue;
        }
        const std::size_t base = patch[0] == 'L'   ? zip.local
                                 : patch[0] == 'C' ? zip.central
                                                   : zip.end;
        const auto slash = patch.find('/'), eq = patch.find('=');
        Put(zip.bytes, base + std::stoul(patch.substr(1, slash - 1)),
            std::stoi(patch.substr(slash + 1, eq - slash - 1)),
            static_cast<uint32_t>(std::stoul(patch.substr(eq + 1), nullptr, 0)));
    }
    SDescriptionLimits limits;
    limits.maxXmlBytes = c["maxXmlBytes"].empty() ? 1 << 20 : std::stoul(c["maxXmlBytes"]);
    std::string result;
    try {
        result = GenApi::UnpackDescription(zip.bytes.data(), zip.bytes.size(), limits);
    } catch (const GenICam::RuntimeException& e) {
        result = "!" + std::string(e.GetDescription());
    }
    qrvtest::ExpectResult(result, WithXml(c["expected"]));
}

INSTANTIATE_TEST_SUITE_P(Cases, ZipReader,
                         testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/zip.tsv")),
                         [](const auto& row) { return row.param["name"]; });

TEST(ZipReader, EveryTruncationIsRefusedCleanly) {
    const std::string zip = BuildZip({{"a.txt", "x"}, {"d.xml", kXml}}).bytes;
    for (std::size_t size = 4; size < zip.size(); ++size) {
        EXPECT_THROW(GenApi::UnpackDescription(zip.data(), size), GenICam::RuntimeException)
            << size;
    }
}

TEST(Description, PlainXmlPassesThroughUnderItsCap) {
    EXPECT_EQ(GenApi::UnpackDescription(kXml.data(), kXml.size()), kXml);
    SDescriptionLimits limits;
    limits.maxXmlBytes = kXml.size() - 1;
    EXPECT_THROW(GenApi::UnpackDescription(kXml.data(), kXml.size(), limits),
                 GenICam::RuntimeException);
}

// ---- files -----------------------------------------------------------------

class DescriptionFile : public testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("qrv_engine_reader_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Write(const std::string& name, const std::string& content) {
        const std::filesystem::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    static std::string Refusal(const std::string& path, const SDescriptionLimits& limits = {}) {
        try {
            GenApi::ReadDescriptionFile(path, limits);
        } catch (const GenICam::RuntimeException& e) {
            return e.GetDescription();
        }
        return "accepted";
    }
    std::filesystem::path m_dir;
};

TEST_F(DescriptionFile, ReadsPlainAndZippedAndRefusesOverCap) {
    EXPECT_EQ(GenApi::ReadDescriptionFile(Write("d.xml", kXml)), kXml);
    EXPECT_EQ(GenApi::ReadDescriptionFile(Write("d.zip", BuildZip({{"d.xml", kXml}}).bytes)), kXml);
    SDescriptionLimits limits;
    limits.maxXmlBytes = limits.maxZipBytes = kXml.size() - 1;
    const std::string path = Write("big.xml", kXml);
    EXPECT_NE(Refusal(path, limits)
                  .find("'" + path + "': " + std::to_string(kXml.size()) + " bytes, more than"),
              std::string::npos);
    const std::string damaged = Write("bad.zip", "PK\3\4 not really");
    EXPECT_NE(Refusal(damaged).find("'" + damaged + "': description zip:"), std::string::npos);
}

TEST_F(DescriptionFile, RefusesWhatIsNotARegularFile) {
    EXPECT_NE(Refusal(m_dir.string()).find("not a regular file"), std::string::npos);
    const std::string missing = (m_dir / "missing.xml").string();
    EXPECT_NE(Refusal(missing).find("'" + missing + "'"), std::string::npos);
#if defined(_WIN32)
    GTEST_SKIP() << "FIFOs and /dev/zero are POSIX";
#else
    EXPECT_NE(Refusal("/dev/zero").find("not a regular file"), std::string::npos);
    const std::string fifo = (m_dir / "fifo.xml").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Should the open wait for a writer, a writer arrives after a while and the
    // flag tells that the refusal did not come first.
    std::atomic<bool> unblocked{false};
    std::atomic<bool> stop{false};
    std::thread unblocker([&] {
        for (int i = 0; i < 100 && !stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (stop) return;
        unblocked = true;
        const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    const std::string refusal = Refusal(fifo);
    stop = true;
    unblocker.join();
    EXPECT_NE(refusal.find("not a regular file"), std::string::npos) << refusal;
    EXPECT_FALSE(unblocked) << "opening the FIFO waited for a writer";
#endif
}

}  // namespace
