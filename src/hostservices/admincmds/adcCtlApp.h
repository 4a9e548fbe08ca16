// The live-control command: talks to running programs of this user through their control
// channels. "list" shows every program that has one; the other sub-commands address one program,
// named by its pid or its program name: "ping" times calls to it, "rev" shows its revision data,
// "dbg" shows (and with -D options first changes) its debug controls, "fault" shows (and with
// -Frf / -clear first changes) its fault-insertion controls.
//
// The options before the sub-command are the command's own standard options (its own -D, -F and
// logging options among them); the -D and -F options after it are sent to the program. main()
// therefore hands main1 only the part before the sub-command (ownArgCount).
//
// Every failure ends the command through rc::Err: bad arguments (RC_SC_BAD_CMD_LINE_ARG and the
// option readers' codes) are printed with the usage summary; the admin command codes
// (adcStrCodes.h) give each kind of failure its own exit status. Single-threaded.
#pragma once

#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcFaultApi.h"

namespace adc {

class CtlClient;

class CtlApp : public ac::App {
 public:
  enum SubCmd { SC_NONE = 0, SC_LIST, SC_PING, SC_REV, SC_DBG, SC_FAULT };
  enum { DEFAULT_TIMEOUT_SEC = 5, MAX_PING_COUNT = 100000, TAB_W = 30 };

  CtlApp();
  ~CtlApp() override;

  void run() override;
  void printUsage() const override;
  void printUsageSummary() const override;
  // The sub-command, its target and its options; see printUsage.
  void processArgs(int argc, char** argv) override;

  // The number of leading arguments (argv[0] included) that come before the sub-command.
  static int ownArgCount(int argc, char** argv);
  static SubCmd subCmdOf(const char* arg);

  SubCmd subCmd() const { return m_subCmd; }
  const std::string& target() const { return m_target; }

  // The live channels of this user; none when the directory does not exist yet. A directory
  // that is not safe raises AC_SC_CTL_DIR_REFUSED.
  static std::vector<ac::CtlChannel::Entry> channels();
  // The one channel target names (a pid, or a program name that only one program has).
  static ac::CtlChannel::Entry resolve(const std::string& target);

 private:
  void list();
  void ping(CtlClient& client);
  void rev(CtlClient& client);
  void dbg(CtlClient& client);
  void fault(CtlClient& client);
  // Reads the options left after the sub-command's own.
  void processSubCmdOptions(std::vector<char*>& args);

  SubCmd m_subCmd;
  std::string m_target;
  int m_count;
  int m_timeoutSec;
  rc::DbgCtrls m_dbgCtrls;
  bool m_setDbg;
  std::string m_rulesFile;
  // The rules of m_rulesFile; the global switch is left as the program has it.
  rc::fault::Ctrls m_faultCtrls;
  bool m_clearRules;
  bool m_addRules;
};

}  // namespace adc
