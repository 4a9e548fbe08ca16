#include <gtest/gtest.h>

#include <cstdint>
#include <list>
#include <map>
#include <new>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/memcomps/base/memString.h"

namespace {

template <typename T>
using RulesAlloc = mem::stlAlloc<T, mt_rc_fault_rules>;

memType_t typeOf(const void* p) {
  memType_t memType = mt_unused;
  EXPECT_TRUE(mem::getMemType(p, &memType));
  return memType;
}

}  // namespace

TEST(StlAlloc, ContainerStorageIsTagged) {
  std::vector<int64_t, mem::stlAlloc<int64_t, mt_strvec>> vec;
  for (int i = 0; i < 100; ++i) vec.push_back(i);
  EXPECT_EQ(typeOf(vec.data()), mt_strvec);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(vec.data()) % alignof(int64_t), 0u);
  EXPECT_EQ(vec[99], 99);

  // Node containers rebind the allocator to their node type and keep the tag.
  std::list<int, RulesAlloc<int>> nodes = {1, 2, 3};
  EXPECT_EQ(nodes.back(), 3);
  std::map<int, double, std::less<int>, RulesAlloc<std::pair<const int, double>>> table;
  table[1] = 1.5;
  table[2] = 2.5;
  EXPECT_EQ(table.at(2), 2.5);
  // A node's block starts before the element; walk back to the header through the allocator.
  RulesAlloc<int> alloc;
  int* block = alloc.allocate(3);
  EXPECT_EQ(typeOf(block), mt_rc_fault_rules);
  alloc.deallocate(block, 3);
}

TEST(StlAlloc, AllocatorsOfOneTagAreInterchangeable) {
  RulesAlloc<int> a;
  RulesAlloc<int> b;
  RulesAlloc<double> c(a);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  EXPECT_TRUE(a == c);
  static_assert(std::allocator_traits<RulesAlloc<int>>::is_always_equal::value);
  static_assert(std::is_same_v<std::allocator_traits<RulesAlloc<int>>::rebind_alloc<char>,
                               mem::stlAlloc<char, mt_rc_fault_rules>>);
  // Storage allocated through one copy is released through another.
  double* p = c.allocate(4);
  RulesAlloc<double>(b).deallocate(p, 4);
}

TEST(StlAlloc, CountsBeyondTheLimitAreRefused) {
  mem::stlAlloc<int64_t> alloc;
  EXPECT_GT(alloc.max_size(), 0u);
  EXPECT_THROW(static_cast<void>(alloc.allocate(alloc.max_size() + 1)), std::bad_array_new_length);
  EXPECT_THROW(static_cast<void>(alloc.allocate(SIZE_MAX)), std::bad_array_new_length);
}

TEST(String, StorageIsTaggedAsString) {
  String s("a string long enough to leave the small-string buffer behind");
  EXPECT_EQ(typeOf(s.c_str()), mt_rc_string);
  s += " and grows";
  EXPECT_EQ(typeOf(s.c_str()), mt_rc_string);
  EXPECT_EQ(s.substr(0, 8), "a string");

  std::unordered_set<String> set = {"one", "two", s};
  EXPECT_EQ(set.count("two"), 1u);
  EXPECT_EQ(set.count(s), 1u);
  EXPECT_EQ(set.count("three"), 0u);
  EXPECT_EQ(std::hash<String>()(String("key")), std::hash<std::string_view>()("key"));
}
