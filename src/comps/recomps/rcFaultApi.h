// Fault insertion: the process-wide facility rc::fault::Api, its controls rc::fault::Ctrls (a
// global on switch plus the rule set) and the fault point rc::fault::FaultPoint.
//
// Code marks a place where it can fail on purpose with a fault point:
//   if (RC_FAULT_FIRES("diskFull")) return failWithNoSpace();
// While no rule can fire the point costs one test of Api::s_anyOn. Otherwise the rule named
// after the point decides (its "on" switch and auto-counter; see Rule::isOn), and a firing is
// counted as an inserted fault. The rules come from the rules file named by "-Frf" or
// FT_RULES_FILE and may be replaced or merged at run time (setCtrls, mergeCtrls ...).
//
// Every change of the controls builds a new Ctrls object from a copy of the one in force; the
// previous one is kept as m_priorCtrls, so a handle (the address of a rule, from faultId) still
// reads its rule through the next change. Older controls are kept, retired, until the Api ends:
// a handle of theirs never points at freed memory (nor at a later rule at the same address) and
// answers as no rule. Code that keeps a handle looks it up again when faultSeq() has moved, as
// FaultPoint does. A handle may be null or the all-bits-set "no rule" value; both answer as a
// rule that is off and has no attributes. (Control changes are operator actions: the retired
// rule sets are few.)
//
// rcInitFaultApi reads FT_RULES_FILE, FT_PRINT, FT_VERBOSE and the options "-Fh", "-Frf <file>",
// "-Fpr", "-Fv" (any letter case), removing the options from argv; bad values raise rc::Err
// RC_SC_NEED_ARG_VAL or RC_SC_NEED_BOOL, an unreadable rules file the errors of RulesFile.
// Misuse by code (a null handle given to attribute access, a region other than the heap) fails an
// internal assertion. Single-threaded; callbacks run inside the call that changed or read the
// controls; nothing here may be used from a signal handler.
#pragma once

#include <cstdint>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/memcomps/base/memString.h"
#include "comps/memcomps/base/memTypes.h"
#include "comps/recomps/rcBool.h"
#include "comps/recomps/rcFaultRule.h"

namespace rc {
class Mutex;
}

namespace rc::fault {

// A fault handle: the address of a rule in the controls in force.
using FaultId = Rule*;

// What one fault point (or all points of one name) saw while rules were on: how often it asked
// its rule and how often the fault fired.
struct PointStats {
  String name;
  uint64_t evaluated;
  uint64_t fired;
};
using PointStatsVec = std::vector<PointStats, mem::stlAlloc<PointStats, mt_rc_fault_api>>;
using NameVec = std::vector<String, mem::stlAlloc<String, mt_rc_fault_api>>;

class Ctrls : public mem::newDelete<mt_rc_fault_ctrls> {
 public:
  explicit Ctrls(int initialValue = RC_B_YES);
  Ctrls(const Ctrls& other);
  Ctrls& operator=(const Ctrls& other);
  ~Ctrls();

  bool isOn() const { return m_on == RC_B_YES; }
  int on() const { return m_on; }
  void setOn(bool on) { m_on = on ? RC_B_YES : RC_B_NO; }
  // m_on as is (RC_B_AS_IS included): for a record to be merged.
  void setOnVal(int on) { m_on = on; }
  Rules* rules() const { return m_rules; }
  // Creates an empty rule set when asked and there is none.
  Rules* rules(bool allocIfNone);
  // A copy of rules becomes the rule set.
  void setRules(const Rules& rules);
  // The contents of rules become the rule set, without a copy; rules is left empty.
  void setRules(Rules&& rules);
  Rule* lookupRule(const char* name) const { return lookupRuleByKey(name); }
  Rule* lookupRuleByKey(const char* key) const {
    return m_rules != nullptr ? m_rules->lookupByKey(key) : nullptr;
  }
  // The global switch is on and some rule is on; no counter moves.
  bool isAnyOn() const;
  // No rules; the global switch on or off.
  void clear(bool on);
  // Takes src's switch unless it is RC_B_AS_IS, and merges src's rules (Rules::mergeFrom).
  void mergeFrom(const Ctrls& src, bool addNew);

  // m_on, 1 or 0 for whether a rule set follows, the rule set.
  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;
  // printf of "global on/off = ..." and the rules.
  void displayContents(bool verbose) const;
  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  int m_on;
  Rules* m_rules;
};

class Api : public mem::newDelete<mt_rc_fault_api> {
 public:
  enum FaultCtrlsEvent { EV_SET_CTRLS = 0, EV_GET_CTRLS = 1 };
  using FaultCtrlsEventCb = void (*)(void* param, FaultCtrlsEvent event);

  Api();
  // Copies the settings, takes a copy of other's controls (through other.ctrls()) and registers
  // other's callbacks again in their order.
  Api(Api& other);
  Api& operator=(const Api&) = delete;
  ~Api();

  // The current instance, made the default instance on first use.
  static Api* instance(mem::regionName_t region = mem::REGION_HEAP);
  // Only the heap is supported (assertion "memType == mem::REGION_HEAP").
  static Api* defaultInstance(bool allocIfNull, mem::regionName_t region = mem::REGION_HEAP);
  // Deletes the current instance and makes api (or, when null, the default instance) current.
  static void setInstance(Api* api);

  // Environment, then options, then the rules file.
  void initFaultApi(int* argc, char** argv);
  void processArgs(int* argc, char** argv);
  void printUsage() const;

  // Calls the callbacks with EV_GET_CTRLS, then returns the controls in force.
  Ctrls* ctrls();
  // Each change makes a new generation of the controls, moves s_faultSeq and calls the
  // callbacks with EV_SET_CTRLS.
  void setCtrls(const Ctrls& ctrls);
  void mergeCtrls(const Ctrls& ctrls, bool clearExistingRules, bool addNew);
  void clearCtrls();
  void setRules(const Rules& rules);
  // As setRules, taking the contents of rules rather than copying them.
  void setRules(Rules&& rules);
  void registerFaultCtrlsEventCb(void* param, FaultCtrlsEventCb cb);

  // s_anyOn from the controls in force; s_faultSeq moves on.
  void updateAnyOn();
  static bool isAnyOn() { return s_anyOn; }
  static int faultSeq() { return s_faultSeq; }
  // Returns the previous setting.
  static bool maskFaults(bool mask);
  static bool faultsAreMasked();

  // The fault points passed so far in this process, by name; points of the same name are added
  // up. Process-wide: the registry outlives any instance.
  static PointStatsVec points();
  // The names of rules that no point of known carries, in name order: rules that cannot fire
  // (yet; a point registers when it is first passed).
  static NameVec unknownNames(const Rules& rules, const PointStatsVec& known);

  // The rule named exactly name; noFaultId() when there is none.
  FaultId faultId(const char* name) const;
  static FaultId noFaultId() { return reinterpret_cast<FaultId>(~uintptr_t{0}); }
  static bool isRule(FaultId id) { return id != nullptr && id != noFaultId(); }
  String faultName(FaultId id) const;
  // The query of a fault point: false for a null or no-rule handle, while faults are masked or
  // while the global switch is off; otherwise the rule's isOn(true), which evaluates its
  // auto-counter and counts the firing in "numOns". flags is reserved and must be 0.
  bool isOn(FaultId id, int flags);
  void incrNumInsertions(FaultId id);

  // Attribute access through a handle (Rule's operations of the same name). A null handle fails
  // the assertion "id"; the no-rule handle reads the defaults and ignores writes.
  bool attrExists(FaultId id, const char* attrName) const;
  bool boolVal(FaultId id, const char* attrName, bool dflt) const;
  int intVal(FaultId id, const char* attrName, int dflt) const;
  int64_t longVal(FaultId id, const char* attrName, int64_t dflt) const;
  float fltVal(FaultId id, const char* attrName, float dflt) const;
  const char* strVal(FaultId id, const char* attrName, const char* dflt) const;
  String stringVal(FaultId id, const char* attrName, const String& dflt) const;
  void setBoolVal(FaultId id, const char* attrName, bool val);
  void setIntVal(FaultId id, const char* attrName, int val);
  void setLongVal(FaultId id, const char* attrName, int64_t val);
  void setFltVal(FaultId id, const char* attrName, float val);
  void setStrVal(FaultId id, const char* attrName, const char* val);
  void setStringVal(FaultId id, const char* attrName, const String& val);
  // Each returns the value before the change (0 for the no-rule handle).
  int incrInt(FaultId id, const char* attrName, int amount);
  int decrInt(FaultId id, const char* attrName, int amount);
  int64_t incrLong(FaultId id, const char* attrName, int64_t amount);
  int64_t decrLong(FaultId id, const char* attrName, int64_t amount);
  float incrFlt(FaultId id, const char* attrName, float amount);
  float decrFlt(FaultId id, const char* attrName, float amount);
  // Rules are not locked: null.
  Mutex* ruleMutex(FaultId) const { return nullptr; }

  // Prints the controls in force when "-Fpr" or FT_PRINT asked for it.
  void onExit();

  const String& rulesFileName() const { return m_rulesFileName; }
  bool prOnExit() const { return m_prOnExit; }
  bool verbose() const { return m_verbose; }
  Ctrls* priorCtrls() const { return m_priorCtrls; }

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

  // Some rule of the controls in force can fire.
  static bool s_anyOn;
  // Moves at every change of the controls.
  static int s_faultSeq;

 private:
  struct CtrlsEventCbEntry : public mem::newDelete<mt_rc_fault_api> {
    CtrlsEventCbEntry* next;
    CtrlsEventCbEntry* prev;
    FaultCtrlsEventCb cb;
    void* param;
  };

  // Runs one change on a copy of the controls in force and makes the copy current.
  template <typename Change>
  void changeCtrls(Change change);
  void callCallbacks(FaultCtrlsEvent event);
  void readRulesFile();
  // The rule of a handle for attribute access: null for the no-rule handle and a retired one
  // (assertion "id" for a null one).
  Rule* ruleOf(FaultId id) const;
  // The handle is a rule of the controls in force or of the prior ones.
  bool isLive(FaultId id) const;
  // isOn for a handle known to be live (FaultPoint's, looked up again at every change).
  bool isOnLive(FaultId id) const;
  // fn(rule) for the rule of a handle; none for the no-rule handle.
  template <typename T, typename Fn>
  T onRule(FaultId id, T none, Fn fn) const;

  String m_rulesFileName;
  bool m_prOnExit;
  bool m_verbose;
  Ctrls* m_ctrls;
  Ctrls* m_priorCtrls;
  // The controls before m_priorCtrls, oldest first.
  std::vector<Ctrls*, mem::stlAlloc<Ctrls*, mt_rc_fault_api>> m_retiredCtrls;
  CtrlsEventCbEntry* m_ctrlsEvCb;  // the first entry of the circular list; null when empty

  static Api* s_api;
  friend class FaultPoint;
};

// A named fault point that keeps its rule's handle and looks it up again when the controls have
// changed. Constant-initialisable, so a function-local static costs nothing to set up.
//
// Passed through RC_FAULT_FIRES, a point registers itself the first time (Api::points lists it)
// and from then on counts what it evaluates while rules are on. Its gate is what a pass tests: it
// is open until the point has registered, then follows Api::s_anyOn. A registered point must live
// to the end of the process, as the macro's function-local static does.
class FaultPoint {
 public:
  explicit constexpr FaultPoint(const char* name)
      : m_name(name),
        m_seq(-1),
        m_id(nullptr),
        m_gateOpen(true),
        m_registered(false),
        m_next(nullptr),
        m_evaluated(0),
        m_fired(0) {}

  // The pass of RC_FAULT_FIRES once the gate is open: registers the point if it is new, then
  // fires() counted.
  bool pass();
  bool gateOpen() const { return m_gateOpen; }
  // Sets the gate of every registered point (Api::updateAnyOn).
  static void setGates(bool anyOn);

  // Whether the fault fires now; a firing is counted as an inserted fault.
  bool fires();
  // Whether the rule fires now (counted in "numOns" only).
  bool isOn();
  // The current handle, for reading the rule's attributes.
  FaultId id();
  const char* name() const { return m_name; }

 private:
  const char* m_name;
  int m_seq;
  FaultId m_id;
  bool m_gateOpen;
  bool m_registered;
  FaultPoint* m_next;  // the registry, newest first
  uint64_t m_evaluated;
  uint64_t m_fired;

  static FaultPoint* s_registry;
  friend class Api;
};

}  // namespace rc::fault

// Reads the fault settings of the program from the environment and the command line (see the
// header paragraph). useStdMem must be true: the instance lives on the heap.
void rcInitFaultApi(int* argc, char** argv, bool useStdMem);

// True when the fault point named by the string literal fires now. Once the point has
// registered (its first pass), costs one test of its gate while no rule can fire.
#define RC_FAULT_FIRES(name)                                                            \
  ([] {                                                                                 \
    static constinit ::rc::fault::FaultPoint s_rcFaultPoint(name);                      \
    return __builtin_expect(s_rcFaultPoint.gateOpen(), false) && s_rcFaultPoint.pass(); \
  }())
