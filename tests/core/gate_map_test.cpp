#include "core/gate_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace {

using Map = GateMap<uint32_t>;

std::vector<std::pair<uint32_t, uint32_t>> Entries(Map& map) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  map.ForEach([&](uint32_t key, uint32_t& value) { out.emplace_back(key, value); });
  return out;
}

TEST(GateMapTest, BucketIsKeyShiftedByFourModSeventeen) {
  struct Case {
    uint32_t key;
    uint32_t bucket;
  };
  const Case cases[] = {
      {0, 0}, {15, 0}, {16, 1}, {17 * 16, 0}, {32017, 12}, {0xFFFFFFFFu, 15},
  };
  for (const Case& c : cases) EXPECT_EQ(Map::BucketOf(c.key), c.bucket) << c.key;
}

TEST(GateMapTest, BucketArrayComesWithTheFirstInsertion) {
  Map map;
  EXPECT_FALSE(map.HasBuckets());
  EXPECT_EQ(map.Find(5), nullptr);
  EXPECT_FALSE(map.Remove(5));
  EXPECT_FALSE(map.HasBuckets());
  ASSERT_TRUE(map.Set(5, 50));
  EXPECT_TRUE(map.HasBuckets());
  ASSERT_NE(map.Find(5), nullptr);
  EXPECT_EQ(*map.Find(5), 50u);
}

TEST(GateMapTest, SetOverwritesAndRemoveForgetsOnlyItsKey) {
  Map map;
  ASSERT_TRUE(map.Set(1, 10));
  ASSERT_TRUE(map.Set(1, 11));
  // Same bucket (1 >> 4 == 2 >> 4), different keys.
  ASSERT_TRUE(map.Set(2, 20));
  EXPECT_EQ(map.Count(), 2u);
  EXPECT_EQ(*map.Find(1), 11u);
  EXPECT_TRUE(map.Remove(1));
  EXPECT_FALSE(map.Remove(1));
  EXPECT_EQ(map.Find(1), nullptr);
  ASSERT_NE(map.Find(2), nullptr);
  EXPECT_EQ(*map.Find(2), 20u);
  EXPECT_EQ(map.Count(), 1u);
}

TEST(GateMapTest, EntriesComeTenAtATimeAndGoBackToTheFreeList) {
  Map map;
  for (uint32_t k = 0; k < 10; ++k) ASSERT_TRUE(map.Set(k * 16, k));
  EXPECT_EQ(map.BlockCount(), 1u);
  ASSERT_TRUE(map.Set(1000, 1));
  EXPECT_EQ(map.BlockCount(), 2u);

  // A removed entry is reused before any new block is taken.
  for (uint32_t k = 0; k < 9; ++k) ASSERT_TRUE(map.Remove(k * 16));
  for (uint32_t k = 0; k < 18; ++k) ASSERT_TRUE(map.Set(5000 + k * 16, k));
  EXPECT_EQ(map.Count(), 20u);
  EXPECT_EQ(map.BlockCount(), 2u);

  // Emptying keeps the blocks; freeing gives everything back.
  map.RemoveAll();
  EXPECT_TRUE(map.Empty());
  EXPECT_EQ(map.Find(5000), nullptr);
  EXPECT_EQ(map.BlockCount(), 2u);
  for (uint32_t k = 0; k < 20; ++k) ASSERT_TRUE(map.Set(k, k));
  EXPECT_EQ(map.BlockCount(), 2u);
  map.Free();
  EXPECT_FALSE(map.HasBuckets());
  EXPECT_EQ(map.BlockCount(), 0u);
  EXPECT_EQ(map.Count(), 0u);
  ASSERT_TRUE(map.Set(7, 70));  // usable again after Free
  EXPECT_EQ(*map.Find(7), 70u);
}

TEST(GateMapTest, IterationIsBucketByBucketNewestFirst) {
  Map map;
  // Keys 0 and 1 share bucket 0; 16 is bucket 1; 17 * 16 wraps to bucket 0.
  ASSERT_TRUE(map.Set(16, 1));
  ASSERT_TRUE(map.Set(0, 2));
  ASSERT_TRUE(map.Set(1, 3));
  ASSERT_TRUE(map.Set(17 * 16, 4));
  std::vector<std::pair<uint32_t, uint32_t>> expected = {{17 * 16, 4}, {1, 3}, {0, 2}, {16, 1}};
  EXPECT_EQ(Entries(map), expected);
}

// Long buckets, keys coming and going in random order: every lookup, the count and the
// iteration agree with a plain ordered map, whatever the removals did to the buckets.
TEST(GateMapTest, ManyKeysComingAndGoingStayFindable) {
  Map map;
  std::map<uint32_t, uint32_t> model;
  std::mt19937 rng(17);
  for (int round = 0; round < 60000; ++round) {
    uint32_t key = rng() % 3000;
    switch (rng() % 4) {
      case 0:
        EXPECT_EQ(map.Remove(key), model.erase(key) == 1) << key;
        break;
      case 1:
        if (round % 5000 == 0) {
          map.RemoveAll();
          model.clear();
        }
        [[fallthrough]];
      default:
        ASSERT_TRUE(map.Set(key, round));
        model[key] = round;
    }
    uint32_t probe = rng() % 3000;
    uint32_t* found = map.Find(probe);
    auto it = model.find(probe);
    ASSERT_EQ(found != nullptr, it != model.end()) << probe;
    if (found) {
      ASSERT_EQ(*found, it->second);
    }
  }
  EXPECT_EQ(map.Count(), model.size());
  std::map<uint32_t, uint32_t> seen;
  map.ForEach([&](uint32_t key, uint32_t& value) { EXPECT_TRUE(seen.emplace(key, value).second); });
  EXPECT_EQ(seen, model);
}

}  // namespace
