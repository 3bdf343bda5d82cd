// GenICam base types of the node-map layer: gcstring, gcstring_vector and the
// exception hierarchy, named as the GenICam standard names them.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(GENAPI_BUILD)
#define GENAPI_API __declspec(dllexport)
#else
#define GENAPI_API __declspec(dllimport)
#endif
#else
#define GENAPI_API __attribute__((visibility("default")))
#endif

namespace GenICam {

/// Narrow text as GenICam passes it: bytes, no code-page conversion.
class gcstring {
public:
    gcstring() = default;
    gcstring(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit as in GenICam
    gcstring(std::string text) : m_text(std::move(text)) {}   // NOLINT
    const char* c_str() const { return m_text.c_str(); }
    operator const char*() const { return m_text.c_str(); }  // NOLINT
    std::size_t size() const { return m_text.size(); }
    std::size_t length() const { return m_text.size(); }
    bool empty() const { return m_text.empty(); }
    const std::string& str() const { return m_text; }
    bool operator==(const gcstring& other) const { return m_text == other.m_text; }
    bool operator!=(const gcstring& other) const { return m_text != other.m_text; }
    bool operator==(const char* other) const { return m_text == (other ? other : ""); }
    bool operator!=(const char* other) const { return !(*this == other); }
    bool operator<(const gcstring& other) const { return m_text < other.m_text; }

private:
    std::string m_text;
};

using gcstring_vector = std::vector<gcstring>;

/// Root of every GenICam exception: a description with the source file and line
/// where it was raised.
class GENAPI_API GenericException : public std::exception {
public:
    GenericException(const char* description, const char* sourceFileName, unsigned int sourceLine);
    ~GenericException() override;
    const char* GetDescription() const noexcept { return m_description.c_str(); }
    const char* GetSourceFileName() const noexcept { return m_file.c_str(); }
    unsigned int GetSourceLine() const noexcept { return m_line; }
    /// "<description> : <type> thrown (file '<file>', line <line>)"
    const char* what() const noexcept override { return m_what.c_str(); }

protected:
    GenericException(const char* description, const char* sourceFileName, unsigned int sourceLine,
                     const char* typeName);

private:
    std::string m_description;
    std::string m_file;
    unsigned int m_line = 0;
    std::string m_what;
};

#define GENICAM_DECLARE_EXCEPTION(Name)                                               \
    class GENAPI_API Name : public GenericException {                                 \
    public:                                                                           \
        Name(const char* description, const char* sourceFileName, unsigned int line); \
        ~Name() override;                                                             \
    };

GENICAM_DECLARE_EXCEPTION(BadAllocException)
GENICAM_DECLARE_EXCEPTION(InvalidArgumentException)
GENICAM_DECLARE_EXCEPTION(OutOfRangeException)
GENICAM_DECLARE_EXCEPTION(PropertyException)
GENICAM_DECLARE_EXCEPTION(RuntimeException)
GENICAM_DECLARE_EXCEPTION(LogicalErrorException)
GENICAM_DECLARE_EXCEPTION(AccessException)
GENICAM_DECLARE_EXCEPTION(TimeoutException)
GENICAM_DECLARE_EXCEPTION(DynamicCastException)

#undef GENICAM_DECLARE_EXCEPTION

}  // namespace GenICam

/// Raises a GenICam exception of the given type with the current file and line.
#define GENICAM_THROW(Type, description) throw GenICam::Type((description), __FILE__, __LINE__)
