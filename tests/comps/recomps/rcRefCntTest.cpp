#include <gtest/gtest.h>

#include "comps/recomps/rcRefCnt.h"

namespace {

class Counted : public rc::RefCnt {
 public:
  explicit Counted(int references, int* deaths) : RefCnt(references), m_deaths(deaths) {}
  ~Counted() override { ++*m_deaths; }

 private:
  int* m_deaths;
};

// The holder's side of the protocol: whoever sees the count drop below 1 deletes.
void release(rc::RefCnt* object) {
  if (object->removeReference() < 1) delete object;
}

}  // namespace

TEST(RefCnt, LastHolderDeletes) {
  int deaths = 0;
  auto* object = new Counted(1, &deaths);
  rc::RefCnt* held = object->addReference();
  EXPECT_EQ(held, object);
  EXPECT_EQ(object->references(), 2);
  release(object);
  EXPECT_EQ(deaths, 0);
  release(held);
  EXPECT_EQ(deaths, 1);
}

TEST(RefCnt, CopiesCarryTheCount) {
  int deaths = 0;
  Counted original(3, &deaths);
  Counted copy(original);
  EXPECT_EQ(copy.references(), 3);
  EXPECT_EQ(copy.removeReference(), 2);
  EXPECT_EQ(original.references(), 3);
  Counted zero(0, &deaths);
  EXPECT_EQ(zero.removeReference(), -1);
}
