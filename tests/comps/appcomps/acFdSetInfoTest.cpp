#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comps/appcomps/acFdSetInfo.h"
#include "comps/memcomps/base/memHeap.h"

using ac::FdSetInfo;
using ac::FdSetInfoVec;
using rc::FdSet;
using rc::Timeval;

namespace {

// A provider whose set is a timeout; records each time the loop asks for it.
struct Provider {
  std::string name;
  std::vector<std::string>* asked;
  FdSet set;
  static const FdSet& getFdSet(void* obj) {
    auto* p = static_cast<Provider*>(obj);
    p->asked->push_back(p->name);
    return p->set;
  }
  static void cb(void*, FdSet::CbType, int, void*) {}
};

}  // namespace

TEST(FdSetInfo, ComparesByCallbackObjectOnly) {
  char objs[2];
  const struct {
    void* lhs;
    void* rhs;
    int result;
  } rows[] = {{&objs[0], &objs[1], -1},
              {&objs[1], &objs[0], 1},
              {&objs[0], &objs[0], 0},
              {nullptr, &objs[0], -1}};
  for (const auto& r : rows) {
    FdSetInfo lhs(r.lhs, Provider::getFdSet);
    FdSetInfo rhs(r.rhs, nullptr);
    EXPECT_EQ(lhs.compareTo(rhs), r.result);
  }
}

TEST(FdSetInfoVec, RemoveDeletesTheFirstProviderOfTheObject) {
  std::vector<std::string> asked;
  Provider a{"a", &asked, {}}, b{"b", &asked, {}};
  FdSetInfoVec vec;
  vec.append(new FdSetInfo(&a, Provider::getFdSet));
  vec.append(new FdSetInfo(&b, Provider::getFdSet));
  vec.append(new FdSetInfo(&a, Provider::getFdSet));
  ASSERT_EQ(vec.size(), 3u);
  vec.remove(FdSetInfo(&a, nullptr));
  ASSERT_EQ(vec.size(), 2u);
  EXPECT_EQ(vec[0]->m_cbObj, &b);
  EXPECT_EQ(vec[1]->m_cbObj, &a);
  FdSet merged;
  vec.updateDynamicFdSet(&merged);
  EXPECT_EQ(asked, (std::vector<std::string>{"b", "a"}));
  vec.clear();
  EXPECT_EQ(vec.size(), 0u);
}

TEST(FdSetInfoVec, ProvidersMergeInRegistrationOrder) {
  std::vector<std::string> asked;
  Provider p1{"p1", &asked, {}}, p2{"p2", &asked, {}}, p3{"p3", &asked, {}};
  p1.set.set(Timeval(0, 500), &p1, Provider::cb, nullptr);
  p2.set.set(Timeval(0, 900), &p2, Provider::cb, nullptr);
  p3.set.set(Timeval(0, 500), &p3, Provider::cb, nullptr);
  p2.set.add(FdSet::FDT_READ, 12, &p2, Provider::cb, nullptr);
  FdSetInfoVec vec;
  for (Provider* p : {&p1, &p2, &p3}) vec.append(new FdSetInfo(p, Provider::getFdSet));

  FdSet merged;
  merged.clear();
  vec.updateDynamicFdSet(&merged);
  EXPECT_EQ(asked, (std::vector<std::string>{"p1", "p2", "p3"}));
  EXPECT_EQ(merged.numFds(), 13);
  EXPECT_EQ(merged.minTimeout(), Timeval(0, 500));
  // Of the two equal timeouts the later provider's record is the one due.
  ASSERT_EQ(merged.minTimeoutVec()->size(), 1u);
  EXPECT_EQ((*merged.minTimeoutVec())[0]->cbObj(), &p3);
  FdSet::clearStaticFdInfos();
}

TEST(FdSetInfoVec, ProvidersLiveOnTheTypedHeap) {
  std::vector<std::string> asked;
  Provider a{"a", &asked, {}};
  FdSetInfoVec* vec = new FdSetInfoVec(1);
  EXPECT_TRUE(mem::validateBlock(vec, mt_anonymous));
  for (int i = 0; i < 3; ++i) vec->append(new FdSetInfo(&a, Provider::getFdSet));
  ASSERT_EQ(vec->size(), 3u);
  for (size_t i = 0; i < vec->size(); ++i) EXPECT_TRUE(mem::validateBlock((*vec)[i], mt_anonymous));
  delete vec;  // deletes its providers; the sanitizer build checks nothing leaks
}
