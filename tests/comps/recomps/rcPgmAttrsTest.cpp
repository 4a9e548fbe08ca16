#include <gtest/gtest.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"
#include "qvTestUtil.h"

namespace {

// What the link to the executable reads as, for the seam; empty makes the link unreadable.
std::string g_fakeLink;

ssize_t fakeExeLink(char* buf, size_t bufSize) {
  if (g_fakeLink.empty()) {
    errno = EACCES;
    return -1;
  }
  const size_t n = g_fakeLink.size() < bufSize ? g_fakeLink.size() : bufSize;
  g_fakeLink.copy(buf, n);
  return static_cast<ssize_t>(n);
}

std::string orNull(const char* str) { return str != nullptr ? str : "(null)"; }

// Runs init in a child process (after prepare) and reports "<execDir>|<pgmName>" or the error
// it threw.
std::string initInChild(const std::string& arg0, const std::function<void()>& prepare = {}) {
  const qvtest::ProcResult result = qvtest::runInChild([&] {
    if (prepare) prepare();
    std::vector<char> arg0Buf(arg0.begin(), arg0.end());
    arg0Buf.push_back('\0');
    char* argv[] = {arg0Buf.data(), nullptr};
    try {
      rc::PgmAttrs::instance()->init(1, argv, rc::PgmClass::CLI_APP, nullptr, nullptr);
      printf("%s|%s", orNull(rc::PgmAttrs::pgmExecDir()).c_str(),
             orNull(rc::PgmAttrs::pgmName()).c_str());
    } catch (const rc::Err& err) {
      printf("ERR %d %s init=%d", err.code(), err.args() ? (*err.args())[0] : "",
             rc::PgmAttrs::isInitialized());
    }
  });
  return result.out;
}

std::string selfExe() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TEST(PgmAttrs, InitTakesTheExecutableFromItsLinkAndRunsOnce) {
  const std::string self = selfExe();
  const size_t slash = self.rfind('/');
  const qvtest::ProcResult result = qvtest::runInChild([] {
    char arg0[] = "not/the/real/name";
    char* argv[] = {arg0, nullptr};
    rc::PgmAttrs* attrs = rc::PgmAttrs::instance();
    attrs->init(1, argv, rc::PgmClass::CLI_APP, nullptr, nullptr);
    attrs->init(1, argv, rc::PgmClass::DAEMON, "other", "other");
    const int pid = static_cast<int>(getpid());
    printf("%s|%s|%s|%s|%s|%s|%d|%d|%d|%d\n", attrs->arg0(), attrs->pgmName(), attrs->pgmExecDir(),
           attrs->logName(), attrs->pgmLabel(), rc::PgmClass::symbol(attrs->pgmClass()),
           attrs->pid() == pid, attrs->identity() == pid, attrs->isInitialized(),
           attrs->isDaemon());
  });
  const std::string name = self.substr(slash + 1);
  EXPECT_EQ(result.out, "not/the/real/name|" + name + "|" + self.substr(0, slash) + "|" + name +
                            "|" + name + "|cliApp|1|1|1|0\n");
}

TEST(PgmAttrs, UnreadableLinkFallsBackToTheCurrentDirectoryAndPath) {
  qvtest::TempDir tmp("pgmattrs");
  const std::string t = tmp.path();
  tmp.writeFile("kit/bin/prog", "#!/bin/sh\n", 0755);
  tmp.writeFile("pathdir/tool", "#!/bin/sh\n", 0755);
  tmp.writeFile("rel/bin/rtool", "#!/bin/sh\n", 0755);
  tmp.mkdirs("cwdonly/tool");
  tmp.mkdirs("links");
  ASSERT_EQ(symlink((t + "/kit/bin/prog").c_str(), (t + "/links/lprog").c_str()), 0);

  struct Case {
    std::string cwd;
    std::string path;
    std::string arg0;
    std::string expected;
  };
  const std::string notFound = "ERR 10 /proc/self/exe init=0";
  const Case cases[] = {
      // Started by a relative name from its own directory: the directory comes out absolute.
      {t + "/kit/bin", "/nonexistent", "./prog", t + "/kit/bin|prog"},
      {t + "/kit/bin", "", "prog", t + "/kit/bin|prog"},
      {t + "/kit", "", "bin/../bin/prog", t + "/kit/bin|prog"},
      {t, "/nonexistent:" + t + "/pathdir", "tool", t + "/pathdir|tool"},
      // A directory of that name in the current directory is no candidate.
      {t + "/cwdonly", t + "/pathdir", "tool", t + "/pathdir|tool"},
      // A relative PATH entry is taken from the current directory and made absolute.
      {t, "rel/bin", "rtool", t + "/rel/bin|rtool"},
      // Like the kernel's link, a symbolic link leads to the real file.
      {t + "/links", "", "lprog", t + "/kit/bin|prog"},
      {t, "", t + "/pathdir/tool", t + "/pathdir|tool"},
      {t, t + "/pathdir", "missing", notFound},
      {t, t + "/pathdir", t + "/pathdir/missing", notFound},
      {t, t + "/pathdir", "", notFound},
  };
  g_fakeLink.clear();
  rc::PgmAttrs::setExeLinkRtn(fakeExeLink);
  for (const Case& c : cases) {
    const std::string out = initInChild(c.arg0, [&] {
      rc::Os::changeDir(c.cwd.c_str(), false);  // also forgets the directory it caches
      setenv("PATH", c.path.c_str(), 1);
    });
    EXPECT_EQ(out, c.expected) << "arg0 '" << c.arg0 << "' in " << c.cwd;
  }
  rc::PgmAttrs::setExeLinkRtn(nullptr);
}

TEST(PgmAttrs, TextsAreTruncatedAndLogNamesLoseBlanks) {
  rc::PgmAttrs::setExeLinkRtn(fakeExeLink);
  const std::string longName(60, 'n');
  const std::string longDir = "/" + std::string(300, 'd');
  struct Case {
    std::string link;
    std::string expected;
  };
  const Case cases[] = {
      {"/opt/x/kit/bin/" + longName, "/opt/x/kit/bin|" + longName.substr(0, 47)},
      {longDir + "/prog", longDir.substr(0, 255) + "|prog"},
      {"/prog", "/|prog"},
      // The kernel marks a replaced executable; the mark is not part of its name.
      {"/nonexistent/dir/prog (deleted)", "/nonexistent/dir|prog"},
  };
  for (const Case& c : cases) {
    g_fakeLink = c.link;
    EXPECT_EQ(initInChild("prog"), c.expected) << c.link;
  }

  // Labels keep 47 characters; log names 47, without trailing blanks, '_' for inner ones.
  g_fakeLink = "/opt/x/kit/bin/prog";
  const std::string label47(47, 'L');
  struct NameCase {
    std::string label;
    std::string logName;
    std::string expectedLabel;
    std::string expectedLogName;
  };
  const NameCase nameCases[] = {
      {label47, "my log  ", label47, "my_log"},
      {label47 + "XYZ", " lead  in ner ", label47, "_lead__in_ner"},
      {"lbl", "   ", "lbl", "(null)"},
      {"lbl", std::string(50, 'g') + " ", "lbl", std::string(47, 'g')},
      {"lbl", std::string(46, 'g') + " x", "lbl", std::string(46, 'g')},
  };
  for (const NameCase& c : nameCases) {
    const qvtest::ProcResult result = qvtest::runInChild([&] {
      std::string arg0(300, 'a');
      char* argv[] = {arg0.data(), nullptr};
      rc::PgmAttrs* attrs = rc::PgmAttrs::instance();
      attrs->init(1, argv, rc::PgmClass::CLI_APP, c.label.c_str(), c.logName.c_str());
      printf("%s|%s|%zu", orNull(attrs->pgmLabel()).c_str(), orNull(attrs->logName()).c_str(),
             strlen(attrs->arg0()));
    });
    EXPECT_EQ(result.out, c.expectedLabel + "|" + c.expectedLogName + "|255") << c.logName;
  }
  rc::PgmAttrs::setExeLinkRtn(nullptr);
}

TEST(PgmAttrs, SrcPrefixForEveryIdentityAndHardwareId) {
  struct Case {
    int identity;
    int hwId;
    const char* expected;
  };
  const Case cases[] = {
      {1234, 7, "(lbl.7.1234) "},
      {1234, 0, "(lbl.1234) "},
      {0, 7, "(lbl.7) "},
      {0, 0, "(lbl) "},
  };
  for (const Case& c : cases) {
    rc::PgmAttrs::setHwId(c.hwId);
    rc::PgmAttrs attrs;
    attrs.setPgmLabel("lbl", c.identity);
    EXPECT_STREQ(attrs.srcPrefix(), c.expected);
  }
  rc::PgmAttrs::setHwId(0);

  // A hardware id that arrives later shows in the next prefix; going back to 0 keeps it.
  rc::PgmAttrs attrs;
  EXPECT_STREQ(attrs.srcPrefix(), "() ");
  attrs.setPgmLabel("svr", 4321);
  EXPECT_STREQ(attrs.srcPrefix(), "(svr.4321) ");
  rc::PgmAttrs::setHwId(9);
  EXPECT_STREQ(attrs.srcPrefix(), "(svr.9.4321) ");
  rc::PgmAttrs::setHwId(0);
  EXPECT_STREQ(attrs.srcPrefix(), "(svr.9.4321) ");
  rc::PgmAttrs::setHwId(11);
  EXPECT_STREQ(attrs.srcPrefix(), "(svr.11.4321) ");
  attrs.setIdentity(0);
  EXPECT_STREQ(attrs.srcPrefix(), "(svr.11) ");

  // A prefix too long for its buffer loses the end of the label, never the numbers.
  rc::PgmAttrs::setHwId(INT_MIN);
  attrs.setPgmLabel(std::string(47, 'L').c_str(), -2147483647);
  const std::string prefix = attrs.srcPrefix();
  EXPECT_EQ(prefix.size(), 63u);
  EXPECT_EQ(prefix, "(" + std::string(36, 'L') + ".-2147483648.-2147483647) ");
  rc::PgmAttrs::setHwId(0);
}

TEST(PgmAttrs, IdentityFollowsTheProgramClass) {
  struct Case {
    int pgmClass;
    bool pidIdentity;
  };
  const Case cases[] = {
      {rc::PgmClass::SINGLE_DAEMON, false},
      {rc::PgmClass::DAEMON, true},
      {rc::PgmClass::SUB_PROCESS, true},
      {rc::PgmClass::CLI_APP, true},
  };
  for (const Case& c : cases) {
    const qvtest::ProcResult result = qvtest::runInChild([&] {
      char arg0[] = "prog";
      char* argv[] = {arg0, nullptr};
      rc::PgmAttrs* attrs = rc::PgmAttrs::instance();
      attrs->init(1, argv, c.pgmClass, "lbl", nullptr);
      const int pid = static_cast<int>(getpid());
      const std::string expected =
          c.pidIdentity ? "(lbl." + std::to_string(pid) + ") " : std::string("(lbl) ");
      printf("%d|%d", attrs->identity() == (c.pidIdentity ? pid : 0),
             expected == attrs->srcPrefix());
    });
    EXPECT_EQ(result.out, "1|1") << rc::PgmClass::symbol(c.pgmClass);
  }
}

TEST(PgmAttrs, ReinitTakesTheNewProcessAndOnlyAGivenLabel) {
  const qvtest::ProcResult result = qvtest::runInChild([] {
    char arg0[] = "prog";
    char* argv[] = {arg0, nullptr};
    rc::PgmAttrs* attrs = rc::PgmAttrs::instance();
    attrs->init(1, argv, rc::PgmClass::DAEMON, "first", "log1");
    attrs->setStartMsgLogged(true);
    attrs->reinit(nullptr, nullptr);
    printf("%s|%s|%d;", attrs->pgmLabel(), attrs->logName(), attrs->isStartMsgLogged());
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      attrs->reinit("second", "log 2 ");
      const int pid = static_cast<int>(getpid());
      printf("%s|%s|%d|%d|%d|%s", attrs->pgmLabel(), attrs->logName(), attrs->isStartMsgLogged(),
             attrs->pid() == pid, attrs->identity() == pid, attrs->srcPrefix());
      fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
  });
  ASSERT_EQ(result.out.substr(0, result.out.find(';') + 1), "first|log1|1;");
  const std::string afterFork = result.out.substr(result.out.find(';') + 1);
  EXPECT_EQ(afterFork.substr(0, afterFork.find('(')), "second|log_2|0|1|1|");
  EXPECT_EQ(afterFork.substr(afterFork.find('(')).rfind("(second.", 0), 0u) << afterFork;
}

TEST(PgmAttrs, InstanceHookSuppliesTheObject) {
  static rc::PgmAttrs s_other;
  static bool s_supply = true;
  rc::PgmAttrs* const dflt = rc::PgmAttrs::instance();
  rc::PgmAttrs::setInstanceRtn([]() -> rc::PgmAttrs* { return s_supply ? &s_other : nullptr; });
  EXPECT_EQ(rc::PgmAttrs::instance(), &s_other);
  s_supply = false;
  EXPECT_EQ(rc::PgmAttrs::instance(), dflt);
  rc::PgmAttrs::setInstanceRtn(nullptr);
  EXPECT_EQ(rc::PgmAttrs::instance(), dflt);
}

namespace {

std::string expectedAttrsTable(const std::string& arg0, const std::string& execDir,
                               const std::string& pid) {
  return "arg0         = '" + arg0 + "'\n" +
         "Pgm name     = 'qvrev'\n"
         "Pgm exec dir = '" +
         execDir + "'\n" +
         "Pgm class    = cliApp\n"
         "HW ID        = 0\n"
         "Log name     = 'qvrev'\n"
         "PID          = " +
         pid + "\n" + "Identity     = " + pid + "\n" +
         "Pgm label    = 'qvrev'\n"
         "Src prefix   = '(qvrev." +
         pid + ") '\n" +
         "Start Msg Logged = 'no'\n"
         "\n";
}

std::string pidOf(const std::string& out) {
  const std::string key = "\nPID          = ";
  const size_t pos = out.find(key);
  if (pos == std::string::npos) return "?";
  const size_t begin = pos + key.size();
  return out.substr(begin, out.find('\n', begin) - begin);
}

}  // namespace

TEST(PgmAttrs, PrPgmAttrsPrintsTheTableBeforeAnythingElse) {
  char resolved[PATH_MAX];
  const std::string qvrev = qvtest::qvrevPath();
  ASSERT_NE(realpath(qvrev.c_str(), resolved), nullptr);
  const std::string execDir = std::string(resolved).substr(0, std::string(resolved).rfind('/'));

  const std::vector<std::vector<std::string>> argSets = {
      {"-prPgmAttrs"},
      {"-shortLabel", "-PRPGMATTRS"},
      {"-bogus", "-prEnv", "-prpgmattrs"},
      {"-h", "-prPgmAttrs"},
  };
  for (const auto& args : argSets) {
    const qvtest::ProcResult result = qvtest::runProgram(qvrev, args);
    EXPECT_EQ(result.exitStatus, 0) << args.back();
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, expectedAttrsTable(qvrev, execDir, pidOf(result.out))) << args.back();
  }

  // Even as the program's own name.
  const qvtest::ProcResult asName = qvtest::runInChild([&] {
    char arg0[] = "-prPgmAttrs";
    char* argv[] = {arg0, nullptr};
    execv(qvrev.c_str(), argv);
    _exit(127);
  });
  EXPECT_EQ(asName.exitStatus, 0);
  EXPECT_EQ(asName.out, expectedAttrsTable("-prPgmAttrs", execDir, pidOf(asName.out)));
}
