#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>

#include "comps/recomps/rcRevData.h"
#include "nde/qv/qvrev.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

TEST(RevData, FieldsWireFormAndCuts) {
  rc::RevData rev;
  EXPECT_STREQ(rev.buildStr(), qvBldStamp());
  EXPECT_STREQ(rev.revSymbol(), qvRevStamp(0));
  EXPECT_STREQ(rev.revLabel(), qvRevStamp(1));
  const std::string longText(60, 'z');
  rc::RevData cut;
  cut.set(longText.c_str(), longText.c_str(), longText.c_str());
  for (const char* field : {cut.buildStr(), cut.revSymbol(), cut.revLabel()})
    EXPECT_EQ(std::string(field), longText.substr(0, 47));

  for (const rc::RevData* data : {&rev, &cut}) {
    rc::ByteStrm s(16);
    data->saveOn(s);
    EXPECT_LE(s.size(), data->binarySize());
    qvtest::expectImage(qvtest::bytesOf(s), qvtest::ByteImage()
                                                .str(data->buildStr())
                                                .str(data->revSymbol())
                                                .str(data->revLabel())
                                                .get());
    rc::RevData back;
    back.set("", "", "");
    back.restoreFrom(s);
    EXPECT_STREQ(back.revLabel(), data->revLabel());
    qvtest::expectEveryCutRefused(qvtest::bytesOf(s),
                                  [](rc::ByteStrm& in) { rc::RevData().restoreFrom(in); });
  }
  EXPECT_EQ(cut.binarySize(), 156u);
}

TEST(RevData, DigitsAndMatching) {
  using Digits = rc::RevData::VecHdsRevsDigits;
  EXPECT_EQ(rc::RevData::createVecOfHdsRevDigits("Release 7.1.0.0 [Build 35553]"),
            (Digits{7, 1, 0, 0}));
  EXPECT_EQ(rc::RevData::createVecOfHdsRevDigits(""), Digits{});
  EXPECT_EQ(rc::RevData::createVecOfHdsRevDigits("Release 7.2.1 (P-3)"), (Digits{7, 2, 1, 3}));
  const rc::RevData::SetHdsRevs candidates = {"Release 7.1.0.0 [Build 1]",
                                              "Release 7.1.2.0 [Build 2]",
                                              "Release 7.2.0.0 [Build 3]", "garbage"};
  const std::string mine = "Release 7.1.0.0 [Build 35553]";
  EXPECT_EQ(rc::RevData::revCompare(mine, candidates, 2).size(), 2u);
  EXPECT_EQ(rc::RevData::revCompare(mine, candidates, 3).size(), 1u);
  EXPECT_TRUE(rc::RevData::revCompare(mine, candidates, 0).empty());
  EXPECT_TRUE(rc::RevData::revCompare("", candidates, 2).empty());
}

TEST(RevData, InitHdsVersionRunsTheCommandFoundAlongPathWithoutAShell) {
  qvtest::TempDir dir;
  // A folder whose name a shell would split and run a second command from.
  const std::string binDir = dir.mkdirs("my bin;touch pwned");
  dir.copyFile(qvtest::qvrevPath(), "my bin;touch pwned/qvrev");
  qvtest::ScopedEnv env;
  env.set("PATH", binDir);
  env.set("QV_STRINGS_DIR", qvtest::kitStringsEnv().substr(strlen("QV_STRINGS_DIR=")));
  rc::RevData::s_qvrevBuffer[0] = '\0';
  EXPECT_TRUE(rc::RevData::initHdsVersion());
  EXPECT_STREQ(rc::RevData::s_qvrevBuffer, qvRevStamp(1));
  EXPECT_NE(access((dir.path() + "/pwned").c_str(), F_OK), 0);
  // Learned once: the command is not needed again.
  env.set("PATH", dir.path());
  EXPECT_TRUE(rc::RevData::initHdsVersion());
  rc::RevData::s_qvrevBuffer[0] = '\0';
  EXPECT_FALSE(rc::RevData::initHdsVersion());
}

TEST(RevData, InitHdsVersionWaitsForItsOwnChildOnly) {
  // A command that answers nothing, and another child that ends while it runs: that child stays
  // the program's to reap, the SIGCHLD disposition is untouched, the empty answer is reported.
  qvtest::TempDir dir;
  dir.writeFile("qvrev", "#!/bin/sh\n/bin/sleep 0.3\n", 0755);
  qvtest::ScopedEnv env;
  env.set("PATH", dir.path());
  qvtest::LogInstalled log;
  struct sigaction before = {}, after = {};
  sigaction(SIGCHLD, nullptr, &before);
  const pid_t other = fork();
  if (other == 0) {
    usleep(100000);
    _exit(7);
  }
  rc::RevData::s_qvrevBuffer[0] = '\0';
  EXPECT_FALSE(rc::RevData::initHdsVersion());
  sigaction(SIGCHLD, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  int status = 0;
  EXPECT_EQ(waitpid(other, &status, 0), other);
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_NE(log.device.text().find("Unable to get HDS revision: Input/output error"),
            std::string::npos)
      << log.device.text();
}
