#include "comps/recomps/rcDbg.h"

#include <sys/time.h>

#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcHelpArgs.h"
#include "comps/recomps/rcLineTap.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcUtils.h"

namespace rc {

bool Dbg::s_anyOn = false;

namespace {

Dbg* s_dbg = nullptr;
Dbg* s_defaultDbg = nullptr;

// The 22 lettered flags, bit 0 upwards.
constexpr int kNumLetteredFlags = 22;
constexpr int kLetteredMask = (1 << kNumLetteredFlags) - 1;
constexpr char kFlagLetters[kNumLetteredFlags + 1] = "cCdDiImMpPsSzZtTfFxXrR";
// Null for the state flags, which the usage text does not list.
constexpr const char* kFlagDescriptions[kNumLetteredFlags] = {
    "Communication messages",
    "Data with communication messages",
    "Major debug",
    "Data with major debug",
    "Initialization",
    "Data with initialization",
    "Memory management",
    "Data with memory management",
    "Profile",
    "Data with profile",
    "SQL",
    "Data with SQL",
    "Minor debug",
    "Data with minor debug",
    "Timing (performance measurement)",
    "Data with Timing",
    "Fault insertion",
    "Data with fault insertion",
    nullptr,
    nullptr,
    "Rebalancing alrogrithm",
    "Data with rebalancing algorithm",
};
constexpr const char kUsageFlagOrder[] = "cCdDfFiImMpPrRsStTzZ";

struct ModuleName {
  const char* symbol;
  const char* label;
};

// The framework's own modules; the other ids belong to other programs of the appliance.
constexpr ModuleName moduleName(int module) {
  switch (module) {
    case DM_AC: return {"ac", "App Components"};
    case DM_ADC: return {"adc", "Admin Commands"};
    case DM_IPC: return {"ipc", "Inter-process Messaging"};
    case DM_RC: return {"rc", "Reusable Components"};
    case DM_SIG: return {"sig", "Signal Handling"};
    default: return {nullptr, nullptr};
  }
}

bool isRealModule(int module) { return module >= DM_BEGIN && module < DM_END; }

// What a switch may hold in a record from another process.
bool isRcBool(int val) { return val == RC_B_AS_IS || val == RC_B_NO || val == RC_B_YES; }

[[noreturn]] void throwErr(int code, const VarArgs& args, const char* routine) {
  Err_Throw(Err(RC_ERROR, code, args, routine));
}

int clampedIndent(int indentLvl) {
  if (indentLvl < 0) return 0;
  return indentLvl > Dbg::MAX_INDENT / 2 ? static_cast<int>(Dbg::MAX_INDENT) : 2 * indentLvl;
}

const char* orEmpty(const char* str) { return str != nullptr ? str : ""; }

// Object dumps of every class go to the debug output once this file is part of the program.
void dumpToDbg(const char* line) { Dbg::instance()->print(line, false); }
void traceToDbg(int module, int flag, const char* fmt, va_list ap) {
  if (Dbg::s_anyOn) Dbg::instance()->vprint(module, flag, fmt, ap);
}
bool traceOnInDbg(int module, int flag) {
  return Dbg::s_anyOn && Dbg::instance()->isOn(module, flag);
}
[[maybe_unused]] const bool s_dumpSinkInstalled =
    (setDumpSink(&dumpToDbg), setTraceRtn(&traceToDbg), setTraceOnRtn(&traceOnInDbg), true);

// The switch options in field order, with the setter each one feeds.
struct SwitchOption {
  const char* option;
  void (DbgCtrls::*set)(int);
  int (DbgCtrls::*get)() const;
};
constexpr SwitchOption kSwitchOptions[] = {
    {"-DoutFile", &DbgCtrls::setOutputToFile, &DbgCtrls::outputToFile},
    {"-Dsrc", &DbgCtrls::setPrSrc, &DbgCtrls::prSrc},
    {"-Dts", &DbgCtrls::setPrTimestamp, &DbgCtrls::prTimestamp},
    {"-Dhost", &DbgCtrls::setTeeToHost, &DbgCtrls::teeToHost},
    {"-Dlog", &DbgCtrls::setTeeToLog, &DbgCtrls::teeToLog},
    {"-DsysLog", &DbgCtrls::setTeeToSysLog, &DbgCtrls::teeToSysLog},
};

// The variables read before the options, each into one switch.
struct SwitchVariable {
  const char* name;
  void (DbgCtrls::*set)(int);
};
constexpr SwitchVariable kSwitchVariables[] = {
    {"DBG_OUT_FILE", &DbgCtrls::setOutputToFile},
    {"DBG_TO_HOST", &DbgCtrls::setTeeToHost},
    {"DBG_TO_LOG", &DbgCtrls::setTeeToLog},
    {"DBG_TO_SYS_LOG", &DbgCtrls::setTeeToSysLog},
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// DbgCtrls

DbgCtrls::DbgCtrls(int initialValue)
    : m_fieldFlags(initialValue == RC_B_AS_IS ? FF_NONE : FF_ALL),
      m_flags(DF_NONE),
      m_outputToFile(initialValue),
      m_prSrc(initialValue),
      m_prTimestamp(initialValue),
      m_teeToHost(initialValue),
      m_teeToLog(initialValue),
      m_teeToSysLog(initialValue) {
  memset(m_modules, 0, sizeof m_modules);
}

void DbgCtrls::clear() { *this = DbgCtrls(RC_B_NO); }

void DbgCtrls::processArgs(int* argc, char** argv) {
  takeOptions(argc, argv, [this](const char* arg, const char* value) -> int {
    if (strcmp(arg, "-Dm") == 0) {
      processModulesArg(value, false);
      return 2;
    }
    if (strcmp(arg, "-Df") == 0) {
      processFlagsArg(value, false);
      return 2;
    }
    if (strcmp(arg, "-Dall") == 0) {
      setFlag(DF_ALL_BUT_MEM);
      setModule(DM_ALL);
      return 1;
    }
    if (strcmp(arg, "-Dmall") == 0) {
      setModule(DM_ALL);
      return 1;
    }
    if (strcmp(arg, "-Dfall") == 0) {
      setFlag(DF_ALL_BUT_MEM);
      return 1;
    }
    if (strcmp(arg, "-Doff") == 0) {
      setFlags(DF_NONE);
      clearModule(DM_ALL);
      return 1;
    }
    for (const SwitchOption& sw : kSwitchOptions) {
      if (strcmp(arg, sw.option) == 0) {
        (this->*sw.set)(Bool::needArg(sw.option, value));
        return 2;
      }
    }
    return 0;
  });
}

void DbgCtrls::processFlagsArg(const char* arg, bool allowNull) {
  if (arg == nullptr || arg[0] == '\0') {
    if (allowNull) return;
    throwErr(RC_SC_NEED_ARG_VAL, VarArgs() << "-Df", "recomps/DbgCtrls::processFlagsArg");
  }
  for (const char* p = arg; *p != '\0'; ++p) {
    const int flag = Dbg::charToFlag(*p);
    if (flag == DF_NONE) {
      throwErr(RC_SC_NEED_DBG_FLAG, VarArgs() << "-Df" << std::string(1, *p),
               "recomps/DbgCtrls::processFlagsArg");
    }
    setFlag(flag);
  }
}

void DbgCtrls::processModulesArg(const char* arg, bool allowNull) {
  if (arg == nullptr || arg[0] == '\0') {
    if (allowNull) return;
    throwErr(RC_SC_NEED_ARG_VAL, VarArgs() << "-Dm", "recomps/DbgCtrls::processModulesArg");
  }
  char list[256];
  Utils::copyStr(list, arg, sizeof list);
  char* item = list;
  while (item != nullptr) {
    char* sep = strchr(item, ':');
    if (sep != nullptr) *sep = '\0';
    if (item[0] != '\0') {
      const int module = Dbg::moduleId(item);
      if (module == DM_NONE) {
        throwErr(RC_SC_NEED_DBG_MODULE, VarArgs() << "-Dm" << item,
                 "recomps/DbgCtrls::processModulesArg");
      }
      setModule(module);
    }
    item = sep != nullptr ? sep + 1 : nullptr;
  }
}

void DbgCtrls::mergeFrom(const DbgCtrls& src) {
  if ((src.m_fieldFlags & FF_HAS_FLAGS) != 0) setFlags(src.m_flags);
  for (const SwitchOption& sw : kSwitchOptions) {
    const int val = (src.*sw.get)();
    if (val != RC_B_AS_IS) (this->*sw.set)(val);
  }
  if ((src.m_fieldFlags & FF_HAS_MODULES) != 0) setModules(src.m_modules);
}

const char* DbgCtrls::getDebugFlags(String* tmpBuf) const {
  RC_ASSERT(tmpBuf);
  tmpBuf->clear();
  for (int bit = 0; bit < kNumLetteredFlags; ++bit) {
    if ((m_flags & (1 << bit)) != 0) tmpBuf->push_back(kFlagLetters[bit]);
  }
  return tmpBuf->empty() ? nullptr : tmpBuf->c_str();
}

const char* DbgCtrls::getModuleFlags(String* tmpBuf, bool* allModules) const {
  RC_ASSERT(tmpBuf);
  tmpBuf->clear();
  bool all = true;
  for (int module = DM_BEGIN; module < DM_END; ++module) {
    if (m_modules[module] == 0) {
      all = false;
      continue;
    }
    // Modules of other programs have no symbol here and cannot be named.
    const char* symbol = Dbg::moduleSymbol(module);
    if (symbol == nullptr) continue;
    if (!tmpBuf->empty()) tmpBuf->push_back(':');
    tmpBuf->append(symbol);
  }
  if (allModules != nullptr) *allModules = all;
  return tmpBuf->empty() ? nullptr : tmpBuf->c_str();
}

String DbgCtrls::composeArgList() const {
  String args;
  String tmp;
  bool allModules = false;
  if (const char* modules = getModuleFlags(&tmp, &allModules)) {
    if (allModules) {
      args += "-Dmall";
    } else {
      args += "-Dm ";
      args += modules;
    }
    args += ' ';
  }
  if ((m_flags & kLetteredMask) != 0) {
    args += "-Df ";
    args += getDebugFlags(&tmp);
  }
  for (const SwitchOption& sw : kSwitchOptions) {
    const int val = (this->*sw.get)();
    if (val == RC_B_NO) continue;
    args += ' ';
    args += sw.option;
    args += ' ';
    args += Bool::symbol(val);
  }
  return args;
}

void DbgCtrls::setModule(int module) {
  if (module == DM_ALL) {
    memset(m_modules + DM_BEGIN, 1, DM_END - DM_BEGIN);
  } else if (isRealModule(module)) {
    m_modules[module] = 1;
  } else {
    return;
  }
  m_fieldFlags |= FF_HAS_MODULES;
}

void DbgCtrls::clearModule(int module) {
  if (module == DM_ALL) {
    memset(m_modules + DM_BEGIN, 0, DM_END - DM_BEGIN);
  } else if (isRealModule(module)) {
    m_modules[module] = 0;
  }
}

void DbgCtrls::setModules(const unsigned char* modules) {
  RC_ASSERT(modules);
  memcpy(m_modules, modules, sizeof m_modules);
  m_fieldFlags |= FF_HAS_MODULES;
}

void DbgCtrls::setFlag(int mask) {
  m_flags |= mask;
  m_fieldFlags |= FF_HAS_FLAGS;
}

void DbgCtrls::setFlags(int mask) {
  m_flags = mask;
  m_fieldFlags |= FF_HAS_FLAGS;
}

void DbgCtrls::clearFlag(int mask) { m_flags &= ~mask; }

void DbgCtrls::saveOn(ByteStrm& strm) const {
  strm << m_fieldFlags << m_flags << m_outputToFile << m_prSrc << m_prTimestamp << m_teeToHost
       << m_teeToLog << m_teeToSysLog;
  strm.writeBytes(m_modules, sizeof m_modules, true);
}

void DbgCtrls::restoreFrom(ByteStrm& strm) {
  static const char* const kRoutine = "recomps/DbgCtrls::restoreFrom";
  strm.checkUnread(SAVED_SIZE, kRoutine);
  DbgCtrls read(RC_B_NO);
  strm >> read.m_fieldFlags >> read.m_flags >> read.m_outputToFile >> read.m_prSrc >>
      read.m_prTimestamp >> read.m_teeToHost >> read.m_teeToLog >> read.m_teeToSysLog;
  strm.readBytes(read.m_modules, sizeof read.m_modules, true);
  if ((read.m_fieldFlags & ~FF_ALL) != 0) ByteStrm::readFailed(kRoutine);
  for (const SwitchOption& sw : kSwitchOptions) {
    if (!isRcBool((read.*sw.get)())) ByteStrm::readFailed(kRoutine);
  }
  *this = read;
}

void DbgCtrls::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "DbgCtrls", this, ":\n");
  String flagsBuf;
  String modulesBuf;
  bool allModules = false;
  const char* flags = getDebugFlags(&flagsBuf);
  const char* modules = getModuleFlags(&modulesBuf, &allModules);
  dumpLine(indentLvl + 1, "field flags = 0x%x\n", static_cast<unsigned>(m_fieldFlags));
  dumpLine(indentLvl + 1, "flags = %s, modules = %s\n", flags != nullptr ? flags : "none",
           allModules ? "all" : (modules != nullptr ? modules : "none"));
  dumpLine(indentLvl + 1,
           "use file = %s, pr src = %s, pr ts = %s, tee to host = %s, tee to log = %s, "
           "tee to sysLog = %s\n",
           Bool::symbol(m_outputToFile), Bool::symbol(m_prSrc), Bool::symbol(m_prTimestamp),
           Bool::symbol(m_teeToHost), Bool::symbol(m_teeToLog), Bool::symbol(m_teeToSysLog));
}

// ---------------------------------------------------------------------------------------------
// Dbg: instances and controls

Dbg::Dbg(int references) : Dbg(nullptr, nullptr, references) {}

Dbg::Dbg(OutDevice* outDevice, int references) : Dbg(outDevice, nullptr, references) {}

Dbg::Dbg(OutDevice* outDevice, DbgCtrls* ctrls, int references)
    : RefCnt(references),
      m_ctrlsBuf(RC_B_NO),
      m_ctrls(ctrls != nullptr ? ctrls : &m_ctrlsBuf),
      m_stdOutDevice(outDevice != nullptr ? outDevice : StdOutDevice::instance()),
      m_sysLogDevice(nullptr),
      m_usingFile(false) {
  m_stdOutDevice->addReference();
}

Dbg::~Dbg() {
  RefCnt_release(m_stdOutDevice);
  RefCnt_release(m_sysLogDevice);
  if (s_dbg == this) s_dbg = nullptr;
  if (s_defaultDbg == this) s_defaultDbg = nullptr;
}

Dbg* Dbg::instance() {
  if (s_dbg == nullptr) setInstance(nullptr);
  return s_dbg;
}

Dbg* Dbg::defaultInstance(bool allocIfNull) {
  if (s_defaultDbg == nullptr && allocIfNull) s_defaultDbg = new Dbg(1);
  return s_defaultDbg;
}

void Dbg::setInstance(Dbg* dbg) {
  Dbg* next = dbg != nullptr ? dbg : defaultInstance(true);
  next->addReference();
  RefCnt_release(s_dbg);
  s_dbg = next;
  next->updateAnyOn();
}

void Dbg::init(int* argc, char** argv) {
  DbgCtrls& ctrls = *m_ctrls;
  ctrls.processModulesArg(getenv("DBG_MODULES"), true);
  ctrls.processFlagsArg(getenv("DBG_FLAGS"), true);
  for (const SwitchVariable& var : kSwitchVariables) {
    if (const char* value = getenv(var.name)) (ctrls.*var.set)(Bool::needArg(var.name, value));
  }
  for (int i = 0; argv != nullptr && i < *argc; ++i) {
    if (argv[i] != nullptr && strcmp(argv[i], "-Dh") == 0) {
      printUsage(false);
      Os::flushStdOut();
      exit(0);
    }
  }
  if (argv != nullptr) ctrls.processArgs(argc, argv);
  applyCtrls();
}

void Dbg::updateAnyOn() {
  if (s_dbg == nullptr || s_dbg == this) s_anyOn = m_ctrls->flags() != DF_NONE;
}

void Dbg::applyCtrls() {
  updateAnyOn();
  updateOutFile();
  updateSysLogTee();
}

void Dbg::setModule(int module) {
  m_ctrls->setModule(module);
  updateAnyOn();
}

void Dbg::clearModule(int module) {
  m_ctrls->clearModule(module);
  updateAnyOn();
}

void Dbg::setFlags(int mask) {
  m_ctrls->setFlags(mask);
  updateAnyOn();
}

void Dbg::setFlag(int mask) {
  m_ctrls->setFlag(mask);
  updateAnyOn();
}

void Dbg::clearFlag(int mask) {
  m_ctrls->clearFlag(mask);
  updateAnyOn();
}

void Dbg::setPrSrc(bool on) { m_ctrls->setPrSrc(on ? RC_B_YES : RC_B_NO); }

void Dbg::setTeeToHost(bool on) { m_ctrls->setTeeToHost(on ? RC_B_YES : RC_B_NO); }

void Dbg::setTeeToLog(bool on) { m_ctrls->setTeeToLog(on ? RC_B_YES : RC_B_NO); }

void Dbg::setTeeToSysLog(bool on) {
  m_ctrls->setTeeToSysLog(on ? RC_B_YES : RC_B_NO);
  updateSysLogTee();
}

void Dbg::setCtrls(const DbgCtrls& ctrls) {
  *m_ctrls = ctrls;
  applyCtrls();
}

void Dbg::mergeCtrls(const DbgCtrls& ctrls) {
  m_ctrls->mergeFrom(ctrls);
  applyCtrls();
}

void Dbg::setCtrlsPtr(DbgCtrls* ctrls) {
  m_ctrls = ctrls != nullptr ? ctrls : &m_ctrlsBuf;
  applyCtrls();
}

void Dbg::setStdOutDevice(OutDevice* device) {
  OutDevice* next = device != nullptr ? device : StdOutDevice::instance();
  next->addReference();
  RefCnt_release(m_stdOutDevice);
  m_stdOutDevice = next;
  m_usingFile = false;
}

String Dbg::outFilePath() const {
  const char* logName = PgmAttrs::logName();
  RC_ASSERT(logName);
  String path(Env::pathName(Env::LOG_DIR, logName, logName).c_str());
  const int identity = PgmAttrs::instance()->identity();
  if (identity != 0) {
    char id[16];
    snprintf(id, sizeof id, ".%d", identity);
    path += id;
  }
  struct timeval now;
  LogDevice::getTimeOfDay(&now);
  path += LogDevice::formatTime(now.tv_sec, ".%Y-%m-%d.dbg").c_str();
  return path;
}

// "asIs" in the controls in use leaves the current device as it is: only a clear no or a clear
// on moves output between the file and standard output.
void Dbg::updateOutFile() {
  const int outputToFile = m_ctrls->outputToFile();
  if (outputToFile == RC_B_AS_IS) return;
  if (outputToFile != RC_B_NO && !m_usingFile) {
    File* file = new File(1);
    try {
      file->open(outFilePath().c_str(), "w", true);
    } catch (const Err& err) {
      delete file;
      Out::instance()->print(err, true);
      return;
    }
    RefCnt_release(m_stdOutDevice);
    m_stdOutDevice = file;
    m_usingFile = true;
  } else if (outputToFile == RC_B_NO && m_usingFile) {
    setStdOutDevice(nullptr);
  }
}

void Dbg::updateSysLogTee() {
  if (m_ctrls->teeToSysLog() != RC_B_YES) {
    RefCnt_release(m_sysLogDevice);
    return;
  }
  if (m_sysLogDevice != nullptr) return;
  SysLogDevice* device = SysLogDevice::instance();
  if (!device->isOpen()) {
    if (PgmAttrs::instance()->identity() != 0) {
      device->open(PgmAttrs::logName(), true);
    } else {
      const char* pgmName = Env::pgmName();
      RC_ASSERT(pgmName);
      device->open(pgmName, false);
    }
  }
  device->addReference();
  m_sysLogDevice = device;
}

// ---------------------------------------------------------------------------------------------
// Dbg: lines

bool Dbg::print(int module, int flag, const char* fmt, ...) {
  if (!s_anyOn || !isOn(module, flag)) return false;
  va_list ap;
  va_start(ap, fmt);
  printLine(module, flag, 0, fmt, ap);
  va_end(ap);
  return true;
}

bool Dbg::print(int module, int flag, int indentLvl, const char* fmt, ...) {
  if (!s_anyOn || !isOn(module, flag)) return false;
  va_list ap;
  va_start(ap, fmt);
  printLine(module, flag, indentLvl, fmt, ap);
  va_end(ap);
  return true;
}

void Dbg::vprint(int module, int flag, const char* fmt, va_list ap) {
  if (!s_anyOn || !isOn(module, flag)) return;
  printLine(module, flag, 0, fmt, ap);
}

void Dbg::printLine(int module, int flag, int indentLvl, const char* fmt, va_list ap) {
  char timeStamp[LogDevice::TIME_STAMP_BUF_SIZE];
  timeStamp[0] = '\0';
  if (m_ctrls->prTimestamp() == RC_B_YES) {
    struct timeval now;
    LogDevice::getTimeOfDay(&now);
    LogDevice::fmtTimeStamp(timeStamp, now);
  }

  // "<source prefix>[<flag letter>,<module, 4 wide>]<indent> ", built by hand: it is on the
  // path of every enabled line.
  char line[LINE_BUF_SIZE];
  size_t len = 0;
  if (m_ctrls->prSrc() == RC_B_YES) {
    len = Utils::copyStr(line, orEmpty(PgmAttrs::instance()->srcPrefix()), 256);
  }
  line[len++] = '[';
  line[len++] = flagToChar(flag);
  line[len++] = ',';
  char idText[16];
  const char* symbol = moduleSymbol(module);
  if (symbol == nullptr) {
    snprintf(idText, sizeof idText, "%d", module);
    symbol = idText;
  }
  const size_t symbolLen = Utils::copyStr(line + len, symbol, sizeof idText);
  len += symbolLen;
  for (size_t i = symbolLen; i < 4; ++i) line[len++] = ' ';
  line[len++] = ']';
  const int indent = clampedIndent(indentLvl);
  memset(line + len, ' ', static_cast<size_t>(indent) + 1);
  len += static_cast<size_t>(indent) + 1;

  va_list args;
  va_copy(args, ap);
  vsnprintf(line + len, sizeof line - len, fmt, args);
  va_end(args);
  pr(timeStamp, line);
}

void Dbg::pr(const char* timeStamp, const char* line) {
  const char* text = line;
  char joined[JOINED_BUF_SIZE];
  if (timeStamp[0] != '\0') {
    const size_t stampLen = Utils::copyStr(joined, timeStamp, sizeof joined);
    Utils::copyStr(joined + stampLen, line, sizeof joined - stampLen);
    text = joined;
  }
  m_stdOutDevice->print(RC_DEBUG, text);
  m_stdOutDevice->flush();
  tapLine(LK_TRACE, text);
  if (m_sysLogDevice != nullptr) m_sysLogDevice->print(RC_DEBUG, text);
  if (m_ctrls->teeToLog() == RC_B_YES) {
    Log* log = Log::instance();
    if (LogDevice* logDevice = log != nullptr ? log->logDevice() : nullptr) {
      // The log device puts its own time stamp in front.
      logDevice->print(RC_DEBUG, line);
      logDevice->flush();
    }
  }
}

void Dbg::pr(const char* text, bool addNewline) {
  m_stdOutDevice->print(text);
  if (addNewline) m_stdOutDevice->print("\n");
  m_stdOutDevice->flush();
  tapLine(LK_TRACE, text, addNewline);
  if (m_sysLogDevice != nullptr) m_sysLogDevice->print(text);
  if (m_ctrls->teeToLog() != RC_B_YES) return;
  Log* log = Log::instance();
  LogDevice* logDevice = log != nullptr ? log->logDevice() : nullptr;
  if (logDevice == nullptr) return;
  LogOptionalMutexGuard guard(logDevice->mutex());
  logDevice->print(text);
  if (addNewline) logDevice->print("\n");
  logDevice->flush();
}

void Dbg::print(int indentLvl, const char* fmt, ...) {
  char text[LINE_BUF_SIZE];
  const int indent = clampedIndent(indentLvl);
  memset(text, ' ', static_cast<size_t>(indent));
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text + indent, sizeof text - static_cast<size_t>(indent), fmt, ap);
  va_end(ap);
  pr(text, false);
}

void Dbg::print(const char* text, bool addNewline) { pr(text != nullptr ? text : "", addNewline); }

// ---------------------------------------------------------------------------------------------
// Dbg: tables, dumps and usage

char Dbg::flagToChar(int flag) {
  for (int bit = 0; bit < kNumLetteredFlags; ++bit) {
    if (flag == (1 << bit)) return kFlagLetters[bit];
  }
  return '?';
}

int Dbg::charToFlag(char c) {
  if (c == '*') return DF_ALL_BUT_MEM;
  if (c == '\0') return DF_NONE;
  const char* letter = strchr(kFlagLetters, c);
  return letter != nullptr ? 1 << (letter - kFlagLetters) : DF_NONE;
}

int Dbg::moduleId(const char* symbol) {
  if (symbol == nullptr || symbol[0] == '\0') return DM_NONE;
  if (symbol[0] == '*') return DM_ALL;
  for (int module = DM_BEGIN; module < DM_END; ++module) {
    const char* known = moduleName(module).symbol;
    if (known != nullptr && strcmp(known, symbol) == 0) return module;
  }
  return DM_NONE;
}

const char* Dbg::moduleSymbol(int module) {
  return isRealModule(module) ? moduleName(module).symbol : nullptr;
}

const char* Dbg::moduleLabel(int module) {
  const char* label = isRealModule(module) ? moduleName(module).label : nullptr;
  return label != nullptr ? label : "Unknown";
}

void Dbg::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "dbg", this, ": any on = %s\n", s_anyOn ? "T" : "F");
  m_ctrls->dumpObj(indentLvl + 1, nullptr);
}

void Dbg::printUsage(bool forDbgCli) {
  const char* pgmName = Env::pgmName();
  if (pgmName == nullptr || pgmName[0] == '\0') pgmName = "<program>";
  if (forDbgCli) {
    printf("Standard Debug Options:\n\n");
  } else {
    printf(
        "\n"
        "Debug Facility Usage\n"
        "--------------------\n"
        "\n"
        "%s [-Dh] [-Dm <module list>] [-Df <flag list>]\n"
        "          [-Dall] [-Dmall] [-Dfall] [-Dsrc <bool>] [-Dts <bool>]\n"
        "          [-DoutFile <bool>] [-Dhost <bool>] [-Dlog <bool>] [-DsysLog <bool>]\n"
        "Where:\n"
        " -Dh               print this usage\n",
        pgmName);
  }
  fputs(
      " -Dm <module list> turn on each module in <module list>\n"
      " -Df <flag list>   turn on each flag in <flag list>\n"
      " -Dall             turn on all modules and debug flags except 'mM'\n"
      " -Dmall            turn on all modules\n"
      " -Dfall            turn on a debug flags except 'mM'\n"
      " -Doff             turn off all modules and debug flags\n"
      " -Dsrc <bool>      display a source/program name on each line\n"
      " -Dts  <bool>      display timestamps with each debug statement\n"
      " -DoutFile <bool>  print to the output file rather than stdout\n"
      " -Dhost <bool>     tee SPU/SFI debug output to the host (or not)\n"
      " -Dlog <bool>      tee debug output to program's log file (or not)\n"
      " -DsysLog <bool>   tee debug output to syslog (or not)\n"
      "\n"
      " <module list>     <module>{:<module}\n"
      " <flag list>       aAbBcC where each letter is 1 flag\n"
      "\n"
      "Supported Debug Flags:\n"
      "\n"
      " *       All flags except 'mM'\n",
      stdout);
  for (const char* c = kUsageFlagOrder; *c != '\0'; ++c) {
    const int bit = static_cast<int>(strchr(kFlagLetters, *c) - kFlagLetters);
    printf(" %c       %s\n", *c, kFlagDescriptions[bit]);
  }
  fputs("\nSupported Modules:\n\n *       All modules\n", stdout);
  for (int module = DM_BEGIN; module < DM_END; ++module) {
    if (const char* symbol = moduleSymbol(module)) printf(" %-8s%s\n", symbol, moduleLabel(module));
  }
  fputs(
      "\n"
      "Recognized environment variables: DBG_MODULES, DBG_FLAGS, DBG_OUT_FILE, DBG_TO_HOST\n"
      "                                  DBG_TO_LOG, DBG_TO_SYS_LOG\n"
      "                                  SPU_DBG_MODULES, SPU_DBG_FLAGS\n"
      "\n",
      stdout);
  if (!forDbgCli) fputs("For example:  <prog> -Dm rc:ac:spu -Df diIcz\n\n", stdout);
}

// ---------------------------------------------------------------------------------------------
// Scope guards

DbgCtrlsStack::DbgCtrlsStack(Dbg* dbg)
    : m_dbg(dbg != nullptr ? dbg : Dbg::instance()), m_savedCtrls(m_dbg->ctrls()) {}

DbgCtrlsStack::DbgCtrlsStack(int module, int flags, Dbg* dbg) : DbgCtrlsStack(dbg) {
  m_dbg->setModule(module);
  m_dbg->setFlags(flags);
}

DbgCtrlsStack::~DbgCtrlsStack() { m_dbg->setCtrls(m_savedCtrls); }

DbgFdStack::DbgFdStack(FILE* fd, Dbg* dbg)
    : m_dbg(dbg != nullptr ? dbg : Dbg::instance()),
      m_outDevice(m_dbg->stdOutDevice()),
      m_savedFd(m_outDevice->fd()),
      m_teeToLog(m_dbg->ctrls().teeToLog() == RC_B_YES),
      m_teeToSysLog(m_dbg->ctrls().teeToSysLog() == RC_B_YES) {
  // The device may be released by the Dbg while the guard lives (a new debug file).
  m_outDevice->addReference();
  if (fd == nullptr) return;
  m_outDevice->setFd(fd);
  if (m_teeToLog) m_dbg->setTeeToLog(false);
  if (m_teeToSysLog) m_dbg->setTeeToSysLog(false);
}

DbgFdStack::~DbgFdStack() {
  m_outDevice->setFd(static_cast<FILE*>(m_savedFd));
  if (m_teeToLog) m_dbg->setTeeToLog(true);
  if (m_teeToSysLog) m_dbg->setTeeToSysLog(true);
  RefCnt_release(m_outDevice);
}

}  // namespace rc

void rcInitDbg(int* argc, char** argv) { rc::Dbg::instance()->init(argc, argv); }

int rcInitDbgPG() {
  try {
    int argc = 0;
    char* argv[] = {nullptr};
    rc::Dbg::instance()->init(&argc, argv);
    return 1;
  } catch (...) {
    return 0;
  }
}
