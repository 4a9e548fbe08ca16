#include "comps/recomps/rcStrDb.h"

#include <cstdio>

namespace rc {

namespace {

const StrDbRec strDbRecs[StrDb::NumStrDbRecs] = {
    {RC_SC_OK, "ok"},
    {RC_SC_TST_1, "test msg 1"},
    {RC_SC_TST_2, "test msg 2, value = '{1}'"},
    {RC_SC_ASSERT, "assert '{1}' failed"},
    {RC_SC_ASSERT_MSG, "assert '{1}' failed for {2}"},
    {RC_SC_INTERNAL_ERROR, "internal error"},
    {RC_SC_OPEN_FAILED, "unable to open '{1}'"},
    {RC_SC_CLOSE_FAILED, "unable to close '{1}'"},
    {RC_SC_PRINT_FAILED, "unable to print to '{1}'"},
    {RC_SC_FLUSH_FAILED, "unable to flush '{1}'"},
    {RC_SC_READ_FAILED, "unable to read from '{1}'"},
    {RC_SC_WRITE_FAILED, "unable to write to '{1}'"},
    {RC_SC_FILE_NOT_OPEN, "file is not currently open"},
    {RC_SC_BUF_TOO_SMALL, "buffer size of '{1}' is too small"},
    {RC_SC_SIZE_FAILED, "unable to obtain size of '{1}'"},
    {RC_SC_BAD_NULL, "{1} value cannot be NULL"},
    {RC_SC_UNKNOWN_VALUE, "{1} value '{2}' is unknown or invalid"},
    {RC_SC_BAD_CMD_LINE_ARG, "command line arg '{1}' is unknown or invalid"},
    {RC_SC_BAD_STATUS, "bad status '{1}'"},
    {RC_SC_BAD_CASE_VALUE, "switch statement case '{1}' is unknown or invalid"},
    {RC_SC_CERROR, "{1}"},
    {RC_SC_OUT_OF_MEMORY, "insufficient memory"},
    {RC_SC_PGM_STARTING, "--- program '{1}' ({2}) starting on host '{3}' ... ---"},
    {RC_SC_PGM_EXITING, "--- program '{1}' ({2}) exiting on host '{3}' ... ---"},
    {RC_SC_FAULT_INSERT, "inserted fault"},
    {RC_SC_FAULT_ARGS, "{1}"},
    {RC_SC_INVALID_REGKEY, "one or more keys invalid. first invalid key = '{1}'"},
    {RC_SC_XML_ERROR, "XML error - '{1}'"},
    {RC_SC_LOGIN_ERROR, "login error - {1}"},
};

std::string labelled(RcSeverity severity, int strCode, bool showCode) {
  std::string line = std::string(Severity::label(severity)) + ": ";
  if (showCode) {
    char buf[33];
    snprintf(buf, 32, "%s%05d: ", "QV-", strCode);
    line += buf;
  }
  return line;
}

}  // namespace

StrDb* StrDb::instance() {
  static StrDb s_stdInstance;
  return &s_stdInstance;
}

const char* StrDb::lookupString(int strCode) const {
  if (strCode >= 0 && strCode < NumStrDbRecs) return strDbRecs[strCode].m_str;
  return "<no string defined>";
}

std::string StrDb::format(int strCode) { return instance()->lookupString(strCode); }

std::string StrDb::format(int strCode, const VarArgs& args) {
  return args.substituteArgs(instance()->lookupString(strCode));
}

std::string StrDb::format(RcSeverity severity, int strCode, bool showCode) {
  return labelled(severity, strCode, showCode) + format(strCode);
}

std::string StrDb::format(RcSeverity severity, int strCode, const VarArgs& args, bool showCode) {
  return labelled(severity, strCode, showCode) + format(strCode, args);
}

}  // namespace rc
