// Reading a description of about 1 MB (written here: categories, registers,
// enumerations, formulas and prose, as cameras ship them): our XML reader against
// a libxml2 DOM parse of the same bytes and against Aravis's whole description
// load (arv_gc_new, libxml2 underneath), and unzipping a deflated copy against
// zlib inflating it alone. Best of several runs; prints figures and ratios, not a test.
#include <arv.h>
#include <libxml/parser.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "EngineNodeMap.h"
#include "XmlReader.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 15;

double BestSeconds(const std::function<void()>& run) {
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        const Clock::time_point start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::string Description(std::size_t targetBytes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<RegisterDescription ModelName=\"BenchCam\" VendorName=\"Qrv\" SchemaMajorVersion=\"1\" "
        "SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\" MinorVersion=\"0\" "
        "SubMinorVersion=\"0\" ToolTip=\"bench\" StandardNameSpace=\"None\" "
        "ProductGuid=\"00000000-0000-0000-0000-000000000001\" VersionGuid=\"00000000-0000-0000-0000-000000000002\" "
        "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
        "  <Category Name=\"Root\" NameSpace=\"Standard\">\n";
    std::string body;
    for (int i = 0; body.size() + xml.size() < targetBytes; ++i) {
        const std::string n = std::to_string(i);
        xml += "    <pFeature>Feature" + n + "</pFeature>\n";
        body += "  <!-- feature " + n + " -->\n"
                "  <Integer Name=\"Feature" + n + "\" NameSpace=\"Custom\">\n"
                "    <ToolTip>Value " + n + " of the bench camera &amp; its &lt;range&gt;</ToolTip>\n"
                "    <Description>A longer description of feature " + n +
                ", written as vendors write them: a sentence or two of prose.</Description>\n"
                "    <Visibility>Expert</Visibility>\n"
                "    <pIsAvailable>Available" + n + "</pIsAvailable>\n"
                "    <pValue>Feature" + n + "Reg</pValue>\n"
                "    <Min>0</Min>\n    <Max>0xFFFF</Max>\n    <Inc>1</Inc>\n"
                "  </Integer>\n"
                "  <IntReg Name=\"Feature" + n + "Reg\">\n"
                "    <Address>0x" + std::to_string(0x1000 + 4 * i) + "</Address>\n"
                "    <Length>4</Length>\n    <AccessMode>RW</AccessMode>\n    <pPort>Device</pPort>\n"
                "    <Cachable>WriteThrough</Cachable>\n    <Sign>Unsigned</Sign>\n"
                "    <Endianess>BigEndian</Endianess>\n"
                "  </IntReg>\n"
                "  <IntSwissKnife Name=\"Available" + n + "\">\n"
                "    <pVariable Name=\"V\">Feature" + n + "Reg</pVariable>\n"
                "    <Formula><![CDATA[(V & 0x1) = 0 && V < 100]]></Formula>\n"
                "  </IntSwissKnife>\n"
                "  <Enumeration Name=\"Mode" + n + "\">\n"
                "    <EnumEntry Name=\"Off\"><Value>0</Value></EnumEntry>\n"
                "    <EnumEntry Name=\"On\"><Value>1</Value></EnumEntry>\n"
                "    <Value>0</Value>\n"
                "  </Enumeration>\n";
    }
    return xml + "  </Category>\n" + body + "  <Port Name=\"Device\"/>\n</RegisterDescription>\n";
}

std::string Zip(const std::string& xml) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string data(deflateBound(&z, static_cast<uLong>(xml.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(xml.data()));
    z.avail_in = static_cast<uInt>(xml.size());
    z.next_out = reinterpret_cast<Bytef*>(&data[0]);
    z.avail_out = static_cast<uInt>(data.size());
    deflate(&z, Z_FINISH);
    data.resize(z.total_out);
    deflateEnd(&z);
    auto put = [](std::string& s, std::size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    const std::string name = "bench.xml";
    const auto crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(xml.data()),
                                                 static_cast<uInt>(xml.size())));
    std::string local(30, '\0'), central(46, '\0'), end(22, '\0');
    put(local, 0, 0x04034b50, 4);
    put(local, 8, 8, 2);
    put(local, 14, crc, 4);
    put(local, 18, static_cast<uint32_t>(data.size()), 4);
    put(local, 22, static_cast<uint32_t>(xml.size()), 4);
    put(local, 26, static_cast<uint32_t>(name.size()), 2);
    put(central, 0, 0x02014b50, 4);
    central.replace(10, 20, local, 8, 20);
    const std::string head = local + name + data;
    put(end, 0, 0x06054b50, 4);
    put(end, 8, 1, 2);
    put(end, 10, 1, 2);
    put(end, 12, static_cast<uint32_t>(central.size() + name.size()), 4);
    put(end, 16, static_cast<uint32_t>(head.size()), 4);
    return head + central + name + end;
}

}  // namespace

int main() {
    const std::string xml = Description(std::size_t{1} << 20);
    std::printf("description: %zu bytes\n", xml.size());

    std::size_t elements = 0;
    const double ours = BestSeconds([&] {
        const GenApi::engine::SXmlElement root = GenApi::engine::ParseXml(xml, {});
        elements = root.children.size();
    });
    const double libxml = BestSeconds([&] {
        xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "bench.xml", nullptr, XML_PARSE_NONET);
        if (!doc) std::abort();
        xmlFreeDoc(doc);
    });
    const double aravis = BestSeconds([&] {
        ArvGc* gc = arv_gc_new(nullptr, xml.data(), xml.size());
        if (!gc) std::abort();
        g_object_unref(gc);
    });
    std::printf("ParseXml             %8.2f ms (%zu top-level elements)\n", ours * 1e3, elements);
    std::printf("libxml2 xmlReadMemory %7.2f ms   ParseXml/libxml2 = %.2f\n", libxml * 1e3, ours / libxml);
    std::printf("Aravis arv_gc_new    %8.2f ms   ParseXml/Aravis  = %.2f\n", aravis * 1e3, ours / aravis);

    const std::string zip = Zip(xml);
    const double unpack = BestSeconds([&] {
        if (GenApi::UnpackDescription(zip.data(), zip.size()).size() != xml.size()) std::abort();
    });
    const double inflateOnly = BestSeconds([&] {
        std::string out(xml.size(), '\0');
        uLongf length = static_cast<uLongf>(out.size());
        z_stream z{};
        inflateInit2(&z, -MAX_WBITS);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + 30 + 9));
        z.avail_in = static_cast<uInt>(zip.size());
        z.next_out = reinterpret_cast<Bytef*>(&out[0]);
        z.avail_out = static_cast<uInt>(length);
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
    });
    std::printf("UnpackDescription    %8.2f ms (%zu zipped bytes)   /bare inflate = %.2f\n", unpack * 1e3, zip.size(),
                unpack / inflateOnly);
    return 0;
}
