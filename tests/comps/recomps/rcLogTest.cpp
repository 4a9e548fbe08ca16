#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

using qvtest::argsOf;
using qvtest::readFile;

using qvtest::ArgVec;

// 2021-03-01 23:59:58 UTC, two seconds before the next day.
constexpr time_t kMar1 = 1614643198;
constexpr time_t kDay = 24 * 60 * 60;
const std::string kStamp1 = "2021-03-01 23:59:58.000000 UTC ";

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* entry = readdir(d)) {
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A log directory, UTC and a clock of the test's own, for the test's duration.
struct LogSetup {
  LogSetup() : clock(kMar1) {
    env.set("QV_LOG_DIR", tmp.path());
    env.set("TZ", "UTC");
  }
  std::string path(const std::string& rel) const { return tmp.path() + "/" + rel; }

  qvtest::TempDir tmp{"rclog"};
  qvtest::ScopedEnv env;
  qvtest::TestClock clock;
};

// Makes the calling process a program of the class given (for a child process).
void becomeProgram(int pgmClass) {
  char name[] = "svcd";
  char* argv[] = {name, nullptr};
  int argc = 1;
  rc::PgmAttrs::uninit();
  rc::Env::init(&argc, argv, pgmClass);
}

}  // namespace

TEST(LogCtrls, OptionsAreTakenOutOfTheCommandLine) {
  const struct {
    std::vector<std::string> args;
    bool noHelp;
    int file, sysLog, stdOut, stdErr;
    std::vector<std::string> left;
  } rows[] = {
      {{"pgm", "-logToFile", "yes", "x", "-logToStdOut", "F"}, true, 1, -1, 0, -1, {"pgm", "x"}},
      {{"pgm", "-logToSysLog", "1", "-stdErrToSysLog", "No"}, true, -1, 1, -1, 0, {"pgm"}},
      // "asIs" leaves the default alone.
      {{"pgm", "-logToFile", "asIs"}, true, -1, -1, -1, -1, {"pgm"}},
      {{"pgm", "a", "-Lh", "b"}, false, -1, -1, -1, -1, {"pgm", "a", "b"}},
      {{"pgm", "-lh", "-LogToFile", "yes"},
       true,
       -1,
       -1,
       -1,
       -1,
       {"pgm", "-lh", "-LogToFile", "yes"}},
  };
  for (const auto& row : rows) {
    ArgVec args(row.args);
    rc::LogCtrls ctrls(RC_B_AS_IS);
    const std::string what = ::testing::PrintToString(row.args);
    EXPECT_EQ(ctrls.processArgs(&args.argc, args.argv()), row.noHelp) << what;
    EXPECT_EQ(ctrls.logToFile(), row.file) << what;
    EXPECT_EQ(ctrls.logToSysLog(), row.sysLog) << what;
    EXPECT_EQ(ctrls.logToStdOut(), row.stdOut) << what;
    EXPECT_EQ(ctrls.stdErrToSysLog(), row.stdErr) << what;
    EXPECT_EQ(args.left(), row.left) << what;
    EXPECT_TRUE(args.terminated()) << what;
  }

  const struct {
    std::vector<std::string> args;
    int code;
    std::string errArgs;
  } bad[] = {
      {{"pgm", "-logToFile", "maybe"}, RC_SC_NEED_BOOL, "-logToFile|maybe|yes/no, true/false, 1/0"},
      {{"pgm", "-logToFile"}, RC_SC_NEED_ARG_VAL, "-logToFile"},
      {{"pgm", "-stdErrToSysLog", ""}, RC_SC_NEED_ARG_VAL, "-stdErrToSysLog"},
  };
  for (const auto& row : bad) {
    ArgVec args(row.args);
    rc::LogCtrls ctrls(RC_B_AS_IS);
    const rc::Err err = qvtest::thrownErr([&] { ctrls.processArgs(&args.argc, args.argv()); });
    EXPECT_EQ(err.code(), row.code);
    EXPECT_EQ(argsOf(err), row.errArgs);
    EXPECT_EQ(args.left(), row.args);
  }

  // Merging takes what is not "as is".
  rc::LogCtrls base(RC_B_NO);
  rc::LogCtrls sent(RC_B_AS_IS);
  sent.setLogToSysLog(RC_B_YES);
  sent.setStdErrToSysLog(RC_B_NO);
  base.setStdErrToSysLog(RC_B_YES);
  base.mergeFrom(sent);
  EXPECT_EQ(base.logToFile(), RC_B_NO);
  EXPECT_EQ(base.logToSysLog(), RC_B_YES);
  EXPECT_EQ(base.stdErrToSysLog(), RC_B_NO);
}

TEST(Log, DefaultsComeFromTheClassTheTerminalAndTheVariables) {
  const struct {
    int pgmClass;
    std::vector<std::pair<std::string, std::string>> env;
    std::string ctrls;  // file, syslog, stdout, stderr to syslog
  } rows[] = {
      {rc::PgmClass::DAEMON, {}, "1 0 0 0"},
      {rc::PgmClass::SINGLE_DAEMON, {}, "1 0 0 0"},
      {rc::PgmClass::CLI_APP, {}, "0 0 0 0"},
      {rc::PgmClass::SUB_PROCESS, {}, "0 0 0 0"},
      {rc::PgmClass::DAEMON, {{"QV_LOG_TO_FILE", "no"}}, "0 0 0 0"},
      {rc::PgmClass::CLI_APP,
       {{"QV_LOG_TO_FILE", "yes"},
        {"QV_LOG_TO_SYS_LOG", "true"},
        {"QV_LOG_TO_STD_OUT", "1"},
        {"QV_STD_ERR_TO_SYS_LOG", "on"}},
       "1 1 1 1"},
  };
  for (const auto& row : rows) {
    qvtest::ScopedEnv env;
    for (const char* name :
         {"QV_LOG_TO_FILE", "QV_LOG_TO_SYS_LOG", "QV_LOG_TO_STD_OUT", "QV_STD_ERR_TO_SYS_LOG"}) {
      env.unset(name);
    }
    for (const auto& [name, value] : row.env) env.set(name, value);
    const int pgmClass = row.pgmClass;
    const auto r = qvtest::runInChild([pgmClass] {
      becomeProgram(pgmClass);
      rc::Log log("svc", rc::LogDevice::OM_APPEND, false, false, 1);
      const rc::LogCtrls& c = log.ctrls();
      printf("%d %d %d %d", c.logToFile(), c.logToSysLog(), c.logToStdOut(), c.stdErrToSysLog());
    });
    // Standard output is a pipe here, never a terminal.
    EXPECT_EQ(r.out, row.ctrls) << rc::PgmClass::symbol(row.pgmClass) << " "
                                << ::testing::PrintToString(row.env) << r.err;
  }
}

TEST(LogDevice, FileNames) {
  LogSetup setup;
  const std::string dir = setup.tmp.path() + "/svc/svc";
  const struct {
    int pid;
    bool forToday, hasTime;
    std::string suffix;
  } rows[] = {
      {0, true, false, ".log"},
      {0, true, true, ".log"},
      // The file being rolled over is dated 24 hours back.
      {0, false, false, ".2021-02-28.log"},
      {0, false, true, ".23-59.2021-02-28.log"},
      {4321, true, false, ".4321.2021-03-01.log"},
      {4321, true, true, ".4321.23-59.2021-03-01.log"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(
        std::string(rc::LogDevice::logFilePath("svc", row.pid, row.forToday, row.hasTime).c_str()),
        dir + row.suffix)
        << row.pid << row.forToday << row.hasTime;
  }
  // A directory ending in "/" gets no second one.
  setup.env.set("QV_LOG_DIR", setup.tmp.path() + "/");
  EXPECT_EQ(std::string(rc::LogDevice::logFilePath("svc", 0, true, false).c_str()), dir + ".log");
  rc::LogDevice withPid("svc", rc::LogDevice::OM_APPEND, true, false, 1);
  EXPECT_EQ(std::string(withPid.logFilePath(true).c_str()),
            dir + "." + std::to_string(getpid()) + ".2021-03-01.log");
  EXPECT_STREQ(rc::LogDevice::fileMode(rc::LogDevice::OM_APPEND), "a");
  EXPECT_STREQ(rc::LogDevice::fileMode(rc::LogDevice::OM_TRUNCATE), "w");
}

TEST(LogDevice, LinesStartWithATimeStampAndTheFileIsTheOwnersOnly) {
  LogSetup setup;
  const mode_t umaskBefore = umask(022);
  rc::LogDevice device("svc", rc::LogDevice::OM_APPEND, false, false, 1);
  ASSERT_TRUE(device.open(nullptr));
  EXPECT_EQ(umask(022), 022u);
  umask(umaskBefore);
  EXPECT_TRUE(device.isOpen());
  EXPECT_EQ(std::string(device.filePath().c_str()), setup.path("svc/svc.log"));
  device.print("abc");
  setup.clock.set(kMar1, 7);
  device.print(RC_ERROR, "def\n");
  device.print("\n");
  device.print("");
  device.print("ghi\n\n");
  setup.clock.set(kMar1 + 1, 123456);
  device.print("jkl\n");
  device.close();
  EXPECT_FALSE(device.isOpen());
  device.print("dropped\n");
  EXPECT_EQ(readFile(setup.path("svc/svc.log")),
            kStamp1 + "abcdef\n\n2021-03-01 23:59:58.000007 UTC ghi\n\n" +
                "2021-03-01 23:59:59.123456 UTC jkl\n");
  struct stat st;
  ASSERT_EQ(stat(setup.path("svc/svc.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(setup.path("svc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Appending keeps the lines; truncating starts afresh.
  rc::LogDevice again("svc", rc::LogDevice::OM_APPEND, false, false, 1);
  again.open(nullptr);
  again.print("more\n");
  again.close();
  EXPECT_NE(readFile(setup.path("svc/svc.log")).find("jkl\n2021-03-01 23:59:59.123456 UTC more\n"),
            std::string::npos);
  rc::LogDevice truncating("svc", rc::LogDevice::OM_TRUNCATE, false, false, 1);
  truncating.open(nullptr);
  truncating.print("only\n");
  truncating.close();
  EXPECT_EQ(readFile(setup.path("svc/svc.log")), "2021-03-01 23:59:59.123456 UTC only\n");

  // A file that cannot be opened is reported into err or thrown.
  setup.env.set("QV_LOG_DIR", setup.tmp.writeFile("plain", ""));
  rc::LogDevice failing("svc", rc::LogDevice::OM_APPEND, false, false, 1);
  rc::Err err;
  EXPECT_FALSE(failing.open(&err));
  EXPECT_EQ(err.code(), RC_SC_OPEN_FAILED);
  EXPECT_THROW(failing.open(nullptr), rc::Err);
  EXPECT_EQ(umask(umaskBefore), umaskBefore);
}

TEST(LogDevice, RollsOverOnTheFirstWriteOfANewDay) {
  const struct {
    bool hasTime;
    bool suppressed;
    std::vector<std::string> files;
  } rows[] = {
      {false, false, {"svc.2021-03-01.log", "svc.log"}},
      {true, false, {"svc.00-00.2021-03-01.log", "svc.log"}},
      {false, true, {"svc.log"}},
  };
  for (const auto& row : rows) {
    LogSetup setup;
    rc::LogDevice device("svc", rc::LogDevice::OM_TRUNCATE, false, row.hasTime, 1);
    device.suppressFileRollover(row.suppressed);
    ASSERT_TRUE(device.open(nullptr));
    device.print("day one\n");
    setup.clock.set(kMar1 + 1);
    EXPECT_FALSE(device.isNewFileNeeded());
    device.print("still day one\n");
    setup.clock.set(kMar1 + 2);
    EXPECT_TRUE(device.isNewFileNeeded());
    device.print("day two\n");
    EXPECT_EQ(device.isNewFileNeeded(), row.suppressed);
    device.close();

    const std::string what = std::to_string(row.hasTime) + std::to_string(row.suppressed);
    EXPECT_EQ(filesIn(setup.path("svc")), row.files) << what;
    const std::string dayOne = kStamp1 + "day one\n2021-03-01 23:59:59.000000 UTC still day one\n";
    const std::string dayTwo = "2021-03-02 00:00:00.000000 UTC day two\n";
    if (row.suppressed) {
      EXPECT_EQ(readFile(setup.path("svc/svc.log")), dayOne + dayTwo);
    } else {
      EXPECT_EQ(readFile(setup.path("svc/" + row.files[0])), dayOne) << what;
      EXPECT_EQ(readFile(setup.path("svc/svc.log")), dayTwo) << what;
    }
  }

  // A clock set back to an earlier day is no new day.
  LogSetup setup;
  rc::LogDevice device("svc", rc::LogDevice::OM_APPEND, false, false, 1);
  device.open(nullptr);
  setup.clock.set(kMar1 - 3 * kDay);
  EXPECT_FALSE(device.isNewFileNeeded());
  setup.clock.set(kMar1 + 300 * kDay);
  EXPECT_TRUE(device.isNewFileNeeded());
  int year = 0;
  int day = 0;
  rc::LogDevice::yearAndDay(&year, &day);
  EXPECT_EQ(year, 121);
  EXPECT_EQ(day, 59 + 300);
}

TEST(LogDevice, RolloverKeepsEveryLineWhenTheDatedFileExists) {
  LogSetup setup;
  setup.tmp.writeFile("svc/svc.2021-03-01.log", "earlier\n");
  rc::LogDevice device("svc", rc::LogDevice::OM_TRUNCATE, false, false, 1);
  ASSERT_TRUE(device.open(nullptr));
  device.print("day one\n");
  setup.clock.set(kMar1 + 2);
  device.print("day two\n");
  device.close();
  // The dated file is left alone and nothing is truncated.
  EXPECT_EQ(readFile(setup.path("svc/svc.2021-03-01.log")), "earlier\n");
  EXPECT_EQ(readFile(setup.path("svc/svc.log")),
            kStamp1 + "day one\n2021-03-02 00:00:00.000000 UTC day two\n");
}

TEST(LogDevice, FailedReopenDropsLinesUntilAWriteCanOpenTheFileAgain) {
  LogSetup setup;
  const auto r = qvtest::runInChild([&setup] {
    rc::LogDevice device("svc", rc::LogDevice::OM_APPEND, false, false, 1);
    device.open(nullptr);
    device.print("day one\n");
    // The directory goes away and a plain file takes its name.
    rename(setup.path("svc").c_str(), setup.path("moved").c_str());
    FILE* blocker = fopen(setup.path("svc").c_str(), "w");
    fclose(blocker);
    setup.clock.set(kMar1 + 2);
    device.print("lost\n");
    device.print("lost too\n");
    printf("open after failure: %d\n", device.isOpen());
    unlink(setup.path("svc").c_str());
    device.print("day two\n");
    printf("open again: %d\n", device.isOpen());
  });
  EXPECT_EQ(r.out, "open after failure: 0\nopen again: 1\n");
  // Both failures were told: the move of the old file and the new file.
  EXPECT_NE(r.err.find("unable to rename"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("unable to open '" + setup.path("svc/svc.log") + "'"), std::string::npos)
      << r.err;
  EXPECT_EQ(readFile(setup.path("moved/svc.log")), kStamp1 + "day one\n");
  EXPECT_EQ(readFile(setup.path("svc/svc.log")), "2021-03-02 00:00:00.000000 UTC day two\n");
}

TEST(LogDevice, LockedWritersOfSeveralProcessesKeepTheirLinesWhole) {
  LogSetup setup;
  auto* device = new rc::LogDevice("shared", rc::LogDevice::OM_APPEND, false, false, 1);
  device->enableLocking();
  ASSERT_NE(device->mutex(), nullptr);
  rc::Mutex* mutex = device->mutex();
  device->enableLocking();
  EXPECT_EQ(device->mutex(), mutex);
  ASSERT_TRUE(device->open(nullptr));
  const int semId = mutex->id();
  constexpr int kWriters = 4;
  constexpr int kLines = 200;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const std::string line = "writer " + std::to_string(w) + " " + std::string(300, 'a' + w);
      for (int i = 0; i < kLines; ++i) {
        rc::LogOptionalMutexGuard hold(device->mutex());
        device->print((line + " ").c_str());
        device->print((std::to_string(i) + "\n").c_str());
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream lines(readFile(setup.path("shared/shared.log")));
  const std::string head = "2021-03-01 23:59:58.000000 UTC writer ";
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    ASSERT_TRUE(qvtest::matchesShape(line, head + "# *")) << line;
    const int writer = line[head.size()] - '0';
    ASSERT_TRUE(writer >= 0 && writer < kWriters) << line;
    EXPECT_TRUE(qvtest::matchesShape(line.substr(head.size() + 2),
                                     std::string(300, static_cast<char>('a' + writer)) + " #*"))
        << line;
  }
  EXPECT_EQ(count, kWriters * kLines);
  // The process that made the semaphore removes it with the device.
  rc::RefCnt_release(device);
  struct semid_ds ds;
  EXPECT_EQ(semctl(semId, 0, IPC_STAT, &ds), -1);
}

TEST(Log, LinesCarryTheirSeverityAndCodes) {
  LogSetup setup;
  rc::Log log("svc", rc::LogDevice::OM_APPEND, false, false, 1);
  rc::LogCtrls fileOnly(RC_B_NO);
  fileOnly.setLogToFile(RC_B_YES);
  log.setCtrls(fileOnly);
  ASSERT_NE(log.logDevice(), nullptr);
  log.print("plain\n");
  log.print(RC_WARNING, "\nafter a blank line\n");
  log.print(RC_ERROR, "\n");
  log.print(RC_INFO, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", true);
  log.print(RC_FATAL, RC_SC_INTERNAL_ERROR, false);
  log.print(" and more\n");
  log.print(rc::Err(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "/y", nullptr), true);
  EXPECT_EQ(readFile(setup.path("svc/svc.log")),
            kStamp1 + "Info: plain\n\n" + kStamp1 + "Warning: after a blank line\n\n" + kStamp1 +
                "Info: QV-00006: unable to open '/x'\n" + kStamp1 +
                "Internal Error: QV-00005: internal errorInfo:  and more\n" + kStamp1 +
                "Error: QV-00006: unable to open '/y'.\n");

  // The output facility copies its error lines into the open log file.
  rc::Log::setInstance(&log);
  const auto r = qvtest::runInChild([] {
    rc::Out::instance()->print(rc::Err(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "/z", nullptr),
                               true);
    rc::Out::instance()->print(RC_INFO, "not copied\n");
  });
  EXPECT_NE(r.err.find("unable to open '/z'"), std::string::npos);
  std::string text = readFile(setup.path("svc/svc.log"));
  const std::string copied = kStamp1 + "Error: unable to open '/z'.\n";
  ASSERT_GT(text.size(), copied.size());
  EXPECT_EQ(text.substr(text.size() - copied.size()), copied);
  EXPECT_EQ(text.find("not copied"), std::string::npos);

  // A failed assertion aborts the process right after printing: its line is in the file.
  const auto aborted = qvtest::runInChild([] { rc::Log::instance()->print(nullptr); });
  rc::Log::setInstance(nullptr);
  EXPECT_EQ(aborted.termSignal, SIGABRT);
  text = readFile(setup.path("svc/svc.log"));
  EXPECT_NE(text.find(kStamp1 + "Internal Error: assert 'str' failed"), std::string::npos) << text;

  // Switching the file off releases the device.
  log.setCtrls(rc::LogCtrls(RC_B_NO));
  EXPECT_EQ(log.logDevice(), nullptr);
}

TEST(Log, StandardOutputGetsTheLinesWithTheDaemonPrefix) {
  LogSetup setup;
  for (int pgmClass : {rc::PgmClass::DAEMON, rc::PgmClass::CLI_APP}) {
    const auto r = qvtest::runInChild([pgmClass] {
      becomeProgram(pgmClass);
      rc::PgmAttrs::instance()->setPgmLabel("svcd", 0);
      rc::Log log("svc", rc::LogDevice::OM_APPEND, false, false, 1);
      rc::LogCtrls stdOutOnly(RC_B_NO);
      stdOutOnly.setLogToStdOut(RC_B_YES);
      log.setCtrls(stdOutOnly);
      log.print(RC_INFO, "\nhello\n");
      log.print(RC_ERROR, RC_SC_TST_1, true);
    });
    if (pgmClass == rc::PgmClass::DAEMON) {
      EXPECT_EQ(r.out, "\n(svcd)       Info: hello\n(svcd)       Error: QV-00001: test msg 1\n");
    } else {
      EXPECT_EQ(r.out, "\nInfo: hello\nError: QV-00001: test msg 1\n");
    }
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(filesIn(setup.tmp.path()).empty());
}

TEST(Log, SyslogGetsTheLinesWithTheirPriorities) {
  LogSetup setup;
  qvtest::FakeSysLog sysLog;
  const std::string why = sysLog.start();
  if (!why.empty()) GTEST_SKIP() << "syslog cannot be intercepted here: " << why;
  rc::Log log("svc", rc::LogDevice::OM_APPEND, true, false, 1);
  rc::LogCtrls sysLogOnly(RC_B_NO);
  sysLogOnly.setLogToSysLog(RC_B_YES);
  log.setCtrls(sysLogOnly);
  ASSERT_NE(log.sysLogDevice(), nullptr);
  EXPECT_TRUE(log.sysLogDevice()->showPid());
  log.print(RC_WARNING, "careful");
  std::string msg = sysLog.next();
  EXPECT_EQ(msg.rfind("<12>", 0), 0u) << msg;
  EXPECT_NE(msg.find("[" + std::to_string(getpid()) + "]: Warning: careful"), std::string::npos)
      << msg;
  log.print(RC_FATAL, RC_SC_TST_1, false);
  msg = sysLog.next();
  EXPECT_EQ(msg.rfind("<10>", 0), 0u) << msg;
  EXPECT_NE(msg.find("Internal Error: QV-00001: test msg 1"), std::string::npos) << msg;
  log.setTeeToSysLog(false);
  EXPECT_EQ(log.sysLogDevice(), nullptr);
  log.print("quiet");
  EXPECT_EQ(sysLog.next(), "");

  // Errors to syslog: the output facility's tee.
  rc::LogCtrls stdErr(RC_B_NO);
  stdErr.setStdErrToSysLog(RC_B_YES);
  log.setCtrls(stdErr);
  EXPECT_NE(rc::Out::instance()->sysLogDevice(), nullptr);
  log.setCtrls(rc::LogCtrls(RC_B_NO));
  EXPECT_EQ(rc::Out::instance()->sysLogDevice(), nullptr);
}

TEST(Log, InitTakesItsOptionsOnceAndKeepsThemOnReinit) {
  LogSetup setup;
  const auto r = qvtest::runInChild([] {
    becomeProgram(rc::PgmClass::CLI_APP);
    ArgVec args{"svcd", "-logToFile", "yes", "-x"};
    rcInitLog(&args.argc, args.argv(), "svc", true, false);
    rc::Log* first = rc::Log::instance();
    printf("left %d, file %d, suppressed %d\n", args.argc, first->logDevice() != nullptr,
           first->logDevice()->isFileRolloverSuppressed());
    first->print("first\n");
    // Again (as in a forked child): the controls stay and the command line is not read.
    ArgVec again{"svcd", "-logToFile", "no"};
    rcInitLog(&again.argc, again.argv(), "svc", false, false);
    rc::Log* second = rc::Log::instance();
    printf("left %d, new %d, file %d, suppressed %d\n", again.argc, second != first,
           second->logDevice() != nullptr, second->logDevice()->isFileRolloverSuppressed());
    second->print("second\n");
  });
  EXPECT_EQ(r.out, "left 2, file 1, suppressed 1\nleft 3, new 1, file 1, suppressed 0\n");
  const std::vector<std::string> files = filesIn(setup.path("svc"));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(qvtest::matchesShape(files[0], "svc.#*.2021-03-01.log")) << files[0];
  EXPECT_EQ(files[1], "svc.log");
  EXPECT_EQ(readFile(setup.path("svc/" + files[0])), kStamp1 + "Info: first\n");
  EXPECT_EQ(readFile(setup.path("svc/svc.log")), kStamp1 + "Info: second\n");
}

TEST(Log, CommandLineProgramWritesItsErrorsIntoItsOwnFile) {
  qvtest::TempDir tmp("qvrevlog");
  const auto r = qvtest::runProgram(qvtest::qvrevPath(), {"-logToFile", "yes", "-bogus"},
                                    {"QV_LOG_DIR=" + tmp.path()});
  EXPECT_EQ(r.exitStatus, RC_SC_BAD_CMD_LINE_ARG) << r.err;
  const std::vector<std::string> files = filesIn(tmp.path() + "/qvrev");
  ASSERT_EQ(files.size(), 1u);
  // Named with the process id and the date.
  EXPECT_TRUE(qvtest::matchesShape(files[0], "qvrev.#*.####-##-##.log")) << files[0];
  const std::string path = tmp.path() + "/qvrev/" + files[0];
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string text = readFile(path);
  EXPECT_TRUE(qvtest::matchesShape(
      text, qvtest::kTimeStampShape + "Error: command line arg '-bogus' is unknown or invalid.\n"))
      << text;

  // Without the option a command-line program writes no file.
  qvtest::TempDir none("qvrevnolog");
  const auto quiet =
      qvtest::runProgram(qvtest::qvrevPath(), {"-bogus"}, {"QV_LOG_DIR=" + none.path()});
  EXPECT_EQ(quiet.exitStatus, RC_SC_BAD_CMD_LINE_ARG);
  EXPECT_TRUE(filesIn(none.path()).empty());
}

TEST(Log, OptionErrorsAndUsageOfTheProgram) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } rows[] = {
      {{"-logToFile", "on"},
       RC_SC_NEED_BOOL,
       "-logToFile value 'on' is not a boolean (yes/no, true/false, 1/0)."},
      {{"-shortLabel", "-logToSysLog"}, RC_SC_NEED_ARG_VAL, "-logToSysLog requires a value"},
      {{"-logToStdOut", "asIs", "-shortLabel"}, 0, ""},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runProgram(qvtest::qvrevPath(), row.args);
    EXPECT_EQ(r.exitStatus, row.status) << ::testing::PrintToString(row.args) << r.err;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
  }
  // "-Lh" wins over the program's own arguments.
  const auto r = qvtest::runProgram(qvtest::qvrevPath(), {"-bogus", "-Lh"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out,
            "Usage: qvrev [-Lh] [<logging options>]\n"
            "Logging Options:\n"
            " -Lh                     show this usage\n"
            " -logToFile <bool>       enable/disable log file (QV_LOG_TO_FILE)\n"
            " -logToSysLog <bool>     enable/disable logging to syslog (QV_LOG_TO_SYS_LOG)\n"
            " -logToStdOut <bool>     enable/disable logging to stdout (QV_LOG_TO_STD_OUT)\n"
            " -stdErrToSysLog <bool>  enable/disable errors to syslog (QV_STD_ERR_TO_SYS_LOG)\n"
            "\n"
            "By default: -logToFile is on for daemon processes.\n"
            "            -logToStdOut is on for daemons running in a terminal.\n"
            "\n");
}

TEST(Log, DaemonsLogTheirStartAndExit) {
  qvtest::TempDir tmp("logdaemon");
  const std::string app = qvtest::testAppPath("rcLogApp");
  const auto r = qvtest::runProgram(app, {"daemon", "svc", "-warn"}, {"QV_LOG_DIR=" + tmp.path()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<std::string> files = filesIn(tmp.path() + "/svc");
  ASSERT_EQ(files.size(), 1u);
  ASSERT_TRUE(qvtest::matchesShape(files[0], "svc.#*.####-##-##.log")) << files[0];
  const std::string pid = files[0].substr(4, files[0].find('.', 4) - 4);
  const std::string& stamp = qvtest::kTimeStampShape;
  const std::string text = readFile(tmp.path() + "/svc/" + files[0]);
  EXPECT_TRUE(qvtest::matchesShape(
      text, "\n" + stamp + "Info: QV-00022: --- program 'rcLogApp' (" + pid +
                ") starting on host '*' ... ---\n" + stamp + "Info: run: log line\n" + stamp +
                "Warning: run: warning\n" + stamp + "Info: QV-00023: --- program 'rcLogApp' (" +
                pid + ") exiting on host '*' ... ---\n"))
      << text;
  // Not a terminal: nothing on standard output; the warning on standard error with the prefix.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "(rcLogApp." + pid + ") Warning: run: warning\n");

  // The variable switches the daemon's file off; the option switches it on again.
  qvtest::TempDir off("logdaemonoff");
  EXPECT_EQ(
      qvtest::runProgram(app, {"daemon", "svc"}, {"QV_LOG_DIR=" + off.path(), "QV_LOG_TO_FILE=no"})
          .exitStatus,
      0);
  EXPECT_TRUE(filesIn(off.path() + "/svc").empty());
  EXPECT_EQ(qvtest::runProgram(app, {"daemon", "svc", "-logToFile", "yes"},
                               {"QV_LOG_DIR=" + off.path(), "QV_LOG_TO_FILE=no"})
                .exitStatus,
            0);
  EXPECT_EQ(filesIn(off.path() + "/svc").size(), 1u);

  // A single daemon keeps one file without process id.
  qvtest::TempDir single("logsingle");
  EXPECT_EQ(
      qvtest::runProgram(app, {"singleDaemon", "one"}, {"QV_LOG_DIR=" + single.path()}).exitStatus,
      0);
  EXPECT_EQ(filesIn(single.path() + "/one"), std::vector<std::string>{"one.log"});
}

TEST(LogCtrls, DumpShowsTheFourControls) {
  const auto r = qvtest::runInChild([] {
    rc::LogCtrls ctrls(RC_B_AS_IS);
    ctrls.setLogToFile(RC_B_YES);
    ctrls.setStdErrToSysLog(RC_B_NO);
    ctrls.dumpObj(1, "log: ");
  });
  EXPECT_TRUE(qvtest::matchesShape(r.out,
                                   "  log: LogCtrls [0x*]:\n"
                                   "    logToFile      = yes\n"
                                   "    logToSysLog    = asIs\n"
                                   "    logToStdOut    = asIs\n"
                                   "    stdErrToSysLog = no\n"))
      << r.out;
}

TEST(LogCtrls, BinaryFormIsFourInts) {
  rc::LogCtrls sent(RC_B_AS_IS);
  sent.setLogToFile(RC_B_YES);
  sent.setLogToStdOut(RC_B_NO);
  rc::ByteStrm strm(4);
  sent.saveOn(strm);
  ASSERT_EQ(strm.size(), 16u);
  EXPECT_EQ(rc::LogCtrls::binarySize(), 16);
  const int ints[] = {1, -1, 0, -1};
  EXPECT_EQ(memcmp(strm.buffer(), ints, 16), 0);
  rc::LogCtrls back(RC_B_NO);
  back.restoreFrom(strm);
  EXPECT_EQ(back.logToFile(), RC_B_YES);
  EXPECT_EQ(back.logToSysLog(), RC_B_AS_IS);
  EXPECT_EQ(back.logToStdOut(), RC_B_NO);
  EXPECT_EQ(back.stdErrToSysLog(), RC_B_AS_IS);

  for (const std::vector<int>& bad :
       {std::vector<int>{1, -1, 0}, std::vector<int>{1, 2, 0, 0}, std::vector<int>{-2, 0, 0, 0}}) {
    rc::ByteStrm in(16);
    for (int v : bad) in << v;
    rc::LogCtrls target(RC_B_NO);
    EXPECT_THROW(target.restoreFrom(in), rc::Err);
    EXPECT_EQ(target.logToFile(), RC_B_NO);
  }
}
