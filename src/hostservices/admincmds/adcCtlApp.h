// The live-control command: talks to running programs of this user (or, for root, of the user
// named by -user) through their control channels. "list" shows every program that has one; the
// other sub-commands address programs named by the target: "ping" times calls to each, "rev"
// shows its revision data, "dbg" shows (and with -D options or m+/m-/f+/f- steps first changes)
// its debug controls, "fault" shows (and with -Frf / -clear first changes) its fault-insertion
// controls, or with -points the fault points it has passed; "status" shows one screen about it
// (what it is, since when, where its output goes, its controls, children, timers, connections
// and heap by memory type); "trace" follows the lines the program writes (switching modules and
// flags on for as long as it follows, see AppFollowers) until interrupted, -for has passed or the
// program ends, every program of many targets at once, labelling each line; "help" prints the usage
// of one sub-command.
//
// A target is a pid or a program name that only one program has, or names many: "all", a
// shell-style pattern on program names, or a comma-separated list of any of these. With many,
// every result is labelled "<program>.<pid>: ", a target that fails is reported and the others
// still go ahead, and the command ends with the status of the first failure. "-o json" prints
// one JSON document per result (a line each; ping prints one per reply and one for the round
// trips) with "qvctl_format" 1; it needs the JSON library at build time (ADC_SC_NO_JSON).
//
// The options before the sub-command are the command's own standard options (its own -D, -F and
// logging options among them); the -D and -F options after it are sent to the program. main()
// therefore hands main1 only the part before the sub-command (ownArgCount). "-user <name>"
// before the sub-command looks in the directory where that user's programs put their channels
// (CtlChannel::dirPathOf), checked to be theirs and closed to others, and talks only to
// programs of that user or root; stale sockets there are left alone. Only root may use it
// (ADC_SC_NEED_ROOT).
//
// Every failure ends the command through rc::Err: bad arguments (RC_SC_BAD_CMD_LINE_ARG and the
// option readers' codes) are printed with the usage summary; the admin command codes
// (adcStrCodes.h) give each kind of failure its own exit status. Single-threaded.
//
// "-H <hosts>" and "-hosts <file>" run the sub-command on other hosts instead, through ssh
// (CtlHosts): the arguments after the sub-command are checked here and passed on as given.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcFaultApi.h"
#include "hostservices/admincmds/adcCtlHosts.h"

namespace ac {
class TraceLinesMsg;
}  // namespace ac

namespace adc {

class CtlClient;

class CtlApp : public ac::App {
 public:
  enum SubCmd {
    SC_NONE = 0,
    SC_LIST,
    SC_PING,
    SC_REV,
    SC_DBG,
    SC_FAULT,
    SC_STATUS,
    SC_TRACE,
    SC_HELP
  };
  enum { DEFAULT_TIMEOUT_SEC = 5, MAX_PING_COUNT = 100000, TAB_W = 30 };

  CtlApp();
  ~CtlApp() override;

  void run() override;
  // SIGINT, SIGTERM and SIGHUP end a trace normally (status 0) once its connections are closed.
  void handleSignal(int sigNum, bool fromSignalPipe) override;
  void printUsage() const override;
  void printUsageSummary() const override;
  // The sub-command, its target and its options; see printUsage.
  void processArgs(int argc, char** argv) override;

  // The number of leading arguments (argv[0] included) that come before the sub-command.
  static int ownArgCount(int argc, char** argv);
  static SubCmd subCmdOf(const char* arg);
  // Whether an option before the sub-command is followed by its value.
  static bool ownOptionTakesValue(const char* arg);

  SubCmd subCmd() const { return m_subCmd; }
  const std::string& target() const { return m_target; }

  // The live channels of the user addressed; none when the directory does not exist yet. A
  // directory that is not safe raises AC_SC_CTL_DIR_REFUSED.
  std::vector<ac::CtlChannel::Entry> channels() const;
  // The one channel target names (a pid, or a program name that only one program has).
  ac::CtlChannel::Entry resolve(const std::string& target) const;
  // The channels one item of a target list names: every one for "all", those whose program
  // matches a pattern, else resolve(item). Naming none is ADC_SC_NO_SUCH_TARGET.
  std::vector<ac::CtlChannel::Entry> resolveItem(const std::string& item) const;
  // Whether target may name several programs (and its results are labelled).
  static bool namesMany(const std::string& target);
  // The usage of one sub-command.
  void printSubCmdUsage(SubCmd subCmd) const;

 private:
  void list();
  // The sub-command on one program.
  void runOn(CtlClient& client);
  // Runs on every program the target names; the first failure's code, 0 when none.
  int runOnMany();
  // Calls fn(item, entry) for every program the target names, once each, in the order of its
  // list (item: the part of the list that named it); an item that names none goes to
  // targetFailed.
  void forEachTarget(
      const std::function<void(const std::string&, const ac::CtlChannel::Entry&)>& fn);
  // A failure of one target (entry null: not known). The only target's ends the command, after
  // its JSON document; one of many is reported, the others go on, and the first one's code is
  // kept in m_failed.
  void targetFailed(const rc::Err& err, const std::string& item,
                    const ac::CtlChannel::Entry* entry);
  // "<program>.<pid>: ", the label of a result when the target names many.
  static std::string labelOf(const ac::CtlChannel::Entry& entry);
  // Reports a failure of one target (entry null: not known), as a JSON document with -o json and
  // on standard error when printErr.
  void reportFailure(const rc::Err& err, const std::string& item,
                     const ac::CtlChannel::Entry* entry, bool printErr = true);
  // A result line, labelled when the target names many.
  void say(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void ping(CtlClient& client);
  void rev(CtlClient& client);
  void dbg(CtlClient& client);
  void fault(CtlClient& client);
  void showFaultCtrls(CtlClient& client);
  void faultPoints(CtlClient& client);
  // Warns about each rule of m_faultCtrls that names no point the program has passed; nothing
  // when the program does not know the call.
  void warnUnknownRules(CtlClient& client);
  void status(CtlClient& client);
  // Follows every program the target names; the first failure's code, 0 when none (a single
  // target's failure is raised).
  int trace();
  // One batch of a follower's lines (and its count of lines lost), labelled with label.
  void printTraceLines(const ac::CtlChannel::Entry& from, const std::string& label,
                       const ac::TraceLinesMsg& batch) const;
  // With -stdin-ends: whether standard input has reached its end (or failed); reads what waits.
  bool stdinEnded(int waitMs) const;
  // Reads the options left after the sub-command's own.
  void processSubCmdOptions(std::vector<char*>& args);
  void setUser(const std::string& name);

  SubCmd m_subCmd;
  std::string m_target;
  // The user named by -user (empty: this one) and the uid whose programs are addressed.
  std::string m_userName;
  uid_t m_uid;
  int m_count;
  int m_timeoutSec;
  rc::DbgCtrls m_dbgCtrls;
  bool m_setDbg;
  // The modules and flags the m+/f+ steps switch on, and those m-/f- switch off.
  rc::DbgCtrls m_dbgOn;
  rc::DbgCtrls m_dbgOff;
  bool m_dbgSteps;
  bool m_json;
  // -stdin-ends: a command that waits (trace, a long ping) also ends when standard input ends,
  // so that one started over ssh ends with the connection that started it.
  bool m_stdinEnds;
  // trace: how long (not above zero: until stopped), and whether a signal asked it to stop.
  double m_forSec;
  bool m_following;
  volatile bool m_stopFollowing;
  // "<program>.<pid>: " while a target of many is served.
  std::string m_label;
  // The code of the first target of many that failed.
  int m_failed = 0;
  std::string m_rulesFile;
  // The rules of m_rulesFile; the global switch is left as the program has it.
  rc::fault::Ctrls m_faultCtrls;
  bool m_clearRules;
  bool m_addRules;
  bool m_listPoints;
  // The hosts of -H and -hosts (none: this one), and the words the remote qvctl is given: -user,
  // then the sub-command and its arguments as given, without -o.
  CtlHosts m_hosts;
  std::vector<std::string> m_remoteArgs;
};

}  // namespace adc
