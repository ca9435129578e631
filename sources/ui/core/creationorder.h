// The order in which an export creates views, procedures, functions and triggers: each after
// every object among those ordered together whose name its definition text uses, so a view
// that selects from another view, or calls a function, is created after it. Views and
// functions are ordered together: SQL Server resolves what they use when they are created.
// Ties, and the objects of a cycle, go in object-id order. The window and engine-driver both
// export through it, whatever order they list objects in.
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

// One object in creation order and what its text uses among the objects ordered with it.
struct CreationStep {
  CViewStoredProc* object = nullptr;
  std::vector<CViewStoredProc*> uses;
  // Those of `uses` created after it, which only a cycle of uses leaves: the server may
  // refuse this object until they exist.
  std::vector<CViewStoredProc*> usesLater;
};

// `objects` in creation order. `maps` are the engine's maps of their kinds, whose keys are
// their object ids (unique across kinds); an object in none of them ranks after those that
// are, in the order given.
std::vector<CreationStep> CreationSteps(const std::vector<CViewStoredProc*>& objects,
                                        const std::vector<const CStringKeyMap<CViewStoredProc*>*>& maps);

// The objects of one kind in creation order, `map` being that kind's map.
std::vector<CViewStoredProc*> CreationOrder(const std::vector<CViewStoredProc*>& objects,
                                            const CStringKeyMap<CViewStoredProc*>& map);

}  // namespace uicore
