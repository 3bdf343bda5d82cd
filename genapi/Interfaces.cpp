// Out-of-line destructors: they anchor each interface's vtable and typeinfo in
// libGenApi, which the typed pointers' dynamic casts across libraries rely on.
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

}  // namespace GenApi
