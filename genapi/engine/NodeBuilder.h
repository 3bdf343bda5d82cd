// Builds the nodes of a map from a parsed description in one pass over the element
// tree, then resolves references by name, shares register slots, computes which
// nodes are features, lays out the dependency graph and refuses reference cycles.
#pragma once

#include "EngineNodes.h"
#include "XmlReader.h"

namespace GenApi::engine {

/// Fills map from root. RuntimeException naming the node (and element) on a
/// malformed node, a missing reference, a duplicate name or a cycle.
void BuildNodes(SMapState& map, const SXmlElement& root, const SDescriptionLimits& limits);

}  // namespace GenApi::engine
