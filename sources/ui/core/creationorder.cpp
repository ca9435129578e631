#include "ui/core/creationorder.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <utility>

namespace uicore {

namespace {

bool IsWordChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::set<std::string> NamesUsedBy(const std::string& text) {
  std::set<std::string> names;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '-' && i + 1 < n && text[i + 1] == '-') {
      while (i < n && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? n : end + 2;
    } else if (c == '\'') {
      // A literal: '' inside it is a quote.
      for (++i; i < n; ++i)
        if (text[i] == '\'') {
          if (i + 1 < n && text[i + 1] == '\'') ++i;
          else break;
        }
      ++i;
    } else if (c == '[' || c == '"') {
      const char close = c == '[' ? ']' : '"';
      std::string name;
      for (++i; i < n; ++i) {
        if (text[i] == close) {
          if (i + 1 < n && text[i + 1] == close) {
            name += close;
            ++i;
            continue;
          }
          break;
        }
        name += text[i];
      }
      ++i;
      if (!name.empty()) names.insert(Lower(name));
    } else if (IsWordChar(c)) {
      const size_t from = i;
      while (i < n && IsWordChar(text[i])) ++i;
      names.insert(Lower(text.substr(from, i - from)));
    } else {
      ++i;
    }
  }
  return names;
}

std::vector<CreationStep> CreationSteps(const std::vector<CViewStoredProc*>& objects,
                                        const std::vector<const CStringKeyMap<CViewStoredProc*>*>& maps) {
  // Object ids from the maps' keys; objects no map holds keep their given order after all
  // the others.
  std::map<const CViewStoredProc*, long long> ids;
  for (const CStringKeyMap<CViewStoredProc*>* map : maps) {
    if (!map) continue;
    for (const auto& [key, object] : *map)
      if (object) ids[object] = std::atoll(key.c_str());
  }
  struct Item {
    CViewStoredProc* object;
    long long id;
    size_t given;
  };
  std::vector<Item> items;
  for (size_t i = 0; i < objects.size(); ++i) {
    if (!objects[i]) continue;
    const auto it = ids.find(objects[i]);
    items.push_back({objects[i], it == ids.end() ? LLONG_MAX : it->second, i});
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return a.id != b.id ? a.id < b.id : a.given < b.given;
  });

  // Who uses whom, among the objects ordered here.
  std::multimap<std::string, size_t> byName;
  for (size_t i = 0; i < items.size(); ++i) byName.emplace(Lower(items[i].object->m_strName.str()), i);
  std::vector<std::set<size_t>> uses(items.size());
  for (size_t i = 0; i < items.size(); ++i)
    for (const std::string& name : NamesUsedBy(items[i].object->m_strText.str())) {
      const auto range = byName.equal_range(name);
      for (auto it = range.first; it != range.second; ++it)
        if (it->second != i) uses[i].insert(it->second);
    }

  // Repeatedly the first object (in id order) whose used objects are all created; when none
  // is, a cycle is left and its first object goes next.
  std::vector<CreationStep> out;
  std::vector<bool> done(items.size(), false);
  for (size_t placed = 0; placed < items.size(); ++placed) {
    size_t next = items.size();
    for (size_t i = 0; i < items.size() && next == items.size(); ++i) {
      if (done[i]) continue;
      bool ready = true;
      for (size_t u : uses[i]) ready = ready && done[u];
      if (ready) next = i;
    }
    if (next == items.size())
      for (size_t i = 0; i < items.size() && next == items.size(); ++i)
        if (!done[i]) next = i;
    CreationStep step;
    step.object = items[next].object;
    for (size_t u : uses[next]) {
      step.uses.push_back(items[u].object);
      if (!done[u]) step.usesLater.push_back(items[u].object);
    }
    done[next] = true;
    out.push_back(std::move(step));
  }
  return out;
}

std::vector<CViewStoredProc*> CreationOrder(const std::vector<CViewStoredProc*>& objects,
                                            const CStringKeyMap<CViewStoredProc*>& map) {
  std::vector<CViewStoredProc*> out;
  for (const CreationStep& step : CreationSteps(objects, {&map})) out.push_back(step.object);
  return out;
}

}  // namespace uicore
