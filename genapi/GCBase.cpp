// The GenICam exception hierarchy. Constructors and destructors live here so that
// each exception's typeinfo has a single home in libGenApi and a catch in another
// shared library matches what this one throws.
#include "GCBase.h"

#include <string>

namespace GenICam {

namespace {
const char* OrEmpty(const char* text) {
    return text ? text : "";
}
}  // namespace

GenericException::GenericException(const char* description, const char* sourceFileName,
                                   unsigned int sourceLine)
    : GenericException(description, sourceFileName, sourceLine, "GenericException") {}

GenericException::GenericException(const char* description, const char* sourceFileName,
                                   unsigned int sourceLine, const char* typeName)
    : m_description(OrEmpty(description)), m_file(OrEmpty(sourceFileName)), m_line(sourceLine) {
    m_what = m_description + " : " + OrEmpty(typeName) + " thrown (file '" + m_file + "', line " +
             std::to_string(m_line) + ")";
}

GenericException::~GenericException() = default;

#define GENICAM_DEFINE_EXCEPTION(Name)                                                 \
    Name::Name(const char* description, const char* sourceFileName, unsigned int line) \
        : GenericException(description, sourceFileName, line, #Name) {}                \
    Name::~Name() = default;

GENICAM_DEFINE_EXCEPTION(BadAllocException)
GENICAM_DEFINE_EXCEPTION(InvalidArgumentException)
GENICAM_DEFINE_EXCEPTION(OutOfRangeException)
GENICAM_DEFINE_EXCEPTION(PropertyException)
GENICAM_DEFINE_EXCEPTION(RuntimeException)
GENICAM_DEFINE_EXCEPTION(LogicalErrorException)
GENICAM_DEFINE_EXCEPTION(AccessException)
GENICAM_DEFINE_EXCEPTION(TimeoutException)
GENICAM_DEFINE_EXCEPTION(DynamicCastException)

#undef GENICAM_DEFINE_EXCEPTION

}  // namespace GenICam
