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
    const Bucket& bucket = buckets_[BucketOf(key)];
    for (uint32_t i = 0; i < bucket.size; ++i) {
      if (bucket.keys[i] == key) return &bucket.entries[i]->value;
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
      buckets_ = new (std::nothrow) Bucket[kBuckets]{};
      if (!buckets_) return false;
    }
    Bucket& bucket = buckets_[BucketOf(key)];
    if (bucket.size == bucket.capacity && !Grow(&bucket)) return false;
    Entry* e = NewEntry();
    if (!e) return false;
    e->key = key;
    e->value = value;
    e->next = bucket.chain;
    bucket.chain = e;
    bucket.keys[bucket.size] = key;
    bucket.entries[bucket.size] = e;
    ++bucket.size;
    ++count_;
    return true;
  }

  // True when the key was present.
  bool Remove(uint32_t key) {
    if (!buckets_) return false;
    Bucket& bucket = buckets_[BucketOf(key)];
    uint32_t at = 0;
    while (at < bucket.size && bucket.keys[at] != key) ++at;
    if (at == bucket.size) return false;
    Entry* removed = bucket.entries[at];
    --bucket.size;
    bucket.keys[at] = bucket.keys[bucket.size];
    bucket.entries[at] = bucket.entries[bucket.size];
    for (Entry** link = &bucket.chain; *link; link = &(*link)->next) {
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
      for (Entry* e = buckets_[b].chain; e; e = e->next) fn(e->key, e->value);
    }
  }

  // Removes every entry; the entries go back to the free list, the blocks stay.
  void RemoveAll() {
    if (!buckets_) return;
    for (uint32_t b = 0; b < kBuckets; ++b) {
      Bucket& bucket = buckets_[b];
      while (Entry* e = bucket.chain) {
        bucket.chain = e->next;
        e->next = free_;
        free_ = e;
      }
      bucket.size = 0;
    }
    count_ = 0;
  }

  // Releases the bucket array and every block.
  void Free() {
    if (buckets_) {
      for (uint32_t b = 0; b < kBuckets; ++b) {
        delete[] buckets_[b].keys;
        delete[] buckets_[b].entries;
      }
      delete[] buckets_;
      buckets_ = nullptr;
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
  // A bucket: its chain, newest first, and the same entries' keys side by side for lookups.
  struct Bucket {
    Entry* chain;
    uint32_t* keys;
    Entry** entries;
    uint32_t size;
    uint32_t capacity;
  };

  // Doubles the room of a bucket's key array. False when memory could not be obtained.
  static bool Grow(Bucket* bucket) {
    uint32_t capacity = bucket->capacity ? bucket->capacity * 2 : 16;
    auto* keys = new (std::nothrow) uint32_t[capacity];
    auto* entries = keys ? new (std::nothrow) Entry*[capacity] : nullptr;
    if (!entries) {
      delete[] keys;
      return false;
    }
    for (uint32_t i = 0; i < bucket->size; ++i) {
      keys[i] = bucket->keys[i];
      entries[i] = bucket->entries[i];
    }
    delete[] bucket->keys;
    delete[] bucket->entries;
    bucket->keys = keys;
    bucket->entries = entries;
    bucket->capacity = capacity;
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

  Bucket* buckets_ = nullptr;  // kBuckets
  Block* blocks_ = nullptr;
  Entry* free_ = nullptr;
  size_t count_ = 0;
};
