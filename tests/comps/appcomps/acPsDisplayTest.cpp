// ac::PsDisplay in a real child (tests/apps/acPsDisplayApp), whose listing is read from /proc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "qvTestUtil.h"

namespace {

// With the prefix "srv" the child's listing shows "srv idle" and then NUL bytes only, and its
// environment still reads after the area was overwritten.
TEST(PsDisplay, ChildShowsPrefixAndLineAndKeepsItsEnvironment) {
  const std::string path = qvtest::testAppPath("acPsDisplayApp");
  qvtest::LiveProc child([&] {
    setenv("QV_PS_CHECK", "still-here", 1);
    execl(path.c_str(), path.c_str(), "first-argument", "second", "idle", nullptr);
    _exit(127);
  });
  ASSERT_TRUE(child.waitForLine("env=still-here"));
  ASSERT_TRUE(child.waitForLine("ready"));
  std::ifstream in("/proc/" + std::to_string(child.pid()) + "/cmdline", std::ios::binary);
  const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(cmdline.size(), 9u);
  EXPECT_EQ(cmdline.substr(0, 9), std::string("srv idle\0", 9));
  EXPECT_EQ(cmdline.find_first_not_of('\0', 9), std::string::npos);
  EXPECT_EQ(child.finish().exitStatus, 0);
}

}  // namespace
