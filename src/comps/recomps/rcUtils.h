// General utilities shared by the whole framework, all stateless and static:
// - the need... validators, which read an option or configuration value and throw an rc::Err of
//   severity RC_ERROR naming the option (`keyword`) when the value is missing or malformed;
// - lenient conversions (strToBool, strToLong ...) that report through their result instead;
// - in-place tokenising and splitting, trimming and small formatting helpers;
// - the interactive yes/no confirmation (standard input and output);
// - the appliance time stamp: microseconds since 2000-01-01 00:00:00 UTC.
// Functions returning text return std::string; rc::StringUtils has the framework-string forms.
// Nothing here keeps state. Not for use in signal handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace rc {

class Utils {
 public:
  enum StripType { ST_PRE = 0, ST_POST = 1, ST_BOTH = 2 };

  static constexpr int RC_MIN_TIMEOUT = 1;
  static constexpr int RC_MAX_TIMEOUT = 100000000;
  static constexpr int RC_MIN_NOWAFTER = 1;
  static constexpr int RC_MAX_NOWAFTER = 100000000;

  // --- Validators. A null or empty value is RC_SC_NEED_ARG_VAL (keyword) unless noted.
  static const char* needStr(const char* keyword, const char* value);
  // Only a null value is missing.
  static const char* needBlankableStr(const char* keyword, const char* value);
  // The whole text is one decimal number (RC_SC_NEED_INT: keyword, value) within the type's
  // range (RC_SC_OUT_OF_RANGE: value). The OptRadix forms take "0x" as hexadecimal and a
  // leading "0" as octal.
  static int needInt(const char* keyword, const char* value);
  static int needIntOptRadix(const char* keyword, const char* value);
  static int64_t needInt64(const char* keyword, const char* value);
  static int64_t needInt64OptRadix(const char* keyword, const char* value);
  // As needInt; a negative number is RC_SC_NEED_POSITIVE_INT (keyword, value). 0 is accepted.
  static int needPositiveInt(const char* keyword, const char* value);
  // As needInt within RC_MIN_TIMEOUT..RC_MAX_TIMEOUT; outside it, overflow included,
  // RC_SC_VAL_OUT_OF_RANGE (keyword, minimum, maximum).
  static int needTimeoutInterval(const char* keyword, const char* value);
  // As needTimeoutInterval within RC_MIN_NOWAFTER..RC_MAX_NOWAFTER, but an overflow is
  // RC_SC_OUT_OF_RANGE (value).
  static int needNowAfterInterval(const char* keyword, const char* value);
  // The words strToBool knows, as error texts list them.
  static constexpr const char* BOOL_WORDS = "yes/no, true/false, on/off, 1/0";
  // A word strToBool knows; otherwise RC_SC_NEED_BOOL (keyword, value, BOOL_WORDS).
  static bool needBool(const char* keyword, const char* value);
  // A dotted IPv4 address, returned in network byte order; otherwise RC_SC_NEED_IP_ADDR
  // (keyword, value).
  static uint32_t needIpAddr(const char* keyword, const char* value);
  // One of "preferredUnSecured", "onlyUnSecured", "preferredSecured", "onlySecured" (exact
  // case); otherwise RC_SC_INVALID_SEC_VAL (keyword, value).
  static const char* needSecLevel(const char* keyword, const char* value);

  // --- Lenient conversions; errno is cleared first.
  // 1 for "1", "t", "true", "y", "yes", "on"; 0 for "0", "f", "false", "n", "no", "off" (any
  // case); -1 for anything else and for null.
  static int strToBool(const char* text);
  // The radix comes from the prefix and trailing characters are allowed. False when nothing was
  // converted or on overflow (value then holds the saturated result). The unsigned forms also
  // refuse a minus sign rather than wrapping the number around.
  static bool strToLong(const char* text, long* value);
  static bool strToUlong(const char* text, unsigned long* value);
  static bool strToUlonglong(const char* text, unsigned long long* value);
  static bool strToDouble(const char* text, double* value);
  static bool isNumber(const char* text);
  // strtod that leaves errno as it was on success and treats an underflow as success; only an
  // overflow leaves ERANGE set.
  static double QvStrtod(const char* text, char** end);

  // --- Text.
  // Splits text in place into at most maxTokens - 1 tokens (tokens[] then ends with a null) and
  // returns their number. Tokens end at separator or altSeparator (0: none); blanks and
  // separators between tokens are skipped; a double-quoted token keeps its blanks and separators
  // and "" is one empty token; commentStart (0: none) outside quotes ends the text. Text that
  // holds more tokens fails the assertion "numTokens < (maxTokens-1)".
  static int tokenize(char* text, char** tokens, int maxTokens, char separator,
                      char altSeparator = 0, char commentStart = 0);
  // lhs and rhs get the text before and after the first splitToken, each stripped of blanks;
  // without the token lhs is the whole text and rhs empty. Returns whether the token occurred.
  // Either output may be null.
  static bool split(const char* text, std::string* lhs, std::string* rhs, const char* splitToken);
  static std::string& strip(std::string& text, char ch = ' ', StripType type = ST_BOTH);
  static std::string& stripWhiteSpace(std::string& text, StripType type = ST_BOTH);
  // Drops a leading ' or " and, when the text ends in the same quote, the last character.
  static std::string& stripQuotes(std::string& text);
  // "\"Name\"" → "Name"; any other name unchanged.
  static std::string parseSqlName(const std::string& name);
  static std::string truncate(const std::string& text, size_t maxChars);
  // Copies at most dstBufSize - 1 characters and terminates dst (when dstBufSize > 0); returns
  // the number of characters copied.
  static size_t copyStr(char* dst, const char* src, size_t dstBufSize);
  static std::string toLower(const char* text);
  static std::string toUpper(const char* text);
  // The length of the longest line / the number of lines (newlines plus one); 0 for null.
  static int textWidth(const char* text);
  static int textHeight(const char* text);
  // "st", "nd", "rd" or "th" for |n|.
  static const char* getOrdinalSuffix(int n);
  static const char* toStr(bool flag, const char* trueText = "true",
                           const char* falseText = "false");
  // The value through a printf format; the result is cut at 19 characters.
  static std::string toString(int value, const char* format = "%d");
  static std::string toString(long value, const char* format = "%ld");
  static std::string toString(float value, const char* format = "%g");
  static std::string ptrToString(const void* ptr, const char* format = "%p");
  // A host-order address as "%u.%u.%u.%u", most significant byte first.
  static std::string ipToString(uint32_t address);
  // strftime of the local time, at most 99 characters; "" when the time cannot be converted.
  static std::string timeToString(time_t time, const char* format);
  static std::string timeToString(const char* format);
  // Constant predicates for callback slots that need a default.
  static bool trueAlways(const void* a, const void* b);
  static bool falseAlways(const void* a, const void* b);

  // --- Usage lines on standard output.
  // "Usage: <pgmName> [-h|-rev] [<options>]" and the line "Options:".
  static void printStdUsageHeader(const char* pgmName);
  // "Usage: <pgmName> [-h|-rev] [<options>]" alone.
  static void printUsageSummary(const char* pgmName);
  // A blank, arg padded to tabW columns, the description.
  static void printArgUsage(const char* arg, int tabW, const char* description);

  // --- Appliance time stamps.
  static uint64_t qvTimeStamp(int64_t epochSeconds);
  static int64_t epochTimeStamp(uint64_t qvTime);

  // --- Interaction.
  // Prints "<prompt> (y|n)? [n] " and reads one answer line from standard input; an unknown
  // answer prints RC_SC_NEED_CONFIRMATION and asks again. True only for a true word; an empty
  // answer or the end of input is no.
  static bool confirmAction(const char* prompt);

  // --- Building blocks shared with rc::StringUtils.
  // The bounds [first, last) of text without the stripped characters.
  static void stripBounds(std::string_view text, char ch, bool whiteSpace, StripType type,
                          size_t* first, size_t* last);
  // The blank-stripped parts of text around the first splitToken (see split).
  static bool splitParts(const char* text, const char* splitToken, std::string_view* lhs,
                         std::string_view* rhs);
  // snprintf into buf of bufSize (cut when longer); returns buf.
  static const char* formatInto(char* buf, size_t bufSize, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
};

}  // namespace rc
