#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

using qvtest::LogInstalled;
using qvtest::RecordingDevice;

// An output object on two capture devices plus an extra log device, as a test's own instance.
struct Capture {
  Capture() : out(new rc::Out(&stdOut, &stdErr, 1)) { out->setLogDevice(&extraLog); }
  ~Capture() { rc::RefCnt_release(out); }
  void clear() {
    stdOut.lines.clear();
    stdErr.lines.clear();
    extraLog.lines.clear();
  }
  // The devices live on the stack: the count 1 is the test's own reference, never released.
  RecordingDevice stdOut{1};
  RecordingDevice stdErr{1};
  RecordingDevice extraLog{1};
  rc::Out* out;
};

// Makes the process a daemon with the given label for the test's duration.
struct DaemonMode {
  explicit DaemonMode(const char* label)
      : m_savedName(rc::Env::pgmName()), m_wasInitialized(rc::PgmAttrs::isInitialized()) {
    m_savedClass = rc::Env::pgmClass();
    setEnv("svcd", rc::PgmClass::DAEMON);
    rc::PgmAttrs::instance()->setPgmLabel(label, 0);
  }
  ~DaemonMode() {
    setEnv(m_savedName.empty() ? "qvtests" : m_savedName.c_str(), m_savedClass);
    rc::PgmAttrs::instance()->setPgmLabel("", 0);
    if (!m_wasInitialized) rc::PgmAttrs::uninit();
  }
  static void setEnv(const char* name, int pgmClass) {
    static std::string s_exe;
    s_exe = std::string("/opt/qv/bin/") + name;
    rc::PgmAttrs::setExeLinkRtn([](char* buf, size_t bufSize) -> ssize_t {
      const size_t n = std::min(bufSize, s_exe.size());
      memcpy(buf, s_exe.data(), n);
      return static_cast<ssize_t>(n);
    });
    char arg0[64];
    snprintf(arg0, sizeof arg0, "%s", name);
    char* argv[] = {arg0, nullptr};
    int argc = 1;
    rc::PgmAttrs::uninit();
    rc::Env::init(&argc, argv, pgmClass);
    rc::PgmAttrs::setExeLinkRtn(nullptr);
  }
  std::string m_savedName;
  bool m_wasInitialized;
  int m_savedClass;
};

const rc::Err kOpenErr(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", nullptr);

rc::Err openErr(RcSeverity severity) {
  return rc::Err(severity, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", nullptr);
}

}  // namespace

TEST(Out, RoutesEachSeverityToItsStream) {
  struct Row {
    RcSeverity severity;
    bool toStdErr;
    const char* errText;
  };
  const Row rows[] = {
      {RC_NO_SEVERITY, true, "unable to open '/x'\n"},
      {RC_DEBUG, false, "Debug: unable to open '/x'.\n"},
      {RC_INFO, false, "Info: unable to open '/x'.\n"},
      {RC_WARNING, true, "Warning: unable to open '/x'.\n"},
      {RC_ERROR, true, "Error: unable to open '/x'.\n"},
      {RC_NON_FATAL, true, "Non-fatal Internal Error: unable to open '/x'.\n"},
      {RC_FATAL, true, "Internal Error: unable to open '/x'.\n"},
      {RC_BAD_SEVERITY, true, "Bad Severity Value: unable to open '/x'.\n"},
  };
  Capture cap;
  LogInstalled logged;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.severity);
    for (int form = 0; form < 2; ++form) {
      cap.clear();
      logged.device.lines.clear();
      std::string expected = row.errText;
      if (form == 0) {
        cap.out->print(openErr(row.severity), true);
      } else {
        cap.out->print(row.severity, RC_SC_CLOSE_FAILED, true);
        expected = std::string(rc::Severity::label(row.severity)) + ": unable to close '{1}'\n";
      }
      RecordingDevice& hit = row.toStdErr ? cap.stdErr : cap.stdOut;
      RecordingDevice& miss = row.toStdErr ? cap.stdOut : cap.stdErr;
      ASSERT_EQ(hit.lines.size(), 1u);
      EXPECT_EQ(hit.lines[0].severity, row.severity);
      EXPECT_EQ(hit.lines[0].text, expected);
      EXPECT_TRUE(miss.lines.empty());
      // The extra log device sees every line; the log facility only the error severities.
      ASSERT_EQ(cap.extraLog.lines.size(), 1u);
      EXPECT_EQ(cap.extraLog.lines[0].text, expected);
      ASSERT_EQ(logged.device.lines.size(), row.toStdErr ? 1u : 0u);
      if (row.toStdErr) {
        EXPECT_EQ(logged.device.lines[0].text, expected);
      }
    }
  }
}

TEST(Out, CatalogAndFreeFormVariants) {
  struct Row {
    const char* name;
    std::function<void(rc::Out*)> call;
    bool toStdErr;
    int severity;  // as handed to the device, -1 for the form without severity
    const char* text;
  };
  const rc::VarArgs args = rc::VarArgs() << "/y";
  const Row rows[] = {
      {"severity, code, args",
       [&](rc::Out* o) { o->print(RC_ERROR, RC_SC_OPEN_FAILED, args, true); }, false, -1,
       "Error: unable to open '/y'\n"},
      {"severity, code", [](rc::Out* o) { o->print(RC_ERROR, RC_SC_INTERNAL_ERROR, true); }, true,
       RC_ERROR, "Error: internal error\n"},
      {"code, args", [&](rc::Out* o) { o->print(RC_SC_OPEN_FAILED, args, false); }, false, -1,
       "unable to open '/y'"},
      {"code", [](rc::Out* o) { o->print(RC_SC_INTERNAL_ERROR, true); }, false, -1,
       "internal error\n"},
      {"severity, format", [](rc::Out* o) { o->print(RC_WARNING, "n=%d %s\n", 5, "z"); }, true,
       RC_WARNING, "Warning: n=5 z\n"},
      {"format", [](rc::Out* o) { o->print("%s-%03d\n", "a", 7); }, false, RC_INFO, "a-007\n"},
      {"internal error",
       [](rc::Out* o) {
         rc::VarArgs a;
         a << "/w";
         errno = ENOENT;
         o->printIntnlErr(RC_NON_FATAL, "ignoring error", RC_SC_OPEN_FAILED, a, true, "f.cpp", 12);
       },
       true, RC_NON_FATAL,
       "Non-fatal Internal Error: ignoring error - unable to open '/w' - No such file or "
       "directory (in file f.cpp, line 12).\n"},
      {"internal error without code",
       [](rc::Out* o) {
         rc::VarArgs a;
         a << "unused";
         o->printIntnlErr(RC_FATAL, "broken", 0, a, false, nullptr, 0);
       },
       true, RC_FATAL, "Internal Error: broken.\n"},
  };
  Capture cap;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    cap.clear();
    row.call(cap.out);
    RecordingDevice& hit = row.toStdErr ? cap.stdErr : cap.stdOut;
    RecordingDevice& miss = row.toStdErr ? cap.stdOut : cap.stdErr;
    ASSERT_EQ(hit.lines.size(), 1u);
    EXPECT_EQ(hit.lines[0].severity, row.severity);
    EXPECT_EQ(hit.lines[0].text, row.text);
    EXPECT_TRUE(miss.lines.empty());
    ASSERT_EQ(cap.extraLog.lines.size(), 1u);
    EXPECT_EQ(cap.extraLog.lines[0].severity, row.severity);
  }
}

TEST(Out, FreeFormTextIsCutAt2046Characters) {
  Capture cap;
  const std::string big(3000, 'x');
  cap.out->print("%s", big.c_str());
  cap.out->print(RC_ERROR, "%s", big.c_str());
  ASSERT_EQ(cap.stdOut.lines.size(), 1u);
  EXPECT_EQ(cap.stdOut.lines[0].text, std::string(2046, 'x'));
  ASSERT_EQ(cap.stdErr.lines.size(), 1u);
  EXPECT_EQ(cap.stdErr.lines[0].text, "Error: " + std::string(2046, 'x'));
}

TEST(Out, LogFacilityGetsErrorCopiesAndLogOnlyText) {
  Capture cap;
  // Without a log, log-only text is dropped and nothing reaches the terminal.
  ASSERT_EQ(rc::Log::instance(), nullptr);
  cap.out->printLog(kOpenErr, true);
  cap.out->printLog("lost %d\n", 1);
  cap.out->print(kOpenErr, true);
  EXPECT_TRUE(cap.stdOut.lines.empty());
  EXPECT_EQ(cap.stdErr.lines.size(), 1u);

  LogInstalled logged;
  // A log device that is not open gets no copies.
  logged.device.open = false;
  cap.out->print(kOpenErr, true);
  EXPECT_TRUE(logged.device.lines.empty());
  logged.device.open = true;

  cap.clear();
  cap.out->printLog(kOpenErr, true);
  cap.out->printLog(RC_WARNING, RC_SC_OPEN_FAILED, rc::VarArgs() << "/l", true);
  cap.out->printLog(RC_INFO, RC_SC_INTERNAL_ERROR, false);
  cap.out->printLog(RC_ERROR, "code %d\n", 9);
  cap.out->printLog("plain %s\n", "text");
  EXPECT_TRUE(cap.stdOut.lines.empty());
  EXPECT_TRUE(cap.stdErr.lines.empty());
  EXPECT_TRUE(cap.extraLog.lines.empty());
  EXPECT_EQ(logged.device.text(),
            "Error: QV-00006: unable to open '/x'.\n"
            "Warning: QV-00006: unable to open '/l'\n"
            "Info: QV-00005: internal error"
            "Error: code 9\n"
            "Info: plain text\n");
  EXPECT_EQ(logged.device.lines[0].severity, RC_ERROR);
  EXPECT_EQ(logged.device.lines[4].severity, RC_INFO);
}

TEST(Out, DaemonLinesCarryThePaddedSourcePrefix) {
  Capture cap;
  LogInstalled logged;
  DaemonMode daemon("ab");
  ASSERT_STREQ(rc::PgmAttrs::instance()->srcPrefix(), "(ab) ");
  cap.out->print(kOpenErr, true);
  cap.out->print(RC_INFO, RC_SC_INTERNAL_ERROR, true);
  cap.out->print("\nfresh paragraph\n");
  cap.out->print(RC_SC_OPEN_FAILED, rc::VarArgs() << "/z", true);
  EXPECT_EQ(cap.stdErr.text(), "(ab)         Error: QV-00006: unable to open '/x'.\n");
  EXPECT_EQ(cap.stdOut.text(),
            "(ab)         Info: QV-00005: internal error\n"
            "\nfresh paragraph\n"
            "(ab)         unable to open '/z'\n");
  // Copies for the log and the extra device are never prefixed.
  EXPECT_EQ(logged.device.text(), "Error: QV-00006: unable to open '/x'.\n");
  EXPECT_EQ(cap.extraLog.lines[0].text, "Error: QV-00006: unable to open '/x'.\n");
  EXPECT_EQ(cap.extraLog.lines[1].text, "Info: QV-00005: internal error\n");

  // A line longer than the stack buffer and a prefix wider than the padding.
  cap.clear();
  const std::string big(1500, 'q');
  cap.out->print("%s", big.c_str());
  EXPECT_EQ(cap.stdOut.text(), "(ab)         " + big);
  rc::PgmAttrs::instance()->setPgmLabel("a-rather-long-label", 4321);
  cap.clear();
  cap.out->print("x");
  EXPECT_EQ(cap.stdOut.text(), "(a-rather-long-label.4321) x");
}

TEST(Out, RealStreamsOfACommandLineProgramAndADaemon) {
  auto printAll = [] {
    rc::Out* out = rc::Out::instance();
    out->print(kOpenErr, true);
    out->print(RC_INFO, RC_SC_INTERNAL_ERROR, true);
    out->print(RC_WARNING, "w%d\n", 1);
    out->print(RC_DEBUG, "d\n");
    out->stdErrDevice()->print("raw\n");
  };
  const auto cli = qvtest::runInChild(printAll);
  EXPECT_EQ(cli.exitStatus, 0);
  EXPECT_EQ(cli.out, "Info: internal error\nDebug: d\n");
  EXPECT_EQ(cli.err, "Error: unable to open '/x'.\nWarning: w1\nraw\n");

  const auto daemon = qvtest::runInChild([&] {
    DaemonMode::setEnv("svcd", rc::PgmClass::SINGLE_DAEMON);
    rc::PgmAttrs::instance()->setPgmLabel("svcd", 0);
    printAll();
  });
  EXPECT_EQ(daemon.exitStatus, 0);
  EXPECT_EQ(daemon.out, "(svcd)       Info: QV-00005: internal error\n(svcd)       Debug: d\n");
  EXPECT_EQ(daemon.err,
            "(svcd)       Error: QV-00006: unable to open '/x'.\n"
            "(svcd)       Warning: w1\nraw\n");
}

TEST(Out, OutOfMemoryWhileRoutingPrintsTheFixedLine) {
  Capture cap;
  cap.stdErr.throwBadAllocOnce = true;
  cap.out->print(kOpenErr, true);
  ASSERT_EQ(cap.stdErr.lines.size(), 1u);
  EXPECT_EQ(cap.stdErr.lines[0].severity, RC_ERROR);
  EXPECT_EQ(cap.stdErr.lines[0].text, "Out of memory. Cannot allocate memory for log message.\n");

  cap.clear();
  cap.out->printOom(false);
  EXPECT_EQ(cap.stdErr.text(), rc::Out::OOM_TEXT);
  EXPECT_EQ(cap.extraLog.text(), rc::Out::OOM_TEXT);

  // A log that runs out of memory loses the line; the formatted form says so on the terminal.
  LogInstalled logged;
  cap.clear();
  logged.device.throwBadAllocOnce = true;
  cap.out->printLog(RC_ERROR, "lost\n");
  EXPECT_TRUE(cap.stdErr.lines.empty());
  logged.device.throwBadAllocOnce = true;
  cap.out->printLog("lost too\n");
  EXPECT_EQ(cap.stdErr.text(), std::string(rc::Out::OOM_TEXT) + "\n");
}

TEST(Out, NullFormatIsAFailedAssertion) {
  const auto r = qvtest::runInChild([] {
    const char* fmt = nullptr;
    rc::Out::instance()->print(fmt);
  });
  EXPECT_EQ(r.termSignal, SIGABRT);
  EXPECT_NE(r.err.find("'fmt'"), std::string::npos) << r.err;
}

TEST(Out, DevicesAndInstancesAreReferenceCounted) {
  bool outDeleted = false;
  bool errDeleted = false;
  auto* outDev = new RecordingDevice(1, &outDeleted);
  auto* errDev = new RecordingDevice(1, &errDeleted);
  auto* out = new rc::Out(outDev, errDev, 1);
  EXPECT_EQ(outDev->references(), 2);
  EXPECT_EQ(errDev->references(), 2);

  // Installing a current instance takes a reference; replacing it gives it back.
  rc::Out* previous = rc::Out::instance();
  previous->addReference();
  rc::Out::setInstance(out);
  EXPECT_EQ(rc::Out::instance(), out);
  EXPECT_EQ(out->references(), 2);
  rc::Out::setInstance(previous);
  EXPECT_EQ(out->references(), 1);
  previous->removeReference();

  // Replacing a device releases the old one; the standard singleton stands in for null.
  out->setStdErrDevice(nullptr);
  EXPECT_EQ(errDev->references(), 1);
  EXPECT_EQ(out->stdErrDevice(), rc::StdErrDevice::instance());
  rc::RefCnt_release(errDev);
  EXPECT_TRUE(errDeleted);

  // The device is deleted with its last holder.
  rc::RefCnt_release(outDev);
  EXPECT_FALSE(outDeleted);
  rc::RefCnt_release(out);
  EXPECT_TRUE(outDeleted);
}

TEST(StdDevices, SingletonsCanBeReplacedAndRestored) {
  rc::StdOutDevice* dflt = rc::StdOutDevice::instance();
  EXPECT_EQ(rc::StdOutDevice::defaultInstance(false), dflt);
  EXPECT_EQ(dflt->fd(), stdout);
  EXPECT_EQ(rc::StdErrDevice::instance()->fd(), stderr);
  const int dfltRefs = dflt->references();

  auto* mine = new rc::StdOutDevice(1);
  rc::StdOutDevice::setInstance(mine);
  EXPECT_EQ(rc::StdOutDevice::instance(), mine);
  EXPECT_EQ(mine->references(), 2);
  EXPECT_EQ(dflt->references(), dfltRefs - 1);
  rc::StdOutDevice::setInstance(nullptr);
  EXPECT_EQ(rc::StdOutDevice::instance(), dflt);
  EXPECT_EQ(dflt->references(), dfltRefs);
  EXPECT_EQ(mine->references(), 1);
  rc::RefCnt_release(mine);
}

TEST(SysLogDevice, PriorityOfEachSeverity) {
  const std::pair<int, int> rows[] = {
      {RC_NO_SEVERITY, 6}, {RC_DEBUG, 7}, {RC_INFO, 6},         {RC_WARNING, 4}, {RC_ERROR, 3},
      {RC_NON_FATAL, 3},   {RC_FATAL, 2}, {RC_BAD_SEVERITY, 6}, {42, 6},         {-1, 6},
  };
  for (const auto& [severity, priority] : rows) {
    EXPECT_EQ(rc::SysLogDevice::sysLogPriority(severity), priority) << severity;
  }
}

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(SysLogDevice, DeviceAndTeeReachSyslogWithTheirPriorities) {
  qvtest::FakeSysLog sysLog;
  const std::string why = sysLog.start();
  if (!why.empty()) GTEST_SKIP() << "syslog cannot be intercepted here: " << why;

  rc::SysLogDevice* dev = rc::SysLogDevice::openInstance("qvtest", false);
  ASSERT_TRUE(dev->isOpen());
  struct Row {
    RcSeverity severity;
    const char* pri;  // LOG_USER (8) plus the priority
  };
  const Row rows[] = {{RC_FATAL, "<10>"},      {RC_ERROR, "<11>"}, {RC_NON_FATAL, "<11>"},
                      {RC_WARNING, "<12>"},    {RC_INFO, "<14>"},  {RC_DEBUG, "<15>"},
                      {RC_NO_SEVERITY, "<14>"}};
  for (const Row& row : rows) {
    dev->print(row.severity, "line 100%");
    const std::string msg = sysLog.next();
    EXPECT_EQ(msg.rfind(row.pri, 0), 0u) << row.severity << ": " << msg;
    EXPECT_NE(msg.find("qvtest: line 100%"), std::string::npos) << msg;
  }
  dev->print("plain");
  EXPECT_EQ(sysLog.next().rfind("<14>", 0), 0u);

  rc::SysLogDevice::openInstance("qvtest", true);
  dev->print(RC_INFO, "with pid");
  const std::string withPid = sysLog.next();
  EXPECT_NE(withPid.find("qvtest[" + std::to_string(getpid()) + "]: with pid"), std::string::npos)
      << withPid;

  // Closed, the device writes nothing.
  rc::SysLogDevice::closeInstance();
  EXPECT_FALSE(dev->isOpen());
  dev->print(RC_FATAL, "never");
  dev->print("never");
  EXPECT_EQ(sysLog.next(), "");

  // The output facility's tee opens the device itself and copies every line, unprefixed.
  Capture cap;
  DaemonMode daemon("ab");
  cap.out->setTeeToSysLog(true);
  cap.out->setTeeToSysLog(true);
  EXPECT_TRUE(dev->isOpen());
  EXPECT_STREQ(dev->identity(), "svcd");
  cap.out->print(RC_FATAL, RC_SC_INTERNAL_ERROR, false);
  std::string msg = sysLog.next();
  EXPECT_EQ(msg.rfind("<10>", 0), 0u) << msg;
  EXPECT_TRUE(endsWith(msg, "svcd: Internal Error: QV-00005: internal error")) << msg;
  cap.out->print(RC_INFO, RC_SC_INTERNAL_ERROR, false);
  msg = sysLog.next();
  EXPECT_EQ(msg.rfind("<14>", 0), 0u) << msg;
  cap.out->print(RC_SC_OK, false);
  EXPECT_TRUE(endsWith(sysLog.next(), "svcd: ok"));
  EXPECT_EQ(sysLog.next(), "");
  EXPECT_EQ(cap.stdErr.text(), "(ab)         Internal Error: QV-00005: internal error");

  cap.out->setTeeToSysLog(false);
  cap.out->setTeeToSysLog(false);
  cap.out->print(RC_FATAL, RC_SC_INTERNAL_ERROR, false);
  EXPECT_EQ(sysLog.next(), "");
}
