#include "comps/recomps/rcTxtTbl.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOutDevice.h"

namespace rc {

namespace {

const char INDEX_TOO_BIG[] = "<rc::StrVec index too big>";

bool isBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Removes white space at both ends.
std::string strip(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && isBlank(s[begin])) ++begin;
  while (end > begin && isBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

std::vector<std::string> split(const std::string& s, char delim) {
  std::vector<std::string> pieces;
  size_t begin = 0;
  for (;;) {
    const size_t end = s.find(delim, begin);
    if (end == std::string::npos) break;
    pieces.push_back(s.substr(begin, end - begin));
    begin = end + 1;
  }
  pieces.push_back(s.substr(begin));
  return pieces;
}

unsigned int longestLine(const char* value) {
  size_t longest = 0;
  while (*value != '\0') {
    const char* nl = strchr(value, '\n');
    const size_t len = nl != nullptr ? static_cast<size_t>(nl - value) : strlen(value);
    longest = std::max(longest, len);
    if (nl == nullptr) break;
    value = nl + 1;
  }
  return static_cast<unsigned int>(longest);
}

// Breaks one line of free text at white space into pieces of at most width characters.
void wrapTextLine(std::vector<std::string>& lines, const std::string& line, size_t width) {
  std::string rest = line;
  bool broken = false;
  while (rest.size() > width) {
    size_t brk = std::string::npos;
    for (size_t i = width + 1; i-- > 0;) {
      if (isBlank(rest[i])) {
        brk = i;
        break;
      }
    }
    bool onlyBlanksBefore = brk != std::string::npos;
    for (size_t i = 0; onlyBlanksBefore && i < brk; ++i) onlyBlanksBefore = isBlank(rest[i]);
    if (brk == std::string::npos || onlyBlanksBefore) {
      lines.push_back(rest.substr(0, width));
      rest.erase(0, width);
    } else {
      lines.push_back(rest.substr(0, brk == width ? width : brk + 1));
      size_t next = brk + 1;
      while (next < rest.size() && isBlank(rest[next])) ++next;
      rest.erase(0, next);
    }
    broken = true;
  }
  if (!broken || !rest.empty()) lines.push_back(rest);
}

// A newline inside a list item would break the table's lines: it starts a line of its own.
void splitAtNewlines(std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    for (std::string& piece : split(line, '\n')) out.push_back(std::move(piece));
  }
  lines.swap(out);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CharBuf

CharBuf::CharBuf(size_t size)
    : m_buf(size <= STACK_BUF_SIZE
                ? m_stackBuf
                : static_cast<char*>(mem::allocBlock(size, mem::AllocContext(this)))),
      m_size(size) {
  if (m_size > 0) m_buf[0] = '\0';
}

CharBuf::~CharBuf() {
  if (m_buf != m_stackBuf) mem::freeBlock(m_buf);
}

void CharBuf::clear() {
  m_len = 0;
  if (m_size > 0) m_buf[0] = '\0';
}

void CharBuf::appendf(const char* fmt, ...) {
  if (m_len + 1 >= m_size) return;
  va_list ap;
  va_start(ap, fmt);
  const int n = vsnprintf(m_buf + m_len, m_size - m_len, fmt, ap);
  va_end(ap);
  if (n > 0) m_len = std::min(m_len + static_cast<size_t>(n), m_size - 1);
}

// ---------------------------------------------------------------------------------------------
// ColDef

ColDef::ColDef()
    : m_name("<name_not_set>"),
      m_justify(LEFT_JUSTIFY),
      m_wrap(WRAP_TITLE_ONLY),
      m_minWidth(0),
      m_maxWidth(0),
      m_delimiter(','),
      m_maxItemWidth(0),
      m_width(0),
      m_title("<title_not_set>"),
      m_printWidth(0) {}

void ColDef::updateWidth(const char* value) {
  if (value == nullptr) return;
  m_width = std::max(m_width, longestLine(value));
  if (m_wrap == WRAP_ITEMS || m_wrap == WRAP_ITEMS_ALWAYS) {
    m_maxItemWidth = maxItemWidth(value, m_delimiter, m_maxItemWidth);
  }
}

unsigned int ColDef::maxItemWidth(const char* value, char delim, unsigned int currmax) {
  if (value == nullptr || *value == '\0') return currmax;
  size_t widest = 0;
  if (delim == ' ') {
    size_t run = 0;
    for (const char* p = value; *p != '\0'; ++p) {
      run = isBlank(*p) ? 0 : run + 1;
      widest = std::max(widest, run);
    }
  } else if (delim == '\0') {
    widest = strlen(value);
  } else {
    for (const std::string& item : split(value, delim))
      widest = std::max(widest, strip(item).size());
  }
  return std::max(currmax, static_cast<unsigned int>(widest));
}

unsigned int ColDef::clampWidth(unsigned int w) const {
  return std::min(std::max(w, m_minWidth), cap());
}

void ColDef::setWidths(unsigned int minWidth, unsigned int maxWidth) {
  if (minWidth != 0) m_minWidth = std::min(minWidth, static_cast<unsigned int>(MAX_COL_W));
  if (maxWidth != 0) m_maxWidth = std::min(maxWidth, static_cast<unsigned int>(MAX_COL_W));
}

unsigned int ColDef::titleWordWidth() const { return maxItemWidth(m_title.c_str(), ' ', 0); }

unsigned int ColDef::resetPrintWidth() {
  const unsigned int titleLen = static_cast<unsigned int>(m_title.size());
  m_printWidth = clampWidth(std::max(m_width, titleLen));
  return m_printWidth;
}

unsigned int ColDef::adjustPrintWidth() {
  unsigned int dataW = m_width;
  unsigned int titleW = static_cast<unsigned int>(m_title.size());
  if (m_wrap == WRAP_ITEMS_ALWAYS && m_maxItemWidth > 0) {
    dataW = m_maxItemWidth;
    titleW = titleWordWidth();
  }
  m_printWidth = clampWidth(std::max(dataW, titleW));
  return m_printWidth;
}

unsigned int ColDef::setPrintWidth(unsigned int w) {
  m_printWidth = clampWidth(w);
  return m_printWidth;
}

unsigned int ColDef::getMinPrintWidth() const {
  unsigned int w = std::max(m_minWidth, static_cast<unsigned int>(m_title.size()));
  if (m_wrap == WRAP_ITEMS) w = std::max(w, m_maxItemWidth + 1);
  if (m_wrap == WRAP_ITEMS_ALWAYS) w = std::max(w, m_maxItemWidth);
  return w;
}

void ColDef::renderCell(std::vector<std::string>& lines, const char* value, WrapType wrap,
                        char delimiter) const {
  lines.clear();
  const std::string text = value != nullptr ? value : "";
  const char delim = delimiter != '\0' ? delimiter : m_delimiter;
  // A zero width cannot hold a character; cutting at it would never end.
  const size_t width = std::max(m_printWidth, 1u);

  if (wrap == WRAP_ITEMS && m_printWidth < m_width) {
    const std::vector<std::string> items = split(strip(text), delim);
    std::string line;
    for (size_t i = 0; i < items.size(); ++i) {
      std::string item = strip(items[i]);
      if (i + 1 < items.size()) item += delim;
      if (line.size() + item.size() <= width) {
        line += item;
      } else {
        if (!line.empty()) lines.push_back(line);
        line = item;
      }
    }
    lines.push_back(line);
    splitAtNewlines(lines);
  } else if (wrap == WRAP_ITEMS_ALWAYS) {
    const bool cut = m_printWidth < m_maxItemWidth;
    for (const std::string& piece : split(text, delim)) {
      std::string item = strip(piece);
      if (!cut) {
        lines.push_back(item);
        continue;
      }
      item += delim;
      for (size_t pos = 0; pos < item.size(); pos += width)
        lines.push_back(item.substr(pos, width));
    }
    splitAtNewlines(lines);
  } else if (wrap == WRAP_TEXT) {
    for (const std::string& line : split(text, '\n')) wrapTextLine(lines, line, width);
  } else {
    lines = split(text, '\n');
  }
}

void ColDef::print(CharBuf& dst, const char* text, JustifyType justify, bool isLastCol,
                   bool skipRtPad) const {
  RC_ASSERT(m_printWidth <= MAX_COL_W);
  const int width = static_cast<int>(m_printWidth);
  const int sepW = isLastCol ? 0 : 1;
  const size_t fullLen = strlen(text);
  const int len = static_cast<int>(std::min(fullLen, static_cast<size_t>(width)));
  if (justify == AS_IS_JUSTIFY) justify = m_justify;
  switch (justify) {
    case LEFT_JUSTIFY:
      if (skipRtPad) {
        dst.appendf("%.*s", len, text);
      } else {
        dst.appendf("%-*.*s%*s", width, len, text, sepW, "");
      }
      break;
    case RIGHT_JUSTIFY: dst.appendf("%*.*s%*s", width, len, text, sepW, ""); break;
    default: {  // centred, also for a column whose own setting is AS_IS_JUSTIFY
      const int leader = fullLen >= m_printWidth ? 0 : (width - static_cast<int>(fullLen)) / 2;
      if (skipRtPad) {
        dst.appendf("%*s%.*s", leader, "", len, text);
      } else {
        dst.appendf("%*s%-*.*s%*s", leader, "", width - leader, len, text, sepW, "");
      }
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// RowVec

RowVec::RowVec() : RowVec(0, INITIAL_ROW_CAPACITY) {}

RowVec::RowVec(unsigned int numCols, unsigned int rowCapacity) : m_numCols(numCols) {
  m_rows.reserve(rowCapacity);
}

RowVec::~RowVec() {
  for (StrVec* row : m_rows) delete row;
}

StrVec& RowVec::rowForWrite(unsigned int rowNum) {
  RC_ASSERT(rowNum > 0);
  if (rowNum > m_rows.size()) m_rows.resize(rowNum, nullptr);
  StrVec*& row = m_rows[rowNum - 1];
  // Room for a cell per column; a row only outgrows that when columns are added later.
  if (row == nullptr) row = new StrVec(m_numCols);
  return *row;
}

unsigned int RowVec::append(unsigned int rowNum, const char* value) {
  StrVec& row = rowForWrite(rowNum);
  const unsigned int nVals = row.entries();
  RC_ASSERT(nVals < m_numCols);
  row.append(value);
  return nVals;
}

const StrVec& RowVec::setRow(unsigned int rowNum, const VarArgs& rowVals) {
  if (rowVals.size() > m_numCols) {
    // Worded after the vector the values arrive in.
    Assert_throwAssert("rowVals.entries () <= m_numCols", nullptr, false, __FILE__, __LINE__);
  }
  StrVec& row = rowForWrite(rowNum);
  row.clear();
  if (!rowVals.isEmpty()) row.append(*rowVals.args());
  return row;
}

const StrVec* RowVec::row(unsigned int rowNum) const {
  RC_ASSERT(rowNum > 0 && rowNum <= m_rows.size());
  return m_rows[rowNum - 1];
}

// ---------------------------------------------------------------------------------------------
// txtTbl_row_match

void txtTbl_row_match::add_match_filter(int colIndex, std::string value) {
  v_matchFieldAndValues[colIndex].assign(value.data(), value.size());
}

bool txtTbl_row_match::operator()(const StrVec* row) const {
  for (const auto& [colIndex, value] : v_matchFieldAndValues) {
    const char* cell = INDEX_TOO_BIG;
    if (row != nullptr && colIndex >= 0) cell = (*row)[static_cast<unsigned int>(colIndex)];
    if (value != cell) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Printers

void StdoutPrinter::print(const char* line) { fputs(line, stdout); }

unsigned int StdoutPrinter::width() const {
  return static_cast<unsigned int>(Os::getTtySize(stdout).width);
}

void DbgPrinter::print(const char* line) { m_dbg->print(m_indentLvl, "%s", line); }

void OutDevicePrinter::print(const char* line) { m_device->print(line); }

unsigned int OutDevicePrinter::width() const {
  return m_device->isTty() ? static_cast<unsigned int>(m_device->getTtySize().width) : 0;
}

// ---------------------------------------------------------------------------------------------
// TxtTbl: columns

TxtTbl::TxtTbl()
    : m_maxWidth(0), m_rows(new RowVec()), m_printWidth(0), m_laidOut(false), m_layoutWidth(0) {}

TxtTbl::~TxtTbl() { delete m_rows; }

ColDef& TxtTbl::col(unsigned int colNum) const {
  RC_ASSERT(colNum > 0 && colNum <= m_colDefs.size());
  return m_colDefs[colNum - 1];
}

const ColDef& TxtTbl::colDef(unsigned int i) const {
  RC_ASSERT(i < m_colDefs.size());
  return m_colDefs[i];
}

ColDef* TxtTbl::colByName(const char* colName) {
  RC_ASSERT(colName != 0);
  const unsigned int colNum = getColNumber(colName);
  return colNum != 0 ? &m_colDefs[colNum - 1] : &m_colDefsByName[colName];
}

unsigned int TxtTbl::addColumn(const char* colName) {
  RC_ASSERT(colName != 0);
  const auto kept = m_colDefsByName.find(colName);
  m_colDefs.push_back(kept != m_colDefsByName.end() ? kept->second : ColDef());
  ColDef& def = m_colDefs.back();
  def.m_name = colName;
  def.m_title = colName;
  m_rows->setNumCols(numCols());
  return numCols();
}

unsigned int TxtTbl::addColumn(const char* colName, JustifyType justify) {
  const unsigned int colNum = addColumn(colName);
  setColJustify(colNum, justify);
  return colNum;
}

unsigned int TxtTbl::addColumn(const char* colName, JustifyType justify, WrapType wrap) {
  const unsigned int colNum = addColumn(colName, justify);
  setColWrap(colNum, wrap);
  return colNum;
}

unsigned int TxtTbl::addColumn(const char* colName, JustifyType justify, WrapType wrap,
                               unsigned int minWidth, unsigned int maxWidth) {
  const unsigned int colNum = addColumn(colName, justify);
  setColWrap(colNum, wrap, minWidth, maxWidth);
  return colNum;
}

void TxtTbl::setColWidths(unsigned int colNum, unsigned int minWidth, unsigned int maxWidth) {
  col(colNum).setWidths(minWidth, maxWidth);
}

void TxtTbl::setColWrap(unsigned int colNum, WrapType wrap, unsigned int minWidth,
                        unsigned int maxWidth) {
  col(colNum).m_wrap = wrap;
  setColWidths(colNum, minWidth, maxWidth);
}

void TxtTbl::setColJustify(unsigned int colNum, JustifyType justify) {
  col(colNum).m_justify = justify;
}

void TxtTbl::setColDelimiter(unsigned int colNum, char delimiter) {
  col(colNum).m_delimiter = delimiter;
}

void TxtTbl::setColAttrs(unsigned int colNum, const char* colName, JustifyType justify,
                         unsigned int maxWidth) {
  RC_ASSERT(colNum > 0 && colName);
  while (m_colDefs.size() < colNum) m_colDefs.emplace_back();
  m_rows->setNumCols(numCols());
  ColDef& def = m_colDefs[colNum - 1];
  def = m_colDefsByName[colName];
  def.m_name = colName;
  def.m_title = colName;
  setColJustify(colNum, justify);
  setColWidths(colNum, 0, maxWidth);
}

void TxtTbl::setColWidths(const char* colName, unsigned int minWidth, unsigned int maxWidth) {
  colByName(colName)->setWidths(minWidth, maxWidth);
}

void TxtTbl::setColWrap(const char* colName, WrapType wrap, unsigned int minWidth,
                        unsigned int maxWidth) {
  colByName(colName)->m_wrap = wrap;
  setColWidths(colName, minWidth, maxWidth);
}

void TxtTbl::setColJustify(const char* colName, JustifyType justify) {
  colByName(colName)->m_justify = justify;
}

void TxtTbl::setColDelimiter(const char* colName, char delimiter) {
  colByName(colName)->m_delimiter = delimiter;
}

unsigned int TxtTbl::getColNumber(std::string name) const {
  for (size_t i = m_colDefs.size(); i > 0; --i) {
    if (std::string_view(m_colDefs[i - 1].m_name) == name) return static_cast<unsigned int>(i);
  }
  return 0;
}

void TxtTbl::setDimensions(unsigned int numCols, unsigned int rowCapacity) {
  RowVec* rows = new RowVec(numCols, rowCapacity);
  delete m_rows;
  m_rows = rows;
}

// ---------------------------------------------------------------------------------------------
// TxtTbl: rows

void TxtTbl::append(unsigned int rowNum, const char* value) {
  const unsigned int colIdx = m_rows->append(rowNum, value);
  // The row store may have been given more columns than are defined.
  if (colIdx < m_colDefs.size()) m_colDefs[colIdx].updateWidth(value != nullptr ? value : "");
}

void TxtTbl::appendFormatted(unsigned int rowNum, const char* fmt, ...) {
  char buf[128];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  append(rowNum, buf);
}

// The formats are the caller's, so they cannot be checked here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

void TxtTbl::appendInt(unsigned int rowNum, int value, const char* fmt) {
  appendFormatted(rowNum, fmt, value);
}

void TxtTbl::appendUint(unsigned int rowNum, unsigned int value, const char* fmt) {
  appendFormatted(rowNum, fmt, value);
}

void TxtTbl::appendInt64(unsigned int rowNum, int64_t value, const char* fmt) {
  appendFormatted(rowNum, fmt, value);
}

void TxtTbl::appendUint64(unsigned int rowNum, uint64_t value, const char* fmt) {
  appendFormatted(rowNum, fmt, value);
}

void TxtTbl::appendFloat(unsigned int rowNum, float value, const char* fmt) {
  appendFormatted(rowNum, fmt, static_cast<double>(value));
}

#pragma GCC diagnostic pop

void TxtTbl::appendIp(unsigned int rowNum, unsigned int ipAddr) {
  appendFormatted(rowNum, "%d.%d.%d.%d", ipAddr & 0xFF, (ipAddr >> 8) & 0xFF, (ipAddr >> 16) & 0xFF,
                  (ipAddr >> 24) & 0xFF);
}

void TxtTbl::appendBool(unsigned int rowNum, bool value, const char* trueStr,
                        const char* falseStr) {
  append(rowNum, value ? trueStr : falseStr);
}

void TxtTbl::setRow(unsigned int rowNum, const VarArgs& rowVals) {
  updateColWidths(m_rows->setRow(rowNum, rowVals));
}

const StrVec* TxtTbl::row(unsigned int rowNum) const { return m_rows->row(rowNum); }

void TxtTbl::updateColWidths(const StrVec& row) {
  const unsigned int nVals = row.entries();
  RC_ASSERT(nVals <= m_colDefs.size());
  for (unsigned int i = 0; i < nVals; ++i) m_colDefs[i].updateWidth(row[i]);
}

// ---------------------------------------------------------------------------------------------
// TxtTbl: selection and titles

void TxtTbl::setColsToPrint(const std::vector<unsigned int>* cols) const {
  m_colsToPrint.clear();
  if (cols == nullptr) {
    for (unsigned int i = 0; i < m_colDefs.size(); ++i) m_colsToPrint.push_back(i);
    return;
  }
  for (const unsigned int colNum : *cols) {
    if (colNum > 0 && colNum <= m_colDefs.size()) m_colsToPrint.push_back(colNum - 1);
  }
}

void TxtTbl::setColsToPrint(const std::vector<std::string>& cols) const {
  std::vector<unsigned int> colNums;
  for (const std::string& name : cols) colNums.push_back(getColNumber(name));
  setColsToPrint(&colNums);
}

void TxtTbl::setColTitles(const std::map<unsigned int, std::string>* titles) const {
  for (const unsigned int idx : m_colsToPrint) {
    ColDef& def = m_colDefs[idx];
    def.m_title = def.m_name;
    if (titles != nullptr) {
      const auto given = titles->find(idx + 1);
      if (given != titles->end()) def.m_title.assign(given->second.data(), given->second.size());
    }
    def.m_printWidth = 0;
  }
}

void TxtTbl::setColTitles(const std::map<std::string, std::string>& titles) const {
  for (const unsigned int idx : m_colsToPrint) {
    ColDef& def = m_colDefs[idx];
    const auto given = titles.find(std::string(def.m_name.data(), def.m_name.size()));
    if (given != titles.end()) {
      def.m_title.assign(given->second.data(), given->second.size());
    } else {
      def.m_title = def.m_name;
    }
    def.m_printWidth = 0;
  }
}

// ---------------------------------------------------------------------------------------------
// TxtTbl: layout

unsigned int TxtTbl::printedWidth() const {
  unsigned int total = static_cast<unsigned int>(m_colsToPrint.size()) - 1;
  for (const unsigned int idx : m_colsToPrint) total += m_colDefs[idx].m_printWidth;
  return total;
}

void TxtTbl::measureItems(ColDef& def, unsigned int colIdx) const {
  for (unsigned int r = 1; r <= m_rows->numRows(); ++r) {
    const StrVec* cells = m_rows->row(r);
    if (cells != nullptr && colIdx < cells->entries()) {
      def.m_maxItemWidth =
          ColDef::maxItemWidth((*cells)[colIdx], def.m_delimiter, def.m_maxItemWidth);
    }
  }
}

void TxtTbl::adjust(unsigned int availableWidth) const {
  RC_ASSERT(m_colsToPrint.size());
  for (ColDef& def : m_colDefs) def.resetPrintWidth();
  if (availableWidth == 0) return;

  for (const unsigned int idx : m_colsToPrint) m_colDefs[idx].adjustPrintWidth();
  for (const unsigned int idx : m_colsToPrint) {
    ColDef& def = m_colDefs[idx];
    if (def.m_wrap != WRAP_ITEMS_ALWAYS) continue;
    if (def.m_maxItemWidth == 0) measureItems(def, idx);
    const unsigned int titleLen = static_cast<unsigned int>(def.m_title.size());
    const unsigned int t = def.m_maxItemWidth < titleLen ? def.titleWordWidth() : titleLen;
    def.setPrintWidth(std::max(def.m_maxItemWidth, t));
  }
  if (printedWidth() <= availableWidth) return;

  // Titles first: a column wider than its data only for its title gives up the difference down
  // to the title's longest word, the column with the most to give first. The gain is measured
  // against what the column's own limits allow, so a column held at its minimum is passed over
  // rather than ending this step for the others.
  for (;;) {
    ColDef* widest = nullptr;
    unsigned int mostExcess = 0;
    for (const unsigned int idx : m_colsToPrint) {
      ColDef& def = m_colDefs[idx];
      if (def.m_wrap == WRAP_NEVER || def.m_wrap == WRAP_ITEMS_ALWAYS) continue;
      const unsigned int target = def.clampWidth(std::max(def.m_width, def.titleWordWidth()));
      if (def.m_printWidth > target && def.m_printWidth - target > mostExcess) {
        widest = &def;
        mostExcess = def.m_printWidth - target;
      }
    }
    if (widest == nullptr) break;
    widest->setPrintWidth(std::max(widest->m_width, widest->titleWordWidth()));
    if (printedWidth() <= availableWidth) return;
  }

  for (const unsigned int idx : m_colsToPrint) {
    ColDef& def = m_colDefs[idx];
    if (def.m_wrap == WRAP_ITEMS && def.m_maxItemWidth == 0) measureItems(def, idx);
  }

  // Lists, one column of width per pass, from the last column to the first; never below the
  // widest item with its delimiter, and never wider than before.
  for (;;) {
    bool changed = false;
    for (size_t i = m_colsToPrint.size(); i-- > 0 && printedWidth() > availableWidth;) {
      ColDef& def = m_colDefs[m_colsToPrint[i]];
      if (def.m_wrap != WRAP_ITEMS) continue;
      const unsigned int old = def.m_printWidth;
      const unsigned int want =
          std::max({old > 0 ? old - 1 : 0, def.m_maxItemWidth + 1, def.titleWordWidth()});
      if (def.setPrintWidth(std::min(want, old)) != old) changed = true;
    }
    if (!changed || printedWidth() <= availableWidth) break;
  }

  // Free text, one column of width per pass, never below the title's longest word.
  for (;;) {
    bool changed = false;
    for (size_t i = m_colsToPrint.size(); i-- > 0 && printedWidth() > availableWidth;) {
      ColDef& def = m_colDefs[m_colsToPrint[i]];
      if (def.m_wrap != WRAP_TEXT || def.titleWordWidth() >= def.m_printWidth) continue;
      const unsigned int old = def.m_printWidth;
      if (def.setPrintWidth(old - 1) != old) changed = true;
    }
    if (!changed || printedWidth() <= availableWidth) break;
  }
}

void TxtTbl::adjustForPrint(unsigned int printWidth) const {
  adjust(printWidth);
  m_printWidth = printedWidth();
  m_laidOut = true;
  m_layoutWidth = printWidth;
}

// ---------------------------------------------------------------------------------------------
// TxtTbl: printing

template <class Printer>
void TxtTbl::printBlock(Printer& printer, CharBuf& buf,
                        const std::vector<std::vector<std::string>>& colLines,
                        JustifyType justify) const {
  size_t height = 0;
  for (const std::vector<std::string>& lines : colLines) height = std::max(height, lines.size());
  const size_t nCols = colLines.size();
  for (size_t line = 0; line < height; ++line) {
    buf.clear();
    for (size_t i = 0; i < nCols; ++i) {
      const char* text = line < colLines[i].size() ? colLines[i][line].c_str() : "";
      const bool isLast = i + 1 == nCols;
      m_colDefs[m_colsToPrint[i]].print(buf, text, justify, isLast, isLast);
    }
    buf.appendf("\n");
    printer.print(buf.str());
  }
}

template <class Printer>
void TxtTbl::printTitles(Printer& printer, CharBuf& buf) const {
  const size_t nCols = m_colsToPrint.size();
  if (m_layoutWidth == 0) {
    buf.clear();
    for (size_t i = 0; i < nCols; ++i) {
      const ColDef& def = m_colDefs[m_colsToPrint[i]];
      def.print(buf, def.m_title.c_str(), LEFT_JUSTIFY, i + 1 == nCols, false);
    }
    buf.appendf("\n");
    printer.print(buf.str());
    return;
  }
  std::vector<std::vector<std::string>> titleLines(nCols);
  for (size_t i = 0; i < nCols; ++i) {
    const ColDef& def = m_colDefs[m_colsToPrint[i]];
    const WrapType wrap = def.m_title.size() > def.m_printWidth ? WRAP_TEXT : WRAP_NEVER;
    def.renderCell(titleLines[i], def.m_title.c_str(), wrap);
  }
  printBlock(printer, buf, titleLines, LEFT_JUSTIFY);
}

template <class Printer>
void TxtTbl::printDivider(Printer& printer, CharBuf& buf) const {
  buf.clear();
  for (size_t i = 0; i < m_colsToPrint.size(); ++i) {
    const unsigned int width = m_colDefs[m_colsToPrint[i]].m_printWidth;
    for (unsigned int n = 0; n < width; ++n) buf.appendf("-");
    if (i + 1 < m_colsToPrint.size()) buf.appendf(" ");
  }
  buf.appendf("\n");
  printer.print(buf.str());
}

template <class Printer>
void TxtTbl::printRow(Printer& printer, CharBuf& buf, unsigned int rowNum) const {
  const StrVec* cells = m_rows->row(rowNum);
  if (cells == nullptr) {
    printer.print("\n");
    return;
  }
  const size_t nCols = m_colsToPrint.size();
  std::vector<std::vector<std::string>> cellLines(nCols);
  for (size_t i = 0; i < nCols; ++i) {
    const unsigned int idx = m_colsToPrint[i];
    const ColDef& def = m_colDefs[idx];
    // A row shorter than the table shows empty cells, not the index-too-big text.
    const char* value = idx < cells->entries() ? (*cells)[idx] : "";
    def.renderCell(cellLines[i], value, m_layoutWidth != 0 ? def.m_wrap : WRAP_NEVER);
  }
  printBlock(printer, buf, cellLines, AS_IS_JUSTIFY);
}

template <class Printer>
void TxtTbl::printTbl(Printer& printer, const txtTbl_row_match* filter) const {
  if (m_colsToPrint.empty()) return;
  const unsigned int printerWidth = printer.width();
  const bool useMax = m_maxWidth != 0 && (printerWidth == 0 || m_maxWidth < printerWidth);
  adjustForPrint(useMax ? m_maxWidth : printerWidth);
  CharBuf buf(tableWidth() + 2);
  printTitles(printer, buf);
  printDivider(printer, buf);
  for (unsigned int r = 1; r <= numRows(); ++r) {
    if (filter != nullptr && !(*filter)(m_rows->row(r))) continue;
    printRow(printer, buf, r);
  }
}

void TxtTbl::selectAll() const {
  setColsToPrint(static_cast<const std::vector<unsigned int>*>(nullptr));
  setColTitles(static_cast<const std::map<unsigned int, std::string>*>(nullptr));
}

void TxtTbl::printTable() const {
  selectAll();
  StdoutPrinter printer;
  printTbl(printer, nullptr);
}

void TxtTbl::printTable(const std::vector<unsigned int>& cols) const {
  setColsToPrint(&cols);
  setColTitles(static_cast<const std::map<unsigned int, std::string>*>(nullptr));
  StdoutPrinter printer;
  printTbl(printer, nullptr);
}

void TxtTbl::printTable(const std::vector<unsigned int>& cols,
                        const std::map<unsigned int, std::string>& titles) const {
  setColsToPrint(&cols);
  setColTitles(&titles);
  StdoutPrinter printer;
  printTbl(printer, nullptr);
}

void TxtTbl::printTable(const std::vector<unsigned int>& cols,
                        const std::map<unsigned int, std::string>& titles,
                        const txtTbl_row_match& filter) const {
  setColsToPrint(&cols);
  setColTitles(&titles);
  StdoutPrinter printer;
  printTbl(printer, &filter);
}

void TxtTbl::printTable(const std::vector<std::string>& cols) const {
  printTable(cols, std::map<std::string, std::string>());
}

void TxtTbl::printTable(const std::vector<std::string>& cols,
                        const std::map<std::string, std::string>& titles) const {
  setColsToPrint(cols);
  setColTitles(titles);
  StdoutPrinter printer;
  printTbl(printer, nullptr);
}

void TxtTbl::printTable(const std::vector<std::string>& cols,
                        const std::map<std::string, std::string>& titles,
                        const txtTbl_row_match& filter) const {
  setColsToPrint(cols);
  setColTitles(titles);
  StdoutPrinter printer;
  printTbl(printer, &filter);
}

void TxtTbl::printTable(OutDevice* device) const {
  selectAll();
  RC_ASSERT(device);
  OutDevicePrinter printer(device);
  printTbl(printer, nullptr);
}

void TxtTbl::printTable(Dbg* dbg, int indentLvl) const {
  selectAll();
  RC_ASSERT(dbg);
  DbgPrinter printer(dbg, indentLvl);
  printTbl(printer, nullptr);
}

void TxtTbl::printTable(std::string* str, unsigned int width) const {
  selectAll();
  RC_ASSERT(str);
  StringPrinter printer(str, width);
  printTbl(printer, nullptr);
}

std::string TxtTbl::getTitles() const {
  std::string str;
  if (!m_laidOut || m_colsToPrint.empty()) return str;
  StringPrinter printer(&str, m_layoutWidth);
  CharBuf buf(tableWidth() + 2);
  printTitles(printer, buf);
  return str;
}

std::string TxtTbl::getDivider() const {
  std::string str;
  if (!m_laidOut || m_colsToPrint.empty()) return str;
  StringPrinter printer(&str, m_layoutWidth);
  CharBuf buf(tableWidth() + 2);
  printDivider(printer, buf);
  return str;
}

std::string TxtTbl::getCompleteRow(int rowNum) const {
  const size_t bufSize = m_laidOut ? tableWidth() + 2 : 0;
  RC_ASSERT(bufSize > 0);
  std::string str;
  if (rowNum < 1 || static_cast<unsigned int>(rowNum) > numRows() || m_colsToPrint.empty() ||
      m_rows->row(static_cast<unsigned int>(rowNum)) == nullptr) {
    return str;
  }
  StringPrinter printer(&str, m_layoutWidth);
  CharBuf buf(bufSize);
  printRow(printer, buf, static_cast<unsigned int>(rowNum));
  return str;
}

void TxtTbl::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "TxtTbl", this, ": cols = %u, rows = %u, max width = %u\n",
             numCols(), numRows(), m_maxWidth);
  for (size_t i = 0; i < m_colDefs.size(); ++i) {
    const ColDef& def = m_colDefs[i];
    dumpLine(indentLvl + 1,
             "%zu. '%s': justify = %d, wrap = %d, min = %u, max = %u, delimiter = '%c', "
             "width = %u, item width = %u, print width = %u\n",
             i + 1, def.m_name.c_str(), def.m_justify, def.m_wrap, def.m_minWidth, def.m_maxWidth,
             def.m_delimiter != '\0' ? def.m_delimiter : ' ', def.m_width, def.m_maxItemWidth,
             def.m_printWidth);
  }
}

}  // namespace rc
