// Out-of-line destructors and the defaults of the optional node facts: they anchor each interface's
// vtable and typeinfo in libGenApi, which the typed pointers' dynamic casts across libraries rely
// on.
#include "ChunkNodeMap.h"
#include "GenApi.h"

namespace GenApi {

IBase::~IBase() = default;
INode::~INode() = default;
IValue::~IValue() = default;
IBoolean::~IBoolean() = default;
IInteger::~IInteger() = default;
IFloat::~IFloat() = default;
IString::~IString() = default;
IEnumEntry::~IEnumEntry() = default;
IEnumeration::~IEnumeration() = default;
ICommand::~ICommand() = default;
IRegister::~IRegister() = default;
ICategory::~ICategory() = default;
IPort::~IPort() = default;
INodeMap::~INodeMap() = default;
IChunkNodeMap::~IChunkNodeMap() = default;

gcstring INode::GetToolTip() const {
    return GetDescription();
}

EVisibility INode::GetVisibility() const {
    return Beginner;
}

bool INode::IsSelector() const {
    return false;
}

void INode::GetSelectedFeatures(FeatureList_t& Features) const {
    Features.clear();
}

gcstring IInteger::GetUnit() const {
    return {};
}

gcstring IFloat::GetUnit() const {
    return {};
}

void IEnumeration::GetEntries(NodeList_t& Entries) {
    Entries.clear();
    gcstring_vector symbolics;
    GetSymbolics(symbolics);
    for (const gcstring& symbolic : symbolics) {
        if (IEnumEntry* entry = GetEntryByName(symbolic)) Entries.push_back(entry->GetNode());
    }
}

}  // namespace GenApi
