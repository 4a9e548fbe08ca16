#include "hostservices/admincmds/adcCtlApp.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcTxtTbl.h"
#include "comps/recomps/rcUtils.h"
#include "hostservices/admincmds/adcCtlClient.h"
#include "hostservices/admincmds/adcStrCodes.h"
#include "sysids/siPgmIds.h"

namespace adc {

namespace {

constexpr const char* kRoutine = "admincmds/CtlApp::processArgs";

const struct {
  const char* name;
  CtlApp::SubCmd subCmd;
} kSubCmds[] = {{"list", CtlApp::SC_LIST},
                {"ping", CtlApp::SC_PING},
                {"rev", CtlApp::SC_REV},
                {"dbg", CtlApp::SC_DBG},
                {"fault", CtlApp::SC_FAULT}};

[[noreturn]] void badArg(const char* arg) {
  rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << arg, kRoutine));
}

bool isPid(const std::string& text) {
  return !text.empty() && text.size() <= 10 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

std::string who(const ac::CtlChannel::Entry& entry) {
  return entry.program + " (pid " + std::to_string(entry.pid) + ")";
}

double msSince(const rc::Timeval& start) {
  return (rc::Timeval::monotonicNow() - start).asDouble() * 1000.0;
}

}  // namespace

CtlApp::CtlApp()
    : ac::App(nullptr, si::PgmIds::CTL_CMD, AF_MAIN2_CATCH_ALL),
      m_subCmd(SC_NONE),
      m_uid(geteuid()),
      m_count(1),
      m_timeoutSec(DEFAULT_TIMEOUT_SEC),
      m_dbgCtrls(RC_B_AS_IS),
      m_setDbg(false),
      m_faultCtrls(RC_B_AS_IS),
      m_clearRules(false),
      m_addRules(false) {}

CtlApp::~CtlApp() = default;

CtlApp::SubCmd CtlApp::subCmdOf(const char* arg) {
  for (const auto& sc : kSubCmds) {
    if (arg != nullptr && strcmp(arg, sc.name) == 0) return sc.subCmd;
  }
  return SC_NONE;
}

int CtlApp::ownArgCount(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    // A user may be called "list".
    if (strcmp(argv[i], "-user") == 0) ++i;
    if (i < argc && subCmdOf(argv[i]) != SC_NONE) return i;
  }
  return argc;
}

void CtlApp::processArgs(int argc, char** argv) {
  processAppArgs(&argc, argv);
  int i = 1;
  while (i < argc && subCmdOf(argv[i]) == SC_NONE) {
    if (strcmp(argv[i], "-user") != 0) badArg(argv[i]);
    setUser(needStringArg(i + 1 < argc ? argv[i + 1] : nullptr, argv[i]));
    i += 2;
  }
  if (i == argc) {
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NEED_SUBCMD, rc::VarArgs(), kRoutine));
  }
  const char* subCmdName = argv[i];
  m_subCmd = subCmdOf(argv[i++]);
  setTryHelpSubcmd(subCmdName);
  if (m_subCmd != SC_LIST) {
    if (i == argc || argv[i][0] == '-') {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NEED_TARGET, rc::VarArgs() << subCmdName, kRoutine));
    }
    m_target = argv[i++];
  }
  std::vector<char*> rest(argv + i, argv + argc);
  processSubCmdOptions(rest);
}

void CtlApp::setUser(const std::string& name) {
  const passwd* pw = getpwnam(name.c_str());
  if (pw != nullptr) {
    m_uid = pw->pw_uid;
  } else if (isPid(name)) {
    // A uid without a name, as a service account in a container may have.
    m_uid = static_cast<uid_t>(strtoul(name.c_str(), nullptr, 10));
  } else {
    badArg(name.c_str());
  }
  m_userName = name;
}

void CtlApp::processSubCmdOptions(std::vector<char*>& args) {
  if (m_subCmd == SC_DBG) {
    bool off = false;
    for (char* arg : args) {
      off = off || strcmp(arg, "-Doff") == 0;
      if (strcmp(arg, "-Dh") == 0) {
        rc::Dbg::printUsage(true);
        ac::_do_exit(0);
      }
    }
    int n = static_cast<int>(args.size());
    args.push_back(nullptr);
    m_dbgCtrls.processArgs(&n, args.data());
    // A record says nothing about modules when "-Doff" alone cleared them, and the program
    // would keep its own; on a command line "-Doff" leaves no module on, so neither may we.
    if (off) m_dbgCtrls.setModules(m_dbgCtrls.modules());
    m_setDbg = static_cast<size_t>(n) + 1 < args.size();
    args.resize(static_cast<size_t>(n));
  }
  for (size_t k = 0; k < args.size(); ++k) {
    const char* arg = args[k];
    const char* next = k + 1 < args.size() ? args[k + 1] : nullptr;
    if (strcmp(arg, "-timeout") == 0) {
      m_timeoutSec = static_cast<int>(needIntArg(next, arg, 10));
      if (m_timeoutSec < 1 || m_timeoutSec > 3600) {
        rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_OUT_OF_RANGE, rc::VarArgs() << next, kRoutine));
      }
      ++k;
    } else if (m_subCmd == SC_PING && strcmp(arg, "-count") == 0) {
      m_count = static_cast<int>(needIntArg(next, arg, 10));
      if (m_count < 1 || m_count > MAX_PING_COUNT) {
        rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_OUT_OF_RANGE, rc::VarArgs() << next, kRoutine));
      }
      ++k;
    } else if (m_subCmd == SC_FAULT && strcasecmp(arg, "-Frf") == 0) {
      m_rulesFile = needStringArg(next, arg);
      ++k;
    } else if (m_subCmd == SC_FAULT && strcmp(arg, "-clear") == 0) {
      m_clearRules = true;
    } else if (m_subCmd == SC_FAULT && strcmp(arg, "-add") == 0) {
      m_addRules = true;
    } else {
      badArg(arg);
    }
  }
  // Adding needs rules to add.
  if (m_addRules && m_rulesFile.empty()) badArg("-add");
}

std::vector<ac::CtlChannel::Entry> CtlApp::channels() const {
  const bool own = m_userName.empty();
  const std::string dir = own ? ac::CtlChannel::dirPath() : ac::CtlChannel::dirPathOf(m_uid);
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 && errno == ENOENT) return {};
  ac::CtlChannel::checkDir(dir, m_uid);
  // Another user's stale sockets are theirs to remove.
  return ac::CtlChannel::liveChannels(dir, own);
}

ac::CtlChannel::Entry CtlApp::resolve(const std::string& target) const {
  const char* routine = "admincmds/CtlApp::resolve";
  const std::vector<ac::CtlChannel::Entry> live = channels();
  if (isPid(target)) {
    const long pid = strtol(target.c_str(), nullptr, 10);
    for (const auto& entry : live) {
      if (entry.pid == pid) return entry;
    }
    if (pid <= 0 || pid > 0x7fffffffL || !ac::CtlChannel::processAlive(static_cast<pid_t>(pid))) {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_PID, rc::VarArgs() << target, routine));
    }
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_TARGET, rc::VarArgs() << target, routine));
  }
  std::vector<ac::CtlChannel::Entry> named;
  std::string pids;
  for (const auto& entry : live) {
    if (entry.program != target) continue;
    named.push_back(entry);
    pids += (pids.empty() ? "" : ", ") + std::to_string(entry.pid);
  }
  if (named.empty()) {
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_TARGET, rc::VarArgs() << target, routine));
  }
  if (named.size() > 1) {
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_AMBIGUOUS_TARGET,
                          rc::VarArgs() << target << static_cast<int>(named.size()) << pids,
                          routine));
  }
  return named.front();
}

void CtlApp::run() {
  if (!m_userName.empty() && geteuid() != 0) {
    rc::Err_Throw(
        rc::Err(RC_ERROR, ADC_SC_NEED_ROOT, rc::VarArgs() << m_userName, "admincmds/CtlApp::run"));
  }
  ac::App::registerAppIpcMsgs();
  if (m_subCmd == SC_LIST) return list();
  // Read first, so that a bad file is reported with its line and nothing reaches the program.
  if (!m_rulesFile.empty()) {
    rc::fault::RulesFile file;
    file.open(m_rulesFile.c_str());
    file.read();
    file.close();
    m_faultCtrls.setRules(file.rules());
  }
  CtlClient client(resolve(m_target), m_timeoutSec, m_uid);
  switch (m_subCmd) {
    case SC_PING: return ping(client);
    case SC_REV: return rev(client);
    case SC_DBG: return dbg(client);
    case SC_FAULT: return fault(client);
    default: break;
  }
}

void CtlApp::list() {
  rc::TxtTbl tbl;
  tbl.addColumn("PID", rc::TxtTbl::RIGHT_JUSTIFY);
  for (const char* name : {"PROGRAM", "CLASS", "STARTED", "REVISION"}) {
    tbl.addColumn(name, rc::TxtTbl::LEFT_JUSTIFY);
  }
  unsigned int row = 0;
  for (const auto& entry : channels()) {
    std::string cls = "?", started = "?", revision = "?";
    try {
      CtlClient client(entry, m_timeoutSec, m_uid);
      const auto info = client.rpc<ac::GetPgmInfoReply>(ac::GetPgmInfoCall());
      cls = rc::PgmClass::symbol(info->pgmClass());
      started = rc::Utils::timeToString(info->startTime(), "%Y-%m-%d %H:%M:%S");
      const auto revReply = client.rpc<ac::GetRevDataReply>(ac::GetRevDataCall());
      if (revReply->revData() != nullptr) revision = revReply->revData()->revSymbol();
    } catch (const rc::Err& err) {
      // One program that cannot answer does not hide the others; one that ended or stopped
      // listening meanwhile is not listed.
      if (err.code() == ADC_SC_NO_SUCH_PID || err.code() == ADC_SC_NO_SUCH_TARGET) continue;
      rc::Out::instance()->print(err, true);
    }
    ++row;
    tbl.appendInt(row, entry.pid);
    for (const std::string& cell : {entry.program, cls, started, revision}) {
      tbl.append(row, cell.c_str());
    }
  }
  tbl.printTable();
}

void CtlApp::ping(CtlClient& client) {
  double total = 0, lo = 0, hi = 0;
  for (int seq = 1; seq <= m_count; ++seq) {
    auto* data = new ac::PingData(programName(), 0);
    data->setMsgCount(seq);
    ac::PingCall call(0, data);
    const rc::Timeval start = rc::Timeval::monotonicNow();
    const auto reply = client.rpc<ac::PingReply>(call);
    const double ms = msSince(start);
    const ac::PingData* back = reply->pingData();
    if (back == nullptr || back->msgCount() != seq) {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_BAD_REPLY,
                            rc::VarArgs() << client.target().program << client.target().pid
                                          << "the ping data did not come back",
                            "admincmds/CtlApp::ping"));
    }
    printf("reply from %s: seq=%d time=%.3f ms\n", who(client.target()).c_str(), seq, ms);
    total += ms;
    lo = seq == 1 || ms < lo ? ms : lo;
    hi = ms > hi ? ms : hi;
  }
  printf("%d calls, round trip min/avg/max = %.3f/%.3f/%.3f ms\n", m_count, lo, total / m_count,
         hi);
}

void CtlApp::rev(CtlClient& client) {
  const auto reply = client.rpc<ac::GetRevDataReply>(ac::GetRevDataCall());
  const rc::RevData* data = reply->revData();
  printf("program:  %s\n", who(client.target()).c_str());
  printf("label:    %s\n", data != nullptr ? data->revLabel() : "?");
  printf("revision: %s\n", data != nullptr ? data->revSymbol() : "?");
  printf("build:    %s\n", data != nullptr ? data->buildStr() : "?");
}

void CtlApp::dbg(CtlClient& client) {
  if (m_setDbg) client.rpc<ac::SetDbgCtrlsReply>(ac::SetDbgCtrlsCall(0, m_dbgCtrls));
  const auto reply = client.rpc<ac::GetDbgCtrlsReply>(ac::GetDbgCtrlsCall());
  // The options, one blank between each: the composed list leaves gaps where parts are off.
  std::string args;
  for (const char c : reply->dbgCtrls().composeArgList()) {
    if (c != ' ' || (!args.empty() && args.back() != ' ')) args += c;
  }
  while (!args.empty() && args.back() == ' ') args.pop_back();
  printf("debug controls of %s: %s\n", who(client.target()).c_str(),
         args.empty() ? "-Doff" : args.c_str());
}

void CtlApp::fault(CtlClient& client) {
  if (!m_rulesFile.empty() || m_clearRules) {
    ac::SetFaultCtrlsCall call;
    // The controls travel even when empty: the program reads a payload with every such call.
    call.setFaultCtrls(m_faultCtrls);
    // The file's rules replace the program's, or join them with -add; -clear alone drops them.
    call.setClearExistingRules(!m_addRules);
    call.setAddNew(!m_rulesFile.empty());
    client.rpc<ac::SetFaultCtrlsReply>(call);
  }
  const auto reply = client.rpc<ac::GetFaultCtrlsReply>(ac::GetFaultCtrlsCall());
  printf("fault controls of %s:\n", who(client.target()).c_str());
  if (reply->ctrls() != nullptr) reply->ctrls()->displayContents(false);
  fflush(stdout);
}

void CtlApp::printUsageSummary() const {
  printf("Usage: %s [-h|-rev] [<options>] <sub-command> [<arguments>]\n", programName());
}

void CtlApp::printUsage() const {
  printUsageSummary();
  printf("Options:\n");
  printStdArgsUsage(TAB_W);
  rc::Utils::printArgUsage("-user <name>", TAB_W, "(root only) reach that user's programs");
  printf("\nSub-commands (<target>: the pid or the program name of a running program):\n");
  rc::Utils::printArgUsage("list", TAB_W, "the running programs that have a control channel");
  rc::Utils::printArgUsage("ping <target> [-count <n>]", TAB_W, "time n calls (1)");
  rc::Utils::printArgUsage("rev <target>", TAB_W, "the program's revision data");
  rc::Utils::printArgUsage("dbg <target> [-D...]", TAB_W,
                           "its debug controls, changed first by -D options (-Dh)");
  rc::Utils::printArgUsage("fault <target> [-Frf <file>]", TAB_W,
                           "its fault controls; -Frf replaces its rules with the");
  rc::Utils::printArgUsage("        [-add] [-clear]", TAB_W,
                           "file's, -add adds them instead, -clear drops them all");
  rc::Utils::printArgUsage("-timeout <seconds>", TAB_W, "wait this long for each answer (5)");
  printf(
      "\nOptions before the sub-command apply to %s itself.\n"
      "Exit status: 0 done; 17 bad argument (a bad option value: its own status);\n"
      "19 unsafe channel directory; 20 no target; 21 unknown target; 22 process not running;\n"
      "23 target not unique; 24 refused; 25 no reply in time; 26 connection lost;\n"
      "27 request failed; 28 bad reply; 29 no sub-command; 30 -user without root.\n\n",
      programName());
}

}  // namespace adc
