// Text tables: rows of text laid out in aligned columns under a title line and a divider of
// dashes, printed to standard output, an output device, the debug facility or a string. When the
// table is wider than the room it is printed in, columns are narrowed in a fixed order of
// preference and their contents wrapped (titles at word boundaries, lists at their delimiters,
// free text at white space) rather than cut off; a table that still does not fit prints wider.
//
// The table owns its column definitions and its rows. Columns are numbered from 1 in the public
// interface; rows are numbered from 1. The selection, the titles and the layout are state of the
// table changed by const operations, so a const table can still be printed in several ways.
// Misuse (row 0, too many cells, a bad column number, a null name, a layout without a selected
// column) fails an internal assertion (rc::IntnlErr). Not thread-safe; not for signal handlers.
//
// Each row is an rc::StrVec; the row store, the column definitions and their names live on the
// typed heap (tables have no memory type of their own: mt_anonymous).
#pragma once

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcVarArgs.h"

namespace rc {

class Dbg;
class OutDevice;

// The enumerations of a table, shared by the table and its column definitions.
struct TxtTblTypes {
  enum JustifyType {
    // Passed to printing: the column's own setting. As a column's setting: centred.
    AS_IS_JUSTIFY = 0,
    LEFT_JUSTIFY = 1,
    CENTER_JUSTIFY = 2,
    RIGHT_JUSTIFY = 3
  };
  enum WrapType {
    WRAP_TITLE_ONLY = 0,    // the title may wrap; cells break only at their own newlines
    WRAP_ITEMS = 1,         // a delimited list, items packed onto lines when narrowed
    WRAP_ITEMS_ALWAYS = 2,  // a delimited list, one item per line
    WRAP_TEXT = 3,          // free text broken at white space
    WRAP_NEVER = 4          // never narrowed; breaks only at newlines
  };
};

// A line buffer: small lines live in the object, longer ones in a heap block allocated with the
// object's attributes. Writes past the end are cut, never overrun.
class CharBuf {
 public:
  enum { STACK_BUF_SIZE = 128 };

  explicit CharBuf(size_t size);
  ~CharBuf();
  CharBuf(const CharBuf&) = delete;
  CharBuf& operator=(const CharBuf&) = delete;

  const char* str() const { return m_buf; }
  size_t size() const { return m_size; }
  size_t length() const { return m_len; }
  void clear();
  void appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

 private:
  char* m_buf;
  size_t m_size;
  size_t m_len = 0;
  char m_stackBuf[STACK_BUF_SIZE];
};

// One column: its attributes, the widths measured from the values appended to it, and the width
// chosen by the last layout.
class ColDef : public TxtTblTypes {
 public:
  enum { MAX_COL_W = 2048 };

  ColDef();

  const String& name() const { return m_name; }
  const String& title() const { return m_title; }
  JustifyType justify() const { return m_justify; }
  WrapType wrap() const { return m_wrap; }
  unsigned int minWidth() const { return m_minWidth; }
  unsigned int maxWidth() const { return m_maxWidth; }
  char delimiter() const { return m_delimiter; }
  unsigned int maxItemWidth() const { return m_maxItemWidth; }
  unsigned int width() const { return m_width; }
  unsigned int printWidth() const { return m_printWidth; }

  // Widens the column to the value's longest line and, for list columns, its widest item.
  void updateWidth(const char* value);
  // The larger of currmax and the value's widest item: with a blank delimiter the longest word,
  // with 0 the whole value, otherwise the longest piece between delimiters without surrounding
  // white space.
  static unsigned int maxItemWidth(const char* value, char delim, unsigned int currmax);

  // Print-width rules; each returns the new print width.
  unsigned int resetPrintWidth();
  unsigned int adjustPrintWidth();
  unsigned int setPrintWidth(unsigned int w);
  unsigned int getMinPrintWidth() const;
  // The longest word of the title.
  unsigned int titleWordWidth() const;

  // The lines value takes in the print width under the given wrap; delimiter 0 means the
  // column's own.
  void renderCell(std::vector<std::string>& lines, const char* value, WrapType wrap,
                  char delimiter = 0) const;
  // Appends one cell line, cut to the print width and justified (AS_IS_JUSTIFY: the column's
  // own), followed by the separator blank unless it is the last column. skipRtPad leaves out the
  // blanks after the text.
  void print(CharBuf& dst, const char* text, JustifyType justify, bool isLastCol,
             bool skipRtPad) const;

 private:
  friend class TxtTbl;

  unsigned int cap() const {
    return m_maxWidth != 0 ? m_maxWidth : static_cast<unsigned int>(MAX_COL_W);
  }
  unsigned int clampWidth(unsigned int w) const;
  // Non-zero limits are stored, capped at MAX_COL_W.
  void setWidths(unsigned int minWidth, unsigned int maxWidth);

  String m_name;
  JustifyType m_justify;
  WrapType m_wrap;
  unsigned int m_minWidth;
  unsigned int m_maxWidth;
  char m_delimiter;
  unsigned int m_maxItemWidth;
  unsigned int m_width;
  String m_title;
  unsigned int m_printWidth;
};

// The rows of a table, each an owned rc::StrVec of cells in column order (a cell index past the
// end reads as "<rc::StrVec index too big>"). Rows are numbered from 1; a row skipped over (a
// later row was written first) is null.
class RowVec : public mem::newDelete<mt_anonymous> {
 public:
  enum { INITIAL_ROW_CAPACITY = 32 };

  RowVec();
  RowVec(unsigned int numCols, unsigned int rowCapacity);
  ~RowVec();
  RowVec(const RowVec&) = delete;
  RowVec& operator=(const RowVec&) = delete;

  unsigned int numCols() const { return m_numCols; }
  void setNumCols(unsigned int numCols) { m_numCols = numCols; }
  unsigned int numRows() const { return static_cast<unsigned int>(m_rows.size()); }

  // Appends a cell to the row, creating it when needed; returns the 0-based column it landed in.
  unsigned int append(unsigned int rowNum, const char* value);
  // Replaces the row's cells with the arguments' strings.
  const StrVec& setRow(unsigned int rowNum, const VarArgs& rowVals);
  const StrVec* row(unsigned int rowNum) const;

 private:
  StrVec& rowForWrite(unsigned int rowNum);

  unsigned int m_numCols;
  std::vector<StrVec*, mem::stlAlloc<StrVec*>> m_rows;
};

// Row filter: accepts a row when, for every entry, the cell at that 0-based column holds exactly
// the given text. An empty filter accepts every row.
class txtTbl_row_match {
 public:
  void add_match_filter(int colIndex, std::string value);
  void clear() { v_matchFieldAndValues.clear(); }
  bool empty() const { return v_matchFieldAndValues.empty(); }
  bool operator()(const StrVec* row) const;

  std::map<int, String, std::less<int>, mem::stlAlloc<std::pair<const int, String>>>
      v_matchFieldAndValues;
};

// Printers: where the lines of a table go and how wide the room is (0: no limit).
class StdoutPrinter {
 public:
  void print(const char* line);
  // The terminal's width; 0 when standard output is not a terminal.
  unsigned int width() const;
};

class StringPrinter {
 public:
  StringPrinter(std::string* str, unsigned int width) : _str(str), _width(width) {}
  void print(const char* line) { _str->append(line); }
  unsigned int width() const { return _width; }

 private:
  std::string* _str;
  unsigned int _width;
};

class DbgPrinter {
 public:
  DbgPrinter(Dbg* dbg, int indentLvl) : m_dbg(dbg), m_indentLvl(indentLvl) {}
  void print(const char* line);
  unsigned int width() const { return 0; }

 private:
  Dbg* m_dbg;
  int m_indentLvl;
};

class OutDevicePrinter {
 public:
  explicit OutDevicePrinter(OutDevice* device) : m_device(device) {}
  void print(const char* line);
  // The device's terminal width; 0 when it is not a terminal.
  unsigned int width() const;

 private:
  OutDevice* m_device;
};

class TxtTbl : public TxtTblTypes {
 public:
  TxtTbl();
  ~TxtTbl();
  TxtTbl(const TxtTbl&) = delete;
  TxtTbl& operator=(const TxtTbl&) = delete;

  // Columns. Each addColumn starts from the definition kept under the name, if any, and returns
  // the new column's number.
  unsigned int addColumn(const char* colName);
  unsigned int addColumn(const char* colName, JustifyType justify);
  unsigned int addColumn(const char* colName, JustifyType justify, WrapType wrap);
  unsigned int addColumn(const char* colName, JustifyType justify, WrapType wrap,
                         unsigned int minWidth, unsigned int maxWidth);
  // Non-zero limits are stored, capped at ColDef::MAX_COL_W; 0 leaves a limit unchanged.
  void setColWidths(unsigned int colNum, unsigned int minWidth, unsigned int maxWidth);
  void setColWrap(unsigned int colNum, WrapType wrap, unsigned int minWidth = 0,
                  unsigned int maxWidth = 0);
  void setColJustify(unsigned int colNum, JustifyType justify);
  void setColDelimiter(unsigned int colNum, char delimiter);
  // Defines column colNum (adding default columns up to it) from the definition kept under
  // colName, names it and applies justify and maxWidth.
  void setColAttrs(unsigned int colNum, const char* colName, JustifyType justify,
                   unsigned int maxWidth);
  // By name: the column of that name, or else a definition kept for a later addColumn.
  void setColWidths(const char* colName, unsigned int minWidth, unsigned int maxWidth);
  void setColWrap(const char* colName, WrapType wrap, unsigned int minWidth = 0,
                  unsigned int maxWidth = 0);
  void setColJustify(const char* colName, JustifyType justify);
  void setColDelimiter(const char* colName, char delimiter);
  // The highest-numbered column of exactly that name, or 0.
  unsigned int getColNumber(std::string name) const;

  void setMaxWidth(unsigned int maxWidth) { m_maxWidth = maxWidth; }
  unsigned int getMaxWidth() const { return m_maxWidth; }
  unsigned int numCols() const { return static_cast<unsigned int>(m_colDefs.size()); }
  unsigned int numRows() const { return m_rows->numRows(); }
  // The total width of the last layout.
  unsigned int tableWidth() const { return m_printWidth; }
  // 0-based.
  const ColDef& colDef(unsigned int i) const;
  // Replaces the rows with an empty store of that shape.
  void setDimensions(unsigned int numCols, unsigned int rowCapacity);

  // Rows. Each append adds the next cell of the row (null is the empty string).
  void append(unsigned int rowNum, const char* value);
  void appendInt(unsigned int rowNum, int value, const char* fmt = "%d");
  void appendUint(unsigned int rowNum, unsigned int value, const char* fmt = "%u");
  void appendInt64(unsigned int rowNum, int64_t value, const char* fmt = "%" PRId64);
  void appendUint64(unsigned int rowNum, uint64_t value, const char* fmt = "%" PRIu64);
  void appendFloat(unsigned int rowNum, float value, const char* fmt = "%g");
  // An IPv4 address held with its first byte lowest.
  void appendIp(unsigned int rowNum, unsigned int ipAddr);
  void appendBool(unsigned int rowNum, bool value, const char* trueStr = "yes",
                  const char* falseStr = "no");
  void setRow(unsigned int rowNum, const VarArgs& rowVals);
  // Null for a row that was skipped over.
  const StrVec* row(unsigned int rowNum) const;
  void updateColWidths(const StrVec& row);

  // Selection: null selects all columns; unknown numbers and names are skipped.
  void setColsToPrint(const std::vector<unsigned int>* cols) const;
  void setColsToPrint(const std::vector<std::string>& cols) const;
  // Titles of the selected columns: the one given for the column, else its name.
  void setColTitles(const std::map<unsigned int, std::string>* titles) const;
  void setColTitles(const std::map<std::string, std::string>& titles) const;

  // Standard output, laid out for the terminal's width (or the table's maximum).
  void printTable() const;
  void printTable(const std::vector<unsigned int>& cols) const;
  void printTable(const std::vector<unsigned int>& cols,
                  const std::map<unsigned int, std::string>& titles) const;
  void printTable(const std::vector<unsigned int>& cols,
                  const std::map<unsigned int, std::string>& titles,
                  const txtTbl_row_match& filter) const;
  void printTable(const std::vector<std::string>& cols) const;
  void printTable(const std::vector<std::string>& cols,
                  const std::map<std::string, std::string>& titles) const;
  void printTable(const std::vector<std::string>& cols,
                  const std::map<std::string, std::string>& titles,
                  const txtTbl_row_match& filter) const;
  void printTable(OutDevice* device) const;
  void printTable(Dbg* dbg, int indentLvl) const;
  // Appends the table to str, laid out for width (0: no limit).
  void printTable(std::string* str, unsigned int width) const;

  // Pieces of the last layout, each line ending with a newline.
  std::string getTitles() const;
  std::string getDivider() const;
  // Empty for a missing row; asserts that a layout was made.
  std::string getCompleteRow(int rowNum) const;

  void adjust(unsigned int availableWidth) const;
  void adjustForPrint(unsigned int printWidth) const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  ColDef& col(unsigned int colNum) const;
  ColDef* colByName(const char* colName);
  void appendFormatted(unsigned int rowNum, const char* fmt, ...)
      __attribute__((format(printf, 3, 4)));
  void measureItems(ColDef& def, unsigned int colIdx) const;
  unsigned int printedWidth() const;

  // All columns, titled by their names.
  void selectAll() const;
  template <class Printer>
  void printTbl(Printer& printer, const txtTbl_row_match* filter) const;
  // Lines of the printed columns side by side, as many as the tallest column has.
  template <class Printer>
  void printBlock(Printer& printer, CharBuf& buf,
                  const std::vector<std::vector<std::string>>& colLines, JustifyType justify) const;
  template <class Printer>
  void printTitles(Printer& printer, CharBuf& buf) const;
  template <class Printer>
  void printDivider(Printer& printer, CharBuf& buf) const;
  template <class Printer>
  void printRow(Printer& printer, CharBuf& buf, unsigned int rowNum) const;

  unsigned int m_maxWidth;
  mutable std::vector<ColDef, mem::stlAlloc<ColDef>> m_colDefs;
  // Looked up by const char* without building a String first.
  std::map<String, ColDef, std::less<>, mem::stlAlloc<std::pair<const String, ColDef>>>
      m_colDefsByName;
  RowVec* m_rows;
  mutable unsigned int m_printWidth;
  mutable std::vector<unsigned int, mem::stlAlloc<unsigned int>> m_colsToPrint;
  // What the last layout was made for: whether there was one, and its available width.
  mutable bool m_laidOut;
  mutable unsigned int m_layoutWidth;
};

}  // namespace rc
