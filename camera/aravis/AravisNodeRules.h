// GenApi's rules over Aravis's node tree where Aravis 0.8 answers differently:
// the access mode a node has through the nodes behind it, and the default range
// of a node whose description names none.
#pragma once

#include <cstdint>

#include "AravisSystem.h"
#include "GenApi.h"

namespace KZRGENICAM::detail {

/// Aravis's answer for a Min, Max or Inc the description does not define: the
/// value Aravis returns with it is GenApi's default, not a failure.
bool IsUndefinedProperty(const GError* error);

/// The node a pointer property of the given type (pValue, pIsLocked ...) names,
/// or null.
ArvGcNode* LinkedNode(ArvGcNode* node, ArvGcPropertyNodeType type);

/// The integer a property of one of the given types holds (value or pointer);
/// fallback when the node has none. Aravis errors go to error.
int64_t PropertyInt(ArvGcNode* node, ArvGcPropertyNodeType type, ArvGcPropertyNodeType pointerType,
                    int64_t fallback, GError** error);

/// GenApi's access mode: what the node declares or has imposed, combined with
/// every node its value goes through (pValue chain down to the register, the
/// variables of a formula), then pIsImplemented, pIsAvailable and pIsLocked.
/// Reads that the probes need and that fail go to error and give NA.
GenApi::EAccessMode CombinedAccess(ArvGcNode* node, GError** error);

}  // namespace KZRGENICAM::detail
