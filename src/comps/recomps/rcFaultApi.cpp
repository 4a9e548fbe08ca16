#include "comps/recomps/rcFaultApi.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcUtils.h"

namespace rc::fault {

namespace {

Api* s_defaultApi = nullptr;
bool s_faults_masked = false;

}  // namespace

// --- Ctrls

Ctrls::Ctrls(int initialValue) : m_on(initialValue), m_rules(nullptr) {}

Ctrls::Ctrls(const Ctrls& other)
    : m_on(other.m_on), m_rules(other.m_rules != nullptr ? new Rules(*other.m_rules) : nullptr) {}

Ctrls& Ctrls::operator=(const Ctrls& other) {
  if (this == &other) return *this;
  Rules* rules = other.m_rules != nullptr ? new Rules(*other.m_rules) : nullptr;
  delete m_rules;
  m_rules = rules;
  m_on = other.m_on;
  return *this;
}

Ctrls::~Ctrls() {
  delete m_rules;
  rc::poison(m_rules);
}

Rules* Ctrls::rules(bool allocIfNone) {
  if (m_rules == nullptr && allocIfNone) m_rules = new Rules();
  return m_rules;
}

void Ctrls::setRules(const Rules& rules) {
  if (&rules != m_rules) *this->rules(true) = rules;
}

void Ctrls::setRules(Rules&& rules) {
  if (&rules == m_rules) return;
  Rules* mine = this->rules(true);
  mine->swap(rules);
  rules.clear();
}

bool Ctrls::isAnyOn() const { return isOn() && m_rules != nullptr && m_rules->isAnyOn(); }

void Ctrls::clear(bool on) {
  delete m_rules;
  m_rules = nullptr;
  m_on = on ? RC_B_YES : RC_B_NO;
}

void Ctrls::mergeFrom(const Ctrls& src, bool addNew) {
  if (src.m_on != RC_B_AS_IS) m_on = src.m_on;
  if (src.m_rules != nullptr) rules(true)->mergeFrom(*src.m_rules, addNew);
}

void Ctrls::saveOn(ByteStrm& s) const {
  s << m_on;
  s << (m_rules != nullptr ? 1 : 0);
  if (m_rules != nullptr) m_rules->saveOn(s);
}

void Ctrls::restoreFrom(ByteStrm& s) {
  clear(true);
  int on = RC_B_YES;
  int hasRules = 0;
  s >> on >> hasRules;
  m_on = on;
  if (hasRules != 0) {
    auto rules = std::make_unique<Rules>();
    rules->restoreFrom(s);
    m_rules = rules.release();
  }
}

size_t Ctrls::binarySize() const { return 8 + (m_rules != nullptr ? m_rules->binarySize() : 0); }

void Ctrls::displayContents(bool verbose) const {
  printf("global on/off = %s\n", Bool::symbol(m_on));
  if (m_rules != nullptr) m_rules->displayContents(verbose);
}

void Ctrls::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, " Ctrls", this, ":\n");
  rc::dumpLine(indentLvl + 1, "on = %s\n", Bool::symbol(m_on));
  if (m_rules != nullptr) {
    rc::dumpLine(indentLvl + 1, "rules:\n");
    m_rules->dumpObj(indentLvl + 2, nullptr);
  }
}

// --- Api: instances

Api* Api::s_api = nullptr;
bool Api::s_anyOn = false;
int Api::s_faultSeq = 0;

Api::Api()
    : m_prOnExit(false),
      m_verbose(false),
      m_ctrls(new Ctrls(RC_B_YES)),
      m_priorCtrls(nullptr),
      m_ctrlsEvCb(nullptr) {}

Api::Api(Api& other)
    : m_rulesFileName(other.m_rulesFileName),
      m_prOnExit(other.m_prOnExit),
      m_verbose(other.m_verbose),
      m_ctrls(new Ctrls(*other.ctrls())),
      m_priorCtrls(nullptr),
      m_ctrlsEvCb(nullptr) {
  if (other.m_ctrlsEvCb == nullptr) return;
  const CtrlsEventCbEntry* entry = other.m_ctrlsEvCb;
  do {
    registerFaultCtrlsEventCb(entry->param, entry->cb);
    entry = entry->next;
  } while (entry != other.m_ctrlsEvCb);
}

Api::~Api() {
  for (Ctrls* retired : m_retiredCtrls) delete retired;
  delete m_priorCtrls;
  delete m_ctrls;
  if (m_ctrlsEvCb != nullptr) {
    m_ctrlsEvCb->prev->next = nullptr;
    for (CtrlsEventCbEntry* entry = m_ctrlsEvCb; entry != nullptr;) {
      CtrlsEventCbEntry* next = entry->next;
      delete entry;
      entry = next;
    }
  }
}

Api* Api::instance(mem::regionName_t region) {
  if (s_api == nullptr) s_api = defaultInstance(true, region);
  return s_api;
}

Api* Api::defaultInstance(bool allocIfNull, mem::regionName_t region) {
  RC_FAULT_ASSERT(region == mem::REGION_HEAP, "memType == mem::REGION_HEAP");
  if (s_defaultApi == nullptr && allocIfNull) s_defaultApi = new Api();
  return s_defaultApi;
}

void Api::setInstance(Api* api) {
  Api* current = s_api;
  if (current != nullptr && current != api) {
    if (current == s_defaultApi) s_defaultApi = nullptr;
    delete current;
  }
  s_api = api != nullptr ? api : defaultInstance(true);
  // Handles of the old instance are gone: fault points must look theirs up again.
  s_api->updateAnyOn();
}

// --- Api: start-up

void Api::initFaultApi(int* argc, char** argv) {
  if (const char* value = getenv("FT_RULES_FILE")) {
    m_rulesFileName = Utils::needStr("FT_RULES_FILE", value);
  }
  if (const char* value = getenv("FT_PRINT")) m_prOnExit = Utils::needBool("FT_PRINT", value);
  if (const char* value = getenv("FT_VERBOSE")) m_verbose = Utils::needBool("FT_VERBOSE", value);
  processArgs(argc, argv);
  if (!m_rulesFileName.empty()) readRulesFile();
}

void Api::processArgs(int* argc, char** argv) {
  if (argc == nullptr || argv == nullptr) return;
  const int count = *argc;
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const char* arg = argv[i];
    if (arg != nullptr && strcasecmp(arg, "-Fh") == 0) {
      printUsage();
      Os::flushStdOut();
      exit(0);
    }
    if (arg != nullptr && strcasecmp(arg, "-Frf") == 0) {
      // The value is taken whatever it looks like, even when it starts with "-".
      m_rulesFileName = Utils::needStr("-Frf", i + 1 < count ? argv[i + 1] : nullptr);
      ++i;
    } else if (arg != nullptr && strcasecmp(arg, "-Fpr") == 0) {
      m_prOnExit = true;
    } else if (arg != nullptr && strcasecmp(arg, "-Fv") == 0) {
      m_verbose = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  if (kept < count) {
    argv[kept] = nullptr;
    *argc = kept;
  }
}

void Api::printUsage() const {
  const char* pgm = Env::pgmName() != nullptr ? Env::pgmName() : "";
  printf(
      "\n"
      "Fault Insertion Facility Usage\n"
      "------------------------------\n"
      "%s [-Fh] [-Frf <rules file>] [-Fpr] [-Fv]\n"
      "Where:\n"
      " -Fh          print this usage\n"
      " -Frf <file>  read rules for this program from <file> [FT_RULES_FILE]\n"
      " -Fpr         print fault ctrls/rules on program exit [FT_PRINT]\n"
      " -Fv          print using verbose output [FT_VERBOSE]\n"
      "\n",
      pgm);
}

void Api::readRulesFile() {
  Dbg* dbg = Dbg::instance();
  if (Dbg::s_anyOn) {
    dbg->print(DM_RC, DF_INIT, "opening fault rules file: %s\n", m_rulesFileName.c_str());
  }
  auto file = std::make_unique<RulesFile>();
  file->open(m_rulesFileName.c_str());
  file->read();
  if (Dbg::s_anyOn && dbg->isOn(DM_RC, DF_INIT_DATA)) {
    dbg->print(DM_RC, DF_INIT_DATA, "rules:\n");
    file->rules().dumpObj(1, nullptr);
  }
  file->close();
  // A large file makes a large rule set: it is handed over, not copied.
  setRules(std::move(file->rules()));
}

// --- Api: the controls

Ctrls* Api::ctrls() {
  callCallbacks(EV_GET_CTRLS);
  RC_FAULT_ASSERT(m_ctrls, "m_ctrls");
  return m_ctrls;
}

template <typename Change>
void Api::changeCtrls(Change change) {
  auto next = std::make_unique<Ctrls>(*m_ctrls);
  change(*next);
  if (m_priorCtrls != nullptr) m_retiredCtrls.push_back(m_priorCtrls);
  m_priorCtrls = m_ctrls;
  m_ctrls = next.release();
  updateAnyOn();
  callCallbacks(EV_SET_CTRLS);
}

void Api::setCtrls(const Ctrls& ctrls) {
  changeCtrls([&](Ctrls& next) { next = ctrls; });
}

void Api::mergeCtrls(const Ctrls& ctrls, bool clearExistingRules, bool addNew) {
  changeCtrls([&](Ctrls& next) {
    if (clearExistingRules) next.clear(next.isOn());
    next.mergeFrom(ctrls, addNew);
  });
}

void Api::clearCtrls() {
  changeCtrls([](Ctrls& next) { next.clear(true); });
}

void Api::setRules(const Rules& rules) {
  changeCtrls([&](Ctrls& next) { next.setRules(rules); });
}

void Api::setRules(Rules&& rules) {
  changeCtrls([&](Ctrls& next) { next.setRules(std::move(rules)); });
}

void Api::registerFaultCtrlsEventCb(void* param, FaultCtrlsEventCb cb) {
  auto* entry = new CtrlsEventCbEntry{{}, nullptr, nullptr, cb, param};
  if (m_ctrlsEvCb == nullptr) {
    entry->next = entry->prev = entry;
    m_ctrlsEvCb = entry;
    return;
  }
  CtrlsEventCbEntry* last = m_ctrlsEvCb->prev;
  last->next = entry;
  entry->prev = last;
  entry->next = m_ctrlsEvCb;
  m_ctrlsEvCb->prev = entry;
}

void Api::callCallbacks(FaultCtrlsEvent event) {
  if (m_ctrlsEvCb == nullptr) return;
  const CtrlsEventCbEntry* entry = m_ctrlsEvCb;
  do {
    entry->cb(entry->param, event);
    entry = entry->next;
  } while (entry != m_ctrlsEvCb);
}

void Api::updateAnyOn() {
  s_anyOn = m_ctrls->isAnyOn();
  FaultPoint::setGates(s_anyOn);
  s_faultSeq = static_cast<int>(static_cast<unsigned>(s_faultSeq) + 1u);
}

bool Api::maskFaults(bool mask) {
  const bool previous = s_faults_masked;
  s_faults_masked = mask;
  return previous;
}

bool Api::faultsAreMasked() { return s_faults_masked; }

// --- Api: handles

FaultId Api::faultId(const char* name) const {
  Rule* rule = m_ctrls->lookupRuleByKey(name);
  return rule != nullptr ? rule : noFaultId();
}

Rule* Api::ruleOf(FaultId id) const {
  RC_FAULT_ASSERT(id, "id");
  return isLive(id) ? id : nullptr;
}

bool Api::isLive(FaultId id) const {
  if (!isRule(id)) return false;
  for (const Ctrls* ctrls : {m_ctrls, m_priorCtrls}) {
    const Rules* rules = ctrls != nullptr ? ctrls->rules() : nullptr;
    if (rules != nullptr && rules->lookup(id->name()) == id) return true;
  }
  return false;
}
String Api::faultName(FaultId id) const {
  const Rule* rule = ruleOf(id);
  return rule != nullptr ? rule->nameStr() : String();
}

bool Api::isOn(FaultId id, int /*flags*/) { return isLive(id) && isOnLive(id); }

bool Api::isOnLive(FaultId id) const {
  if (!isRule(id) || s_faults_masked || !m_ctrls->isOn()) return false;
  return id->isOn(true);
}

void Api::incrNumInsertions(FaultId id) {
  if (Rule* rule = ruleOf(id)) rule->incrNumInsertions();
}

template <typename T, typename Fn>
T Api::onRule(FaultId id, T none, Fn fn) const {
  Rule* rule = ruleOf(id);
  return rule != nullptr ? fn(*rule) : none;
}

bool Api::attrExists(FaultId id, const char* attrName) const {
  const char* field = "";
  return onRule(id, false, [&](Rule& r) { return r.lookup(attrName, &field) != nullptr; });
}

bool Api::boolVal(FaultId id, const char* attrName, bool dflt) const {
  return onRule<bool>(id, dflt, [&](Rule& r) { return r.boolVal(attrName, dflt); });
}

int Api::intVal(FaultId id, const char* attrName, int dflt) const {
  return onRule<int>(id, dflt, [&](Rule& r) { return r.intVal(attrName, dflt); });
}

int64_t Api::longVal(FaultId id, const char* attrName, int64_t dflt) const {
  return onRule<int64_t>(id, dflt, [&](Rule& r) { return r.longVal(attrName, dflt); });
}

float Api::fltVal(FaultId id, const char* attrName, float dflt) const {
  return onRule<float>(id, dflt, [&](Rule& r) { return r.fltVal(attrName, dflt); });
}

const char* Api::strVal(FaultId id, const char* attrName, const char* dflt) const {
  return onRule<const char*>(id, dflt, [&](Rule& r) { return r.strVal(attrName, dflt); });
}

String Api::stringVal(FaultId id, const char* attrName, const String& dflt) const {
  return onRule<String>(id, dflt, [&](Rule& r) { return r.stringVal(attrName, dflt); });
}

void Api::setBoolVal(FaultId id, const char* attrName, bool val) {
  if (Rule* rule = ruleOf(id)) rule->setBoolVal(attrName, val);
}

void Api::setIntVal(FaultId id, const char* attrName, int val) {
  if (Rule* rule = ruleOf(id)) rule->setIntVal(attrName, val);
}

void Api::setLongVal(FaultId id, const char* attrName, int64_t val) {
  if (Rule* rule = ruleOf(id)) rule->setLongVal(attrName, val);
}

void Api::setFltVal(FaultId id, const char* attrName, float val) {
  if (Rule* rule = ruleOf(id)) rule->setFltVal(attrName, val);
}

void Api::setStrVal(FaultId id, const char* attrName, const char* val) {
  if (Rule* rule = ruleOf(id)) rule->setStrVal(attrName, val);
}

void Api::setStringVal(FaultId id, const char* attrName, const String& val) {
  if (Rule* rule = ruleOf(id)) rule->setStringVal(attrName, val);
}

int Api::incrInt(FaultId id, const char* attrName, int amount) {
  return onRule<int>(id, 0, [&](Rule& r) { return r.incrInt(attrName, amount); });
}

int Api::decrInt(FaultId id, const char* attrName, int amount) {
  return onRule<int>(id, 0, [&](Rule& r) { return r.decrInt(attrName, amount); });
}

int64_t Api::incrLong(FaultId id, const char* attrName, int64_t amount) {
  return onRule<int64_t>(id, 0, [&](Rule& r) { return r.incrLong(attrName, amount); });
}

int64_t Api::decrLong(FaultId id, const char* attrName, int64_t amount) {
  return onRule<int64_t>(id, 0, [&](Rule& r) { return r.decrLong(attrName, amount); });
}

float Api::incrFlt(FaultId id, const char* attrName, float amount) {
  return onRule<float>(id, 0.0f, [&](Rule& r) { return r.incrFlt(attrName, amount); });
}

float Api::decrFlt(FaultId id, const char* attrName, float amount) {
  return onRule<float>(id, 0.0f, [&](Rule& r) { return r.decrFlt(attrName, amount); });
}

// --- Api: exit and dumps

void Api::onExit() {
  if (!m_prOnExit) return;
  m_ctrls->displayContents(m_verbose);
  Os::flushStdOut();
}

void Api::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Fault Api", this, ": any on = %s\n", s_anyOn ? "yes" : "no");
  m_ctrls->dumpObj(indentLvl + 1, nullptr);
}

// --- FaultPoint

FaultId FaultPoint::id() {
  if (m_seq != Api::s_faultSeq || m_id == nullptr) {
    m_id = Api::instance()->faultId(m_name);
    m_seq = Api::s_faultSeq;
  }
  return m_id;
}

bool FaultPoint::isOn() { return Api::s_anyOn && Api::instance()->isOnLive(id()); }

bool FaultPoint::fires() {
  if (!Api::s_anyOn) return false;
  Api* api = Api::instance();
  const FaultId faultId = id();
  if (!api->isOnLive(faultId)) return false;
  api->incrNumInsertions(faultId);
  return true;
}

// --- Fault point registry

FaultPoint* FaultPoint::s_registry = nullptr;

bool FaultPoint::pass() {
  if (!m_registered) {
    m_registered = true;
    m_next = s_registry;
    s_registry = this;
    m_gateOpen = Api::s_anyOn;
  }
  if (!Api::s_anyOn) return false;
  ++m_evaluated;
  const bool fired = fires();
  m_fired += fired ? 1 : 0;
  return fired;
}

void FaultPoint::setGates(bool anyOn) {
  for (FaultPoint* point = s_registry; point != nullptr; point = point->m_next) {
    point->m_gateOpen = anyOn;
  }
}

PointStatsVec Api::points() {
  PointStatsVec stats;
  for (const FaultPoint* point = FaultPoint::s_registry; point != nullptr; point = point->m_next) {
    stats.push_back({String(point->m_name), point->m_evaluated, point->m_fired});
  }
  std::stable_sort(stats.begin(), stats.end(),
                   [](const PointStats& a, const PointStats& b) { return a.name < b.name; });
  // Points sharing a name share their rule: one row each.
  PointStatsVec merged;
  for (PointStats& s : stats) {
    if (!merged.empty() && merged.back().name == s.name) {
      merged.back().evaluated += s.evaluated;
      merged.back().fired += s.fired;
    } else {
      merged.push_back(std::move(s));
    }
  }
  return merged;
}

NameVec Api::unknownNames(const Rules& rules, const PointStatsVec& known) {
  // A rules file may hold very many rules and a program few points: look names up in a sorted
  // copy of the points' names.
  std::vector<std::string_view, mem::stlAlloc<std::string_view, mt_rc_fault_api>> names;
  for (const PointStats& point : known) names.emplace_back(point.name);
  std::sort(names.begin(), names.end());
  NameVec unknown;
  for (const Rule* rule : rules) {
    if (!std::binary_search(names.begin(), names.end(), std::string_view(rule->name()))) {
      unknown.push_back(rule->nameStr());
    }
  }
  return unknown;
}

}  // namespace rc::fault

void rcInitFaultApi(int* argc, char** argv, bool useStdMem) {
  using rc::fault::Api;
  mem::regionName_t region = mem::REGION_HEAP;
  if (!useStdMem) {
    RC_FAULT_ASSERT(Api::defaultInstance(false) == nullptr, "Api::defaultInstance (false) == NULL");
    region = mem::REGION_GLOBAL;
  }
  Api::instance(region)->initFaultApi(argc, argv);
}
