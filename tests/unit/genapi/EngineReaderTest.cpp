// The description reader: XML documents, zip archives built here with zlib and
// damaged field by field, and files that are not regular files.
#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "EngineNodeMap.h"
#include "XmlReader.h"

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

SDescriptionLimits Small() {
    SDescriptionLimits limits;
    limits.maxXmlBytes = 4096;
    limits.maxDepth = 4;
    limits.maxNodes = 5;
    limits.maxAttributeBytes = 8;
    limits.maxTextBytes = 8;
    return limits;
}

std::string Nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return open + close;
}

struct SXmlCase {
    const char* name;
    std::string input;
    /// Dump of the root, or "error: " and a substring of the exception's text.
    std::string expected;
    SDescriptionLimits limits = {};
};

std::vector<SXmlCase> XmlCases() {
    const std::string laughs =
        "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"> <!-- ]> --> <?pi ]>?>]>";
    return {
        {"Minimal", "<a/>", "a@1:1"},
        {"DeclarationBomAndPrefixes",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<g:R xmlns:g=\"urn:x\" xmlns=\"urn:y\" g:v='1'>"
         "<g:C/></g:R>",
         "R@2:1[v=1]{C@2:44}"},
        {"QuotesAndEntities", "<a x=\"'&lt;&gt;&amp;&quot;&apos;\" y='\"'/>", "a@1:1[x='<>&\"',y=\"]"},
        {"CharRefUpperCaseXRefused", "<a>&#65;&#x42;&#X43;&#xe9;&#x20AC;&#x1F600;</a>",
         "error: bad digit in character reference &#X43;"},
        {"CharacterReferencesToUtf8", "<a>&#65;&#x42;&#xe9;&#x20AC;&#x1F600;</a>",
         "a@1:1\"AB\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {"TextCdataCommentsAndPis",
         "<a>x<!-- <b> -->y<![CDATA[<&]]>]]><?pi z?>\r\n<b>t</b>z</a><!-- after -->\n<?after?>",
         "a@1:1\"xy<&]]>\\nz\"{b@2:1\"t\"}"},
        {"AttributeWhitespaceNormalised", "<a v=\"1\t2\r\n3\n&#10;\"/>", "a@1:1[v=1 2 3 \n]"},
        {"Utf8TextKept", "<a n=\"\xC3\xA9\">\xE2\x82\xAC</a>", "a@1:1[n=\xC3\xA9]\"\xE2\x82\xAC\""},
        {"BillionLaughsNotExpanded", laughs + "<r>ok</r>", "r@1:138\"ok\""},
        {"EntityFromDoctypeRefused", laughs + "<r>&c;</r>", "error: xml line 1, column 141: undefined entity &c;"},
        {"MismatchedEndTag", "<a>\n <b></a>", "error: xml line 2, column 5: end tag </a> does not match <b> of line 2"},
        {"PrefixMustMatchInEndTag", "<x:a></y:a>", "error: column 6: end tag </y:a> does not match <x:a>"},
        {"DuplicateAttribute", "<a x='1' y='2' x='3'/>", "error: column 16: duplicate attribute x"},
        {"DuplicateAmongMany", "<a a1='' a2='' a3='' a4='' a5='' a6='' a7='' a8='' a9='' a3=''/>",
         "error: column 58: duplicate attribute a3"},
        {"UnquotedAttribute", "<a x=1/>", "error: column 6: attribute value of x must be quoted"},
        {"LessThanInAttribute", "<a x='<'/>", "error: column 7: '<' in an attribute value"},
        {"TextAfterRoot", "<a/>\n junk", "error: xml line 2, column 2: text after the root element"},
        {"SecondRoot", "<a/><b/>", "error: column 5: a second root element"},
        {"NoRoot", "<!-- only -->", "error: no root element"},
        {"Empty", "", "error: xml line 1, column 1: no root element"},
        {"UnterminatedComment", "<a><!-- never", "error: column 4: unterminated comment"},
        {"UnterminatedCdata", "<a><![CDATA[ never ]]", "error: column 4: unterminated CDATA section"},
        {"UnterminatedStartTag", "<a x='1'", "error: unterminated start tag <a>"},
        {"UnterminatedAttribute", "<a x='1>", "error: unterminated attribute value"},
        {"UnterminatedDoctype", "<!DOCTYPE a [ <!ENTITY x 'y'>", "error: unterminated DOCTYPE"},
        {"UnclosedElement", "<a><b></b>", "error: element <a> of line 1 is not closed"},
        {"CharRefZero", "<a>&#0;</a>", "error: column 4: character reference to U+0000"},
        {"CharRefSurrogate", "<a>&#xD800;</a>", "error: character reference to a surrogate"},
        {"CharRefTooLarge", "<a>&#x110000;</a>", "error: beyond U+10FFFF"},
        {"CharRefHugeDecimal", "<a>&#99999999999999;</a>", "error: beyond U+10FFFF"},
        {"CharRefEmpty", "<a>&#x;</a>", "error: empty character reference"},
        {"BareAmpersand", "<a>fish & chips</a>", "error: column 9: '&' without a reference"},
        {"Utf16WithBom", std::string("\xFF\xFE<\0a\0/\0>\0", 10), "error: UTF-16 is not supported"},
        {"Utf16WithoutBom", std::string("\0<\0a\0/\0>", 8), "error: UTF-16 is not supported"},
        {"Utf32WithBom", std::string("\0\0\xFE\xFF\0\0\0<", 8), "error: UTF-32 is not supported"},
        {"Utf16Declared", "<?xml version='1.0' encoding='UTF-16'?><a/>", "error: encoding UTF-16 is not supported"},
        {"MalformedUtf8", "<a>\xC3\x28</a>", "error: column 4: malformed UTF-8"},
        {"OverlongUtf8", "<a>\xC0\xBC</a>", "error: malformed UTF-8"},
        {"ControlCharacter", std::string("<a>\0</a>", 8), "error: control character 0"},
        {"LateDeclaration", "<a><?xml version='1.0'?></a>", "error: XML declaration allowed only at the start"},
        {"DoctypeAfterRoot", "<a/><!DOCTYPE a>", "error: DOCTYPE allowed only once"},
        {"DepthAtCap", Nested(4), "n@1:1{n@1:4{n@1:7{n@1:10}}}", Small()},
        {"DepthOverCap", Nested(5), "error: column 13: elements nested deeper than maxDepth (4)", Small()},
        {"DeepNestingDefaultCap", Nested(100000), "error: nested deeper than maxDepth (64)"},
        {"ElementsOverCap", "<a><b/><b/><b/><b/><b/></a>", "error: column 20: more than maxNodes (5)", Small()},
        {"AttributeAtCap", "<a v='&lt;234567&#56;'/>", "a@1:1[v=<2345678]", Small()},
        {"AttributeOverCap", "<a v='123456789'/>", "error: attribute v exceeds maxAttributeBytes (8)", Small()},
        {"HugeAttribute", "<a v='" + std::string(100000, 'x') + "'/>", "error: exceeds maxAttributeBytes (65536)"},
        {"TextOverCapAcrossChildren", "<a>12345<b/>6789</a>", "error: element text exceeds maxTextBytes (8)", Small()},
        {"CdataOverCap", "<a><![CDATA[123456789]]></a>", "error: exceeds maxTextBytes", Small()},
        {"DocumentOverCap", "<a>" + std::string(5000, ' ') + "</a>", "error: exceeds maxXmlBytes (4096)", Small()},
    };
}

void PrintTo(const SXmlCase& c, std::ostream* os) {
    *os << c.name;
}

class XmlReader : public testing::TestWithParam<SXmlCase> {};

TEST_P(XmlReader, ParsesOrRefusesWithPosition) {
    const SXmlCase& c = GetParam();
    const std::string errorPrefix = "error: ";
    try {
        const SXmlElement root = ParseXml(c.input, c.limits);
        EXPECT_EQ(Dump(root), c.expected);
    } catch (const GenICam::RuntimeException& e) {
        const std::string message = e.GetDescription();
        ASSERT_EQ(c.expected.rfind(errorPrefix, 0), 0u) << "refused: " << message;
        EXPECT_EQ(message.rfind("xml line ", 0), 0u) << message;
        EXPECT_NE(message.find(c.expected.substr(errorPrefix.size())), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, XmlReader, testing::ValuesIn(XmlCases()),
                         [](const testing::TestParamInfo<SXmlCase>& row) { return std::string(row.param.name); });

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

/// Where the fields of a built archive are, for the damaging cases.
struct SZipLayout {
    std::vector<std::size_t> local;    // local header of each file
    std::vector<std::size_t> central;  // central directory entry of each file
    std::size_t eocd = 0;
};

void Put16(std::string& s, std::size_t at, uint32_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, std::size_t at, uint32_t v) {
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}
uint32_t Get32(const std::string& s, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

std::string RawDeflate(const std::string& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string BuildZip(const std::vector<SZipFile>& files, SZipLayout& layout) {
    std::string zip, cd;
    for (const SZipFile& f : files) {
        const std::string data = f.deflate ? RawDeflate(f.content) : f.content;
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(f.content.data()), static_cast<uInt>(f.content.size())));
        std::string header(30, '\0');
        Put32(header, 0, 0x04034b50);
        Put16(header, 4, 20);
        Put16(header, 8, f.deflate ? 8 : 0);
        Put32(header, 14, crc);
        Put32(header, 18, static_cast<uint32_t>(data.size()));
        Put32(header, 22, static_cast<uint32_t>(f.content.size()));
        Put16(header, 26, static_cast<uint32_t>(f.name.size()));
        std::string entry(46, '\0');
        Put32(entry, 0, 0x02014b50);
        Put16(entry, 4, 20);
        Put16(entry, 6, 20);
        entry.replace(10, 20, header, 8, 20);  // method, time, date, crc, sizes, name length
        Put32(entry, 42, static_cast<uint32_t>(zip.size()));
        layout.local.push_back(zip.size());
        layout.central.push_back(cd.size());
        zip += header + f.name + data;
        cd += entry + f.name;
    }
    for (std::size_t& at : layout.central) at += zip.size();
    std::string eocd(22, '\0');
    Put32(eocd, 0, 0x06054b50);
    Put16(eocd, 8, static_cast<uint32_t>(files.size()));
    Put16(eocd, 10, static_cast<uint32_t>(files.size()));
    Put32(eocd, 12, static_cast<uint32_t>(cd.size()));
    Put32(eocd, 16, static_cast<uint32_t>(zip.size()));
    layout.eocd = zip.size() + cd.size();
    return zip + cd + eocd;
}

const std::string kXml = "<RegisterDescription ModelName=\"Z\"><Integer Name=\"W\"/></RegisterDescription>";

struct SZipCase {
    const char* name;
    std::vector<SZipFile> files;
    std::function<void(std::string&, const SZipLayout&)> damage;
    /// The XML expected out, or "error: " and a substring of the exception's text.
    std::string expected;
    std::size_t maxXmlBytes = 1 << 20;
};

void None(std::string&, const SZipLayout&) {}

std::vector<SZipCase> ZipCases() {
    const std::string bomb(std::size_t{3} << 20, '\0');
    return {
        {"Deflated", {{"d.xml", kXml}}, None, kXml},
        {"Stored", {{"d.XML", kXml, false}}, None, kXml},
        {"XmlAmongOtherFiles", {{"readme.txt", "hi"}, {"dir/", "", false}, {"d.xml", kXml}}, None, kXml},
        {"WithComment", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             Put16(z, l.eocd + 20, 3);
             z += "abc";
         },
         kXml},
        {"EmptyFile", {{"d.xml", ""}}, None, ""},
        {"TwoXmlFiles", {{"a.xml", kXml}, {"b.xml", kXml}}, None, "error: more than one XML file (a.xml, b.xml)"},
        {"NoXml", {{"a.txt", kXml}}, None, "error: no XML file"},
        {"Truncated", {{"d.xml", kXml}}, [](std::string& z, const SZipLayout&) { z.resize(z.size() - 1); },
         "error: no end of central directory record"},
        {"CentralDirectoryPastEnd", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put32(z, l.eocd + 16, 0x7FFFFFF0); },
         "error: central directory (offset 2147483632"},
        {"CentralDirectorySizeWraps", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put32(z, l.eocd + 12, 0xFFFFFFF0); }, "error: lies outside the archive"},
        {"TooManyEntries", {{"d.xml", kXml}}, [](std::string& z, const SZipLayout& l) {
             Put16(z, l.eocd + 8, 9);
             Put16(z, l.eocd + 10, 9);
         },
         "error: central directory too small"},
        {"CentralNameLengthOverruns", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put16(z, l.central[0] + 28, 0xFFFF); }, "error: overruns the directory"},
        {"LocalHeaderPastEnd", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put32(z, l.central[0] + 42, 0xFFFFFF00); }, "error: local header of d.xml (offset"},
        {"LocalSignatureWrong", {{"a.txt", "x"}, {"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { z[l.local[1]] = 'X'; }, "error: local header of d.xml is damaged"},
        {"LocalExtraLengthOverruns", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put16(z, l.local[0] + 28, 0xFFFF); }, "error: data of d.xml"},
        {"CompressedSizeLargerThanData", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             Put32(z, l.central[0] + 20, 5000);
             Put32(z, l.local[0] + 18, 5000);
         },
         "error: data of d.xml (5000 bytes) overruns"},
        {"LocalDisagreesWithCentral", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put32(z, l.local[0] + 22, 7); }, "error: disagrees with the central"},
        {"UncompressedSizeLies", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             Put32(z, l.central[0] + 24, 10);
             Put32(z, l.local[0] + 22, 10);
         },
         "error: not the 10 it claims"},
        {"StoredSizesDiffer", {{"d.xml", kXml, false}},
         [](std::string& z, const SZipLayout& l) {
             Put32(z, l.central[0] + 24, 10);
             Put32(z, l.local[0] + 22, 10);
         },
         "error: has two sizes"},
        {"CrcWrong", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             Put32(z, l.central[0] + 16, Get32(z, l.central[0] + 16) ^ 1);
             Put32(z, l.local[0] + 14, Get32(z, l.local[0] + 14) ^ 1);
         },
         "error: CRC-32 of d.xml does not match"},
        {"DeflateCorrupt", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { z[l.local[0] + 30 + 5] = '\xFF'; }, "error: d.xml"},
        {"DeflateTruncated", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             const uint32_t shorter = Get32(z, l.central[0] + 20) - 8;
             Put32(z, l.central[0] + 20, shorter);
             Put32(z, l.local[0] + 18, shorter);
         },
         "error: deflate data of d.xml is truncated"},
        {"Encrypted", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             Put16(z, l.central[0] + 8, 1);
             Put16(z, l.local[0] + 6, 1);
         },
         "error: d.xml is encrypted"},
        {"UnknownMethod", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) {
             Put16(z, l.central[0] + 10, 14);
             Put16(z, l.local[0] + 8, 14);
         },
         "error: compression method 14"},
        {"Zip64Sizes", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put32(z, l.central[0] + 24, 0xFFFFFFFF); }, "error: ZIP64"},
        {"Zip64Directory", {{"d.xml", kXml}},
         [](std::string& z, const SZipLayout& l) { Put16(z, l.eocd + 10, 0xFFFF); }, "error: ZIP64 archives"},
        {"MultiDisk", {{"d.xml", kXml}}, [](std::string& z, const SZipLayout& l) { Put16(z, l.eocd + 4, 1); },
         "error: multi-part"},
        {"ClaimedSizeOverCap", {{"d.xml", bomb}}, None, "error: claims 3145728 bytes, more than maxXmlBytes (1048576)"},
        {"BombWithLyingSize", {{"d.xml", bomb}},
         [](std::string& z, const SZipLayout& l) {
             Put32(z, l.central[0] + 24, 100);
             Put32(z, l.local[0] + 22, 100);
         },
         "error: d.xml inflates to more than maxXmlBytes (1048576)"},
        {"AtCapExactly", {{"d.xml", std::string(1000, 'x')}}, None, std::string(1000, 'x'), 1000},
        {"OneOverCap", {{"d.xml", std::string(1001, 'x')}},
         [](std::string& z, const SZipLayout& l) {
             Put32(z, l.central[0] + 24, 999);
             Put32(z, l.local[0] + 22, 999);
         },
         "error: inflates to more than maxXmlBytes (1000)", 1000},
    };
}

void PrintTo(const SZipCase& c, std::ostream* os) {
    *os << c.name;
}

class ZipReader : public testing::TestWithParam<SZipCase> {};

TEST_P(ZipReader, UnpacksOrRefuses) {
    const SZipCase& c = GetParam();
    SZipLayout layout;
    std::string zip = BuildZip(c.files, layout);
    c.damage(zip, layout);
    SDescriptionLimits limits;
    limits.maxXmlBytes = c.maxXmlBytes;
    const std::string errorPrefix = "error: ";
    try {
        const std::string xml = GenApi::UnpackDescription(zip.data(), zip.size(), limits);
        EXPECT_EQ(xml, c.expected);
    } catch (const GenICam::RuntimeException& e) {
        const std::string message = e.GetDescription();
        ASSERT_EQ(c.expected.rfind(errorPrefix, 0), 0u) << "refused: " << message;
        EXPECT_NE(message.find(c.expected.substr(errorPrefix.size())), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ZipReader, testing::ValuesIn(ZipCases()),
                         [](const testing::TestParamInfo<SZipCase>& row) { return std::string(row.param.name); });

TEST(ZipReader, EveryTruncationIsRefusedCleanly) {
    SZipLayout layout;
    const std::string zip = BuildZip({{"a.txt", "x"}, {"d.xml", kXml}}, layout);
    for (std::size_t size = 4; size < zip.size(); ++size) {
        EXPECT_THROW(GenApi::UnpackDescription(zip.data(), size), GenICam::RuntimeException) << size;
    }
}

TEST(Description, PlainXmlPassesThroughUnderItsCap) {
    EXPECT_EQ(GenApi::UnpackDescription(kXml.data(), kXml.size()), kXml);
    SDescriptionLimits limits;
    limits.maxXmlBytes = kXml.size() - 1;
    EXPECT_THROW(GenApi::UnpackDescription(kXml.data(), kXml.size(), limits), GenICam::RuntimeException);
}

// ---- files -----------------------------------------------------------------

class DescriptionFile : public testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("qrv_engine_reader_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
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
    SZipLayout layout;
    EXPECT_EQ(GenApi::ReadDescriptionFile(Write("d.xml", kXml)), kXml);
    EXPECT_EQ(GenApi::ReadDescriptionFile(Write("d.zip", BuildZip({{"d.xml", kXml}}, layout))), kXml);
    SDescriptionLimits limits;
    limits.maxXmlBytes = limits.maxZipBytes = kXml.size() - 1;
    const std::string path = Write("big.xml", kXml);
    EXPECT_NE(Refusal(path, limits).find("'" + path + "': " + std::to_string(kXml.size()) + " bytes, more than"),
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
        for (int i = 0; i < 100 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
