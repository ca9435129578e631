// The order in which an export creates views, procedures, functions and triggers: each after
// every object of its kind whose name its definition text uses, so a view that selects from
// another view is created after it. Ties, and the objects of a cycle, go in object-id order.
// The window and engine-driver both export through it, whatever order they list objects in.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "common/records.h"
#include "platform/collections.h"

namespace uicore {

// The names a definition text uses, lower case: bare words, [bracketed] and "quoted" names;
// string literals and comments do not count.
std::set<std::string> NamesUsedBy(const std::string& text);

// `objects` in creation order. `map` is the engine's map of their kind, whose keys are their
// object ids; an object not in it ranks after those that are, in the order given.
std::vector<CViewStoredProc*> CreationOrder(const std::vector<CViewStoredProc*>& objects,
                                            const CStringKeyMap<CViewStoredProc*>& map);

}  // namespace uicore
