#include "NodeBuilder.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "EngineText.h"

namespace GenApi::engine {

namespace {

// clang-format off
enum class ETag : uint8_t {
    Unknown,
    ToolTip, Description, DisplayName, Visibility, ImposedAccessMode,
    pIsImplemented, pIsAvailable, pIsLocked, pError, pAlias, pCastAlias, pInvalidator, pSelected,
    Unit, Representation, DisplayNotation, DisplayPrecision,
    Value, pValue, pValueCopy, pIndex, ValueIndexed, pValueIndexed, ValueDefault, pValueDefault,
    Min, pMin, Max, pMax, Inc, pInc, ValidValueSet,
    OnValue, OffValue, CommandValue, pCommandValue, PollingTime,
    EnumEntry, NumericValue, Symbolic, IsSelfClearing,
    Address, pAddress, IntSwissKnife, Length, pLength, AccessMode, pPort, Cachable,
    Endianess, Sign, LSB, MSB, Bit,
    pVariable, Constant, Expression, Formula, FormulaTo, FormulaFrom, Slope, IsLinear,
    pFeature, ChunkID, CacheChunkData, StructEntry, EventID,
};

ETag TagOf(std::string_view name) {
    static const std::pair<std::string_view, ETag> kTags[] = {
        {"ToolTip", ETag::ToolTip}, {"Description", ETag::Description},
        {"DisplayName", ETag::DisplayName}, {"Visibility", ETag::Visibility},
        {"ImposedAccessMode", ETag::ImposedAccessMode}, {"pIsImplemented", ETag::pIsImplemented},
        {"pIsAvailable", ETag::pIsAvailable}, {"pIsLocked", ETag::pIsLocked},
        {"pError", ETag::pError}, {"pAlias", ETag::pAlias}, {"pCastAlias", ETag::pCastAlias},
        {"pInvalidator", ETag::pInvalidator}, {"pSelected", ETag::pSelected}, {"Unit", ETag::Unit},
        {"Representation", ETag::Representation}, {"DisplayNotation", ETag::DisplayNotation},
        {"DisplayPrecision", ETag::DisplayPrecision}, {"Value", ETag::Value},
        {"pValue", ETag::pValue}, {"pValueCopy", ETag::pValueCopy}, {"pIndex", ETag::pIndex},
        {"ValueIndexed", ETag::ValueIndexed}, {"pValueIndexed", ETag::pValueIndexed},
        {"ValueDefault", ETag::ValueDefault}, {"pValueDefault", ETag::pValueDefault},
        {"Min", ETag::Min}, {"pMin", ETag::pMin}, {"Max", ETag::Max}, {"pMax", ETag::pMax},
        {"Inc", ETag::Inc}, {"pInc", ETag::pInc}, {"ValidValueSet", ETag::ValidValueSet},
        {"OnValue", ETag::OnValue}, {"OffValue", ETag::OffValue},
        {"CommandValue", ETag::CommandValue}, {"pCommandValue", ETag::pCommandValue},
        {"PollingTime", ETag::PollingTime}, {"EnumEntry", ETag::EnumEntry},
        {"NumericValue", ETag::NumericValue}, {"Symbolic", ETag::Symbolic},
        {"IsSelfClearing", ETag::IsSelfClearing}, {"Address", ETag::Address},
        {"pAddress", ETag::pAddress}, {"IntSwissKnife", ETag::IntSwissKnife},
        {"Length", ETag::Length}, {"pLength", ETag::pLength}, {"AccessMode", ETag::AccessMode},
        {"pPort", ETag::pPort}, {"Cachable", ETag::Cachable}, {"Endianess", ETag::Endianess},
        {"Sign", ETag::Sign}, {"LSB", ETag::LSB}, {"MSB", ETag::MSB}, {"Bit", ETag::Bit},
        {"pVariable", ETag::pVariable}, {"Constant", ETag::Constant},
        {"Expression", ETag::Expression}, {"Formula", ETag::Formula},
        {"FormulaTo", ETag::FormulaTo}, {"FormulaFrom", ETag::FormulaFrom},
        {"Slope", ETag::Slope}, {"IsLinear", ETag::IsLinear}, {"pFeature", ETag::pFeature},
        {"ChunkID", ETag::ChunkID}, {"CacheChunkData", ETag::CacheChunkData},
        {"StructEntry", ETag::StructEntry}, {"EventID", ETag::EventID},
    };
    // Every child element of every node passes here: a direct-mapped table on the
    // first two characters and the length, one string compare per hit.
    struct STable {
        std::array<std::vector<std::pair<std::string_view, ETag>>, 512> buckets;
        static std::size_t Key(std::string_view n) {
            const unsigned c0 = static_cast<unsigned char>(n[0]);
            const unsigned c1 = n.size() > 1 ? static_cast<unsigned char>(n[1]) : 0;
            return (c0 * 31 + c1 * 7 + n.size()) & 511;
        }
        STable() {
            for (const auto& tag : kTags) buckets[Key(tag.first)].push_back(tag);
        }
    };
    static const STable table;
    if (name.empty()) return ETag::Unknown;
    for (const auto& [text, tag] : table.buckets[STable::Key(name)]) {
        if (text == name) return tag;
    }
    return ETag::Unknown;
}

enum class EKind : uint8_t {
    None, Group, Node, Category, Integer, IntReg, MaskedIntReg, Float, FloatReg, Boolean, Command,
    Enumeration, String, StringReg, Register, StructReg, SwissKnife, IntSwissKnife, Converter,
    IntConverter, Port,
};

EKind KindOf(std::string_view name) {
    static const std::unordered_map<std::string_view, EKind> kinds = {
        {"Group", EKind::Group}, {"Node", EKind::Node}, {"Category", EKind::Category},
        {"Integer", EKind::Integer}, {"IntReg", EKind::IntReg},
        {"MaskedIntReg", EKind::MaskedIntReg}, {"Float", EKind::Float},
        {"FloatReg", EKind::FloatReg}, {"Boolean", EKind::Boolean}, {"Command", EKind::Command},
        {"Enumeration", EKind::Enumeration}, {"String", EKind::String},
        {"StringReg", EKind::StringReg}, {"Register", EKind::Register},
        {"StructReg", EKind::StructReg}, {"SwissKnife", EKind::SwissKnife},
        {"IntSwissKnife", EKind::IntSwissKnife}, {"Converter", EKind::Converter},
        {"IntConverter", EKind::IntConverter}, {"Port", EKind::Port},
        // Legacy IIDC kinds read as their register analogues.
        {"ConfRom", EKind::Register}, {"TextDesc", EKind::StringReg}, {"IntKey", EKind::IntReg},
        {"AdvFeatureLock", EKind::IntReg}, {"SmartFeature", EKind::IntReg},
    };
    const auto it = kinds.find(name);
    return it == kinds.end() ? EKind::None : it->second;
}
// clang-format on

[[noreturn]] void LoadError(const std::string& message) {
    GENICAM_THROW(RuntimeException, message.c_str());
}

struct SSlotKey {
    const CPortNode* port;
    int64_t address;
    int64_t length;
    int mode;
    bool operator==(const SSlotKey& o) const {
        return port == o.port && address == o.address && length == o.length && mode == o.mode;
    }
};

struct SSlotKeyHash {
    std::size_t operator()(const SSlotKey& k) const {
        std::size_t h = std::hash<const void*>()(k.port);
        h = h * 31 + std::hash<int64_t>()(k.address);
        h = h * 31 + std::hash<int64_t>()(k.length);
        return h * 31 + static_cast<std::size_t>(k.mode);
    }
};

class CBuilder {
public:
    CBuilder(SMapState& map, const SDescriptionLimits& limits) : m_map(map), m_limits(limits) {}
    void Build(const SXmlElement& root);

private:
    /// A reference to resolve once every node exists. Elements of vectors that
    /// still grow are named by index, not by address.
    struct SRef {
        enum class EWhere : uint8_t { Slot, List, Indexed, TermNode, TermIndex, TermOffset };
        EWhere where;
        CEngNode** slot;
        void* base;
        std::size_t index;
        const std::string* name;
        const CEngNode* owner;
        bool numeric = true;  ///< the target is read as a number

        CEngNode** Locate() const {
            switch (where) {
                case EWhere::List:
                    return &(*static_cast<std::vector<CEngNode*>*>(base))[index];
                case EWhere::Indexed:
                    return &static_cast<SValueSource*>(base)->indexed[index].node;
                case EWhere::TermNode:
                    return &static_cast<SRegister*>(base)->terms[index].node;
                case EWhere::TermIndex:
                    return &static_cast<SRegister*>(base)->terms[index].pIndex;
                case EWhere::TermOffset:
                    return &static_cast<SRegister*>(base)->terms[index].pOffset;
                default:
                    return slot;
            }
        }
    };
    using EWhere = SRef::EWhere;
    struct SRegisterRef {
        SRegister* reg;
        CEngNode* owner;
        const std::string* portName;
    };
    struct SMaskBits {
        CIntRegNode* node;
        int64_t lsb;
        int64_t msb;
    };

    void AddChildren(const SXmlElement& parent, unsigned depth);
    void AddNode(const SXmlElement& element, EKind kind);
    /// named: enters the name table now (entries enter it after all other nodes);
    /// ordered: listed by GetNodes.
    template <class T>
    T* Create(const SXmlElement& element, const std::string& name, bool named = true,
              bool ordered = true);

    // Element handlers; each returns false for an element it does not know.
    bool Common(CEngNode* node, ETag tag, const SXmlElement& child);
    bool Source(CEngNode* node, SValueSource& source, ETag tag, const SXmlElement& child,
                bool isFloat);
    bool RegisterPart(CEngNode* node, SRegister& reg, ETag tag, const SXmlElement& child);
    struct SFormulaElements {
        std::vector<const SXmlElement*> variables, constants, expressions;
        /// Takes pVariable, Constant and Expression elements.
        bool Take(ETag tag, const SXmlElement& child);
    };

    void BuildCategory(CCategoryNode* node, const SXmlElement& e);
    void BuildInteger(CIntegerNode* node, const SXmlElement& e);
    void BuildFloat(CFloatNode* node, const SXmlElement& e);
    void BuildBoolean(CBooleanNode* node, const SXmlElement& e);
    void BuildCommand(CCommandNode* node, const SXmlElement& e);
    void BuildEnumeration(CEnumerationNode* node, const SXmlElement& e);
    void BuildString(CStringNode* node, const SXmlElement& e);
    void BuildPort(CPortNode* node, const SXmlElement& e);
    /// IntReg, MaskedIntReg and StructEntry: elements of the StructReg (if any) then
    /// those of the node itself.
    void BuildIntReg(CIntRegNode* node, const SXmlElement* structReg, const SXmlElement& e);
    void BuildStructReg(const SXmlElement& e);
    template <class T>
    void BuildRegisterKind(T* node, const SXmlElement& e);
    template <class T>
    void BuildFormulaNode(T* node, const SXmlElement& e, bool integer);
    template <class T>
    void BuildConverter(T* node, const SXmlElement& e, bool integer);
    CEngNode* AnonymousIntSwissKnife(CEngNode* owner, const SXmlElement& e);
    std::shared_ptr<const CFormula> ParseFormula(const CEngNode* node, const SXmlElement& child,
                                                 const std::vector<std::string>& names);
    /// Names (variables, constants, expressions in that order), references,
    /// constants and parsed expressions; refuses expressions that use each other
    /// in a circle.
    void FinishFormulaVars(CEngNode* node, SFormulaVars& vars, const SFormulaElements& f);

    void Ref(CEngNode* owner, CEngNode** slot, const SXmlElement& child, bool numeric = true);
    void RefList(CEngNode* owner, std::vector<CEngNode*>& list, const SXmlElement& child,
                 bool numeric = true);
    int64_t Int(const CEngNode* node, const SXmlElement& child) const;
    double Float(const CEngNode* node, const SXmlElement& child) const;
    Num Number(const CEngNode* node, const SXmlElement& child, bool isFloat) const;
    bool Flag(const CEngNode* node, const SXmlElement& child) const;
    int64_t IndexAttribute(const CEngNode* node, const SXmlElement& child) const;
    [[noreturn]] void Bad(const CEngNode* node, const SXmlElement& child,
                          const std::string& why) const;

    void Resolve();
    void AssignSlots();
    void MarkFeatures();
    void BuildGraph();
    /// Refuses a cycle; fills postOrder (if given) with every node after all it
    /// depends on.
    void RefuseCycles(const std::vector<uint32_t>& begin, const std::vector<uint32_t>& edges,
                      unsigned perNode, const char* what, std::vector<uint32_t>* postOrder);

    SMapState& m_map;
    const SDescriptionLimits& m_limits;
    std::vector<SRef> m_refs;
    std::vector<SRegisterRef> m_registers;
    std::vector<std::pair<CEngNode*, const std::string*>> m_invalidators;
    std::vector<CEnumEntryNode*> m_entries;
    std::vector<SMaskBits> m_masks;
    std::vector<CStringNode*> m_strings;
    std::vector<CIntRegNode*> m_intRegs;
    std::vector<CEnumerationNode*> m_polled;
};

// ---------------------------------------------------------------------------
// Helpers

void CBuilder::Bad(const CEngNode* node, const SXmlElement& child, const std::string& why) const {
    LoadError("node '" + node->Name() + "', element " + child.name + " (line " +
              std::to_string(child.line) + "): " + why);
}

int64_t CBuilder::Int(const CEngNode* node, const SXmlElement& child) const {
    int64_t v = 0;
    if (!ParseInt64(child.text, v)) Bad(node, child, "'" + child.text + "' is not an integer");
    return v;
}

double CBuilder::Float(const CEngNode* node, const SXmlElement& child) const {
    double v = 0;
    if (!ParseDouble(child.text, v)) Bad(node, child, "'" + child.text + "' is not a number");
    return v;
}

Num CBuilder::Number(const CEngNode* node, const SXmlElement& child, bool isFloat) const {
    if (!isFloat) return Num::Int(Int(node, child));
    return Num::Float(Float(node, child));
}

bool CBuilder::Flag(const CEngNode* node, const SXmlElement& child) const {
    const std::string_view t = Trim(child.text);
    if (t == "Yes" || t == "yes" || t == "true" || t == "True" || t == "1") return true;
    if (t == "No" || t == "no" || t == "false" || t == "False" || t == "0") return false;
    Bad(node, child, "'" + child.text + "' is neither Yes nor No");
}

int64_t CBuilder::IndexAttribute(const CEngNode* node, const SXmlElement& child) const {
    const std::string* text = child.Attribute("Index");
    int64_t index = 0;
    if (!text || !ParseInt64(*text, index)) Bad(node, child, "has no integer Index attribute");
    return index;
}

void CBuilder::Ref(CEngNode* owner, CEngNode** slot, const SXmlElement& child, bool numeric) {
    m_refs.push_back({EWhere::Slot, slot, nullptr, 0, &child.text, owner, numeric});
}

void CBuilder::RefList(CEngNode* owner, std::vector<CEngNode*>& list, const SXmlElement& child,
                       bool numeric) {
    m_refs.push_back({EWhere::List, nullptr, &list, list.size(), &child.text, owner, numeric});
    list.push_back(nullptr);
}

template <class T>
T* CBuilder::Create(const SXmlElement& element, const std::string& name, bool named, bool ordered) {
    if (m_map.storage.size() >= m_limits.maxNodes) {
        LoadError("the description has more than maxNodes (" + std::to_string(m_limits.maxNodes) +
                  ") nodes");
    }
    auto node = std::make_unique<T>(&m_map, name);
    T* raw = node.get();
    raw->m_index = static_cast<uint32_t>(m_map.storage.size());
    m_map.storage.push_back(std::move(node));
    if (named && !m_map.byName.emplace(raw->Name(), raw).second) {
        LoadError("duplicate node name '" + name + "' (line " + std::to_string(element.line) + ")");
    }
    if (ordered) m_map.order.push_back(raw);
    return raw;
}

// ---------------------------------------------------------------------------
// Element handlers

bool CBuilder::Common(CEngNode* node, ETag tag, const SXmlElement& child) {
    auto texts = [node]() -> SNodeTexts& {
        if (!node->m_texts) node->m_texts = std::make_unique<SNodeTexts>();
        return *node->m_texts;
    };
    switch (tag) {
        case ETag::ToolTip:
            texts().toolTip = std::string(Trim(child.text));
            return true;
        case ETag::Description:
            texts().description = std::string(Trim(child.text));
            return true;
        case ETag::DisplayName:
            texts().displayName = std::string(Trim(child.text));
            return true;
        case ETag::Unit:
            texts().unit = std::string(Trim(child.text));
            return true;
        case ETag::Visibility: {
            const std::string_view t = Trim(child.text);
            if (t == "Beginner") node->m_visibility = Beginner;
            if (t == "Expert") node->m_visibility = Expert;
            if (t == "Guru") node->m_visibility = Guru;
            if (t == "Invisible") node->m_visibility = Invisible;
            return true;
        }
        case ETag::ImposedAccessMode: {
            const std::string_view t = Trim(child.text);
            if (t == "RO")
                node->m_imposed = RO;
            else if (t == "WO")
                node->m_imposed = WO;
            else if (t == "RW")
                node->m_imposed = RW;
            else if (t == "NA")
                node->m_imposed = NA;
            else if (t == "NI")
                node->m_imposed = NI;
            else
                Bad(node, child, "'" + child.text + "' is not an access mode");
            return true;
        }
        case ETag::pIsImplemented:
            Ref(node, &node->m_pIsImplemented, child);
            return true;
        case ETag::pIsAvailable:
            Ref(node, &node->m_pIsAvailable, child);
            return true;
        case ETag::pIsLocked:
            Ref(node, &node->m_pIsLocked, child);
            return true;
        case ETag::pError:
            Ref(node, &node->m_pError, child);
            return true;
        case ETag::pAlias:
            Ref(node, &node->m_pAlias, child, false);
            return true;
        case ETag::pCastAlias:
            Ref(node, &node->m_pCastAlias, child, false);
            return true;
        case ETag::pSelected:
            RefList(node, node->m_selected, child, false);
            return true;
        case ETag::pInvalidator:
            m_invalidators.emplace_back(node, &child.text);
            return true;
        case ETag::Representation: {
            static const char* const names[] = {"Linear",     "Logarithmic", "Boolean",
                                                "PureNumber", "HexNumber",   "IPV4Address",
                                                "MACAddress"};
            uint8_t code = 0;
            for (uint8_t i = 0; i < 7; ++i) {
                if (Trim(child.text) == names[i]) code = i;
            }
            if (auto* i = dynamic_cast<CIntegerBase*>(node)) i->m_representation = code;
            if (auto* f = dynamic_cast<CFloatBase*>(node)) f->m_representation = code;
            return true;
        }
        case ETag::DisplayNotation:
            if (auto* f = dynamic_cast<CFloatBase*>(node)) {
                const std::string_view t = Trim(child.text);
                f->m_displayNotation = t == "Fixed" ? 1 : t == "Scientific" ? 2 : 0;
            }
            return true;
        case ETag::DisplayPrecision:
            if (auto* f = dynamic_cast<CFloatBase*>(node)) f->m_displayPrecision = Int(node, child);
            return true;
        default:
            return false;
    }
}

bool CBuilder::Source(CEngNode* node, SValueSource& source, ETag tag, const SXmlElement& child,
                      bool isFloat) {
    switch (tag) {
        case ETag::Value:
            source.value = Number(node, child, isFloat);
            return true;
        case ETag::pValue:
            Ref(node, &source.pValue, child);
            return true;
        case ETag::pValueCopy:
            RefList(node, source.copies, child);
            return true;
        case ETag::pIndex:
            Ref(node, &source.pIndex, child);
            return true;
        case ETag::ValueIndexed:
            source.indexed.push_back(
                {IndexAttribute(node, child), nullptr, Number(node, child, isFloat)});
            return true;
        case ETag::pValueIndexed:
            source.indexed.push_back({IndexAttribute(node, child), nullptr, Num()});
            m_refs.push_back(
                {EWhere::Indexed, nullptr, &source, source.indexed.size() - 1, &child.text, node});
            return true;
        case ETag::ValueDefault:
            source.hasDefault = true;
            source.defaultValue = Number(node, child, isFloat);
            return true;
        case ETag::pValueDefault:
            Ref(node, &source.pDefault, child);
            return true;
        default:
            return false;
    }
}

bool CBuilder::RegisterPart(CEngNode* node, SRegister& reg, ETag tag, const SXmlElement& child) {
    switch (tag) {
        case ETag::Address:
            reg.terms.push_back({Int(node, child), nullptr, nullptr, nullptr});
            return true;
        case ETag::pAddress:
            reg.terms.push_back({});
            m_refs.push_back(
                {EWhere::TermNode, nullptr, &reg, reg.terms.size() - 1, &child.text, node});
            return true;
        case ETag::IntSwissKnife:
            reg.terms.push_back({0, AnonymousIntSwissKnife(node, child), nullptr, nullptr});
            return true;
        case ETag::pIndex: {
            SRegister::SAddressTerm term;
            if (const std::string* offset = child.Attribute("Offset")) {
                if (!ParseInt64(*offset, term.constant))
                    Bad(node, child, "Offset is not an integer");
            } else if (!child.Attribute("pOffset")) {
                Bad(node, child, "has neither Offset nor pOffset");
            }
            reg.terms.push_back(term);
            m_refs.push_back(
                {EWhere::TermIndex, nullptr, &reg, reg.terms.size() - 1, &child.text, node});
            if (const std::string* pOffset = child.Attribute("pOffset")) {
                m_refs.push_back(
                    {EWhere::TermOffset, nullptr, &reg, reg.terms.size() - 1, pOffset, node});
            }
            return true;
        }
        case ETag::Length:
            reg.length = Int(node, child);
            if (reg.length < 1) Bad(node, child, "a register needs at least one byte");
            return true;
        case ETag::pLength:
            Ref(node, &reg.pLength, child);
            return true;
        case ETag::AccessMode: {
            const std::string_view t = Trim(child.text);
            if (t == "RO")
                reg.accessMode = RO;
            else if (t == "WO")
                reg.accessMode = WO;
            else if (t == "RW")
                reg.accessMode = RW;
            else
                Bad(node, child, "'" + child.text + "' is not RO, WO or RW");
            return true;
        }
        case ETag::pPort:
            m_registers.push_back({&reg, node, &child.text});
            return true;
        case ETag::Cachable: {
            const std::string_view t = Trim(child.text);
            if (t == "NoCache")
                reg.cache = ECache::NoCache;
            else if (t == "WriteThrough")
                reg.cache = ECache::WriteThrough;
            else if (t == "WriteAround")
                reg.cache = ECache::WriteAround;
            else
                Bad(node, child, "'" + child.text + "' is not a caching mode");
            return true;
        }
        case ETag::PollingTime:
            reg.pollingTime = Int(node, child);
            return true;
        case ETag::Endianess: {
            const std::string_view t = Trim(child.text);
            if (t == "BigEndian")
                reg.bigEndian = true;
            else if (t == "LittleEndian")
                reg.bigEndian = false;
            else
                Bad(node, child, "'" + child.text + "' is not an endianness");
            return true;
        }
        default:
            return false;
    }
}

bool CBuilder::SFormulaElements::Take(ETag tag, const SXmlElement& child) {
    switch (tag) {
        case ETag::pVariable:
            variables.push_back(&child);
            return true;
        case ETag::Constant:
            constants.push_back(&child);
            return true;
        case ETag::Expression:
            expressions.push_back(&child);
            return true;
        default:
            return false;
    }
}

void CBuilder::FinishFormulaVars(CEngNode* node, SFormulaVars& vars, const SFormulaElements& f) {
    vars.owner = node;
    const std::size_t total = f.variables.size() + f.constants.size() + f.expressions.size();
    vars.names.reserve(total);
    vars.variables.reserve(f.variables.size());
    for (const auto* group : {&f.variables, &f.constants, &f.expressions}) {
        for (const SXmlElement* e : *group) {
            const std::string* name = e->Attribute("Name");
            if (!name) Bad(node, *e, "has no Name");
            vars.names.push_back(*name);
        }
    }
    for (const SXmlElement* e : f.variables) RefList(node, vars.variables, *e);
    for (const SXmlElement* e : f.constants) {
        int64_t i = 0;
        double d = 0;
        if (ParseInt64(e->text, i)) {
            vars.constants.push_back(Num::Int(i));
        } else if (ParseDouble(e->text, d)) {
            vars.constants.push_back(Num::Float(d));
        } else {
            Bad(node, *e, "'" + e->text + "' is not a number");
        }
    }
    for (const SXmlElement* e : f.expressions)
        vars.expressions.push_back(ParseFormula(node, *e, vars.names));

    // Expressions may use each other, but not in a circle: an iterative walk.
    const std::size_t first = f.variables.size() + f.constants.size();
    const std::size_t n = vars.expressions.size();
    std::vector<uint8_t> state(n, 0);  // 0 new, 1 on the path, 2 done
    std::vector<std::pair<std::size_t, std::size_t>> stack;
    for (std::size_t start = 0; start < n; ++start) {
        if (state[start] != 0) continue;
        stack.push_back({start, 0});
        state[start] = 1;
        while (!stack.empty()) {
            auto& [expr, next] = stack.back();
            const auto& used = vars.expressions[expr]->UsedVariables();
            if (next == used.size()) {
                state[expr] = 2;
                stack.pop_back();
                continue;
            }
            const std::size_t v = used[next++];
            if (v < first || v >= first + n) continue;
            const std::size_t target = v - first;
            if (state[target] == 1) {
                LoadError("node '" + node->Name() + "': expression '" + vars.names[v] +
                          "' uses itself through its expressions");
            }
            if (state[target] == 0) {
                state[target] = 1;
                stack.push_back({target, 0});
            }
        }
    }
}

std::shared_ptr<const CFormula> CBuilder::ParseFormula(const CEngNode* node,
                                                       const SXmlElement& child,
                                                       const std::vector<std::string>& names) {
    try {
        return CFormula::Parse(child.text, names);
    } catch (const GenICam::GenericException& e) {
        Bad(node, child, e.GetDescription());
    }
}

CEngNode* CBuilder::AnonymousIntSwissKnife(CEngNode* owner, const SXmlElement& e) {
    auto* knife = Create<CIntSwissKnifeNode>(e, owner->Name() + "/IntSwissKnife", false, false);
    BuildFormulaNode(knife, e, true);
    return knife;
}

template <class T>
void CBuilder::BuildFormulaNode(T* node, const SXmlElement& e, bool) {
    SFormulaElements f;
    const SXmlElement* formula = nullptr;
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (f.Take(tag, child)) continue;
        if (tag == ETag::Formula) {
            formula = &child;
            continue;
        }
        Common(node, tag, child);
    }
    if (!formula) LoadError("node '" + node->Name() + "' has no Formula");
    FinishFormulaVars(node, node->m_vars, f);
    node->m_formula = ParseFormula(node, *formula, node->m_vars.names);
}

template <class T>
void CBuilder::BuildConverter(T* node, const SXmlElement& e, bool) {
    SFormulaElements f;
    const SXmlElement* to = nullptr;
    const SXmlElement* from = nullptr;
    SConverter& conv = node->m_conv;
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (f.Take(tag, child)) continue;
        switch (tag) {
            case ETag::FormulaTo:
                to = &child;
                break;
            case ETag::FormulaFrom:
                from = &child;
                break;
            case ETag::pValue:
                Ref(node, &conv.pValue, child);
                break;
            case ETag::Slope: {
                const std::string_view t = Trim(child.text);
                if (t == "Increasing")
                    conv.slope = ESlope::Increasing;
                else if (t == "Decreasing")
                    conv.slope = ESlope::Decreasing;
                else if (t == "Varying")
                    conv.slope = ESlope::Varying;
                else if (t == "Automatic")
                    conv.slope = ESlope::Automatic;
                else
                    Bad(node, child, "'" + child.text + "' is not a slope");
                break;
            }
            default:
                Common(node, tag, child);
        }
    }
    if (!to || !from) LoadError("node '" + node->Name() + "' needs FormulaTo and FormulaFrom");
    if (conv.pValue == nullptr && std::none_of(m_refs.begin(), m_refs.end(), [&](const SRef& r) {
            return r.slot == &conv.pValue;
        })) {
        LoadError("node '" + node->Name() + "' has no pValue");
    }
    FinishFormulaVars(node, conv.vars, f);
    std::vector<std::string> names = conv.vars.names;
    names.push_back("FROM");
    conv.to = ParseFormula(node, *to, names);
    names.back() = "TO";
    conv.from = ParseFormula(node, *from, names);
}

void CBuilder::BuildCategory(CCategoryNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (tag == ETag::pFeature) {
            RefList(node, node->m_features, child, false);
        } else {
            Common(node, tag, child);
        }
    }
}

void CBuilder::BuildInteger(CIntegerNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (Source(node, node->m_source, tag, child, false) || Common(node, tag, child)) continue;
        switch (tag) {
            case ETag::Min:
                node->m_hasMin = true;
                node->m_min = Int(node, child);
                break;
            case ETag::Max:
                node->m_hasMax = true;
                node->m_max = Int(node, child);
                break;
            case ETag::Inc:
                node->m_hasInc = true;
                node->m_inc = Int(node, child);
                if (node->m_inc < 1) Bad(node, child, "an increment must be positive");
                break;
            case ETag::pMin:
                Ref(node, &node->m_pMin, child);
                break;
            case ETag::pMax:
                Ref(node, &node->m_pMax, child);
                break;
            case ETag::pInc:
                Ref(node, &node->m_pInc, child);
                break;
            case ETag::ValidValueSet: {
                std::string_view rest = child.text;
                while (!rest.empty()) {
                    const auto cut = rest.find(';');
                    const std::string_view item = Trim(rest.substr(0, cut));
                    rest =
                        cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
                    if (item.empty()) continue;
                    int64_t v = 0;
                    if (!ParseInt64(item, v))
                        Bad(node, child, "'" + std::string(item) + "' is not an integer");
                    node->m_validValues.push_back(v);
                }
                break;
            }
            default:
                break;
        }
    }
}

void CBuilder::BuildFloat(CFloatNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (Source(node, node->m_source, tag, child, true) || Common(node, tag, child)) continue;
        switch (tag) {
            case ETag::Min:
                node->m_hasMin = true;
                node->m_min = Float(node, child);
                break;
            case ETag::Max:
                node->m_hasMax = true;
                node->m_max = Float(node, child);
                break;
            case ETag::Inc:
                node->m_hasInc = true;
                node->m_inc = Float(node, child);
                break;
            case ETag::pMin:
                Ref(node, &node->m_pMin, child);
                break;
            case ETag::pMax:
                Ref(node, &node->m_pMax, child);
                break;
            case ETag::pInc:
                Ref(node, &node->m_pInc, child);
                break;
            default:
                break;
        }
    }
}

void CBuilder::BuildBoolean(CBooleanNode* node, const SXmlElement& e) {
    const SXmlElement* value = nullptr;
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (tag == ETag::Value) {
            value = &child;
        } else if (tag == ETag::OnValue) {
            node->m_on = Int(node, child);
        } else if (tag == ETag::OffValue) {
            node->m_off = Int(node, child);
        } else if (!Source(node, node->m_source, tag, child, false)) {
            Common(node, tag, child);
        }
    }
    // A stored Boolean keeps its raw value, so OnValue/OffValue apply to it too.
    if (value) {
        const std::string_view t = Trim(value->text);
        int64_t raw = 0;
        if (t == "true" || t == "True") {
            raw = node->m_on;
        } else if (t == "false" || t == "False") {
            raw = node->m_off;
        } else {
            raw = Int(node, *value);
        }
        node->m_source.value = Num::Int(raw);
    } else {
        node->m_source.value = Num::Int(node->m_off);
    }
}

void CBuilder::BuildCommand(CCommandNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (tag == ETag::CommandValue) {
            node->m_commandValue = Int(node, child);
        } else if (tag == ETag::pCommandValue) {
            Ref(node, &node->m_pCommandValue, child);
        } else if (tag == ETag::PollingTime) {
            node->m_pollingTime = Int(node, child);
        } else if (!Source(node, node->m_source, tag, child, false)) {
            Common(node, tag, child);
        }
    }
}

void CBuilder::BuildEnumeration(CEnumerationNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (tag == ETag::EnumEntry) {
            const std::string* name = child.Attribute("Name");
            if (!name) Bad(node, child, "has no Name");
            auto* entry = Create<CEnumEntryNode>(child, *name, false, true);
            entry->m_enum = node;
            entry->m_symbolic = *name;
            m_entries.push_back(entry);
            node->m_entries.push_back(entry);
            for (const SXmlElement& part : child.children) {
                const ETag partTag = TagOf(part.name);
                switch (partTag) {
                    case ETag::Value:
                        entry->m_value = Int(entry, part);
                        break;
                    case ETag::NumericValue:
                        entry->m_numericValue = Float(entry, part);
                        break;
                    case ETag::Symbolic:
                        entry->m_symbolic = std::string(Trim(part.text));
                        break;
                    case ETag::IsSelfClearing:
                        entry->m_selfClearing = Flag(entry, part);
                        break;
                    default:
                        Common(entry, partTag, part);
                }
            }
        } else if (tag == ETag::PollingTime) {
            node->m_pollingTime = Int(node, child);
            m_polled.push_back(node);
        } else if (!Source(node, node->m_source, tag, child, false)) {
            Common(node, tag, child);
        }
    }
}

void CBuilder::BuildString(CStringNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (tag == ETag::Value) {
            node->m_value = child.text;
        } else if (tag == ETag::pValue) {
            Ref(node, &node->m_pValue, child, false);
            m_strings.push_back(node);
        } else {
            Common(node, tag, child);
        }
    }
}

void CBuilder::BuildPort(CPortNode* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (tag == ETag::ChunkID) {
            node->m_isChunk = true;
            node->m_chunkId = std::string(Trim(child.text));
        } else if (tag == ETag::CacheChunkData) {
            node->m_cacheChunkData = Flag(node, child);
        } else if (tag == ETag::EventID) {
            node->m_isEvent = true;
            node->m_eventId = std::string(Trim(child.text));
        } else {
            Common(node, tag, child);
        }
    }
    m_map.ports.push_back(node);
}

template <class T>
void CBuilder::BuildRegisterKind(T* node, const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        const ETag tag = TagOf(child.name);
        if (!RegisterPart(node, node->m_reg, tag, child)) Common(node, tag, child);
    }
}

void CBuilder::BuildIntReg(CIntRegNode* node, const SXmlElement* structReg, const SXmlElement& e) {
    bool hasLsb = false, hasMsb = false;
    int64_t lsb = 0, msb = 0;
    auto apply = [&](const SXmlElement& child) {
        const ETag tag = TagOf(child.name);
        if (RegisterPart(node, node->m_reg, tag, child) || Common(node, tag, child)) return;
        switch (tag) {
            case ETag::Sign: {
                const std::string_view t = Trim(child.text);
                if (t == "Signed")
                    node->m_signed = true;
                else if (t == "Unsigned")
                    node->m_signed = false;
                else
                    Bad(node, child, "'" + child.text + "' is not Signed or Unsigned");
                break;
            }
            case ETag::LSB:
                hasLsb = true;
                lsb = Int(node, child);
                break;
            case ETag::MSB:
                hasMsb = true;
                msb = Int(node, child);
                break;
            case ETag::Bit:
                hasLsb = hasMsb = true;
                lsb = msb = Int(node, child);
                break;
            default:
                break;
        }
    };
    if (structReg) {
        for (const SXmlElement& child : structReg->children) {
            if (child.name != "StructEntry") apply(child);
        }
    }
    for (const SXmlElement& child : e.children) apply(child);
    m_intRegs.push_back(node);
    if (hasLsb || hasMsb) {
        if (!hasLsb) lsb = msb;
        if (!hasMsb) msb = lsb;
        m_masks.push_back({node, lsb, msb});
    }
}

void CBuilder::BuildStructReg(const SXmlElement& e) {
    for (const SXmlElement& child : e.children) {
        if (child.name != "StructEntry") continue;
        const std::string* name = child.Attribute("Name");
        if (!name)
            LoadError("StructEntry without a Name (line " + std::to_string(child.line) + ")");
        auto* node = Create<CIntRegNode>(child, *name);
        BuildIntReg(node, &e, child);
    }
}

void CBuilder::AddNode(const SXmlElement& e, EKind kind) {
    if (kind == EKind::StructReg) return BuildStructReg(e);
    const std::string* name = e.Attribute("Name");
    if (!name) LoadError(e.name + " without a Name (line " + std::to_string(e.line) + ")");
    switch (kind) {
        case EKind::Node: {
            auto* node = Create<CPlainNode>(e, *name);
            for (const SXmlElement& child : e.children) Common(node, TagOf(child.name), child);
            break;
        }
        case EKind::Category:
            BuildCategory(Create<CCategoryNode>(e, *name), e);
            break;
        case EKind::Integer:
            BuildInteger(Create<CIntegerNode>(e, *name), e);
            break;
        case EKind::IntReg:
        case EKind::MaskedIntReg:
            BuildIntReg(Create<CIntRegNode>(e, *name), nullptr, e);
            break;
        case EKind::Float:
            BuildFloat(Create<CFloatNode>(e, *name), e);
            break;
        case EKind::FloatReg:
            BuildRegisterKind(Create<CFloatRegNode>(e, *name), e);
            break;
        case EKind::Boolean:
            BuildBoolean(Create<CBooleanNode>(e, *name), e);
            break;
        case EKind::Command:
            BuildCommand(Create<CCommandNode>(e, *name), e);
            break;
        case EKind::Enumeration:
            BuildEnumeration(Create<CEnumerationNode>(e, *name), e);
            break;
        case EKind::String:
            BuildString(Create<CStringNode>(e, *name), e);
            break;
        case EKind::StringReg:
            BuildRegisterKind(Create<CStringRegNode>(e, *name), e);
            break;
        case EKind::Register:
            BuildRegisterKind(Create<CRegisterNode>(e, *name), e);
            break;
        case EKind::SwissKnife:
            BuildFormulaNode(Create<CSwissKnifeNode>(e, *name), e, false);
            break;
        case EKind::IntSwissKnife:
            BuildFormulaNode(Create<CIntSwissKnifeNode>(e, *name), e, true);
            break;
        case EKind::Converter:
            BuildConverter(Create<CConverterNode>(e, *name), e, false);
            break;
        case EKind::IntConverter:
            BuildConverter(Create<CIntConverterNode>(e, *name), e, true);
            break;
        case EKind::Port:
            BuildPort(Create<CPortNode>(e, *name), e);
            break;
        default:
            break;
    }
}

void CBuilder::AddChildren(const SXmlElement& parent, unsigned depth) {
    for (const SXmlElement& child : parent.children) {
        const EKind kind = KindOf(child.name);
        if (kind == EKind::None) continue;  // Extension and anything unknown
        // A Group is transparent; nesting is bounded by the reader's depth cap.
        if (kind == EKind::Group) {
            AddChildren(child, depth + 1);
        } else {
            AddNode(child, kind);
        }
    }
}

// ---------------------------------------------------------------------------
// After all nodes exist

void CBuilder::Resolve() {
    // Entries are looked up through their enumeration; their names enter the map
    // only where no other node has the name (entry names repeat across enumerations).
    for (CEnumEntryNode* entry : m_entries) m_map.byName.emplace(entry->Name(), entry);
    auto find = [this](const std::string& name, const CEngNode* owner) {
        const auto it = m_map.byName.find(Trim(name));
        if (it == m_map.byName.end()) {
            LoadError("node '" + owner->Name() + "' refers to the missing node '" +
                      std::string(Trim(name)) + "'");
        }
        return it->second;
    };
    for (const SRef& ref : m_refs) {
        *ref.Locate() = find(*ref.name, ref.owner);
    }
    for (const SRegisterRef& ref : m_registers) {
        auto* port = dynamic_cast<CPortNode*>(find(*ref.portName, ref.owner));
        if (!port)
            LoadError("node '" + ref.owner->Name() + "': pPort '" + *ref.portName +
                      "' is not a Port");
        ref.reg->port = port;
    }
    for (const auto& [holder, name] : m_invalidators) {
        m_map.invalidatedBy[find(*name, holder)].push_back(holder);
    }
    for (CStringNode* node : m_strings) {
        if (!dynamic_cast<CStringBase*>(node->m_pValue)) {
            LoadError("node '" + node->Name() + "': pValue '" + node->m_pValue->Name() +
                      "' is not a string");
        }
    }
    // Nodes read as numbers must have one.
    for (const SRef& ref : m_refs) {
        if (!ref.numeric) continue;
        const CEngNode* target = *ref.Locate();
        if (!target->HasNumber()) {
            LoadError("node '" + ref.owner->Name() + "' reads the node '" + target->Name() +
                      "', which has no numeric value");
        }
    }
    for (CIntRegNode* node : m_intRegs) {
        if (!node->m_reg.pLength && node->m_reg.length > 8) {
            LoadError("node '" + node->Name() + "': an integer register has at most 8 bytes");
        }
    }
    for (const SMaskBits& m : m_masks) {
        CIntRegNode* node = m.node;
        const int64_t bits = node->m_reg.length * 8;
        if (node->m_reg.pLength || node->m_reg.length > 8) {
            LoadError("node '" + node->Name() +
                      "': a masked register needs a fixed Length of at most 8");
        }
        // Big-endian registers count bit 0 from the most significant end; both
        // orders of LSB and MSB are taken.
        int64_t a = m.lsb, b = m.msb;
        if (node->m_reg.bigEndian) {
            a = bits - 1 - a;
            b = bits - 1 - b;
        }
        const int64_t lo = std::min(a, b), hi = std::max(a, b);
        if (lo < 0 || hi >= bits) {
            LoadError("node '" + node->Name() + "': bits " + std::to_string(m.lsb) + ".." +
                      std::to_string(m.msb) + " do not fit its " +
                      std::to_string(node->m_reg.length) + "-byte register");
        }
        node->m_masked = true;
        node->m_shift = static_cast<unsigned>(lo);
        node->m_width = static_cast<unsigned>(hi - lo + 1);
    }
    for (const auto& n : m_map.storage) {
        SRegister* reg = n->Reg();
        if (reg && !reg->port) LoadError("register '" + n->Name() + "' has no pPort");
    }
}

void CBuilder::AssignSlots() {
    std::unordered_map<SSlotKey, SRegSlot*, SSlotKeyHash> shared;
    shared.reserve(m_map.storage.size());
    for (const auto& n : m_map.storage) {
        SRegister* reg = n->Reg();
        if (!reg) continue;
        // Polled registers change on their own: never cached. Chunk data is cached
        // only when the port says so; event data never (each event brings its own).
        bool cacheable = reg->cache != ECache::NoCache && reg->pollingTime < 0;
        if (reg->port->m_isChunk && !reg->port->m_cacheChunkData) cacheable = false;
        if (reg->port->m_isEvent) cacheable = false;
        const int mode = cacheable ? static_cast<int>(reg->cache) : 0;
        SRegSlot* slot = nullptr;
        if (reg->ConstantAddress()) {
            const SSlotKey key{reg->port, reg->Address(), reg->length, mode};
            auto it = shared.find(key);
            if (it != shared.end()) slot = it->second;
            if (!slot) {
                m_map.slots.push_back(std::make_unique<SRegSlot>());
                slot = m_map.slots.back().get();
                shared.emplace(key, slot);
            }
        } else {
            m_map.slots.push_back(std::make_unique<SRegSlot>());
            slot = m_map.slots.back().get();
        }
        slot->port = reg->port;
        slot->cacheable = cacheable;
        reg->slot = slot;
        n->m_slot = slot;
    }
}

void CBuilder::MarkFeatures() {
    const auto it = m_map.byName.find("Root");
    if (it == m_map.byName.end()) return;
    std::vector<CEngNode*> pending{it->second};
    while (!pending.empty()) {
        CEngNode* n = pending.back();
        pending.pop_back();
        if (n->m_isFeature) continue;
        n->m_isFeature = true;
        if (CCategoryNode* category = n->AsCategory()) {
            for (CEngNode* f : category->m_features) {
                if (!f->m_isFeature) pending.push_back(f);
            }
        }
    }
}

void CBuilder::RefuseCycles(const std::vector<uint32_t>& begin, const std::vector<uint32_t>& edges,
                            unsigned perNode, const char* what, std::vector<uint32_t>* postOrder) {
    const std::size_t n = begin.size() - 1;
    std::vector<uint8_t> state(n, 0);                  // 0 new, 1 on the path, 2 done
    std::vector<std::pair<uint32_t, uint32_t>> stack;  // vertex, next edge
    for (uint32_t start = 0; start < n; ++start) {
        if (state[start] != 0) continue;
        state[start] = 1;
        stack.push_back({start, begin[start]});
        while (!stack.empty()) {
            auto& [vertex, next] = stack.back();
            if (next == begin[vertex + 1]) {
                state[vertex] = 2;
                if (postOrder) postOrder->push_back(vertex);
                stack.pop_back();
                continue;
            }
            const uint32_t target = edges[next++];
            if (state[target] == 2) continue;
            if (state[target] == 0) {
                state[target] = 1;
                stack.push_back({target, begin[target]});
                continue;
            }
            // On the path: the cycle runs from target to the top of the stack.
            std::string cycle;
            uint32_t last = UINT32_MAX;
            bool in = false;
            for (const auto& frame : stack) {
                in = in || frame.first == target;
                const uint32_t node = frame.first / perNode;
                if (in && node != last) cycle += "'" + m_map.storage[node]->Name() + "' -> ";
                if (in) last = node;
            }
            cycle += "'" + m_map.storage[target / perNode]->Name() + "'";
            LoadError(std::string(what) + " cycle: " + cycle);
        }
    }
}

void CBuilder::BuildGraph() {
    const std::size_t n = m_map.storage.size();
    // Vertices are (node, aspect); the union of a node's targets is kept for the
    // invalidation walks.
    std::vector<uint32_t> begin(n * kAspects + 1, 0);
    std::vector<uint32_t> edges;
    edges.reserve(n * 4);
    m_map.depBegin.assign(n + 1, 0);
    m_map.deps.clear();
    m_map.deps.reserve(n * 2);
    SEdges scratch;
    std::vector<uint32_t> byAspect[kAspects];
    for (std::size_t i = 0; i < n; ++i) {
        scratch.edges.clear();
        m_map.storage[i]->CollectDeps(scratch);
        for (auto& list : byAspect) list.clear();
        m_map.depBegin[i] = static_cast<uint32_t>(m_map.deps.size());
        for (const SEdges::SEdge& e : scratch.edges) {
            byAspect[e.from].push_back(e.node->m_index * kAspects + e.to);
            if (std::find(m_map.deps.begin() + m_map.depBegin[i], m_map.deps.end(), e.node) ==
                m_map.deps.end()) {
                m_map.deps.push_back(e.node);
            }
        }
        for (unsigned a = 0; a < kAspects; ++a) {
            begin[i * kAspects + a] = static_cast<uint32_t>(edges.size());
            edges.insert(edges.end(), byAspect[a].begin(), byAspect[a].end());
        }
    }
    begin[n * kAspects] = static_cast<uint32_t>(edges.size());
    m_map.depBegin[n] = static_cast<uint32_t>(m_map.deps.size());
    m_map.deps.shrink_to_fit();

    std::vector<uint32_t> postOrder;
    postOrder.reserve(n * kAspects);
    RefuseCycles(begin, edges, kAspects, "reference", &postOrder);
    // An access mode is fixed when its evaluation reads no value: no access edge
    // to a value, and only access edges to fixed access modes.
    for (const uint32_t vertex : postOrder) {
        if (vertex % kAspects != kAccess) continue;
        bool fixed = true;
        for (uint32_t e = begin[vertex]; fixed && e < begin[vertex + 1]; ++e) {
            const uint32_t target = edges[e];
            fixed =
                target % kAspects == kAccess && m_map.storage[target / kAspects]->m_staticAccess;
        }
        m_map.storage[vertex / kAspects]->m_staticAccess = fixed;
    }

    // Selectors that select each other would invalidate in a circle.
    std::vector<uint32_t> selBegin(n + 1, 0);
    std::vector<uint32_t> selEdges;
    for (std::size_t i = 0; i < n; ++i) {
        selBegin[i] = static_cast<uint32_t>(selEdges.size());
        for (CEngNode* selected : m_map.storage[i]->m_selected)
            selEdges.push_back(selected->m_index);
    }
    selBegin[n] = static_cast<uint32_t>(selEdges.size());
    RefuseCycles(selBegin, selEdges, 1, "selector", nullptr);
}

void CBuilder::Build(const SXmlElement& root) {
    if (root.name != "RegisterDescription") {
        LoadError("the root element is " + root.name + ", not RegisterDescription");
    }
    auto attribute = [&root](const char* name) {
        const std::string* v = root.Attribute(name);
        return v ? *v : std::string();
    };
    m_map.modelName = attribute("ModelName");
    m_map.vendorName = attribute("VendorName");
    const std::string major = attribute("SchemaMajorVersion");
    const std::string minor = attribute("SchemaMinorVersion");
    const std::string subMinor = attribute("SchemaSubMinorVersion");
    m_map.schemaVersion = (major.empty() ? "1" : major) + "." + (minor.empty() ? "0" : minor) +
                          "." + (subMinor.empty() ? "0" : subMinor);

    m_map.storage.reserve(root.children.size() * 2);
    m_map.order.reserve(root.children.size() * 2);
    m_map.byName.reserve(root.children.size() * 2);
    m_refs.reserve(root.children.size() * 3);
    AddChildren(root, 0);
    Resolve();
    AssignSlots();
    MarkFeatures();
    BuildGraph();
    // A polled enumeration changes by itself: nothing below it is cached.
    for (CEnumerationNode* polled : m_polled) m_map.InvalidateBelow(polled, true);
    for (CPortNode* port : m_map.ports) {
        if (!port->m_isChunk && !port->m_isEvent) port->m_port = m_map.defaultPort;
    }
}

}  // namespace

void BuildNodes(SMapState& map, const SXmlElement& root, const SDescriptionLimits& limits) {
    CBuilder(map, limits).Build(root);
}

}  // namespace GenApi::engine
