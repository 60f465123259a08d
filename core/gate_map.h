// A hash map from a 32-bit key to a small value, as the driver's gate maps use it: a fixed 17
// buckets (the count never changes, however many gates are bound), a key going into bucket
// (key >> 4) mod 17, the bucket array allocated at the first insertion, and entries allocated
// 10 at a time and returned to a free list. Iteration order is bucket by bucket, newest first
// within a bucket.
//
// With many gates a bucket's chain grows long (100,000 sequential gate ids put ~5,900 entries in
// each bucket), and walking it is one dependent memory load per entry. Each bucket therefore
// also keeps its keys in one contiguous array, in no particular order, next to their entries:
// a lookup scans that array instead of the chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

template <typename Value>
class GateMap {
 public:
  static constexpr uint32_t kBuckets = 17;
  static constexpr size_t kBlockSize = 10;

  GateMap() = default;
  GateMap(const GateMap&) = delete;
  GateMap& operator=(const GateMap&) = delete;
  ~GateMap() { Free(); }

  static uint32_t BucketOf(uint32_t key) { return (key >> 4) % kBuckets; }

  // Null when the key is absent.
  Value* Find(uint32_t key) {
    if (!buckets_) return nullptr;
    const Index& index = index_[BucketOf(key)];
    for (uint32_t i = 0; i < index.size; ++i) {
      if (index.keys[i] == key) return &index.entries[i]->value;
    }
    return nullptr;
  }
  bool Contains(uint32_t key) { return Find(key) != nullptr; }

  // Inserts or overwrites. False only when memory could not be obtained.
  bool Set(uint32_t key, const Value& value) {
    if (Value* v = Find(key)) {
      *v = value;
      return true;
    }
    return InsertNew(key, value);
  }

  // Inserts a key that the caller has just found absent, without walking its bucket again.
  // False only when memory could not be obtained.
  bool InsertNew(uint32_t key, const Value& value) {
    if (!buckets_) {
      index_ = new (std::nothrow) Index[kBuckets]{};
      buckets_ = index_ ? new (std::nothrow) Entry* [kBuckets] {} : nullptr;
      if (!buckets_) {
        delete[] index_;
        index_ = nullptr;
        return false;
      }
    }
    uint32_t b = BucketOf(key);
    Index& index = index_[b];
    if (index.size == index.capacity && !Grow(&index)) return false;
    Entry* e = NewEntry();
    if (!e) return false;
    e->key = key;
    e->value = value;
    e->next = buckets_[b];
    buckets_[b] = e;
    index.keys[index.size] = key;
    index.entries[index.size] = e;
    ++index.size;
    ++count_;
    return true;
  }

  // True when the key was present.
  bool Remove(uint32_t key) {
    if (!buckets_) return false;
    uint32_t b = BucketOf(key);
    Index& index = index_[b];
    uint32_t at = 0;
    while (at < index.size && index.keys[at] != key) ++at;
    if (at == index.size) return false;
    Entry* removed = index.entries[at];
    --index.size;
    index.keys[at] = index.keys[index.size];
    index.entries[at] = index.entries[index.size];
    for (Entry** link = &buckets_[b]; *link; link = &(*link)->next) {
      if (*link == removed) {
        *link = removed->next;
        break;
      }
    }
    removed->next = free_;
    free_ = removed;
    --count_;
    return true;
  }

  size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }

  // Calls fn(key, value&) for every entry in the map's own order. fn must not change the map.
  template <typename Fn>
  void ForEach(Fn&& fn) {
    if (!buckets_) return;
    for (uint32_t b = 0; b < kBuckets; ++b) {
      for (Entry* e = buckets_[b]; e; e = e->next) fn(e->key, e->value);
    }
  }

  // Removes every entry; the entries go back to the free list, the blocks stay.
  void RemoveAll() {
    if (!buckets_) return;
    for (uint32_t b = 0; b < kBuckets; ++b) {
      while (Entry* e = buckets_[b]) {
        buckets_[b] = e->next;
        e->next = free_;
        free_ = e;
      }
      index_[b].size = 0;
    }
    count_ = 0;
  }

  // Releases the bucket array and every block.
  void Free() {
    delete[] buckets_;
    buckets_ = nullptr;
    if (index_) {
      for (uint32_t b = 0; b < kBuckets; ++b) {
        delete[] index_[b].keys;
        delete[] index_[b].entries;
      }
      delete[] index_;
      index_ = nullptr;
    }
    while (Block* block = blocks_) {
      blocks_ = block->next;
      delete block;
    }
    free_ = nullptr;
    count_ = 0;
  }

  // Introspection for tests.
  bool HasBuckets() const { return buckets_ != nullptr; }
  size_t BlockCount() const {
    size_t n = 0;
    for (Block* b = blocks_; b; b = b->next) ++n;
    return n;
  }

 private:
  struct Entry {
    Entry* next;
    uint32_t key;
    Value value;
  };
  struct Block {
    Block* next;
    Entry entries[kBlockSize];
  };
  // A bucket's keys side by side, and the entry of each.
  struct Index {
    uint32_t* keys;
    Entry** entries;
    uint32_t size;
    uint32_t capacity;
  };

  // Doubles the room of a bucket's key array. False when memory could not be obtained.
  static bool Grow(Index* index) {
    uint32_t capacity = index->capacity ? index->capacity * 2 : 16;
    auto* keys = new (std::nothrow) uint32_t[capacity];
    auto* entries = keys ? new (std::nothrow) Entry*[capacity] : nullptr;
    if (!entries) {
      delete[] keys;
      return false;
    }
    for (uint32_t i = 0; i < index->size; ++i) {
      keys[i] = index->keys[i];
      entries[i] = index->entries[i];
    }
    delete[] index->keys;
    delete[] index->entries;
    index->keys = keys;
    index->entries = entries;
    index->capacity = capacity;
    return true;
  }

  Entry* NewEntry() {
    if (!free_) {
      Block* block = new (std::nothrow) Block{};
      if (!block) return nullptr;
      block->next = blocks_;
      blocks_ = block;
      for (size_t i = kBlockSize; i-- > 0;) {
        block->entries[i].next = free_;
        free_ = &block->entries[i];
      }
    }
    Entry* e = free_;
    free_ = e->next;
    return e;
  }

  Entry** buckets_ = nullptr;
  Index* index_ = nullptr;  // kBuckets, allocated with buckets_
  Block* blocks_ = nullptr;
  Entry* free_ = nullptr;
  size_t count_ = 0;
};
