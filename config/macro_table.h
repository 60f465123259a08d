// The macro table: macro names (with their leading '#') to the path prefixes they stand for.
// Names are compared exactly, case included. The table keeps a fixed 17 buckets hashed over the
// name, so its iteration order is its own hash order, not the order of insertion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class MacroTable {
 public:
  static constexpr size_t kBuckets = 17;

  // False when the name is absent; value may be null.
  bool Lookup(std::string_view name, std::string* value) const {
    if (const Entry* e = FindEntry(name)) {
      if (value) *value = e->value;
      return true;
    }
    return false;
  }
  bool Contains(std::string_view name) const { return FindEntry(name) != nullptr; }

  // Inserts or overwrites.
  void Set(std::string_view name, std::string_view value) {
    if (Entry* e = const_cast<Entry*>(FindEntry(name))) {
      e->value = value;
      return;
    }
    buckets_[Hash(name)].push_back(Entry{std::string(name), std::string(value)});
    ++count_;
  }

  void RemoveAll() {
    for (auto& bucket : buckets_) std::vector<Entry>().swap(bucket);
    count_ = 0;
  }

  size_t Count() const { return count_; }

  // Calls fn(name, value) for every entry in the table's order.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (const auto& bucket : buckets_) {
      for (const Entry& e : bucket) fn(e.name, e.value);
    }
  }

 private:
  struct Entry {
    std::string name;
    std::string value;
  };

  // The classic string hash of the platform's string maps: key = key * 33 + character.
  static size_t Hash(std::string_view name) {
    uint32_t h = 0;
    for (unsigned char c : name) h = (h << 5) + h + c;
    return h % kBuckets;
  }

  const Entry* FindEntry(std::string_view name) const {
    for (const Entry& e : buckets_[Hash(name)]) {
      if (e.name == name) return &e;
    }
    return nullptr;
  }

  std::vector<Entry> buckets_[kBuckets];
  size_t count_ = 0;
};
