#include "hostservices/admincmds/adcCtlApp.h"

#include <fnmatch.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acFollowMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/appcomps/acStatusMsgs.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcTxtTbl.h"
#include "comps/recomps/rcUtils.h"
#include "hostservices/admincmds/adcCtlClient.h"
#include "hostservices/admincmds/adcCtlJson.h"
#include "hostservices/admincmds/adcCtlStatusText.h"
#include "hostservices/admincmds/adcStrCodes.h"
#include "sysids/siPgmIds.h"

namespace adc {

namespace {

constexpr const char* kRoutine = "admincmds/CtlApp::processArgs";
// What "-Frf -" reads is called in errors.
constexpr const char* kStdinLabel = "<standard input>";

// A usage line: the arguments and what they do.
struct UsageLine {
  const char* args;
  const char* text;
};

const struct {
  const char* name;
  CtlApp::SubCmd subCmd;
  UsageLine usage[3];
} kSubCmds[] = {
    {"list", CtlApp::SC_LIST, {{"list", "the running programs that have a control channel"}}},
    {"ping", CtlApp::SC_PING, {{"ping <target> [-count <n>]", "time n calls (1)"}}},
    {"rev", CtlApp::SC_REV, {{"rev <target>", "the program's revision data"}}},
    {"dbg",
     CtlApp::SC_DBG,
     {{"dbg <target> [-D...]", "its debug controls, changed first by -D options (-Dh)"},
      {"    [m+<mods>] [m-<mods>]", "or step by step, the rest left as it is: m+ and m-"},
      {"    [f+<flags>] [f-<flags>]", "switch modules on and off (a:b), f+ and f- flags"}}},
    {"fault",
     CtlApp::SC_FAULT,
     {{"fault <target> [-Frf <file>]", "its fault controls; -Frf replaces its rules with the"},
      {"      [-add] [-clear]", "file's (-: standard input), -add adds them instead,"},
      {"      [-points]", "-clear drops them all; -points lists the points passed"}}},
    {"status",
     CtlApp::SC_STATUS,
     {{"status <target>", "one screen about it: what it is, its output, controls,"},
      {"", "children, timers, connections and heap by memory type"}}},
    {"trace",
     CtlApp::SC_TRACE,
     {{"trace <target> [-D...]", "its trace and log lines as written, with"},
      {"      [m+<mods>] [f+<flags>]", "those modules and flags on meanwhile, until"},
      {"      [-for <seconds>]", "^C, -for has passed or the program ends"}}},
    {"help", CtlApp::SC_HELP, {{"help [<sub-command>]", "this usage, or a sub-command's"}}}};

// What every sub-command takes.
const UsageLine kCommonUsage[] = {
    {"-timeout <seconds>", "wait this long for each answer (5)"},
    {"-o json|text", "print JSON documents, one a line, instead of text"},
    {"<target>", "a pid or a program name; all, a pattern (qvde*) or a"},
    {"", "comma-separated list of them for many programs"}};

bool isHelpArg(const char* arg) {
  for (const char* help : {"-h", "-help", "--help", "-?"}) {
    if (strcmp(arg, help) == 0) return true;
  }
  return false;
}

const char* subCmdName(CtlApp::SubCmd subCmd) {
  for (const auto& sc : kSubCmds) {
    if (sc.subCmd == subCmd) return sc.name;
  }
  return "";
}

void printUsageLines(const UsageLine* lines, size_t n) {
  for (size_t k = 0; k < n && lines[k].args != nullptr; ++k) {
    rc::Utils::printArgUsage(lines[k].args, CtlApp::TAB_W, lines[k].text);
  }
}

// A document of one result: the format version, the sub-command and the program it is about.
Json resultDoc(CtlApp::SubCmd subCmd, const ac::CtlChannel::Entry* entry) {
  Json doc;
  doc["qvctl_format"] = 1;
  doc["command"] = subCmdName(subCmd);
  if (entry != nullptr) {
    doc["program"] = entry->program;
    doc["pid"] = static_cast<int>(entry->pid);
  }
  return doc;
}

// What fn writes to standard output (the fault controls print themselves with printf).
template <class Fn>
std::string stdoutOf(Fn fn) {
  fflush(stdout);
  FILE* tmp = tmpfile();
  const int saved = dup(STDOUT_FILENO);
  if (tmp == nullptr || saved < 0 || dup2(fileno(tmp), STDOUT_FILENO) < 0) {
    rc::Err_Throw(rc::Err::fromErrno(RC_SC_OPEN_FAILED, rc::VarArgs() << "tmpfile", errno,
                                     "admincmds/CtlApp::fault"));
  }
  fn();
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string text;
  char buf[4096];
  rewind(tmp);
  for (size_t n; (n = fread(buf, 1, sizeof buf, tmp)) > 0;) text.append(buf, n);
  fclose(tmp);
  return text;
}

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

// The debug options that give ctrls, one blank between each (the composed list leaves gaps where
// parts are off); "-Doff" when none is on.
std::string dbgOptions(const rc::DbgCtrls& ctrls) {
  std::string args;
  for (const char c : ctrls.composeArgList()) {
    if (c != ' ' || (!args.empty() && args.back() != ' ')) args += c;
  }
  while (!args.empty() && args.back() == ' ') args.pop_back();
  return args.empty() ? "-Doff" : args;
}

// The JSON fields of debug controls: "modules", "flags", "switches" and "options".
void addDbgFields(const rc::DbgCtrls& ctrls, Json& doc) {
  Json modules = Json::array();
  for (int m = DM_BEGIN; m < DM_END; ++m) {
    if (ctrls.isModuleOn(m) && rc::Dbg::moduleSymbol(m) != nullptr) {
      modules.push_back(rc::Dbg::moduleSymbol(m));
    }
  }
  std::string flags;
  for (int bit = DF_BEGIN; bit < DF_END; bit <<= 1) {
    if ((ctrls.flags() & bit) != 0) flags += rc::Dbg::flagToChar(bit);
  }
  doc["modules"] = modules;
  doc["flags"] = flags;
  doc["switches"] = {
      {"out_file", ctrls.outputToFile() != 0}, {"src", ctrls.prSrc() == RC_B_YES},
      {"ts", ctrls.prTimestamp() == RC_B_YES}, {"host", ctrls.teeToHost() == RC_B_YES},
      {"log", ctrls.teeToLog() == RC_B_YES},   {"sys_log", ctrls.teeToSysLog() == RC_B_YES}};
  doc["options"] = dbgOptions(ctrls);
}

// A rule's settings as the fault controls print them, without the rule's name in front:
// "on = true, numOns = 3, ...".
std::string ruleSettings(const rc::fault::Rule& rule) {
  std::istringstream lines(stdoutOf([&] { rule.displayContents(false); }));
  const std::string prefix = std::string(rule.name()) + ".";
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    text += (text.empty() ? "" : ", ") + line;
  }
  return text;
}

// Milliseconds to the microsecond, as the text form shows them.
double toUs(double ms) { return std::round(ms * 1000.0) / 1000.0; }

// The program's reader passes over what it does not understand, so a typing error would be sent
// as a rule nobody asked for. qvctl reads the file strictly first: every line that is not blank
// or a comment must be "<name> = <value>" (names and values as the reader splits them) and fit
// the reader's line; the first that does not ends the command before anything is sent.
// label names the file in the error (the path, or what stands for standard input).
void checkRulesFile(const std::string& path, const std::string& label) {
  const char* routine = "admincmds/CtlApp::checkRulesFile";
  rc::File file(1);
  file.openRegular(path.c_str(), rc::fault::RulesFile::MAX_FILE_BYTES, routine);
  rc::Err err;
  char line[rc::fault::RulesFile::MAX_LINE_LEN];
  rc::fault::Tkn tkn;
  String token;
  for (int lineNo = 1;; ++lineNo) {
    err.clear();
    const char* problem = nullptr;
    if (file.readLine2(line, sizeof line, &err) == nullptr) {
      if (!rc::File::isLineTooLong(err)) break;
      problem = "longer than the reader's line";
    } else {
      tkn.setLine(line);
      const int first = tkn.next(token);
      if (first != rc::fault::Tkn::T_EOL && first != rc::fault::Tkn::T_NONE &&
          (first != rc::fault::Tkn::T_ID || tkn.next(token) != rc::fault::Tkn::T_EQ ||
           tkn.next(token) != rc::fault::Tkn::T_ID || tkn.next(token) != rc::fault::Tkn::T_EOL)) {
        problem = "not '<name> = <value>'";
      }
    }
    if (problem != nullptr) {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_BAD_RULES_LINE,
                            rc::VarArgs() << label.c_str() << lineNo << problem, routine));
    }
  }
  if (err.code() != 0) rc::Err_Throw(err);
}

// The rules of path ("-": standard input), read strictly first (checkRulesFile); text, when
// given, gets the bytes read. Standard input is copied to a temporary file, which the readers need,
// and removed.
rc::fault::Rules readRules(const std::string& path, std::string* text) {
  const char* routine = "admincmds/CtlApp::readRules";
  std::string file = path;
  rc::Fd tmp;
  if (path == "-") {
    std::string input;
    char buf[65536];
    for (ssize_t n; (n = read(STDIN_FILENO, buf, sizeof buf)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) rc::Err_ThrowErrno(RC_SC_READ_FAILED, rc::VarArgs() << "-", errno, routine);
      input.append(buf, static_cast<size_t>(n));
      if (static_cast<long long>(input.size()) > rc::fault::RulesFile::MAX_FILE_BYTES) {
        rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_BAD_RULES_LINE,
                              rc::VarArgs() << kStdinLabel << 0 << "larger than the reader takes",
                              routine));
      }
    }
    const char* dir = getenv("TMPDIR");
    file = std::string(dir != nullptr && *dir == '/' ? dir : "/tmp") + "/qvctl-rules.XXXXXX";
    tmp = rc::Fd(mkstemp(file.data()));
    if (!tmp.isOpen()) rc::Err_ThrowErrno(RC_SC_OPEN_FAILED, rc::VarArgs() << file, errno, routine);
    unlink(file.c_str());
    if (write(tmp.get(), input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
      rc::Err_ThrowErrno(RC_SC_WRITE_FAILED, rc::VarArgs() << file, errno, routine);
    }
    // The copy is read through its descriptor: the name is gone already.
    file = "/proc/self/fd/" + std::to_string(tmp.get());
    if (text != nullptr) *text = std::move(input);
  }
  checkRulesFile(file, path == "-" ? kStdinLabel : path);
  rc::fault::RulesFile reader;
  reader.open(file.c_str());
  reader.read();
  reader.close();
  if (path != "-" && text != nullptr) {
    std::ifstream in(file, std::ios::binary);
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return reader.rules();
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
      m_dbgOn(RC_B_AS_IS),
      m_dbgOff(RC_B_AS_IS),
      m_dbgSteps(false),
      m_json(false),
      m_stdinEnds(false),
      m_forSec(0),
      m_following(false),
      m_stopFollowing(false),
      m_faultCtrls(RC_B_AS_IS),
      m_clearRules(false),
      m_addRules(false),
      m_listPoints(false) {}

CtlApp::~CtlApp() = default;

CtlApp::SubCmd CtlApp::subCmdOf(const char* arg) {
  for (const auto& sc : kSubCmds) {
    if (arg != nullptr && strcmp(arg, sc.name) == 0) return sc.subCmd;
  }
  return SC_NONE;
}

bool CtlApp::ownOptionTakesValue(const char* arg) {
  for (const char* option : {"-user", "-H", "-hosts", "-remote-qvctl", "-parallel"}) {
    if (strcmp(arg, option) == 0) return true;
  }
  return false;
}

int CtlApp::ownArgCount(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    // A user may be called "list".
    if (ownOptionTakesValue(argv[i])) ++i;
    if (i < argc && subCmdOf(argv[i]) != SC_NONE) return i;
  }
  return argc;
}

void CtlApp::processArgs(int argc, char** argv) {
  // A help option after the sub-command asks for that sub-command's usage, not the whole.
  const int at = ownArgCount(argc, argv);
  for (int k = at + 1; k < argc; ++k) {
    if (isHelpArg(argv[k])) {
      printSubCmdUsage(subCmdOf(argv[at]));
      ac::_do_exit(0);
    }
  }
  processAppArgs(&argc, argv);
  int i = 1;
  while (i < argc && subCmdOf(argv[i]) == SC_NONE) {
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (strcmp(argv[i], "-user") == 0) {
      m_userName = needStringArg(value, argv[i]);
    } else if (strcmp(argv[i], "-stdin-ends") == 0) {
      m_stdinEnds = true;
    } else if (strcmp(argv[i], "-H") == 0) {
      m_hosts.addList(needStringArg(value, argv[i]));
    } else if (strcmp(argv[i], "-hosts") == 0) {
      m_hosts.addFile(needStringArg(value, argv[i]));
    } else if (strcmp(argv[i], "-remote-qvctl") == 0) {
      m_hosts.setRemoteQvctl(needStringArg(value, argv[i]));
    } else if (strcmp(argv[i], "-parallel") == 0) {
      m_hosts.setParallel(needIntArg(value, argv[i], 10));
    } else {
      badArg(argv[i]);
    }
    i += ownOptionTakesValue(argv[i]) ? 2 : 1;
  }
  // The user of other hosts is theirs to know.
  if (!m_userName.empty() && m_hosts.empty()) setUser(m_userName);
  if (i == argc) {
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NEED_SUBCMD, rc::VarArgs(), kRoutine));
  }
  const char* subCmdName = argv[i];
  m_subCmd = subCmdOf(argv[i++]);
  setTryHelpSubcmd(subCmdName);
  if (m_subCmd == SC_HELP) {
    if (i + 1 < argc) badArg(argv[i + 1]);
    const SubCmd about = i == argc ? SC_NONE : subCmdOf(argv[i]);
    if (i < argc && about == SC_NONE) badArg(argv[i]);
    about == SC_NONE ? printUsage() : printSubCmdUsage(about);
    ac::_do_exit(0);
  }
  if (m_subCmd != SC_LIST) {
    if (i == argc || argv[i][0] == '-') {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NEED_TARGET, rc::VarArgs() << subCmdName, kRoutine));
    }
    m_target = argv[i++];
  }
  std::vector<char*> rest(argv + i, argv + argc);
  if (!m_userName.empty()) m_remoteArgs = {"-user", m_userName};
  m_remoteArgs.push_back(subCmdName);
  if (m_subCmd != SC_LIST) m_remoteArgs.push_back(m_target);
  for (size_t k = 0; k < rest.size(); ++k) {
    // The remote qvctl always answers in JSON.
    if (strcmp(rest[k], "-o") == 0) {
      ++k;
    } else {
      m_remoteArgs.push_back(rest[k]);
    }
  }
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
  if (m_subCmd == SC_DBG || m_subCmd == SC_TRACE) {
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
    // Steps begin with a letter, so that no option is taken for one.
    std::erase_if(args, [this](const char* arg) {
      if ((arg[0] != 'm' && arg[0] != 'f') || (arg[1] != '+' && arg[1] != '-')) return false;
      // A follower switches on, and only for as long as it follows.
      if (m_subCmd == SC_TRACE && arg[1] == '-') badArg(arg);
      rc::DbgCtrls& ctrls = arg[1] == '+' ? m_dbgOn : m_dbgOff;
      arg[0] == 'm' ? ctrls.processModulesArg(arg + 2, false)
                    : ctrls.processFlagsArg(arg + 2, false);
      m_dbgSteps = true;
      return true;
    });
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
    } else if (m_subCmd == SC_TRACE && strcmp(arg, "-for") == 0) {
      m_forSec = needFloatArg(next, arg);
      if (!(m_forSec > 0) || m_forSec > 1e6) {
        rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_OUT_OF_RANGE, rc::VarArgs() << next, kRoutine));
      }
      ++k;
    } else if (strcmp(arg, "-o") == 0) {
      const std::string format = needStringArg(next, arg);
      if (format != "json" && format != "text") badArg(next);
      m_json = format == "json";
      if (m_json && !kHaveJson) {
        rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_JSON, rc::VarArgs(), kRoutine));
      }
      ++k;
    } else if (m_subCmd == SC_FAULT && strcasecmp(arg, "-Frf") == 0) {
      m_rulesFile = needStringArg(next, arg);
      ++k;
    } else if (m_subCmd == SC_FAULT && strcmp(arg, "-clear") == 0) {
      m_clearRules = true;
    } else if (m_subCmd == SC_FAULT && strcmp(arg, "-add") == 0) {
      m_addRules = true;
    } else if (m_subCmd == SC_FAULT && strcmp(arg, "-points") == 0) {
      m_listPoints = true;
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

bool CtlApp::namesMany(const std::string& target) {
  return target == "all" || target.find_first_of("*?[,") != std::string::npos;
}

std::vector<ac::CtlChannel::Entry> CtlApp::resolveItem(const std::string& item) const {
  if (item != "all" && item.find_first_of("*?[") == std::string::npos) return {resolve(item)};
  std::vector<ac::CtlChannel::Entry> found;
  for (const auto& entry : channels()) {
    if (item == "all" || fnmatch(item.c_str(), entry.program.c_str(), 0) == 0) {
      found.push_back(entry);
    }
  }
  if (found.empty()) {
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_TARGET, rc::VarArgs() << item,
                          "admincmds/CtlApp::resolveItem"));
  }
  return found;
}

void CtlApp::run() {
  // Read first, so that a bad file is reported with its line and nothing reaches the program.
  std::string rulesText;
  if (!m_rulesFile.empty()) {
    m_faultCtrls.setRules(readRules(m_rulesFile, m_hosts.empty() ? nullptr : &rulesText));
  }
  // -user is for the remote qvctl, which checks it there. The rules read here travel on each
  // host's standard input ("-Frf -"): the file is the operator's, not the hosts'.
  if (!m_hosts.empty()) {
    for (size_t k = 1; k < m_remoteArgs.size(); ++k) {
      if (strcasecmp(m_remoteArgs[k - 1].c_str(), "-Frf") == 0) m_remoteArgs[k] = "-";
    }
    exitProgram(m_hosts.run(subCmdName(m_subCmd), m_remoteArgs, m_timeoutSec, m_json, rulesText));
    return;
  }
  if (!m_userName.empty() && geteuid() != 0) {
    rc::Err_Throw(
        rc::Err(RC_ERROR, ADC_SC_NEED_ROOT, rc::VarArgs() << m_userName, "admincmds/CtlApp::run"));
  }
  ac::App::registerAppIpcMsgs();
  if (m_subCmd == SC_LIST) return list();
  if (m_subCmd == SC_TRACE) {
    const int failed = trace();
    if (failed != 0) exitProgram(failed);
    return;
  }
  if (!namesMany(m_target)) {
    try {
      CtlClient client(resolve(m_target), m_timeoutSec, m_uid);
      return runOn(client);
    } catch (const rc::Err& err) {
      // Printed, and its status given, where every error that ends the command is.
      if (m_json) reportFailure(err, m_target, nullptr, false);
      throw;
    }
  }
  const int failed = runOnMany();
  if (failed != 0) exitProgram(failed);
}

void CtlApp::runOn(CtlClient& client) {
  switch (m_subCmd) {
    case SC_PING: return ping(client);
    case SC_REV: return rev(client);
    case SC_DBG: return dbg(client);
    case SC_FAULT: return fault(client);
    case SC_STATUS: return status(client);
    default: break;
  }
}

int CtlApp::runOnMany() {
  forEachTarget([this](const std::string& item, const ac::CtlChannel::Entry& entry) {
    m_label = labelOf(entry);
    try {
      CtlClient client(entry, m_timeoutSec, m_uid);
      runOn(client);
    } catch (const rc::Err& err) {
      targetFailed(err, item, &entry);
    }
    m_label.clear();
  });
  return m_failed;
}

void CtlApp::forEachTarget(
    const std::function<void(const std::string&, const ac::CtlChannel::Entry&)>& fn) {
  std::set<pid_t> done;
  std::stringstream items(m_target);
  for (std::string item; std::getline(items, item, ',');) {
    std::vector<ac::CtlChannel::Entry> entries;
    try {
      entries = resolveItem(item);
    } catch (const rc::Err& err) {
      targetFailed(err, item, nullptr);
    }
    for (const auto& entry : entries) {
      if (done.insert(entry.pid).second) fn(item, entry);
    }
  }
}

void CtlApp::targetFailed(const rc::Err& err, const std::string& item,
                          const ac::CtlChannel::Entry* entry) {
  if (!namesMany(m_target)) {
    if (m_json) reportFailure(err, item, entry, false);
    rc::Err_Throw(err);
  }
  reportFailure(err, item, entry);
  m_failed = m_failed != 0 ? m_failed : err.code();
}

std::string CtlApp::labelOf(const ac::CtlChannel::Entry& entry) {
  return entry.program + "." + std::to_string(entry.pid) + ": ";
}

void CtlApp::reportFailure(const rc::Err& err, const std::string& item,
                           const ac::CtlChannel::Entry* entry, bool printErr) {
  fflush(stdout);
  if (printErr) rc::Out::instance()->print(err, true);
  if (!m_json) return;
  Json doc = resultDoc(m_subCmd, entry);
  doc["target"] = item;
  doc["error"] = errorJson(err);
  printJson(doc);
}

void CtlApp::say(const char* format, ...) const {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  printf("%s%s", m_label.c_str(), text);
}

void CtlApp::list() {
  rc::TxtTbl tbl;
  tbl.addColumn("PID", rc::TxtTbl::RIGHT_JUSTIFY);
  for (const char* name : {"PROGRAM", "CLASS", "STARTED", "REVISION"}) {
    tbl.addColumn(name, rc::TxtTbl::LEFT_JUSTIFY);
  }
  Json programs = Json::array();
  unsigned int row = 0;
  for (const auto& entry : channels()) {
    std::string cls = "?", started = "?", revision = "?";
    Json program = {{"pid", static_cast<int>(entry.pid)}, {"program", entry.program}};
    try {
      CtlClient client(entry, m_timeoutSec, m_uid);
      const auto info = client.rpc<ac::GetPgmInfoReply>(ac::GetPgmInfoCall());
      cls = rc::PgmClass::symbol(info->pgmClass());
      started = rc::Utils::timeToString(info->startTime(), "%Y-%m-%d %H:%M:%S");
      program["class"] = cls;
      program["start_time"] = info->startTime();
      const auto revReply = client.rpc<ac::GetRevDataReply>(ac::GetRevDataCall());
      if (revReply->revData() != nullptr) revision = revReply->revData()->revSymbol();
      program["revision"] = revision;
    } catch (const rc::Err& err) {
      // One program that cannot answer does not hide the others; one that ended or stopped
      // listening meanwhile is not listed.
      if (err.code() == ADC_SC_NO_SUCH_PID || err.code() == ADC_SC_NO_SUCH_TARGET) continue;
      rc::Out::instance()->print(err, true);
      program["error"] = rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY);
    }
    programs.push_back(program);
    ++row;
    tbl.appendInt(row, entry.pid);
    for (const std::string& cell : {entry.program, cls, started, revision}) {
      tbl.append(row, cell.c_str());
    }
  }
  if (!m_json) return tbl.printTable();
  Json doc = resultDoc(m_subCmd, nullptr);
  doc["programs"] = programs;
  printJson(doc);
}

void CtlApp::ping(CtlClient& client) {
  double total = 0, lo = 0, hi = 0;
  int done = 0;
  for (int seq = 1; seq <= m_count && !(seq > 1 && stdinEnded(0)); ++seq) {
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
    if (m_json) {
      Json doc = resultDoc(m_subCmd, &client.target());
      doc["seq"] = seq;
      doc["time_ms"] = toUs(ms);
      printJson(doc);
    } else {
      say("reply from %s: seq=%d time=%.3f ms\n", who(client.target()).c_str(), seq, ms);
    }
    total += ms;
    done = seq;
    lo = seq == 1 || ms < lo ? ms : lo;
    hi = ms > hi ? ms : hi;
  }
  if (!m_json) {
    return say("%d calls, round trip min/avg/max = %.3f/%.3f/%.3f ms\n", done, lo, total / done,
               hi);
  }
  Json doc = resultDoc(m_subCmd, &client.target());
  doc["calls"] = done;
  doc["min_ms"] = toUs(lo);
  doc["avg_ms"] = toUs(total / done);
  doc["max_ms"] = toUs(hi);
  printJson(doc);
}

void CtlApp::rev(CtlClient& client) {
  const auto reply = client.rpc<ac::GetRevDataReply>(ac::GetRevDataCall());
  const rc::RevData* data = reply->revData();
  const char* label = data != nullptr ? data->revLabel() : "?";
  const char* revision = data != nullptr ? data->revSymbol() : "?";
  const char* build = data != nullptr ? data->buildStr() : "?";
  if (m_json) {
    Json doc = resultDoc(m_subCmd, &client.target());
    doc["label"] = label;
    doc["revision"] = revision;
    doc["build"] = build;
    return printJson(doc);
  }
  say("program:  %s\n", who(client.target()).c_str());
  say("label:    %s\n", label);
  say("revision: %s\n", revision);
  say("build:    %s\n", build);
}

void CtlApp::dbg(CtlClient& client) {
  if (m_dbgSteps) {
    // The program's controls, changed here and sent back whole: a merge cannot switch a single
    // module or flag off.
    const auto now = client.rpc<ac::GetDbgCtrlsReply>(ac::GetDbgCtrlsCall());
    rc::DbgCtrls next = now->dbgCtrls();
    if (m_setDbg) next.mergeFrom(m_dbgCtrls);
    next.setFlags((next.flags() | m_dbgOn.flags()) & ~m_dbgOff.flags());
    for (int m = DM_BEGIN; m < DM_END; ++m) {
      if (m_dbgOn.isModuleOn(m)) next.setModule(m);
      if (m_dbgOff.isModuleOn(m)) next.clearModule(m);
    }
    next.setModules(next.modules());
    client.rpc<ac::SetDbgCtrlsReply>(ac::SetDbgCtrlsCall(0, next));
  } else if (m_setDbg) {
    client.rpc<ac::SetDbgCtrlsReply>(ac::SetDbgCtrlsCall(0, m_dbgCtrls));
  }
  const auto reply = client.rpc<ac::GetDbgCtrlsReply>(ac::GetDbgCtrlsCall());
  const rc::DbgCtrls& ctrls = reply->dbgCtrls();
  if (!m_json) {
    return say("debug controls of %s: %s\n", who(client.target()).c_str(),
               dbgOptions(ctrls).c_str());
  }
  Json doc = resultDoc(m_subCmd, &client.target());
  addDbgFields(ctrls, doc);
  printJson(doc);
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
  if (m_listPoints) {
    faultPoints(client);
  } else {
    showFaultCtrls(client);
  }
  // Asked last: a program older than the call may close the connection on it.
  if (!m_rulesFile.empty()) warnUnknownRules(client);
}

void CtlApp::showFaultCtrls(CtlClient& client) {
  const auto reply = client.rpc<ac::GetFaultCtrlsReply>(ac::GetFaultCtrlsCall());
  const rc::fault::Ctrls* ctrls = reply->ctrls();
  // "global on/off = yes", then a "<rule>.<attribute> = <value>" line each, as in a rules file.
  std::istringstream lines(ctrls != nullptr ? stdoutOf([&] { ctrls->displayContents(false); })
                                            : std::string());
  if (!m_json) say("fault controls of %s:\n", who(client.target()).c_str());
  Json doc = resultDoc(m_subCmd, &client.target());
  Json rules = Json::object();
  for (std::string line; std::getline(lines, line);) {
    if (!m_json) {
      say("%s\n", line.c_str());
      continue;
    }
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq), value = line.substr(eq + 3);
    if (name == "global on/off") {
      doc["global_on"] = value == "yes";
    } else {
      rules[name] = value;
    }
  }
  if (!m_json) return;
  doc["rules"] = rules;
  printJson(doc);
}

void CtlApp::warnUnknownRules(CtlClient& client) {
  const rc::fault::Rules* rules = m_faultCtrls.rules();
  if (rules == nullptr) return;
  std::unique_ptr<ac::GetFaultPointsReply> reply;
  try {
    reply = client.rpc<ac::GetFaultPointsReply>(ac::GetFaultPointsCall());
  } catch (const rc::Err& err) {
    // A program older than the call answers that it has no handler for it, or, when its
    // transport does not know the type either, closes the connection: its rules were sent
    // unchecked, as before.
    if (err.code() == ADC_SC_NOT_SUPPORTED || err.code() == ADC_SC_CONNECTION_LOST) return;
    throw;
  }
  rc::fault::PointStatsVec known;
  for (const ac::FaultPointEntry& p : reply->points().entries) {
    known.push_back({String(p.name.c_str()), p.evaluated, p.fired});
  }
  fflush(stdout);
  for (const String& name : rc::fault::Api::unknownNames(*rules, known)) {
    rc::Out::instance()->print(
        rc::Err(RC_WARNING, AC_SC_CTL_UNKNOWN_FAULT_RULE,
                rc::VarArgs() << client.target().program << static_cast<int>(client.target().pid)
                              << name.c_str(),
                "admincmds/CtlApp::warnUnknownRules"),
        true);
  }
}

void CtlApp::faultPoints(CtlClient& client) {
  const auto reply = client.rpc<ac::GetFaultPointsReply>(ac::GetFaultPointsCall());
  const auto& points = reply->points().entries;
  if (m_json) {
    Json list = Json::array();
    for (const ac::FaultPointEntry& p : points) {
      list.push_back({{"name", p.name}, {"evaluated", p.evaluated}, {"fired", p.fired}});
    }
    Json doc = resultDoc(m_subCmd, &client.target());
    doc["points"] = list;
    return printJson(doc);
  }
  say("fault points of %s: %zu\n", who(client.target()).c_str(), points.size());
  int width = 5;
  for (const ac::FaultPointEntry& p : points)
    width = std::max(width, static_cast<int>(p.name.size()));
  if (points.empty()) return;
  say("%-*s %12s %12s\n", width, "POINT", "EVALUATED", "FIRED");
  for (const ac::FaultPointEntry& p : points) {
    say("%-*s %12llu %12llu\n", width, p.name.c_str(), p.evaluated, p.fired);
  }
}

void CtlApp::status(CtlClient& client) {
  const auto reply = client.rpc<ac::GetStatusReply>(ac::GetStatusCall());
  const ac::ProgramStatus& st = reply->status();
  StatusView view;
  view.who = who(client.target());
  const char* cls = rc::PgmClass::symbol(st.pgmClass);
  view.cls = cls != nullptr ? cls : "?";
  view.startTime = st.startTime;
  view.uptimeSecs = std::max(0LL, static_cast<long long>(time(nullptr)) - st.startTime);
  view.revision = st.revision;
  view.build = st.build;
  view.logFile = st.logFile;
  view.dbgOutput = st.dbgOutput;
  view.debug = dbgOptions(st.dbgCtrls);
  view.faultOn = st.faultCtrls.isOn();
  if (const rc::fault::Rules* rules = st.faultCtrls.rules()) {
    for (const rc::fault::Rule* rule : *rules) {
      StatusView::Rule& shown = view.rules.emplace_back();
      shown.name = rule->name();
      shown.settings = ruleSettings(*rule);
      // The counts of the rule's point, when a point of its name has been passed.
      for (const ac::FaultPointEntry& p : st.ruleCounts.entries) {
        if (p.name == shown.name) shown.evaluated = p.evaluated, shown.fired = p.fired;
      }
    }
  }
  for (const ac::ChildEntry& c : st.children.entries) view.children.push_back({c.pid, c.command});
  for (const ac::TimerEntry& t : st.timers.entries) {
    view.timers.push_back(
        {t.name, t.kind == ac::AppTimer::INTERVAL ? "interval" : "countdown", t.msLeft});
  }
  for (const ac::ConnEntry& c : st.conns.entries) view.conns.push_back({c.pid, c.uid});
  for (const ac::HeapEntry& h : st.heap.entries) view.heap.push_back({h.type, h.blocks, h.bytes});
  if (!m_json) return view.print([this](const std::string& line) { say("%s\n", line.c_str()); });

  Json doc = resultDoc(m_subCmd, &client.target());
  doc["class"] = view.cls;
  doc["start_time"] = view.startTime;
  doc["uptime_s"] = view.uptimeSecs;
  doc["revision"] = view.revision;
  doc["build"] = view.build;
  doc["log_file"] = view.logFile;
  doc["dbg_output"] = view.dbgOutput;
  Json dbgDoc;
  addDbgFields(st.dbgCtrls, dbgDoc);
  doc["dbg"] = dbgDoc;
  Json rules = Json::array(), children = Json::array(), timers = Json::array(),
       conns = Json::array(), heap = Json::array();
  for (const StatusView::Rule& r : view.rules) {
    rules.push_back({{"name", r.name},
                     {"settings", r.settings},
                     {"evaluated", r.evaluated},
                     {"fired", r.fired}});
  }
  doc["fault"] = {{"global_on", view.faultOn}, {"rules", rules}};
  for (const StatusView::Child& c : view.children) {
    children.push_back({{"pid", c.pid}, {"command", c.command}});
  }
  for (const StatusView::Timer& t : view.timers) {
    timers.push_back({{"name", t.name}, {"kind", t.kind}, {"ms_left", t.msLeft}});
  }
  for (const StatusView::Conn& c : view.conns) conns.push_back({{"pid", c.pid}, {"uid", c.uid}});
  for (const StatusView::Heap& h : view.heap) {
    heap.push_back({{"type", h.type}, {"blocks", h.blocks}, {"bytes", h.bytes}});
  }
  doc["children"] = children;
  doc["timers"] = timers;
  doc["connections"] = conns;
  doc["heap"] = heap;
  printJson(doc);
}

void CtlApp::handleSignal(int sigNum, bool fromSignalPipe) {
  if (m_following && (sigNum == SIGINT || sigNum == SIGTERM || sigNum == SIGHUP)) {
    m_stopFollowing = true;
    return;
  }
  ac::App::handleSignal(sigNum, fromSignalPipe);
}

bool CtlApp::stdinEnded(int waitMs) const {
  if (!m_stdinEnds) return false;
  pollfd in = {STDIN_FILENO, POLLIN, 0};
  if (poll(&in, 1, waitMs) <= 0) return false;
  char buf[4096];
  const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  return n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
}

void CtlApp::printTraceLines(const ac::CtlChannel::Entry& from, const std::string& label,
                             const ac::TraceLinesMsg& batch) const {
  if (batch.dropped() != 0) {
    if (m_json) {
      Json doc = resultDoc(m_subCmd, &from);
      doc["dropped"] = batch.dropped();
      printJson(doc);
    } else {
      printf("%s(%d lines dropped)\n", label.c_str(), batch.dropped());
    }
  }
  for (const ac::TraceLines::Line& line : batch.lines().lines()) {
    const bool hasNewline = !line.text.empty() && line.text.back() == '\n';
    if (m_json) {
      Json doc = resultDoc(m_subCmd, &from);
      doc["line"] = line.text.substr(0, line.text.size() - (hasNewline ? 1 : 0));
      doc["kind"] = line.kind == rc::LK_LOG ? "log" : "trace";
      printJson(doc);
    } else {
      printf("%s%s%s", label.c_str(), line.text.c_str(), hasNewline ? "" : "\n");
    }
  }
}

int CtlApp::trace() {
  const bool many = namesMany(m_target);
  std::vector<std::pair<std::string, ac::CtlChannel::Entry>> entries;
  forEachTarget([&entries](const std::string& item, const ac::CtlChannel::Entry& entry) {
    entries.emplace_back(item, entry);
  });
  // Only modules and flags count: what the -D options and the m+ / f+ steps switch on.
  rc::DbgCtrls on(RC_B_AS_IS);
  on.setFlags(m_dbgCtrls.flags() | m_dbgOn.flags());
  for (int m = DM_BEGIN; m < DM_END; ++m) {
    if (m_dbgCtrls.isModuleOn(m) || m_dbgOn.isModuleOn(m)) on.setModule(m);
  }
  struct Followed {
    std::unique_ptr<CtlClient> client;
    std::string item;
    std::string label;
  };
  std::vector<Followed> followed;
  m_following = true;
  for (const auto& [item, entry] : entries) {
    try {
      auto client = std::make_unique<CtlClient>(entry, m_timeoutSec, m_uid);
      client->rpc<ac::FollowReply>(ac::FollowCall(0, on));
      followed.push_back({std::move(client), item, many ? labelOf(entry) : ""});
    } catch (const rc::Err& err) {
      targetFailed(err, item, &entry);
    }
  }
  const rc::Timeval until = m_forSec > 0
                                ? rc::Timeval::monotonicNow() +
                                      rc::Timeval(static_cast<long>(m_forSec),
                                                  static_cast<long>(std::fmod(m_forSec, 1.0) * 1e6))
                                : rc::Timeval::NO_TIMEVAL;
  const int signalFd = ac::App::signalPipeFd();
  while (!followed.empty() && !m_stopFollowing) {
    int waitMs = -1;
    if (until != rc::Timeval::NO_TIMEVAL) {
      const rc::Timeval now = rc::Timeval::monotonicNow();
      if (!(now < until)) break;
      waitMs = static_cast<int>(std::ceil((until - now).asDouble() * 1000.0));
    }
    std::vector<pollfd> fds;
    for (const Followed& f : followed) fds.push_back({f.client->fd(), POLLIN, 0});
    fds.push_back({signalFd, POLLIN, 0});
    fds.push_back({m_stdinEnds ? STDIN_FILENO : -1, POLLIN, 0});
    if (poll(fds.data(), fds.size(), waitMs) <= 0) continue;
    if (fds[followed.size()].revents != 0) {
      ac::App::signalPipeFdCCb(this, rc::FdSet::CBT_FD_READY, signalFd, nullptr);
    }
    if (fds[followed.size() + 1].revents != 0 && stdinEnded(0)) break;
    for (size_t k = followed.size(); k-- > 0;) {
      if (fds[k].revents == 0) continue;
      Followed& f = followed[k];
      try {
        f.client->receive();
        while (ac::IpcMsgPtr msg = f.client->nextMsg()) {
          const auto* batch = dynamic_cast<const ac::TraceLinesMsg*>(msg.get());
          if (batch != nullptr) printTraceLines(f.client->target(), f.label, *batch);
        }
      } catch (const rc::Err& err) {
        fflush(stdout);
        const ac::CtlChannel::Entry entry = f.client->target();
        const std::string item = f.item;
        followed.erase(followed.begin() + static_cast<std::ptrdiff_t>(k));
        targetFailed(err, item, &entry);
      }
    }
    fflush(stdout);
  }
  // Closing the connections is what tells each program to switch back off.
  followed.clear();
  m_following = false;
  return m_failed;
}

void CtlApp::printUsageSummary() const {
  printf("Usage: %s [-h|-rev] [<options>] <sub-command> [<arguments>]\n", programName());
}

void CtlApp::printSubCmdUsage(SubCmd subCmd) const {
  for (const auto& sc : kSubCmds) {
    if (sc.subCmd != subCmd) continue;
    printf("Usage: %s [<options>] %s\n", programName(), sc.usage[0].args);
    printUsageLines(sc.usage, std::size(sc.usage));
    if (subCmd != SC_HELP) printUsageLines(kCommonUsage, subCmd == SC_LIST ? 2 : 4);
  }
}

void CtlApp::printUsage() const {
  printUsageSummary();
  printf("Options:\n");
  printStdArgsUsage(TAB_W);
  rc::Utils::printArgUsage("-user <name>", TAB_W, "(root only) reach that user's programs");
  rc::Utils::printArgUsage("-stdin-ends", TAB_W, "end a waiting command when input ends");
  rc::Utils::printArgUsage("-H [user@]host[:port],...", TAB_W, "run on those hosts through ssh");
  rc::Utils::printArgUsage("-hosts <file>", TAB_W, "and on the hosts of a file, one a line");
  rc::Utils::printArgUsage("-remote-qvctl <path>", TAB_W, "the qvctl they run (qvctl)");
  rc::Utils::printArgUsage("-parallel <n>", TAB_W, "hosts reached at once (8, at most 64)");
  printf("\nSub-commands:\n");
  for (const auto& sc : kSubCmds) printUsageLines(sc.usage, std::size(sc.usage));
  printUsageLines(kCommonUsage, std::size(kCommonUsage));
  printf(
      "\nOptions before the sub-command apply to %s itself.\n"
      "Exit status: 0 done; 17 bad argument (a bad option value: its own status);\n"
      "19 unsafe channel directory; 20 no target; 21 unknown target; 22 process not running;\n"
      "23 target not unique; 24 refused; 25 no reply in time; 26 connection lost;\n"
      "27 request failed; 28 bad reply; 29 no sub-command; 30 -user without root;\n"
      "31 program busy; 32 request too large; 33 call not supported by the program;\n"
      "34 -o json not built in; 35 bad rules file line; 36 host unreachable;\n"
      "37 no qvctl on the host; 38 its qvctl too old; 39 bad host list or QV_SSH_OPTS.\n"
      "trace ends with 0 on ^C (SIGINT, SIGTERM), after -for and, with -stdin-ends, at the\n"
      "end of standard input; with 26 when the program ends.\n"
      "With many targets: the status of the first that failed; with -H, the worst host's.\n"
      "QV_SSH_OPTS: more ssh options for -H, split into words as a shell would.\n\n",
      programName());
}

}  // namespace adc
