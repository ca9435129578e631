// String-keyed maps with a deterministic (lexical) iteration order, so scripts, scan
// files and substitute-name numbering come out the same on every run.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "cstring.h"

template <class V>
class CStringKeyMap {
 public:
  using Storage = std::map<std::string, V, CStringLess>;
  using iterator = typename Storage::iterator;
  using const_iterator = typename Storage::const_iterator;

  // Inserts, or replaces the value of an existing key (the old value is not freed).
  void SetAt(std::string_view key, const V& value) {
    auto it = m_map.find(key);
    if (it == m_map.end()) m_map.emplace(std::string(key), value);
    else it->second = value;
  }
  bool Lookup(std::string_view key, V& value) const {
    auto it = m_map.find(key);
    if (it == m_map.end()) return false;
    value = it->second;
    return true;
  }
  // Pointer to the stored value, or null.
  V* Find(std::string_view key) {
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : &it->second;
  }
  const V* Find(std::string_view key) const {
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : &it->second;
  }
  bool Contains(std::string_view key) const { return m_map.find(key) != m_map.end(); }
  V& operator[](std::string_view key) {
    auto it = m_map.find(key);
    if (it == m_map.end()) it = m_map.emplace(std::string(key), V()).first;
    return it->second;
  }
  bool RemoveKey(std::string_view key) {
    auto it = m_map.find(key);
    if (it == m_map.end()) return false;
    m_map.erase(it);
    return true;
  }
  void RemoveAll() { m_map.clear(); }
  int GetCount() const { return int(m_map.size()); }
  bool IsEmpty() const { return m_map.empty(); }

  // Iteration; erase() returns the next entry, so entries can be removed during a walk.
  iterator begin() { return m_map.begin(); }
  iterator end() { return m_map.end(); }
  const_iterator begin() const { return m_map.begin(); }
  const_iterator end() const { return m_map.end(); }
  iterator erase(iterator it) { return m_map.erase(it); }

 private:
  Storage m_map;
};

using CMapStringToString = CStringKeyMap<CString>;
