// Register kinds (Register, IntReg, MaskedIntReg and StructEntry, FloatReg,
// StringReg) over their slots, and Port nodes.
#include <cstring>
#include <exception>
#include <string>

#include "EngineNodes.h"
#include "EngineText.h"

namespace GenApi::engine {

namespace {

/// Longest register a description may declare (a pLength beyond it fails).
constexpr int64_t kMaxRegisterLength = int64_t{16} << 20;

uint64_t DecodeRaw(const uint8_t* bytes, int64_t length, bool bigEndian) {
    uint64_t raw = 0;
    for (int64_t i = 0; i < length; ++i) {
        const uint8_t b = bigEndian ? bytes[i] : bytes[length - 1 - i];
        raw = (raw << 8) | b;
    }
    return raw;
}

void EncodeRaw(uint64_t raw, uint8_t* bytes, int64_t length, bool bigEndian) {
    for (int64_t i = 0; i < length; ++i) {
        const uint8_t b = static_cast<uint8_t>(raw >> (8 * i));
        if (bigEndian) {
            bytes[length - 1 - i] = b;
        } else {
            bytes[i] = b;
        }
    }
}

uint64_t LowMask(unsigned width) {
    return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
}

std::string BytesToHex(const uint8_t* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x";
    text.reserve(2 + 2 * length);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// SRegister

bool SRegister::ConstantAddress() const {
    for (const SAddressTerm& term : terms) {
        if (term.node || term.pIndex) return false;
    }
    return !pLength;
}

int64_t SRegister::Address() const {
    uint64_t address = 0;
    for (const SAddressTerm& term : terms) {
        uint64_t part = static_cast<uint64_t>(term.constant);
        if (term.node) part = static_cast<uint64_t>(term.node->Value().AsInt());
        if (term.pIndex) {
            const uint64_t offset =
                static_cast<uint64_t>(term.pOffset ? term.pOffset->Value().AsInt() : term.constant);
            part = static_cast<uint64_t>(term.pIndex->Value().AsInt()) * offset;
        }
        address += part;
    }
    return static_cast<int64_t>(address);
}

int64_t SRegister::Length() const {
    return pLength ? pLength->Value().AsInt() : length;
}

EAccessMode SRegister::Access() const {
    EAccessMode mode = CombineAccess(accessMode, port->Access());
    for (const SAddressTerm& term : terms) {
        for (CEngNode* n : {term.node, term.pIndex, term.pOffset}) {
            if (n && !IsReadable(n->Access())) return NA;
        }
    }
    if (pLength && !IsReadable(pLength->Access())) return NA;
    return mode;
}

void SRegister::Read(CEngNode& owner, uint8_t* out, int64_t len) {
    const int64_t address = Address();
    SRegSlot& s = *slot;
    const std::size_t size = static_cast<std::size_t>(len);
    if (s.cacheable && s.valid && !owner.Map()->ignoreCache && s.address == address &&
        s.bytes.size() == size) {
        std::memcpy(out, s.bytes.data(), size);
        return;
    }
    s.valid = false;
    port->RawRead(out, address, len);
    if (s.cacheable) {
        s.bytes.assign(out, out + size);
        s.address = address;
        s.valid = true;
    }
}

void SRegister::Write(CEngNode& owner, const uint8_t* data, int64_t len) {
    const int64_t address = Address();
    SRegSlot& s = *slot;
    s.valid = false;
    port->RawWrite(data, address, len);
    owner.Map()->InvalidateOverlapping(port, address, len, &s);
    if (s.cacheable && cache == ECache::WriteThrough) {
        s.bytes.assign(data, data + len);
        s.address = address;
        s.valid = true;
    }
}

bool SRegister::CacheValid() const {
    if (!slot->cacheable || !slot->valid) return false;
    for (const SAddressTerm& term : terms) {
        for (CEngNode* n : {term.node, term.pIndex, term.pOffset}) {
            if (n && !n->IsCached()) return false;
        }
    }
    return slot->address == Address();
}

void SRegister::CollectDeps(SEdges& out) const {
    for (const SAddressTerm& term : terms) {
        for (CEngNode* n : {term.node, term.pIndex, term.pOffset}) {
            for (EAspect aspect : {kValue, kWrite}) out.Add(aspect, kValue, n);
            out.Add(kAccess, kAccess, n);
        }
    }
    for (EAspect aspect : {kValue, kWrite, kRange}) out.Add(aspect, kValue, pLength);
    out.Add(kAccess, kAccess, pLength);
    out.Add(kAccess, kAccess, port);
}

namespace {

/// The register's length, checked to lie in [1, max].
int64_t CheckedLength(const CEngNode& owner, const SRegister& reg, int64_t max) {
    const int64_t length = reg.Length();
    if (length < 1 || length > max) {
        owner.Fail("has a register length of " + std::to_string(length) + " bytes");
    }
    return length;
}

void CheckBuffer(const CEngNode& owner, const void* buffer, int64_t given, int64_t length) {
    if (!buffer || given != length) {
        const std::string message = "register '" + owner.Name() + "' has " +
                                    std::to_string(length) + " bytes, not " + std::to_string(given);
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
}

}  // namespace

// IRegister of each register kind: the same four operations over m_reg.
#define QRV_DEFINE_REGISTER_METHODS(Class)                                      \
    void Class::Set(const uint8_t* pBuffer, int64_t Length, bool Verify) {      \
        CQuery query(this);                                                     \
        RequireWritable();                                                      \
        const int64_t length = CheckedLength(*this, m_reg, kMaxRegisterLength); \
        CheckBuffer(*this, pBuffer, Length, length);                            \
        m_reg.Write(*this, pBuffer, length);                                    \
        Written(Verify);                                                        \
    }                                                                           \
    void Class::Get(uint8_t* pBuffer, int64_t Length, bool, bool IgnoreCache) { \
        CQuery query(this, IgnoreCache);                                        \
        RequireReadable();                                                      \
        const int64_t length = CheckedLength(*this, m_reg, kMaxRegisterLength); \
        CheckBuffer(*this, pBuffer, Length, length);                            \
        m_reg.Read(*this, pBuffer, length);                                     \
    }                                                                           \
    int64_t Class::GetLength() {                                                \
        CQuery query(this);                                                     \
        return m_reg.Length();                                                  \
    }                                                                           \
    int64_t Class::GetAddress() {                                               \
        CQuery query(this);                                                     \
        return m_reg.Address();                                                 \
    }

QRV_DEFINE_REGISTER_METHODS(CRegisterNode)
QRV_DEFINE_REGISTER_METHODS(CIntRegNode)
QRV_DEFINE_REGISTER_METHODS(CFloatRegNode)
QRV_DEFINE_REGISTER_METHODS(CStringRegNode)

#undef QRV_DEFINE_REGISTER_METHODS

// ---------------------------------------------------------------------------
// CRegisterNode

gcstring CRegisterNode::ToString(bool, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    const int64_t length = CheckedLength(*this, m_reg, kMaxRegisterLength);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    m_reg.Read(*this, bytes.data(), length);
    return BytesToHex(bytes.data(), bytes.size());
}

void CRegisterNode::FromString(const gcstring& ValueStr, bool Verify) {
    CQuery query(this);
    RequireWritable();
    std::string_view text = Trim(ValueStr.str());
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    const int64_t length = CheckedLength(*this, m_reg, kMaxRegisterLength);
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length), 0);
    bool ok = text.size() % 2 == 0 && static_cast<int64_t>(text.size() / 2) <= length;
    for (std::size_t i = 0; ok && i < text.size() / 2; ++i) {
        const int hi = digit(text[2 * i]);
        const int lo = digit(text[2 * i + 1]);
        ok = hi >= 0 && lo >= 0;
        if (ok) bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    if (!ok) {
        const std::string message = "register '" + Name() + "': '" + ValueStr.str() +
                                    "' is not hexadecimal bytes that fit its length";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    m_reg.Write(*this, bytes.data(), length);
    Written(Verify);
}

// ---------------------------------------------------------------------------
// CIntRegNode

Num CIntRegNode::Read() {
    const int64_t length = CheckedLength(*this, m_reg, 8);
    uint8_t bytes[8];
    m_reg.Read(*this, bytes, length);
    const uint64_t raw = DecodeRaw(bytes, length, m_reg.bigEndian);
    const unsigned width = m_masked ? m_width : static_cast<unsigned>(length * 8);
    uint64_t v = (raw >> (m_masked ? m_shift : 0)) & LowMask(width);
    if (m_signed && width < 64 && (v >> (width - 1)) != 0) v |= ~LowMask(width);
    return Num::Int(static_cast<int64_t>(v));
}

void CIntRegNode::Store(Num value, bool) {
    const int64_t length = CheckedLength(*this, m_reg, 8);
    uint8_t bytes[8] = {};
    uint64_t raw = static_cast<uint64_t>(value.AsInt());
    if (m_masked) {
        // Read-modify-write; a write-only register's other bits are taken as zero.
        uint64_t current = 0;
        if (IsReadable(m_reg.accessMode)) {
            m_reg.Read(*this, bytes, length);
            current = DecodeRaw(bytes, length, m_reg.bigEndian);
        }
        const uint64_t mask = LowMask(m_width) << m_shift;
        raw = (current & ~mask) | ((raw << m_shift) & mask);
    }
    EncodeRaw(raw, bytes, length, m_reg.bigEndian);
    m_reg.Write(*this, bytes, length);
}

Num CIntRegNode::Min() {
    const unsigned width =
        m_masked ? m_width : static_cast<unsigned>(CheckedLength(*this, m_reg, 8) * 8);
    if (!m_signed) return Num::Int(0);
    return Num::Int(width >= 64 ? INT64_MIN : -static_cast<int64_t>(uint64_t{1} << (width - 1)));
}

Num CIntRegNode::Max() {
    const unsigned width =
        m_masked ? m_width : static_cast<unsigned>(CheckedLength(*this, m_reg, 8) * 8);
    if (m_signed) {
        return Num::Int(width >= 64 ? INT64_MAX
                                    : static_cast<int64_t>((uint64_t{1} << (width - 1)) - 1));
    }
    return Num::Int(width >= 64 ? INT64_MAX : static_cast<int64_t>(LowMask(width)));
}

// ---------------------------------------------------------------------------
// CFloatRegNode

Num CFloatRegNode::Read() {
    const int64_t length = CheckedLength(*this, m_reg, 8);
    if (length != 4 && length != 8)
        Fail("is a float register of " + std::to_string(length) + " bytes");
    uint8_t bytes[8];
    m_reg.Read(*this, bytes, length);
    const uint64_t raw = DecodeRaw(bytes, length, m_reg.bigEndian);
    if (length == 4) {
        const uint32_t bits = static_cast<uint32_t>(raw);
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return Num::Float(f);
    }
    double d = 0;
    std::memcpy(&d, &raw, sizeof d);
    return Num::Float(d);
}

void CFloatRegNode::Store(Num value, bool) {
    const int64_t length = CheckedLength(*this, m_reg, 8);
    if (length != 4 && length != 8)
        Fail("is a float register of " + std::to_string(length) + " bytes");
    uint64_t raw = 0;
    if (length == 4) {
        const float f = static_cast<float>(value.AsFloat());
        uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        raw = bits;
    } else {
        const double d = value.AsFloat();
        std::memcpy(&raw, &d, sizeof raw);
    }
    uint8_t bytes[8];
    EncodeRaw(raw, bytes, length, m_reg.bigEndian);
    m_reg.Write(*this, bytes, length);
}

// ---------------------------------------------------------------------------
// CStringRegNode

std::string CStringRegNode::ReadText() {
    const int64_t length = CheckedLength(*this, m_reg, kMaxRegisterLength);
    std::string text(static_cast<std::size_t>(length), '\0');
    m_reg.Read(*this, reinterpret_cast<uint8_t*>(text.data()), length);
    const auto end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return text;
}

void CStringRegNode::WriteText(const std::string& text) {
    const int64_t length = CheckedLength(*this, m_reg, kMaxRegisterLength);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    std::memcpy(bytes.data(), text.data(), std::min<std::size_t>(text.size(), bytes.size()));
    m_reg.Write(*this, reinterpret_cast<const uint8_t*>(bytes.data()), length);
}

// ---------------------------------------------------------------------------
// CPortNode

EAccessMode CPortNode::OwnAccess() {
    return m_port ? RW : NA;
}

void CPortNode::RawRead(void* buffer, int64_t address, int64_t length) {
    if (!m_port || Map()->detached) ThrowAccess(*this, "is not connected");
    try {
        m_port->Read(buffer, address, length);
    } catch (const GenICam::GenericException&) {
        throw;
    } catch (const std::exception& e) {
        Fail(std::string("failed to read: ") + e.what());
    } catch (...) {
        Fail("failed to read");
    }
}

void CPortNode::RawWrite(const void* buffer, int64_t address, int64_t length) {
    if (!m_port || Map()->detached) ThrowAccess(*this, "is not connected");
    try {
        m_port->Write(buffer, address, length);
    } catch (const GenICam::GenericException&) {
        throw;
    } catch (const std::exception& e) {
        Fail(std::string("failed to write: ") + e.what());
    } catch (...) {
        Fail("failed to write");
    }
}

void CPortNode::Read(void* pBuffer, int64_t Address, int64_t Length) {
    CQuery query(this);
    RawRead(pBuffer, Address, Length);
}

void CPortNode::Write(const void* pBuffer, int64_t Address, int64_t Length) {
    CQuery query(this);
    RawWrite(pBuffer, Address, Length);
    // The bytes changed behind the registers' backs.
    Map()->InvalidateOverlapping(this, Address, Length, nullptr);
    Written(false);
}

}  // namespace GenApi::engine
