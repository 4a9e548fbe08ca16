#include "comps/recomps/rcLocale.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcStrVec.h"

namespace rc {

namespace {

struct LocaleNames {
  const char* dirName;
  const char* symbol;
  const char* label;
  const char* osLangName;
};

constexpr LocaleNames kNames[Locale::MAX_LANG_TYPES] = {
    {"C", "usEnglish", "US English", "en_US"},
    {"uk", "ukEnglish", "UK English", "en_UK"},
    {"ja", "japanese", "Japanese", "JA??"},
};

LocaleDb* s_stdInstance = nullptr;
LocaleDb* s_shmInstance = nullptr;

[[noreturn]] void abortOnBadCase(const char* msg, int value) {
  IntnlErr err(RC_FATAL, msg, RC_SC_BAD_CASE_VALUE, VarArgs() << value, "recomps/LocaleDb");
  Err_Print(err);
  IntnlErr::setAbortErr(err);
  abort();
}

}  // namespace

void Locale::setStdNames(const char* dirName, const char* localeSymbol, const char* localeLabel,
                         const char* osLangName) {
  m_dirName = dirName;
  m_localeSymbol = localeSymbol;
  m_localeLabel = localeLabel;
  m_osLangName = osLangName;
}

LocaleDb::LocaleDb()
    : m_dfltLocale(&m_locales[Locale::LT_US_ENG]),
      m_strings(new StrVec(STRINGS_CAPACITY, STRINGS_CHARS)) {
  for (int lt = Locale::LT_BEGIN; lt < Locale::LT_END; ++lt) {
    m_locales[lt].setLangType(static_cast<Locale::LangType>(lt));
    initLocale(&m_locales[lt]);
  }
}

void LocaleDb::initLocale(Locale* locale) {
  RC_ASSERT(locale != nullptr);
  const int lt = locale->langType();
  if (lt < Locale::LT_BEGIN || lt >= Locale::LT_END) abortOnBadCase("unknown lang type", lt);
  const LocaleNames& names = kNames[lt];
  // One statement per copy: the order of a call's arguments is not defined, the table's is.
  const char* dirName = m_strings->append(names.dirName);
  const char* symbol = m_strings->append(names.symbol);
  const char* label = m_strings->append(names.label);
  locale->setStdNames(dirName, symbol, label, m_strings->append(names.osLangName));
}

LocaleDb::~LocaleDb() { delete m_strings; }

LocaleDb* LocaleDb::instance() { return s_shmInstance != nullptr ? s_shmInstance : stdInstance(); }

LocaleDb* LocaleDb::instance(int region) {
  if (region == 0) return stdInstance();
  if (region == 1) {
    if (s_shmInstance == nullptr) s_shmInstance = new LocaleDb();
    return s_shmInstance;
  }
  abortOnBadCase("unknown mem regon", region);
}

LocaleDb* LocaleDb::stdInstance() {
  if (s_stdInstance == nullptr) s_stdInstance = new LocaleDb();
  return s_stdInstance;
}

LocaleDb* LocaleDb::shmInstance() { return s_shmInstance; }

void LocaleDb::setShmInstance(LocaleDb* localeDb) { s_shmInstance = localeDb; }

void LocaleDb::cleanupInstance() {
  delete s_stdInstance;
  s_stdInstance = nullptr;
  delete s_shmInstance;
  s_shmInstance = nullptr;
}

const Locale* LocaleDb::locale(int langType) const {
  if (langType == Locale::LT_DEFAULT) return m_dfltLocale;
  if (langType < Locale::LT_BEGIN || langType >= Locale::LT_END) {
    abortOnBadCase("unknown lang type", langType);
  }
  return &m_locales[langType];
}

void LocaleDb::dump() const {
  printf("LocaleDb [%s]:\n", DumpAddr(this).str());
  for (int lt = Locale::LT_BEGIN; lt < Locale::LT_END; ++lt) {
    const Locale& l = m_locales[lt];
    printf("  %d: Locale [%s]: lang = %d, dir = %s, loc sym = %s, loc lbl = %s, OS name = %s\n", lt,
           DumpAddr(&l).str(), l.langType(), l.dirName(), l.localeSymbol(), l.localeLabel(),
           l.osLangName());
  }
}

}  // namespace rc
