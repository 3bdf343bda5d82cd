// The reader works on the whole document in memory: one pass, no recursion (open
// elements live on an explicit stack bounded by maxDepth), text copied in spans
// between the few bytes that need decoding rather than byte by byte. Line numbers
// are counted lazily: element starts only move forward, so a cursor that counts
// newlines up to the next start does the whole document once; an error recounts
// from the beginning.
#include "XmlReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>

#include "GCBase.h"

namespace GenApi::engine {

const std::string* SXmlElement::Attribute(std::string_view attributeName) const {
    for (const auto& attribute : attributes) {
        if (attribute.first == attributeName) return &attribute.second;
    }
    return nullptr;
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::string_view LocalName(std::string_view qualified) {
    const std::size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool IsNamespaceDeclaration(std::string_view qualified) {
    return qualified == "xmlns" || qualified.substr(0, 6) == "xmlns:";
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

/// Length of the well-formed UTF-8 sequence at p (1 to 4), 0 when it is malformed,
/// overlong, a surrogate or beyond U+10FFFF.
std::size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    std::size_t length;
    uint32_t cp;
    if (c < 0xC2) return 0;  // continuation byte or overlong two-byte lead
    if (c < 0xE0) {
        length = 2;
        cp = c & 0x1F;
    } else if (c < 0xF0) {
        length = 3;
        cp = c & 0x0F;
    } else if (c < 0xF5) {
        length = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return length;
}

struct SOpenElement {
    SXmlElement element;
    std::string_view qualifiedName;  // as written, for matching the end tag
};

class CXmlParser {
public:
    CXmlParser(std::string_view text, const SDescriptionLimits& limits) : m_text(text), m_limits(limits) {}

    SXmlElement Parse();

private:
    [[noreturn]] void Fail(std::size_t pos, const std::string& reason) const;
    void Where(std::size_t pos, unsigned& line, unsigned& column);

    bool StartsWith(std::string_view what) const { return m_text.compare(m_pos, what.size(), what) == 0; }
    bool AtEnd() const { return m_pos >= m_text.size(); }
    void SkipSpaces() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
    }
    /// Position just past terminator, searched from m_pos; fails naming what was left open.
    std::size_t Find(std::string_view terminator, std::size_t openedAt, const char* construct) const;

    void CheckEncoding() const;
    void SkipXmlDeclaration();
    void SkipProcessingInstruction();
    void SkipComment();
    void SkipDoctype();
    std::string_view ReadName(const char* what);
    /// Decodes raw (which starts at rawPos in the document) into out: references,
    /// line ends and, for attribute values, whitespace normalised to spaces.
    void Decode(std::string_view raw, std::size_t rawPos, bool attribute, std::string& out) const;
    void ReadReference(std::string_view raw, std::size_t& i, std::size_t rawPos, std::string& out) const;

    void ReadStartTag(std::vector<SOpenElement>& stack, bool& done);
    void ReadEndTag(std::vector<SOpenElement>& stack, bool& done);
    void AppendText(SXmlElement& element, std::size_t from, std::size_t to, bool raw);
    void CloseElement(std::vector<SOpenElement>& stack, bool& done);

    std::string_view m_text;
    const SDescriptionLimits& m_limits;
    std::size_t m_pos = 0;
    std::size_t m_elements = 0;
    SXmlElement m_root;
    std::vector<std::string_view> m_attributeNames;
    std::unordered_set<std::string_view> m_seenAttributes;
    // Lazy line counting for element positions.
    std::size_t m_countedTo = 0;
    std::size_t m_lineStart = 0;
    unsigned m_line = 1;
};

void CXmlParser::Fail(std::size_t pos, const std::string& reason) const {
    pos = std::min(pos, m_text.size());
    unsigned line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < pos; ++i) {
        if (m_text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    const std::string message = "xml line " + std::to_string(line) + ", column " +
                                std::to_string(pos - lineStart + 1) + ": " + reason;
    GENICAM_THROW(RuntimeException, message.c_str());
}

void CXmlParser::Where(std::size_t pos, unsigned& line, unsigned& column) {
    const char* base = m_text.data();
    while (m_countedTo < pos) {
        const void* nl = std::memchr(base + m_countedTo, '\n', pos - m_countedTo);
        if (!nl) {
            m_countedTo = pos;
            break;
        }
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
        ++m_line;
        m_lineStart = at + 1;
        m_countedTo = at + 1;
    }
    line = m_line;
    column = static_cast<unsigned>(pos - m_lineStart + 1);
}

std::size_t CXmlParser::Find(std::string_view terminator, std::size_t openedAt, const char* construct) const {
    const std::size_t at = m_text.find(terminator, m_pos);
    if (at == std::string_view::npos) Fail(openedAt, std::string("unterminated ") + construct);
    return at + terminator.size();
}

void CXmlParser::CheckEncoding() const {
    const auto* p = reinterpret_cast<const unsigned char*>(m_text.data());
    const auto* end = p + m_text.size();
    while (p < end) {
        // Most of a description is ASCII: skip it eight bytes at a time.
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            // Any byte with its top bit set, or below 0x20 (a line end, a tab or a control).
            constexpr uint64_t kOnes = 0x0101010101010101ULL;
            constexpr uint64_t kHighs = 0x8080808080808080ULL;
            if ((word | ((word - kOnes * 0x20) & ~word)) & kHighs) break;
            p += 8;
        }
        if (p >= end) break;
        const unsigned char c = *p;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                Fail(static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(m_text.data())),
                     "control character " + std::to_string(c) + " is not allowed in XML");
            }
            ++p;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(p, end);
        if (length == 0) {
            Fail(static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(m_text.data())),
                 "malformed UTF-8");
        }
        p += length;
    }
}

void CXmlParser::SkipXmlDeclaration() {
    const std::size_t start = m_pos;
    const std::size_t end = Find("?>", start, "XML declaration");
    const std::string_view declaration = m_text.substr(start, end - start);
    const std::size_t enc = declaration.find("encoding");
    if (enc != std::string_view::npos) {
        std::size_t i = enc + 8;
        while (i < declaration.size() && (IsSpace(declaration[i]) || declaration[i] == '=')) ++i;
        if (i < declaration.size() && (declaration[i] == '"' || declaration[i] == '\'')) {
            const std::size_t close = declaration.find(declaration[i], i + 1);
            std::string name(declaration.substr(i + 1, close == std::string_view::npos ? 0 : close - i - 1));
            std::transform(name.begin(), name.end(), name.begin(),
                           [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
            if (name.find("UTF-16") == 0 || name.find("UTF16") == 0 || name.find("UCS") == 0 ||
                name.find("UTF-32") == 0) {
                Fail(start + i + 1, "encoding " + name + " is not supported; descriptions are read as UTF-8");
            }
        }
    }
    m_pos = end;
}

void CXmlParser::SkipProcessingInstruction() {
    const std::size_t start = m_pos;
    m_pos += 2;
    const std::size_t nameAt = m_pos;
    const std::string_view target = ReadName("processing instruction target");
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l') {
        Fail(nameAt, "XML declaration allowed only at the start of the document");
    }
    m_pos = Find("?>", start, "processing instruction");
}

void CXmlParser::SkipComment() {
    const std::size_t start = m_pos;
    m_pos += 4;
    m_pos = Find("-->", start, "comment");
}

void CXmlParser::SkipDoctype() {
    // Declarations are skipped, never expanded: quoted literals, comments and
    // processing instructions may hold ']' or '>' and are stepped over whole.
    const std::size_t start = m_pos;
    m_pos += 9;
    bool inSubset = false;
    while (m_pos < m_text.size()) {
        const char c = m_text[m_pos];
        if (c == '"' || c == '\'') {
            const std::size_t close = m_text.find(c, m_pos + 1);
            if (close == std::string_view::npos) Fail(m_pos, "unterminated literal in DOCTYPE");
            m_pos = close + 1;
        } else if (inSubset && StartsWith("<!--")) {
            SkipComment();
        } else if (inSubset && StartsWith("<?")) {
            const std::size_t piStart = m_pos;
            m_pos = Find("?>", piStart, "processing instruction");
        } else if (c == '[') {
            if (inSubset) Fail(m_pos, "'[' inside the DOCTYPE internal subset");
            inSubset = true;
            ++m_pos;
        } else if (c == ']' && inSubset) {
            inSubset = false;
            ++m_pos;
        } else if (c == '>' && !inSubset) {
            ++m_pos;
            return;
        } else {
            ++m_pos;
        }
    }
    Fail(start, "unterminated DOCTYPE");
}

std::string_view CXmlParser::ReadName(const char* what) {
    const std::size_t start = m_pos;
    if (AtEnd() || !IsNameStart(static_cast<unsigned char>(m_text[m_pos]))) {
        Fail(m_pos, std::string("expected ") + what);
    }
    while (m_pos < m_text.size() && IsNameChar(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
    const std::string_view name = m_text.substr(start, m_pos - start);
    if (LocalName(name).empty() || name.front() == ':') Fail(start, std::string("malformed ") + what);
    return name;
}

void CXmlParser::ReadReference(std::string_view raw, std::size_t& i, std::size_t rawPos, std::string& out) const {
    // raw[i] == '&'
    const std::size_t at = rawPos + i;
    // The longest valid reference ("&#x0010FFFF;" and the like) fits in 16 bytes.
    const std::size_t semicolon = raw.substr(0, i + 17).find(';', i + 1);
    if (semicolon == std::string_view::npos) Fail(at, "'&' without a reference; write &amp;");
    const std::string_view body = raw.substr(i + 1, semicolon - i - 1);
    i = semicolon + 1;
    if (!body.empty() && body[0] == '#') {
        const bool hex = body.size() > 1 && body[1] == 'x';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) Fail(at, "empty character reference");
        uint32_t cp = 0;
        for (const char c : digits) {
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (hex && c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (hex && c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                Fail(at, "bad digit in character reference &" + std::string(body) + ";");
            }
            cp = cp * (hex ? 16 : 10) + digit;
            if (cp > 0x10FFFF) Fail(at, "character reference &" + std::string(body) + "; is beyond U+10FFFF");
        }
        if (cp == 0) Fail(at, "character reference to U+0000");
        if (cp >= 0xD800 && cp <= 0xDFFF) Fail(at, "character reference to a surrogate");
        AppendUtf8(out, cp);
        return;
    }
    if (body == "lt") {
        out += '<';
    } else if (body == "gt") {
        out += '>';
    } else if (body == "amp") {
        out += '&';
    } else if (body == "quot") {
        out += '"';
    } else if (body == "apos") {
        out += '\'';
    } else {
        Fail(at, "undefined entity &" + std::string(body) + ";");
    }
}

void CXmlParser::Decode(std::string_view raw, std::size_t rawPos, bool attribute, std::string& out) const {
    std::size_t i = 0;
    while (i < raw.size()) {
        std::size_t j = i;
        while (j < raw.size()) {
            const char c = raw[j];
            if (c == '&' || c == '\r' || (attribute && (c == '\n' || c == '\t'))) break;
            ++j;
        }
        out.append(raw.data() + i, j - i);
        if (j == raw.size()) break;
        const char c = raw[j];
        if (c == '&') {
            i = j;
            ReadReference(raw, i, rawPos, out);
        } else if (c == '\r') {
            out += attribute ? ' ' : '\n';
            i = j + 1;
            if (i < raw.size() && raw[i] == '\n') ++i;
        } else {
            out += ' ';
            i = j + 1;
        }
    }
}

void CXmlParser::AppendText(SXmlElement& element, std::size_t from, std::size_t to, bool raw) {
    const std::string_view span = m_text.substr(from, to - from);
    if (raw) {
        // CDATA: only line ends are normalised.
        for (std::size_t i = 0; i < span.size();) {
            const std::size_t cr = span.find('\r', i);
            if (cr == std::string_view::npos) {
                element.text.append(span.data() + i, span.size() - i);
                break;
            }
            element.text.append(span.data() + i, cr - i);
            element.text += '\n';
            i = cr + 1;
            if (i < span.size() && span[i] == '\n') ++i;
        }
    } else {
        Decode(span, from, false, element.text);
    }
    if (element.text.size() > m_limits.maxTextBytes) {
        Fail(from, "element text exceeds maxTextBytes (" + std::to_string(m_limits.maxTextBytes) + ")");
    }
}

void CXmlParser::ReadStartTag(std::vector<SOpenElement>& stack, bool& done) {
    const std::size_t start = m_pos;
    if (stack.empty() && m_elements > 0) Fail(start, "a second root element");
    if (++m_elements > m_limits.maxNodes) {
        Fail(start, "more than maxNodes (" + std::to_string(m_limits.maxNodes) + ") elements");
    }
    if (stack.size() >= m_limits.maxDepth) {
        Fail(start, "elements nested deeper than maxDepth (" + std::to_string(m_limits.maxDepth) + ")");
    }
    ++m_pos;
    SOpenElement open;
    open.qualifiedName = ReadName("element name");
    open.element.name = std::string(LocalName(open.qualifiedName));
    Where(start, open.element.line, open.element.column);

    // Qualified names seen so far: a short list is searched, a long one hashed.
    std::vector<std::string_view>& names = m_attributeNames;
    names.clear();
    if (!m_seenAttributes.empty()) m_seenAttributes.clear();
    for (;;) {
        const std::size_t beforeSpace = m_pos;
        SkipSpaces();
        if (AtEnd()) Fail(start, "unterminated start tag <" + std::string(open.qualifiedName) + ">");
        const char c = m_text[m_pos];
        if (c == '>' || c == '/') break;
        if (m_pos == beforeSpace) Fail(m_pos, "expected whitespace before an attribute");
        const std::size_t nameAt = m_pos;
        const std::string_view name = ReadName("attribute name");
        SkipSpaces();
        if (AtEnd() || m_text[m_pos] != '=') Fail(m_pos, "expected '=' after attribute " + std::string(name));
        ++m_pos;
        SkipSpaces();
        if (AtEnd() || (m_text[m_pos] != '"' && m_text[m_pos] != '\'')) {
            Fail(m_pos, "attribute value of " + std::string(name) + " must be quoted");
        }
        const char quote = m_text[m_pos];
        const std::size_t valueAt = m_pos + 1;
        const std::size_t close = m_text.find(quote, valueAt);
        if (close == std::string_view::npos) Fail(m_pos, "unterminated attribute value");
        const std::string_view raw = m_text.substr(valueAt, close - valueAt);
        const std::size_t lt = raw.find('<');
        if (lt != std::string_view::npos) Fail(valueAt + lt, "'<' in an attribute value");
        m_pos = close + 1;

        const bool duplicate = names.size() < 8
                                   ? std::find(names.begin(), names.end(), name) != names.end()
                                   : !m_seenAttributes.insert(name).second;
        if (duplicate) Fail(nameAt, "duplicate attribute " + std::string(name));
        names.push_back(name);
        if (names.size() == 8) m_seenAttributes.insert(names.begin(), names.end());

        if (IsNamespaceDeclaration(name)) continue;
        std::string value;
        value.reserve(raw.size());
        Decode(raw, valueAt, true, value);
        if (value.size() > m_limits.maxAttributeBytes) {
            Fail(valueAt, "attribute " + std::string(name) + " exceeds maxAttributeBytes (" +
                              std::to_string(m_limits.maxAttributeBytes) + ")");
        }
        open.element.attributes.emplace_back(std::string(LocalName(name)), std::move(value));
    }
    if (m_text[m_pos] == '/') {
        if (m_pos + 1 >= m_text.size() || m_text[m_pos + 1] != '>') Fail(m_pos, "expected '>' after '/'");
        m_pos += 2;
        stack.push_back(std::move(open));
        CloseElement(stack, done);
        return;
    }
    ++m_pos;
    stack.push_back(std::move(open));
}

void CXmlParser::CloseElement(std::vector<SOpenElement>& stack, bool& done) {
    SXmlElement element = std::move(stack.back().element);
    stack.pop_back();
    if (stack.empty()) {
        m_root = std::move(element);
        done = true;
    } else {
        stack.back().element.children.push_back(std::move(element));
    }
}

void CXmlParser::ReadEndTag(std::vector<SOpenElement>& stack, bool& done) {
    const std::size_t start = m_pos;
    m_pos += 2;
    const std::string_view name = ReadName("element name in end tag");
    SkipSpaces();
    if (AtEnd() || m_text[m_pos] != '>') Fail(start, "unterminated end tag </" + std::string(name) + ">");
    ++m_pos;
    if (stack.empty()) Fail(start, "end tag </" + std::string(name) + "> without a start tag");
    const SOpenElement& open = stack.back();
    if (name != open.qualifiedName) {
        Fail(start, "end tag </" + std::string(name) + "> does not match <" + std::string(open.qualifiedName) +
                        "> of line " + std::to_string(open.element.line));
    }
    CloseElement(stack, done);
}

SXmlElement CXmlParser::Parse() {
    if (m_text.size() > m_limits.maxXmlBytes) {
        Fail(0, "document of " + std::to_string(m_text.size()) + " bytes exceeds maxXmlBytes (" +
                    std::to_string(m_limits.maxXmlBytes) + ")");
    }
    CheckEncoding();
    if (StartsWith("<?xml") && m_text.size() > 5 && IsSpace(m_text[5])) SkipXmlDeclaration();

    std::vector<SOpenElement> stack;
    stack.reserve(std::min<std::size_t>(m_limits.maxDepth, 64));
    bool done = false;     // the root element has been closed
    bool doctype = false;  // one DOCTYPE, before the root
    while (m_pos < m_text.size()) {
        if (stack.empty()) {
            SkipSpaces();
            if (AtEnd()) break;
            if (m_text[m_pos] != '<') {
                Fail(m_pos, done ? "text after the root element" : "text before the root element");
            }
        } else {
            // Character data up to the next markup.
            const std::size_t lt = m_text.find('<', m_pos);
            const std::size_t to = lt == std::string_view::npos ? m_text.size() : lt;
            if (to > m_pos) AppendText(stack.back().element, m_pos, to, false);
            m_pos = to;
            if (AtEnd()) break;
        }

        // m_text[m_pos] is '<'; the byte after it tells the construct.
        const char next = m_pos + 1 < m_text.size() ? m_text[m_pos + 1] : '\0';
        if (next == '/') {
            ReadEndTag(stack, done);
        } else if (next == '?') {
            SkipProcessingInstruction();
        } else if (next != '!') {
            if (done) Fail(m_pos, "a second root element");
            ReadStartTag(stack, done);
        } else if (StartsWith("<!--")) {
            SkipComment();
        } else if (StartsWith("<![CDATA[")) {
            if (stack.empty()) Fail(m_pos, "CDATA outside the root element");
            const std::size_t start = m_pos;
            m_pos += 9;
            const std::size_t end = Find("]]>", start, "CDATA section");
            AppendText(stack.back().element, start + 9, end - 3, true);
            m_pos = end;
        } else if (StartsWith("<!DOCTYPE")) {
            if (doctype || done || m_elements > 0) Fail(m_pos, "DOCTYPE allowed only once, before the root element");
            doctype = true;
            SkipDoctype();
        } else {
            Fail(m_pos, "unknown markup declaration");
        }
    }
    if (!stack.empty()) {
        const SXmlElement& open = stack.back().element;
        Fail(m_text.size(), "element <" + std::string(stack.back().qualifiedName) + "> of line " +
                                std::to_string(open.line) + " is not closed");
    }
    if (!done) Fail(m_text.size(), "no root element");
    return std::move(m_root);
}

/// "UTF-16" or "UTF-32" when the first bytes are a byte order mark or a '<' of
/// that form; null for anything else.
const char* WideEncoding(std::string_view text) {
    const auto at = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0x100u; };
    if ((at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) ||
        (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) ||
        (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) == '<') ||
        (at(0) == '<' && at(1) == 0 && at(2) == 0 && at(3) == 0)) {
        return "UTF-32";
    }
    if ((at(0) == 0xFE && at(1) == 0xFF) || (at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0 && at(1) == '<') ||
        (at(0) == '<' && at(1) == 0)) {
        return "UTF-16";
    }
    return nullptr;
}

}  // namespace

SXmlElement ParseXml(std::string_view text, const SDescriptionLimits& limits) {
    if (const char* encoding = WideEncoding(text)) {
        const std::string message =
            std::string("xml line 1, column 1: ") + encoding + " is not supported; descriptions are read as UTF-8";
        GENICAM_THROW(RuntimeException, message.c_str());
    }
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
    CXmlParser parser(text, limits);
    return parser.Parse();
}

}  // namespace GenApi::engine
