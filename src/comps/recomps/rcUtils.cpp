#include "comps/recomps/rcUtils.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/recomps/rcErr.h"

namespace rc {

namespace {

constexpr int64_t kQvEpochOffsetSec = 946684800;  // 2000-01-01 00:00:00 UTC
constexpr int64_t kUsecPerSec = 1000000;

[[noreturn]] void throwValueErr(int code, const VarArgs& args, const char* routine) {
  Err_Throw(Err(RC_ERROR, code, args, routine));
}

void needValue(const char* keyword, const char* value, const char* routine) {
  if (value == nullptr || value[0] == '\0') {
    throwValueErr(RC_SC_NEED_ARG_VAL, VarArgs() << keyword, routine);
  }
}

// The outcome of reading a whole text as one integer.
enum class IntParse { OK, MALFORMED, TOO_BIG };

IntParse parseInt64(const char* value, int base, int64_t min, int64_t max, int64_t* result) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = strtoll(value, &end, base);
  if (end == value || *end != '\0') return IntParse::MALFORMED;
  if (errno == ERANGE || parsed < min || parsed > max) return IntParse::TOO_BIG;
  *result = parsed;
  return IntParse::OK;
}

// Reads the whole of a present value as an integer within [min, max]. A malformed value throws
// RC_SC_NEED_INT; an overflow throws RC_SC_OUT_OF_RANGE, or returns false when the caller
// reports it differently.
bool readInteger(const char* keyword, const char* value, int base, int64_t min, int64_t max,
                 bool overflowThrows, const char* routine, int64_t* result) {
  needValue(keyword, value, routine);
  switch (parseInt64(value, base, min, max, result)) {
    case IntParse::OK: return true;
    case IntParse::MALFORMED: throwValueErr(RC_SC_NEED_INT, VarArgs() << keyword << value, routine);
    case IntParse::TOO_BIG: break;
  }
  if (overflowThrows) throwValueErr(RC_SC_OUT_OF_RANGE, VarArgs() << value, routine);
  return false;
}

int64_t needInteger(const char* keyword, const char* value, int base, int64_t min, int64_t max,
                    const char* routine) {
  int64_t result = 0;
  readInteger(keyword, value, base, min, max, true, routine, &result);
  return result;
}

// A decimal int within [min, max]; an overflow of int is either RC_SC_OUT_OF_RANGE or, with
// overflowIsRange, reported like any other value outside [min, max].
int needInterval(const char* keyword, const char* value, int min, int max, bool overflowIsRange,
                 const char* routine) {
  int64_t parsed = 0;
  const bool inIntRange =
      readInteger(keyword, value, 10, INT_MIN, INT_MAX, !overflowIsRange, routine, &parsed);
  if (!inIntRange || parsed < min || parsed > max) {
    throwValueErr(RC_SC_VAL_OUT_OF_RANGE, VarArgs() << keyword << min << max, routine);
  }
  return static_cast<int>(parsed);
}

bool hasMinusSign(const char* text) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  return *text == '-';
}

// The common tail of the lenient conversions: something converted, no overflow, and no other
// error that left a zero result.
bool convertedCleanly(const char* text, const char* end, bool isZero) {
  if (end == text) return false;
  if (errno == ERANGE) return false;
  return errno == 0 || !isZero;
}

}  // namespace

// --- Validators ---

const char* Utils::needStr(const char* keyword, const char* value) {
  needValue(keyword, value, "recomps/Utils::needStr");
  return value;
}

const char* Utils::needBlankableStr(const char* keyword, const char* value) {
  if (value == nullptr) {
    throwValueErr(RC_SC_NEED_ARG_VAL, VarArgs() << keyword, "recomps/Utils::needBlankableStr");
  }
  return value;
}

int Utils::needInt(const char* keyword, const char* value) {
  return static_cast<int>(
      needInteger(keyword, value, 10, INT_MIN, INT_MAX, "recomps/Utils::needInt"));
}

int Utils::needIntOptRadix(const char* keyword, const char* value) {
  return static_cast<int>(
      needInteger(keyword, value, 0, INT_MIN, INT_MAX, "recomps/Utils::needIntOptRadix"));
}

int64_t Utils::needInt64(const char* keyword, const char* value) {
  return needInteger(keyword, value, 10, INT64_MIN, INT64_MAX, "recomps/Utils::needInt64");
}

int64_t Utils::needInt64OptRadix(const char* keyword, const char* value) {
  return needInteger(keyword, value, 0, INT64_MIN, INT64_MAX, "recomps/Utils::needInt64OptRadix");
}

int Utils::needPositiveInt(const char* keyword, const char* value) {
  const char* routine = "recomps/Utils::needPositiveInt";
  const int result = static_cast<int>(needInteger(keyword, value, 10, INT_MIN, INT_MAX, routine));
  if (result < 0) throwValueErr(RC_SC_NEED_POSITIVE_INT, VarArgs() << keyword << value, routine);
  return result;
}

int Utils::needTimeoutInterval(const char* keyword, const char* value) {
  return needInterval(keyword, value, RC_MIN_TIMEOUT, RC_MAX_TIMEOUT, true,
                      "recomps/Utils::needTimeoutInterval");
}

int Utils::needNowAfterInterval(const char* keyword, const char* value) {
  return needInterval(keyword, value, RC_MIN_NOWAFTER, RC_MAX_NOWAFTER, false,
                      "recomps/Utils::needNowAfterInterval");
}

bool Utils::needBool(const char* keyword, const char* value) {
  const char* routine = "recomps/Utils::needBool";
  needValue(keyword, value, routine);
  const int result = strToBool(value);
  if (result < 0) {
    throwValueErr(RC_SC_NEED_BOOL, VarArgs() << keyword << value << BOOL_WORDS, routine);
  }
  return result == 1;
}

uint32_t Utils::needIpAddr(const char* keyword, const char* value) {
  const char* routine = "recomps/Utils::needIpAddr";
  needValue(keyword, value, routine);
  struct in_addr address;
  if (inet_aton(value, &address) == 0) {
    throwValueErr(RC_SC_NEED_IP_ADDR, VarArgs() << keyword << value, routine);
  }
  return address.s_addr;
}

const char* Utils::needSecLevel(const char* keyword, const char* value) {
  const char* routine = "recomps/Utils::needSecLevel";
  needValue(keyword, value, routine);
  static const char* const kLevels[] = {"preferredUnSecured", "onlyUnSecured", "preferredSecured",
                                        "onlySecured"};
  for (const char* level : kLevels) {
    if (strcmp(value, level) == 0) return value;
  }
  throwValueErr(RC_SC_INVALID_SEC_VAL, VarArgs() << keyword << value, routine);
}

// --- Lenient conversions ---

int Utils::strToBool(const char* text) {
  if (text == nullptr) return -1;
  static const char* const kTrue[] = {"1", "t", "true", "y", "yes", "on"};
  static const char* const kFalse[] = {"0", "f", "false", "n", "no", "off"};
  for (const char* word : kTrue) {
    if (strcasecmp(text, word) == 0) return 1;
  }
  for (const char* word : kFalse) {
    if (strcasecmp(text, word) == 0) return 0;
  }
  return -1;
}

bool Utils::strToLong(const char* text, long* value) {
  if (text == nullptr || value == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  *value = strtol(text, &end, 0);
  return convertedCleanly(text, end, *value == 0);
}

bool Utils::strToUlong(const char* text, unsigned long* value) {
  if (text == nullptr || value == nullptr || hasMinusSign(text)) return false;
  char* end = nullptr;
  errno = 0;
  *value = strtoul(text, &end, 0);
  return convertedCleanly(text, end, *value == 0);
}

bool Utils::strToUlonglong(const char* text, unsigned long long* value) {
  if (text == nullptr || value == nullptr || hasMinusSign(text)) return false;
  char* end = nullptr;
  errno = 0;
  *value = strtoull(text, &end, 0);
  return convertedCleanly(text, end, *value == 0);
}

bool Utils::strToDouble(const char* text, double* value) {
  if (text == nullptr || value == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  *value = QvStrtod(text, &end);
  return convertedCleanly(text, end, *value == 0.0);
}

bool Utils::isNumber(const char* text) {
  double value = 0;
  return strToDouble(text, &value);
}

double Utils::QvStrtod(const char* text, char** end) {
  const int savedErrno = errno;
  errno = 0;
  const double value = strtod(text, end);
  if (errno == 0 || (errno == ERANGE && std::isfinite(value))) errno = savedErrno;
  return value;
}

// --- Text ---

int Utils::tokenize(char* text, char** tokens, int maxTokens, char separator, char altSeparator,
                    char commentStart) {
  RC_ASSERT(tokens != nullptr && maxTokens > 0);
  enum State { BETWEEN, IN_TOKEN, AFTER_QUOTE, IN_QUOTED };
  int numTokens = 0;
  // A token is only started when a slot for it and one for the closing null remain, so the
  // array is never overrun whatever the text holds.
  auto startToken = [&](char* at) {
    if (!(numTokens < (maxTokens - 1))) {
      Assert_throwAssert("numTokens < (maxTokens-1)", nullptr, false, __FILE__, __LINE__);
    }
    tokens[numTokens] = at;
  };
  auto isSeparator = [&](char c) {
    return c == separator || (altSeparator != 0 && c == altSeparator);
  };
  State state = BETWEEN;
  char* p = text;
  for (; p != nullptr && *p != '\0'; ++p) {
    const char c = *p;
    if (commentStart != 0 && c == commentStart && (state == BETWEEN || state == IN_TOKEN)) {
      *p = '\0';
      break;
    }
    switch (state) {
      case BETWEEN:
        if (c == '"') {
          state = AFTER_QUOTE;
        } else if (!isspace(static_cast<unsigned char>(c)) && !isSeparator(c)) {
          startToken(p);
          state = IN_TOKEN;
        }
        break;
      case IN_TOKEN:
        if (isSeparator(c) || c == '"') {
          *p = '\0';
          ++numTokens;
          state = c == '"' ? AFTER_QUOTE : BETWEEN;
        }
        break;
      case AFTER_QUOTE:
        startToken(p);
        state = IN_QUOTED;
        [[fallthrough]];
      case IN_QUOTED:
        if (c == '"') {
          *p = '\0';
          ++numTokens;
          state = BETWEEN;
        }
        break;
    }
  }
  if (state == IN_TOKEN || state == IN_QUOTED) {
    ++numTokens;
  } else if (state == AFTER_QUOTE) {
    // An opening quote at the very end: one empty token at the quote's terminator.
    startToken(p);
    ++numTokens;
  }
  tokens[numTokens] = nullptr;
  return numTokens;
}

bool Utils::splitParts(const char* text, const char* splitToken, std::string_view* lhs,
                       std::string_view* rhs) {
  const std::string_view all = text != nullptr ? text : "";
  const char* at = (text != nullptr && splitToken != nullptr && splitToken[0] != '\0')
                       ? strstr(text, splitToken)
                       : nullptr;
  const std::string_view left = at != nullptr ? all.substr(0, at - text) : all;
  const std::string_view right =
      at != nullptr ? all.substr(at - text + strlen(splitToken)) : std::string_view();
  size_t first = 0;
  size_t last = 0;
  stripBounds(left, ' ', false, ST_BOTH, &first, &last);
  *lhs = left.substr(first, last - first);
  stripBounds(right, ' ', false, ST_BOTH, &first, &last);
  *rhs = right.substr(first, last - first);
  return at != nullptr;
}

bool Utils::split(const char* text, std::string* lhs, std::string* rhs, const char* splitToken) {
  std::string_view left;
  std::string_view right;
  const bool found = splitParts(text, splitToken, &left, &right);
  if (lhs != nullptr) lhs->assign(left);
  if (rhs != nullptr) rhs->assign(right);
  return found;
}

void Utils::stripBounds(std::string_view text, char ch, bool whiteSpace, StripType type,
                        size_t* first, size_t* last) {
  auto strips = [&](char c) {
    return whiteSpace ? isspace(static_cast<unsigned char>(c)) != 0 : c == ch;
  };
  size_t begin = 0;
  size_t end = text.size();
  if (type != ST_POST) {
    while (begin < end && strips(text[begin])) ++begin;
  }
  if (type != ST_PRE) {
    while (end > begin && strips(text[end - 1])) --end;
  }
  *first = begin;
  *last = end;
}

std::string& Utils::strip(std::string& text, char ch, StripType type) {
  size_t first = 0;
  size_t last = 0;
  stripBounds(text, ch, false, type, &first, &last);
  return text.erase(last).erase(0, first);
}

std::string& Utils::stripWhiteSpace(std::string& text, StripType type) {
  size_t first = 0;
  size_t last = 0;
  stripBounds(text, ' ', true, type, &first, &last);
  return text.erase(last).erase(0, first);
}

std::string& Utils::stripQuotes(std::string& text) {
  if (text.empty() || (text[0] != '"' && text[0] != '\'')) return text;
  const char quote = text[0];
  text.erase(0, 1);
  if (!text.empty() && text.back() == quote) text.pop_back();
  return text;
}

std::string Utils::parseSqlName(const std::string& name) {
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    return name.substr(1, name.size() - 2);
  }
  return name;
}

std::string Utils::truncate(const std::string& text, size_t maxChars) {
  return text.substr(0, maxChars);
}

size_t Utils::copyStr(char* dst, const char* src, size_t dstBufSize) {
  if (dst == nullptr || dstBufSize == 0) return 0;
  const size_t len = src != nullptr ? strnlen(src, dstBufSize - 1) : 0;
  if (len != 0) memcpy(dst, src, len);
  dst[len] = '\0';
  return len;
}

std::string Utils::toLower(const char* text) {
  std::string result = text != nullptr ? text : "";
  for (char& c : result) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string Utils::toUpper(const char* text) {
  std::string result = text != nullptr ? text : "";
  for (char& c : result) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return result;
}

int Utils::textWidth(const char* text) {
  if (text == nullptr) return 0;
  size_t widest = 0;
  for (const char* line = text;;) {
    const char* nl = strchr(line, '\n');
    const size_t width = nl != nullptr ? static_cast<size_t>(nl - line) : strlen(line);
    if (width > widest) widest = width;
    if (nl == nullptr) break;
    line = nl + 1;
  }
  return static_cast<int>(widest);
}

int Utils::textHeight(const char* text) {
  if (text == nullptr) return 0;
  int lines = 1;
  for (const char* p = text; (p = strchr(p, '\n')) != nullptr; ++p) ++lines;
  return lines;
}

const char* Utils::getOrdinalSuffix(int n) {
  const long long magnitude = llabs(static_cast<long long>(n));
  switch (magnitude % 100) {
    case 11:
    case 12:
    case 13: return "th";
  }
  switch (magnitude % 10) {
    case 1: return "st";
    case 2: return "nd";
    case 3: return "rd";
  }
  return "th";
}

const char* Utils::toStr(bool flag, const char* trueText, const char* falseText) {
  return flag ? trueText : falseText;
}

const char* Utils::formatInto(char* buf, size_t bufSize, const char* format, ...) {
  if (format == nullptr) {
    if (bufSize > 0) buf[0] = '\0';
    return buf;
  }
  va_list ap;
  va_start(ap, format);
  if (vsnprintf(buf, bufSize, format, ap) < 0) buf[0] = '\0';
  va_end(ap);
  return buf;
}

std::string Utils::toString(int value, const char* format) {
  char buf[20];
  return formatInto(buf, sizeof buf, format, value);
}

std::string Utils::toString(long value, const char* format) {
  char buf[20];
  return formatInto(buf, sizeof buf, format, value);
}

std::string Utils::toString(float value, const char* format) {
  char buf[20];
  return formatInto(buf, sizeof buf, format, static_cast<double>(value));
}

std::string Utils::ptrToString(const void* ptr, const char* format) {
  char buf[20];
  return formatInto(buf, sizeof buf, format, ptr);
}

std::string Utils::ipToString(uint32_t address) {
  char buf[20];
  return formatInto(buf, sizeof buf, "%u.%u.%u.%u", (address >> 24) & 0xFFu,
                    (address >> 16) & 0xFFu, (address >> 8) & 0xFFu, address & 0xFFu);
}

std::string Utils::timeToString(time_t time, const char* format) {
  struct tm tmBuf;
  char buf[100];
  if (format == nullptr || localtime_r(&time, &tmBuf) == nullptr) return "";
  const size_t n = strftime(buf, sizeof buf, format, &tmBuf);
  return std::string(buf, n);
}

std::string Utils::timeToString(const char* format) {
  return timeToString(::time(nullptr), format);
}

bool Utils::trueAlways(const void* /*a*/, const void* /*b*/) { return true; }

bool Utils::falseAlways(const void* /*a*/, const void* /*b*/) { return false; }

// --- Usage lines ---

// Utils::printUsageSummary names the standard options, so it lives with them in rcHelpArgs.cpp.

void Utils::printStdUsageHeader(const char* pgmName) {
  printUsageSummary(pgmName);
  printf("Options:\n");
}

void Utils::printArgUsage(const char* arg, int tabW, const char* description) {
  printf(" %-*s%s\n", tabW, arg, description);
}

// --- Time stamps ---

uint64_t Utils::qvTimeStamp(int64_t epochSeconds) {
  return static_cast<uint64_t>(epochSeconds) * kUsecPerSec -
         static_cast<uint64_t>(kQvEpochOffsetSec * kUsecPerSec);
}

int64_t Utils::epochTimeStamp(uint64_t qvTime) {
  return static_cast<int64_t>(qvTime / kUsecPerSec) + kQvEpochOffsetSec;
}

// --- Interaction ---

bool Utils::confirmAction(const char* prompt) {
  // An answer is a word; whatever a line holds beyond this is read and dropped.
  constexpr size_t kMaxAnswer = 255;
  for (;;) {
    printf("%s (y|n)? [n] ", prompt != nullptr ? prompt : "");
    fflush(stdout);
    std::string answer;
    int c = 0;
    while ((c = getchar()) != EOF && c != '\n') {
      if (c != '\r' && answer.size() < kMaxAnswer) answer += static_cast<char>(c);
    }
    stripWhiteSpace(answer);
    if (answer.empty()) return false;
    const int yes = strToBool(answer.c_str());
    if (yes >= 0) return yes == 1;
    Err_Print(Err(RC_ERROR, RC_SC_NEED_CONFIRMATION, VarArgs() << answer,
                  "recomps/Utils::confirmAction"));
    if (c == EOF) return false;
  }
}

}  // namespace rc
