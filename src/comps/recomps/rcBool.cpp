#include "comps/recomps/rcBool.h"

#include <strings.h>

#include <cstring>

#include "comps/recomps/rcSymRows.h"

namespace rc {

namespace {

constexpr SymRec kRecs[] = {
    {RC_B_BAD, "bad", "Bad"},
    {RC_B_AS_IS, "asIs", "As Is"},
    {RC_B_NO, "no", "No"},
    {RC_B_YES, "yes", "Yes"},
};
constexpr SymRows kRows(kRecs);

bool isOneOf(const char* word, const char* const* words) {
  for (; *words != nullptr; ++words) {
    if (strcasecmp(word, *words) == 0) return true;
  }
  return false;
}

}  // namespace

const char* Bool::symbol(int val) { return kRows.symbol(val, "unknown"); }

const char* Bool::label(int val) { return kRows.label(val, "Unknown"); }

int Bool::val(const char* symbol) {
  static const char* const kNoWords[] = {"f", "false", "n", "no", nullptr};
  static const char* const kYesWords[] = {"t", "true", "y", "yes", nullptr};
  if (symbol == nullptr) return RC_B_BAD;
  if (strcmp(symbol, "0") == 0) return RC_B_NO;
  if (strcmp(symbol, "1") == 0) return RC_B_YES;
  if (isOneOf(symbol, kNoWords)) return RC_B_NO;
  if (isOneOf(symbol, kYesWords)) return RC_B_YES;
  if (strcmp(symbol, "asIs") == 0) return RC_B_AS_IS;
  return RC_B_BAD;
}

int Bool::needArg(const char* keyword, const char* value) {
  static const char* const routine = "recomps/Bool::needArg";
  if (value == nullptr || value[0] == '\0') {
    Err_Throw(Err(RC_ERROR, RC_SC_NEED_ARG_VAL, VarArgs() << keyword, routine));
  }
  const int result = val(value);
  if (result == RC_B_BAD) {
    Err_Throw(Err(RC_ERROR, RC_SC_NEED_BOOL, VarArgs() << keyword << value << WORDS, routine));
  }
  return result;
}

int Bool::parse(const char* symbol, Err* err) {
  static const char* const routine = "recomps/Bool::parse";
  const bool empty = symbol == nullptr || symbol[0] == '\0';
  const int result = empty ? RC_B_BAD : val(symbol);
  if (result != RC_B_BAD) return result;
  const Err bad = empty ? Err(RC_ERROR, RC_SC_BAD_NULL, VarArgs() << "boolean", routine)
                        : Err(RC_ERROR, RC_SC_BAD_BOOL_VAL, VarArgs() << symbol, routine);
  if (err == nullptr) Err_Throw(bad);
  *err = bad;
  return RC_B_BAD;
}

}  // namespace rc
