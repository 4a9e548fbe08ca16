#include "comps/recomps/rcFaultRulesFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcUtils.h"

namespace rc::fault {

namespace {

// The blanks of the "C" locale, which rules files are written in.
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A floating-point conversion takes at least one character of the text.
bool readsAsNumber(const String& text) {
  char* end = nullptr;
  const int savedErrno = errno;
  strtod(text.c_str(), &end);
  errno = savedErrno;
  return end != text.c_str();
}

}  // namespace

// --- Tkn

Tkn::Tkn() : m_end(0), m_pos(0) {}

void Tkn::setLine(const char* line) {
  m_line = line != nullptr ? line : "";
  m_end = static_cast<int>(m_line.size());
  m_pos = 0;
}

int Tkn::next(String& token) {
  if (m_pos >= m_end) return T_EOL;
  const char* line = m_line.data();
  while (m_pos < m_end && isSpace(line[m_pos])) ++m_pos;
  if (m_pos >= m_end || line[m_pos] == '#') {
    token.clear();
    m_pos = m_end;
    return T_EOL;
  }
  const int start = m_pos;
  const char first = line[start];
  if (first == '=') {
    ++m_pos;
    token = "=";
    return T_EQ;
  }
  if (first == '"' || first == '\'') {
    const char* close = static_cast<const char*>(
        memchr(line + start + 1, first, static_cast<size_t>(m_end - start - 1)));
    const int innerEnd = close != nullptr ? static_cast<int>(close - line) : m_end;
    m_pos = close != nullptr ? innerEnd + 1 : m_end;
    token.assign(line + start + 1, line + innerEnd);
    // A quoted number stays quoted, so that typing the value keeps it a string.
    if (readsAsNumber(token)) token.assign(line + start, line + m_pos);
    return T_ID;
  }
  while (m_pos < m_end && !isSpace(line[m_pos]) && line[m_pos] != '=' && line[m_pos] != '#') {
    ++m_pos;
  }
  token.assign(line + start, line + m_pos);
  return T_ID;
}

// --- RulesFile

RulesFile::RulesFile() : m_lines(nullptr) { m_lineBuf[0] = '\0'; }

RulesFile::~RulesFile() { close(); }

void RulesFile::open(const char* pathName) {
  m_file.openRegular(pathName, MAX_FILE_BYTES, "recomps/fault::RulesFile::open");
}

void RulesFile::close() { m_file.close(); }

void RulesFile::read() {
  if (m_lines != nullptr) {
    readLines();
  } else {
    readFile();
  }
}

void RulesFile::readFile() {
  int lineNo = 0;
  for (;;) {
    Err err;
    const char* line = m_file.readLine2(m_lineBuf, sizeof m_lineBuf, &err);
    if (line == nullptr) {
      if (err.code() == 0) return;
      // A line longer than the buffer comes in pieces; any other failure ends the reading.
      if (err.code2() != RC_SC_BUF_TOO_SMALL) rethrowWithLine(err, lineNo + 1);
      line = m_lineBuf;
    }
    apply(line, ++lineNo);
  }
}

void RulesFile::readLines() {
  int lineNo = 0;
  for (unsigned i = 0; i < m_lines->entries(); ++i) {
    const std::string_view line((*m_lines)[i], m_lines->strLen(i));
    size_t pos = 0;
    do {
      const size_t n = std::min<size_t>(line.size() - pos, MAX_LINE_LEN);
      memcpy(m_lineBuf, line.data() + pos, n);
      m_lineBuf[n] = '\0';
      apply(m_lineBuf, ++lineNo);
      pos += n;
    } while (pos < line.size());
  }
}

void RulesFile::apply(const char* line, int lineNo) {
  try {
    applyLine(m_rules, m_tkn, line);
  } catch (const Err& err) {
    rethrowWithLine(err, lineNo);
  }
}

void RulesFile::rethrowWithLine(Err err, int lineNo) const {
  err.addLineNo(lineNo);
  if (m_lines == nullptr) err.addFileName(m_file.fileName().c_str(), lineNo);
  Err_Throw(err);
}

void RulesFile::applyLine(Rules& rules, Tkn& tkn, const char* line) {
  tkn.setLine(line);
  String name;
  if (tkn.next(name) == Tkn::T_EOL) return;
  String separator;
  tkn.next(separator);
  // A line without a value gives the empty text.
  String value;
  tkn.next(value);

  std::string_view ruleName;
  std::string_view rest;
  Utils::splitParts(name.c_str(), ".", &ruleName, &rest);
  const String attrAndField(rest);
  const char* dot = strchr(attrAndField.c_str(), '.');
  const char* field = dot != nullptr ? dot + 1 : "";
  const std::string_view attrName(
      attrAndField.c_str(), dot != nullptr ? dot - attrAndField.c_str() : attrAndField.size());

  Rule* rule = rules.lookup(ruleName, true);
  // The default attributes are never auto-counters: they need not be made for this.
  const Attr* attr = rule->m_attrs.lookup(attrName);
  if (attr != nullptr && attr->dataType() == DataType::DT_AUTO_COUNTER &&
      Value::selectsPlainValue(field)) {
    Err_Throw(Err(RC_ERROR, RC_SC_BAD_VALUE, VarArgs() << name.c_str() << value.c_str(),
                  "recomps/fault::RulesFile::read"));
  }
  rule->setAttr(attrAndField.c_str(), value.c_str());
}

}  // namespace rc::fault
