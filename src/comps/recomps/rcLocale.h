// The languages the message catalog knows, with their names: the strings-file folder suffix
// ("C", "uk", "ja"), a symbol, a label and the operating system's language name. One table per
// process (and optionally one in shared memory), built on first use. The names are copied into
// the table's own string vector, which the locales point into. The table is an mt_locale_db heap
// block, its locales mt_locale. Single-threaded.
#pragma once

#include "comps/memcomps/base/memNewDelete.h"

namespace rc {

class StrVec;

class Locale : public mem::newDelete<mt_locale> {
 public:
  enum LangType {
    LT_US_ENG = 0,
    LT_BEGIN = 0,
    LT_UK_ENG = 1,
    LT_JA = 2,
    LT_END = 3,
    MAX_LANG_TYPES = 3,
    LT_DEFAULT = 4,  // the default language, US English
    LT_UNKNOWN = 5
  };

  Locale() = default;

  void setStdNames(const char* dirName, const char* localeSymbol, const char* localeLabel,
                   const char* osLangName);
  LangType langType() const { return m_langType; }
  void setLangType(LangType langType) { m_langType = langType; }
  const char* dirName() const { return m_dirName; }
  const char* localeSymbol() const { return m_localeSymbol; }
  const char* localeLabel() const { return m_localeLabel; }
  const char* osLangName() const { return m_osLangName; }

 private:
  LangType m_langType = LT_UNKNOWN;
  const char* m_dirName = "";
  const char* m_localeSymbol = "";
  const char* m_localeLabel = "";
  const char* m_osLangName = "";
};

class LocaleDb : public mem::newDelete<mt_locale_db> {
 public:
  // Room for the twelve names of the three languages.
  enum { STRINGS_CAPACITY = 15, STRINGS_CHARS = 480 };

  LocaleDb();
  ~LocaleDb();
  LocaleDb(const LocaleDb&) = delete;
  LocaleDb& operator=(const LocaleDb&) = delete;

  // The shared-memory table when one is set, else the standard one.
  static LocaleDb* instance();
  // Region 0: the standard table; region 1: the shared-memory table. Any other region is an
  // internal error that aborts.
  static LocaleDb* instance(int region);
  static LocaleDb* stdInstance();
  static LocaleDb* shmInstance();
  static void setShmInstance(LocaleDb* localeDb);
  static void cleanupInstance();

  // Gives the locale the names of its language, copied into the table's strings.
  void initLocale(Locale* locale);

  // By language; LT_DEFAULT selects US English; any other value outside 0..2 is an internal
  // error that aborts.
  const Locale* locale(int langType) const;
  const char* dirName(int langType) const { return locale(langType)->dirName(); }
  const char* localeSymbol(int langType) const { return locale(langType)->localeSymbol(); }
  const char* localeLabel(int langType) const { return locale(langType)->localeLabel(); }
  const char* osLangName(int langType) const { return locale(langType)->osLangName(); }
  Locale::LangType langType(int langType) const { return locale(langType)->langType(); }

  const StrVec* strings() const { return m_strings; }

  void dump() const;

 private:
  Locale m_locales[Locale::MAX_LANG_TYPES];
  Locale* m_dfltLocale;
  StrVec* m_strings;
};

}  // namespace rc
