// Debug trace lines. Every component writes its trace lines unconditionally in its source; a line
// shows only when its module (the component, RcDbgModule) and its flag (the kind of information,
// RcDbgFlags) are both on. Code traces through RC_TRACE, which tests rc::Dbg::s_anyOn first, so a
// switched-off site costs one predictable test of a global and its arguments are not evaluated;
// print() then looks at one module byte and the flag mask before anything is formatted.
//
// rc::DbgCtrls is the controls record: the flag mask, one byte per module and six RcBool switches
// (file output, source prefix, time stamp, host, log and syslog tees). It is a plain value that
// other programs send and merge (RC_B_AS_IS switches and the parts not marked in m_fieldFlags are
// left alone by a merge).
//
// rc::Dbg holds the controls in use and the devices: a main device (standard output, or the
// debug file under the log directory while m_outputToFile is on) and an optional syslog tee; the
// program's log gets a copy of every line while m_teeToLog is on. The host tee is carried for the
// processors that forward their output to the host and does nothing here. Devices are held by
// reference count. One current instance per process (instance()); rcInitDbg reads the variables
// (DBG_MODULES, DBG_FLAGS, DBG_OUT_FILE, DBG_TO_HOST, DBG_TO_LOG, DBG_TO_SYS_LOG) and then the
// "-D" options once at start-up and throws rc::Err (RC_ERROR) for a bad one. Formatting uses
// fixed stack buffers and allocates nothing. Single-threaded; nothing here is safe in a signal
// handler.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <functional>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcBool.h"
#include "comps/recomps/rcDbgCodes.h"
#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcRefCnt.h"

namespace rc {

class ByteStrm;

class DbgCtrls : public mem::newDelete<mt_anonymous> {
 public:
  enum FieldFlags { FF_NONE = 0, FF_HAS_FLAGS = 1, FF_HAS_MODULES = 2, FF_ALL = 3 };
  // The encoded size of saveOn and the bound binarySize reports.
  enum { SAVED_SIZE = 104, BINARY_SIZE = 112 };

  // RC_B_AS_IS gives a record that changes nothing when merged (FF_NONE); any other value
  // marks every part as meaningful. All switches take initialValue; flags and modules are off.
  explicit DbgCtrls(int initialValue = RC_B_NO);
  DbgCtrls(const DbgCtrls&) = default;
  DbgCtrls& operator=(const DbgCtrls&) = default;

  // Back to DbgCtrls(RC_B_NO).
  void clear();

  // Takes the "-D" options (and their values) out of argv, lowering *argc; the other arguments
  // keep their order. A bad option throws before argv is changed; what it changed in the
  // controls before the bad item stays. "-Dh" is not handled here.
  void processArgs(int* argc, char** argv);
  // Flag letters written one after the other. Null or empty: RC_SC_NEED_ARG_VAL ("-Df") unless
  // allowNull; a character that is no letter: RC_SC_NEED_DBG_FLAG ("-Df", the character).
  void processFlagsArg(const char* arg, bool allowNull);
  // Module symbols separated by ":" (empty items skipped, an item starting with "*" means all).
  // Null or empty: RC_SC_NEED_ARG_VAL ("-Dm") unless allowNull; an unknown symbol:
  // RC_SC_NEED_DBG_MODULE ("-Dm", the symbol).
  void processModulesArg(const char* arg, bool allowNull);
  // Applies a record sent by another program: the flags are replaced when src has them, each
  // switch that is not RC_B_AS_IS is copied, and all module bytes are copied when src has them.
  void mergeFrom(const DbgCtrls& src);
  // The options that give these controls, e.g. "-Dm ac:rc -Df di -Dts yes".
  String composeArgList() const;
  // The letters of the set flags in bit order, or null when none; tmpBuf holds the text.
  const char* getDebugFlags(String* tmpBuf) const;
  // The ":"-joined symbols of the modules that are on, or null when none; *allModules tells
  // whether every module is on.
  const char* getModuleFlags(String* tmpBuf, bool* allModules) const;

  // DM_ALL means every module; other ids outside 1..69 are ignored.
  void setModule(int module);
  void clearModule(int module);
  // Copies NUM_DBG_MODULES bytes (byte 0 unused).
  void setModules(const unsigned char* modules);
  void setFlag(int mask);
  void setFlags(int mask);
  void clearFlag(int mask);
  void setOutputToFile(int val) { m_outputToFile = val; }
  void setPrSrc(int val) { m_prSrc = val; }
  void setPrTimestamp(int val) { m_prTimestamp = val; }
  void setTeeToHost(int val) { m_teeToHost = val; }
  void setTeeToLog(int val) { m_teeToLog = val; }
  void setTeeToSysLog(int val) { m_teeToSysLog = val; }

  int fieldFlags() const { return m_fieldFlags; }
  int flags() const { return m_flags; }
  const unsigned char* modules() const { return m_modules; }
  bool isModuleOn(int module) const {
    return module > DM_NONE && module < DM_END && m_modules[module] != 0;
  }
  int outputToFile() const { return m_outputToFile; }
  int prSrc() const { return m_prSrc; }
  int prTimestamp() const { return m_prTimestamp; }
  int teeToHost() const { return m_teeToHost; }
  int teeToLog() const { return m_teeToLog; }
  int teeToSysLog() const { return m_teeToSysLog; }

  // Eight 32-bit ints in field order, then the module bytes padded to 72: 104 bytes.
  void saveOn(ByteStrm& strm) const;
  // Reads what saveOn wrote. Too few bytes, field flags outside FF_ALL or a switch that is no
  // RcBool raise the stream's read error (RC_SC_READ_FAILED) and leave the record unchanged.
  void restoreFrom(ByteStrm& strm);
  static int binarySize() { return BINARY_SIZE; }

  void dump() const { dumpObj(0, nullptr); }
  void dumpObj(int indentLvl, const char* label) const;

 private:
  int m_fieldFlags;
  int m_flags;
  int m_outputToFile;
  int m_prSrc;
  int m_prTimestamp;
  int m_teeToHost;
  int m_teeToLog;
  int m_teeToSysLog;
  unsigned char m_modules[NUM_DBG_MODULES];
};

class Dbg : public RefCnt, public mem::newDelete<mt_anonymous> {
 public:
  enum { LINE_BUF_SIZE = 20480, JOINED_BUF_SIZE = 20520, MAX_INDENT = 160 };

  // A null device means the standard output device; the device gets a reference. The third form
  // uses ctrls (not owned) instead of the object's own record.
  explicit Dbg(int references);
  Dbg(OutDevice* outDevice, int references);
  Dbg(OutDevice* outDevice, DbgCtrls* ctrls, int references);
  ~Dbg() override;
  Dbg(const Dbg&) = delete;
  Dbg& operator=(const Dbg&) = delete;

  // The current instance; the default one, made current on first use, until another is set.
  static Dbg* instance();
  static Dbg* defaultInstance(bool allocIfNull);
  // Releases the current instance, makes dbg (or the default one) current and takes a reference.
  static void setInstance(Dbg* dbg);

  // The variables, then the options: "-Dh" prints the usage and exits with status 0. Throws the
  // errors of DbgCtrls::processArgs.
  void init(int* argc, char** argv);

  // The module is on and the flag shares a bit with the flags that are on.
  bool isOn(int module, int flag) const {
    return m_ctrls->isModuleOn(module) && (m_ctrls->flags() & flag) != 0;
  }
  static bool isAnyOn() { return s_anyOn; }

  // One prefixed line when the module and flag are on; true when it was written. No newline is
  // added. A flag of several bits shows as "?".
  bool print(int module, int flag, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
  bool print(int module, int flag, int indentLvl, const char* fmt, ...)
      __attribute__((format(printf, 5, 6)));
  void vprint(int module, int flag, const char* fmt, va_list ap)
      __attribute__((format(printf, 4, 0)));
  // Unconditional and unprefixed, for dumps: two blanks per indent level (none when negative, at
  // most 160), then the formatted text, cut at 20479 bytes in all.
  void print(int indentLvl, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  // Unconditional and unprefixed.
  void print(const char* text, bool addNewline);

  void setModule(int module);
  void clearModule(int module);
  // Replaces the flag mask.
  void setFlags(int mask);
  // Adds to / removes from the flag mask.
  void setFlag(int mask);
  void clearFlag(int mask);
  void setPrSrc(bool on);
  void setTeeToHost(bool on);
  void setTeeToLog(bool on);
  // Opens or closes the syslog tee at once.
  void setTeeToSysLog(bool on);
  // Each then brings s_anyOn, the debug file and the syslog tee in line with the controls.
  void setCtrls(const DbgCtrls& ctrls);
  void mergeCtrls(const DbgCtrls& ctrls);
  // Uses another record (not owned) from now on.
  void setCtrlsPtr(DbgCtrls* ctrls);
  // Releases the main device and takes device (or the standard output device when null).
  void setStdOutDevice(OutDevice* device);

  String composeArgList() const { return m_ctrls->composeArgList(); }
  // LOG_DIR/<log name>/<log name>[.<identity>].<today>.dbg; an empty log name is a failed
  // assertion.
  String outFilePath() const;

  void dump() const { dumpObj(0, nullptr); }
  void dumpObj(int indentLvl, const char* label) const;
  // The "-D" usage; forDbgCli gives the shorter form of a debug-control command.
  static void printUsage(bool forDbgCli);

  // A single-bit flag's letter, else '?'.
  static char flagToChar(int flag);
  // A letter's flag ('*' gives DF_ALL_BUT_MEM), else 0.
  static int charToFlag(char c);
  // DM_ALL for an item starting with "*", the module of an exact symbol, else DM_NONE.
  static int moduleId(const char* symbol);
  // Null outside 1..69 and for a module without a symbol.
  static const char* moduleSymbol(int module);
  // "Unknown" for a module without a label.
  static const char* moduleLabel(int module);

  const DbgCtrls& ctrls() const { return *m_ctrls; }
  DbgCtrls* ctrlsPtr() const { return m_ctrls; }
  int flags() const { return m_ctrls->flags(); }
  const unsigned char* modules() const { return m_ctrls->modules(); }
  OutDevice* stdOutDevice() const { return m_stdOutDevice; }
  SysLogDevice* sysLogDevice() const { return m_sysLogDevice; }
  bool usingFile() const { return m_usingFile; }

  // True while the controls in use by the current instance have a flag on.
  static bool s_anyOn;

 private:
  void updateAnyOn();
  void updateOutFile();
  void updateSysLogTee();
  void applyCtrls();
  // Formats the time stamp (when on) and the prefixed line, then routes them.
  void printLine(int module, int flag, int indentLvl, const char* fmt, va_list ap);
  // A prefixed line: to the main device (flushed), the syslog tee and the log.
  void pr(const char* timeStamp, const char* line);
  // An unprefixed text.
  void pr(const char* text, bool addNewline);

  DbgCtrls m_ctrlsBuf;
  DbgCtrls* m_ctrls;
  OutDevice* m_stdOutDevice;
  SysLogDevice* m_sysLogDevice;
  bool m_usingFile;
};

// Saves the controls in use and puts them back when it goes out of scope.
class DbgCtrlsStack : public mem::newDelete<mt_anonymous> {
 public:
  // A null dbg means rc::Dbg::instance().
  explicit DbgCtrlsStack(Dbg* dbg = nullptr);
  // Also turns module on and replaces the flags with flags.
  DbgCtrlsStack(int module, int flags, Dbg* dbg = nullptr);
  ~DbgCtrlsStack();
  DbgCtrlsStack(const DbgCtrlsStack&) = delete;
  DbgCtrlsStack& operator=(const DbgCtrlsStack&) = delete;

 private:
  Dbg* m_dbg;
  DbgCtrls m_savedCtrls;
};

// Points the main device at another stream for a while (the log and syslog tees that were on are
// switched off meanwhile) and puts everything back when it goes out of scope.
class DbgFdStack : public mem::newDelete<mt_anonymous> {
 public:
  // A null fd changes nothing; a null dbg means rc::Dbg::instance().
  explicit DbgFdStack(FILE* fd, Dbg* dbg = nullptr);
  ~DbgFdStack();
  DbgFdStack(const DbgFdStack&) = delete;
  DbgFdStack& operator=(const DbgFdStack&) = delete;

 private:
  Dbg* m_dbg;
  OutDevice* m_outDevice;
  void* m_savedFd;
  bool m_teeToLog;
  bool m_teeToSysLog;
};

}  // namespace rc

// One trace line under a module and flag (printf-style), the one way code writes them.
#define RC_TRACE(module, flag, ...)                                \
  do {                                                             \
    if (__builtin_expect(::rc::Dbg::s_anyOn, false))               \
      ::rc::Dbg::instance()->print((module), (flag), __VA_ARGS__); \
  } while (0)

// Whether a module and flag show, for work done only to be traced (dumps after a line).
#define RC_TRACE_ON(module, flag) \
  (__builtin_expect(::rc::Dbg::s_anyOn, false) && ::rc::Dbg::instance()->isOn((module), (flag)))

extern "C" {
// rc::Dbg::instance()->init(argc, argv).
void rcInitDbg(int* argc, char** argv);
// The environment only; 1 on success, 0 when something was thrown (it does not escape).
int rcInitDbgPG();
}
