// A small strict XML reader for GenICam descriptions: elements, attributes, text,
// comments, CDATA, processing instructions and the XML declaration (skipped),
// character references and the five predefined entities. A DOCTYPE is skipped
// without expanding anything it declares; any other entity reference is an error.
// UTF-8, with or without a byte order mark. Namespace prefixes are dropped from
// element and attribute names (xmlns attributes are not reported).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "EngineNodeMap.h"

namespace GenApi::engine {

struct SXmlElement {
    std::string name;  ///< local name, prefix dropped
    std::vector<std::pair<std::string, std::string>> attributes;  ///< decoded values, in order
    std::string text;  ///< character data directly inside (CDATA included), decoded, untrimmed
    std::vector<SXmlElement> children;
    unsigned line = 0;    ///< where the start tag begins, from 1
    unsigned column = 0;  ///< in bytes, from 1

    /// The attribute's value, or null.
    const std::string* Attribute(std::string_view attributeName) const;
};

/// Parses a whole document into its root element. RuntimeException
/// "xml line L, column C: reason" on malformed input or an exceeded cap
/// (maxDepth, maxAttributeBytes, maxTextBytes, maxXmlBytes; maxNodes counts elements).
SXmlElement ParseXml(std::string_view text, const SDescriptionLimits& limits);

}  // namespace GenApi::engine
