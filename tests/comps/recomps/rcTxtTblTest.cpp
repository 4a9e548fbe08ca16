#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcTxtTbl.h"
#include "qvTestUtil.h"

namespace {

using rc::TxtTbl;

std::string render(const TxtTbl& tbl, unsigned int width) {
  std::string out;
  tbl.printTable(&out, width);
  return out;
}

using qvtest::failedAssertion;

// A server table with a plain column, a list column and a free-text column.
void fillServers(TxtTbl& tbl) {
  tbl.addColumn("Name");
  tbl.addColumn("Ports", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_ITEMS);
  tbl.addColumn("Description", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TEXT);
  tbl.append(1, "web");
  tbl.append(1, "80,443,8080");
  tbl.append(1, "front end server");
  tbl.append(2, "db");
  tbl.append(2, "5432");
  tbl.append(2, "primary database");
}

const char SERVERS_AT_24[] =
    "Name Ports Description\n"
    "---- ----- -------------\n"
    "web  80,   front end \n"
    "     443,  server\n"
    "     8080  \n"
    "db   5432  primary \n"
    "           database\n";

// Runs fn in a child whose standard output is a pseudo-terminal of the given width, and returns
// what fn wrote there.
std::string outputOnTerminal(unsigned short cols, const std::function<void()>& fn) {
  const qvtest::ProcResult res = qvtest::runInChild([cols, &fn] {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(2);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0) _exit(3);
    struct termios tio;
    tcgetattr(slave, &tio);
    tio.c_oflag &= ~OPOST;  // keep "\n" as written
    tcsetattr(slave, TCSANOW, &tio);
    struct winsize ws = {};
    ws.ws_col = cols;
    ws.ws_row = 24;
    if (ioctl(slave, TIOCSWINSZ, &ws) != 0) _exit(4);
    fflush(stdout);
    const int savedOut = dup(1);
    dup2(slave, 1);
    fn();
    fflush(stdout);
    dup2(savedOut, 1);
    close(savedOut);
    close(slave);
    std::string text;
    char buf[4096];
    struct pollfd pfd = {master, POLLIN, 0};
    while (poll(&pfd, 1, 100) > 0) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    close(master);
    fputs(text.c_str(), stdout);
  });
  EXPECT_EQ(res.exitStatus, 0) << res.err;
  return res.out;
}

}  // namespace

TEST(TxtTbl, SmallTablesPrintByteForByte) {
  TxtTbl port;
  port.addColumn("Port");
  port.appendInt(1, 5);
  port.appendInt(2, 80);
  port.appendInt(3, 8080);
  EXPECT_EQ(render(port, 0), "Port\n----\n5\n80\n8080\n");
  EXPECT_EQ(port.tableWidth(), 4u);
  EXPECT_EQ(render(port, 80), "Port\n----\n5\n80\n8080\n");

  TxtTbl two;
  two.addColumn("A");
  two.addColumn("B");
  two.append(1, "abc");
  two.append(1, "x");
  EXPECT_EQ(render(two, 0), "A   B\n--- -\nabc x\n");
  EXPECT_EQ(two.tableWidth(), 5u);
}

TEST(TxtTbl, ListsAndTextWrapWhenNarrowed) {
  TxtTbl list;
  list.addColumn("L", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_ITEMS);
  list.append(1, "a,b,c,d");
  EXPECT_EQ(render(list, 4), "L\n----\na,b,\nc,d\n");
  EXPECT_EQ(list.colDef(0).printWidth(), 4u);
  // Without a width, cells break only at their newlines.
  EXPECT_EQ(render(list, 0), "L      \n-------\na,b,c,d\n");

  TxtTbl text;
  text.addColumn("Text", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TEXT);
  text.append(1, "the quick brown fox");
  EXPECT_EQ(render(text, 10), "Text\n----------\nthe quick \nbrown fox\n");

  TxtTbl servers;
  fillServers(servers);
  EXPECT_EQ(render(servers, 24), SERVERS_AT_24);
  EXPECT_EQ(servers.tableWidth(), 24u);
  // Lists give way first, from the last column; the text keeps its width.
  EXPECT_EQ(render(servers, 30),
            "Name Ports    Description\n"
            "---- -------- ----------------\n"
            "web  80,443,  front end server\n"
            "     8080     \n"
            "db   5432     primary database\n");
  // Room enough: nothing wraps.
  EXPECT_EQ(render(servers, 100),
            "Name Ports       Description\n"
            "---- ----------- ----------------\n"
            "web  80,443,8080 front end server\n"
            "db   5432        primary database\n");
}

TEST(TxtTbl, TitlesWrapAtWordsAndItemsAlwaysStandAlone) {
  TxtTbl tbl;
  tbl.addColumn("Id");
  tbl.addColumn("Long column title");
  tbl.addColumn("Hosts", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_ITEMS_ALWAYS);
  tbl.append(1, "1");
  tbl.append(1, "ab");
  tbl.append(1, "alpha, beta,gamma");
  // The title column narrows to its longest word; the list column keeps one item per line.
  EXPECT_EQ(render(tbl, 16),
            "Id Long   Hosts\n"
            "   column \n"
            "   title  \n"
            "-- ------ -----\n"
            "1  ab     alpha\n"
            "          beta\n"
            "          gamma\n");

  // A list column narrower than its widest item cuts every item, delimiter included.
  TxtTbl cut;
  cut.addColumn("Hosts", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_ITEMS_ALWAYS, 0, 3);
  cut.append(1, "alpha,be");
  EXPECT_EQ(render(cut, 80), "Hos\nts\n---\nalp\nha,\nbe,\n");
}

TEST(TxtTbl, NarrowingHonoursLimitsAndNeverColumns) {
  // A column held at its minimum does not keep the other titles from narrowing.
  TxtTbl held;
  held.addColumn("x", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TITLE_ONLY, 20, 0);
  held.addColumn("Very wide title");
  held.append(1, "1");
  held.append(1, "2");
  const std::string pad(20, ' ');
  EXPECT_EQ(render(held, 26), "x" + pad + "Very \n" + pad + " wide \n" + pad + " title\n" +
                                  std::string(20, '-') + " -----\n" + "1" + pad + "2\n");

  // A column that never narrows makes the table wider than the room.
  TxtTbl never;
  never.addColumn("Path", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_NEVER);
  never.addColumn("Note", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TEXT);
  never.append(1, "/usr/local/share/doc");
  never.append(1, "some words");
  render(never, 10);
  EXPECT_EQ(never.colDef(0).printWidth(), 20u);
  EXPECT_EQ(never.colDef(1).printWidth(), 4u);
  EXPECT_EQ(never.tableWidth(), 25u);

  // A single-item list is not widened by the list narrowing.
  TxtTbl single;
  single.addColumn("a", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_ITEMS);
  single.addColumn("b", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_NEVER);
  single.append(1, "abc");
  single.append(1, "defgh");
  render(single, 5);
  EXPECT_EQ(single.colDef(0).printWidth(), 3u);

  // The table's maximum applies when the printer has no width or a wider one.
  TxtTbl capped;
  fillServers(capped);
  capped.setMaxWidth(24);
  EXPECT_EQ(render(capped, 0), SERVERS_AT_24);
  EXPECT_EQ(render(capped, 120), SERVERS_AT_24);
  EXPECT_EQ(render(capped, 30), SERVERS_AT_24);
  capped.setMaxWidth(40);
  TxtTbl plain;
  fillServers(plain);
  EXPECT_EQ(render(capped, 30), render(plain, 30));
}

TEST(TxtTbl, TableWidthFollowsTheTerminal) {
  TxtTbl servers;
  fillServers(servers);
  EXPECT_EQ(outputOnTerminal(24, [&servers] { servers.printTable(); }), SERVERS_AT_24);

  TxtTbl capped;
  fillServers(capped);
  capped.addColumn("Owner", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TEXT);
  capped.append(1, "the web team of the company");
  capped.setMaxWidth(40);
  EXPECT_EQ(outputOnTerminal(120, [&capped] { capped.printTable(); }), render(capped, 40));
  EXPECT_LE(capped.tableWidth(), 40u);

  // On a device that is no terminal the table is laid out without a width.
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  rc::OutDevice device(file, 1);
  servers.printTable(&device);
  fflush(file);
  rewind(file);
  std::string written(4096, '\0');
  written.resize(fread(written.data(), 1, written.size(), file));
  fclose(file);
  EXPECT_EQ(written, render(servers, 0));
  EXPECT_EQ(written.find('\n'), servers.tableWidth());
}

TEST(TxtTbl, PrintsToStandardOutputAndTheDebugFacility) {
  TxtTbl tbl;
  tbl.addColumn("Name");
  tbl.addColumn("Value", TxtTbl::RIGHT_JUSTIFY);
  tbl.addColumn("Unit");
  tbl.append(1, "cpu");
  tbl.appendInt(1, 4);
  tbl.append(1, "cores");
  tbl.append(2, "mem");
  tbl.appendUint64(2, 16384);
  tbl.append(2, "MB");
  tbl.append(3, "swap");
  tbl.appendInt(3, 0);
  tbl.append(3, "MB");

  const qvtest::ProcResult all = qvtest::runInChild([&tbl] { tbl.printTable(); });
  EXPECT_EQ(all.out,
            "Name Value Unit \n"
            "---- ----- -----\n"
            "cpu      4 cores\n"
            "mem  16384 MB\n"
            "swap     0 MB\n");

  // Selection in the given order, titles by number, and a filter on the unit column.
  rc::txtTbl_row_match mb;
  mb.add_match_filter(2, "MB");
  const qvtest::ProcResult some = qvtest::runInChild([&tbl, &mb] {
    tbl.printTable(std::vector<unsigned int>{3, 0, 1, 9}, {{3, "U"}}, mb);
  });
  // Widths still come from every row, not only the ones shown.
  EXPECT_EQ(some.out, "U     Name\n----- ----\nMB    mem\nMB    swap\n");

  // The same by name; an unknown name is skipped.
  const qvtest::ProcResult named = qvtest::runInChild([&tbl] {
    tbl.printTable(std::vector<std::string>{"Value", "Nope", "Name"}, {{"Name", "Resource"}});
  });
  EXPECT_EQ(named.out,
            "Value Resource\n"
            "----- --------\n"
            "    4 cpu\n"
            "16384 mem\n"
            "    0 swap\n");

  const qvtest::ProcResult dbg =
      qvtest::runInChild([&tbl] { tbl.printTable(rc::Dbg::instance(), 1); });
  EXPECT_EQ(dbg.out,
            "  Name Value Unit \n"
            "  ---- ----- -----\n"
            "  cpu      4 cores\n"
            "  mem  16384 MB\n"
            "  swap     0 MB\n");

  const qvtest::ProcResult dump = qvtest::runInChild([&tbl] { tbl.dumpObj(0, "t: "); });
  EXPECT_EQ(dump.out.rfind("t: TxtTbl [0x", 0), 0u) << dump.out;
  EXPECT_NE(dump.out.find("]: cols = 3, rows = 3, max width = 0\n  1. 'Name': justify = 1"),
            std::string::npos)
      << dump.out;

  // An empty selection prints nothing.
  const qvtest::ProcResult none = qvtest::runInChild([&tbl] {
    tbl.printTable(std::vector<unsigned int>{0, 7});
  });
  EXPECT_EQ(none.out, "");
  TxtTbl empty;
  EXPECT_EQ(render(empty, 80), "");
}

TEST(TxtTbl, CellsAreJustifiedAndCut) {
  TxtTbl tbl;
  tbl.addColumn("C", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TITLE_ONLY, 6, 6);
  tbl.addColumn("D", TxtTbl::AS_IS_JUSTIFY, TxtTbl::WRAP_TITLE_ONLY, 6, 6);
  tbl.setColsToPrint(nullptr);
  tbl.adjustForPrint(0);
  const rc::ColDef& left = tbl.colDef(0);
  const rc::ColDef& asIs = tbl.colDef(1);
  struct Case {
    const rc::ColDef* col;
    const char* text;
    TxtTbl::JustifyType justify;
    bool isLast;
    bool skipRtPad;
    const char* expected;
  } cases[] = {
      {&left, "ab", TxtTbl::LEFT_JUSTIFY, false, false, "ab     "},
      {&left, "ab", TxtTbl::LEFT_JUSTIFY, true, false, "ab    "},
      {&left, "ab", TxtTbl::LEFT_JUSTIFY, true, true, "ab"},
      {&left, "ab", TxtTbl::AS_IS_JUSTIFY, false, false, "ab     "},
      {&left, "ab", TxtTbl::RIGHT_JUSTIFY, false, false, "    ab "},
      {&left, "ab", TxtTbl::RIGHT_JUSTIFY, true, true, "    ab"},
      {&left, "ab", TxtTbl::CENTER_JUSTIFY, false, false, "  ab   "},
      {&left, "abc", TxtTbl::CENTER_JUSTIFY, true, true, " abc"},
      {&asIs, "ab", TxtTbl::AS_IS_JUSTIFY, true, false, "  ab  "},
      {&left, "abcdefgh", TxtTbl::LEFT_JUSTIFY, false, false, "abcdef "},
      {&left, "abcdefgh", TxtTbl::RIGHT_JUSTIFY, true, false, "abcdef"},
      {&left, "abcdefgh", TxtTbl::CENTER_JUSTIFY, true, true, "abcdef"},
      {&left, "", TxtTbl::LEFT_JUSTIFY, true, true, ""},
  };
  for (const Case& c : cases) {
    rc::CharBuf buf(64);
    c.col->print(buf, c.text, c.justify, c.isLast, c.skipRtPad);
    EXPECT_EQ(std::string(buf.str()), c.expected) << c.text << " justify " << c.justify;
  }
  // A line longer than the buffer is cut, never overrun.
  rc::CharBuf small(4);
  left.print(small, "abcdefgh", TxtTbl::LEFT_JUSTIFY, false, false);
  EXPECT_STREQ(small.str(), "abc");
  rc::CharBuf big(300);
  big.appendf("%0200d", 7);
  EXPECT_EQ(big.length(), 200u);
}

TEST(TxtTbl, CellRendering) {
  TxtTbl tbl;
  tbl.addColumn("T", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TEXT, 0, 5);
  tbl.append(1, "abcdefghijkl");
  tbl.setColsToPrint(nullptr);
  tbl.adjustForPrint(0);
  const rc::ColDef& col = tbl.colDef(0);
  ASSERT_EQ(col.printWidth(), 5u);
  struct Case {
    const char* value;
    TxtTbl::WrapType wrap;
    char delim;
    std::vector<std::string> lines;
  } cases[] = {
      {"abcdefghijkl", TxtTbl::WRAP_TEXT, 0, {"abcde", "fghij", "kl"}},
      {"ab cd ef", TxtTbl::WRAP_TEXT, 0, {"ab cd", "ef"}},
      {"ab cdef gh", TxtTbl::WRAP_TEXT, 0, {"ab ", "cdef ", "gh"}},
      {"abcde fg", TxtTbl::WRAP_TEXT, 0, {"abcde", "fg"}},
      {"ab   cdefgh", TxtTbl::WRAP_TEXT, 0, {"ab   ", "cdefg", "h"}},
      {"   abcdefg", TxtTbl::WRAP_TEXT, 0, {"   ab", "cdefg"}},
      {"ab\n\nc", TxtTbl::WRAP_TEXT, 0, {"ab", "", "c"}},
      {"abcd ", TxtTbl::WRAP_TEXT, 0, {"abcd "}},
      {"abcde ", TxtTbl::WRAP_TEXT, 0, {"abcde"}},
      {"", TxtTbl::WRAP_TEXT, 0, {""}},
      {"a b\nc", TxtTbl::WRAP_NEVER, 0, {"a b", "c"}},
      {"x;y; z", TxtTbl::WRAP_ITEMS_ALWAYS, ';', {"x", "y", "z"}},
      {" a , b ", TxtTbl::WRAP_ITEMS, 0, {"a,b"}},
      {"one two three", TxtTbl::WRAP_ITEMS, ' ', {"one ", "two ", "three"}},
      {"a,b\nc,d", TxtTbl::WRAP_ITEMS, 0, {"a,", "b", "c,d"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    col.renderCell(lines, c.value, c.wrap, c.delim);
    EXPECT_EQ(lines, c.lines) << "'" << c.value << "' wrap " << c.wrap;
  }
}

TEST(TxtTbl, WidthRules) {
  struct ItemCase {
    const char* value;
    char delim;
    unsigned int currmax;
    unsigned int expected;
  } items[] = {
      {"a, bbb ,cc", ',', 0, 3}, {"a, bbb ,cc", ',', 7, 7}, {"one  three\ttwo", ' ', 0, 5},
      {"a b,c", '\0', 0, 5},     {"", ',', 4, 4},           {nullptr, ',', 2, 2},
      {",,", ',', 0, 0},
  };
  for (const ItemCase& c : items) {
    EXPECT_EQ(rc::ColDef::maxItemWidth(c.value, c.delim, c.currmax), c.expected)
        << (c.value != nullptr ? c.value : "(null)") << " '" << c.delim << "'";
  }

  TxtTbl tbl;
  tbl.addColumn("List title", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_ITEMS);
  tbl.append(1, "ab,cdef\nlonger line here");
  const rc::ColDef& def = tbl.colDef(0);
  EXPECT_EQ(def.width(), 16u);
  EXPECT_EQ(def.maxItemWidth(), 21u);  // "cdef\nlonger line here" is one item
  EXPECT_EQ(def.getMinPrintWidth(), 22u);
  EXPECT_EQ(def.titleWordWidth(), 5u);

  // Widths: non-zero values are stored, capped; 0 leaves a limit alone.
  tbl.setColWidths(1, 5000, 0);
  EXPECT_EQ(def.minWidth(), 2048u);
  EXPECT_EQ(def.maxWidth(), 0u);
  tbl.setColWidths(1, 0, 30);
  EXPECT_EQ(def.minWidth(), 2048u);
  EXPECT_EQ(def.maxWidth(), 30u);
  tbl.setColsToPrint(nullptr);
  tbl.adjustForPrint(0);
  EXPECT_EQ(def.printWidth(), 30u);  // the maximum wins over the minimum
}

TEST(TxtTbl, ColumnsAndAttributesByName) {
  TxtTbl tbl;
  // Attributes set before the column exists are kept for it.
  tbl.setColJustify("Size", TxtTbl::RIGHT_JUSTIFY);
  tbl.setColWrap("Size", TxtTbl::WRAP_ITEMS, 3, 9);
  tbl.setColDelimiter("Size", ';');
  EXPECT_EQ(tbl.numCols(), 0u);
  EXPECT_EQ(tbl.addColumn("Name"), 1u);
  EXPECT_EQ(tbl.addColumn("Size"), 2u);
  const rc::ColDef& size = tbl.colDef(1);
  EXPECT_EQ(size.justify(), TxtTbl::RIGHT_JUSTIFY);
  EXPECT_EQ(size.wrap(), TxtTbl::WRAP_ITEMS);
  EXPECT_EQ(size.minWidth(), 3u);
  EXPECT_EQ(size.maxWidth(), 9u);
  EXPECT_EQ(size.delimiter(), ';');
  EXPECT_EQ(size.title(), "Size");
  EXPECT_EQ(tbl.colDef(0).justify(), TxtTbl::LEFT_JUSTIFY);

  // A name that exists now changes the column itself.
  tbl.setColJustify("Name", TxtTbl::CENTER_JUSTIFY);
  EXPECT_EQ(tbl.colDef(0).justify(), TxtTbl::CENTER_JUSTIFY);

  // setColAttrs extends the table with default columns up to the position.
  tbl.setColAttrs(4, "Size", TxtTbl::LEFT_JUSTIFY, 5000);
  ASSERT_EQ(tbl.numCols(), 4u);
  EXPECT_EQ(tbl.colDef(2).name(), "<name_not_set>");
  EXPECT_EQ(tbl.colDef(2).title(), "<title_not_set>");
  EXPECT_EQ(tbl.colDef(3).delimiter(), ';');
  EXPECT_EQ(tbl.colDef(3).justify(), TxtTbl::LEFT_JUSTIFY);
  EXPECT_EQ(tbl.colDef(3).maxWidth(), 2048u);
  EXPECT_EQ(tbl.getColNumber("Size"), 4u);  // the highest-numbered one
  EXPECT_EQ(tbl.getColNumber("size"), 0u);
  // The row store takes a cell for every column.
  for (int i = 0; i < 4; ++i) tbl.append(1, "v");
}

TEST(TxtTbl, RowsAndTypedValues) {
  TxtTbl tbl;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g"}) tbl.addColumn(name);
  tbl.appendIp(2, 0x0100007Fu);
  tbl.appendInt(2, -12, "%05d");
  tbl.appendUint(2, 4000000000u);
  tbl.appendInt64(2, -5000000000LL);
  tbl.appendUint64(2, 18000000000000000000ULL);
  tbl.appendFloat(2, 1.5f, "%.2f");
  tbl.appendBool(2, false);
  EXPECT_EQ(tbl.numRows(), 2u);
  EXPECT_EQ(tbl.row(1), nullptr);  // skipped over
  const rc::StrVec* row = tbl.row(2);
  ASSERT_NE(row, nullptr);
  const std::vector<std::string> expected = {
      "127.0.0.1", "-0012", "4000000000", "-5000000000", "18000000000000000000", "1.50", "no"};
  ASSERT_EQ(row->entries(), expected.size());
  for (unsigned int i = 0; i < expected.size(); ++i) EXPECT_EQ((*row)[i], expected[i]);
  EXPECT_STREQ((*row)[7], "<rc::StrVec index too big>");
  EXPECT_EQ(tbl.colDef(4).width(), 20u);

  // setRow replaces the cells and widens the columns.
  rc::VarArgs vals;
  vals << "x"
       << "a much longer value";
  tbl.setRow(2, vals);
  EXPECT_EQ(tbl.row(2)->entries(), 2u);
  EXPECT_EQ(tbl.colDef(1).width(), 19u);

  // A skipped row prints as an empty line, a short row with empty cells.
  TxtTbl gaps;
  gaps.addColumn("k");
  gaps.addColumn("v");
  gaps.append(2, "key");
  gaps.append(3, "k3");
  gaps.append(3, "v3");
  EXPECT_EQ(render(gaps, 0), "k   v \n--- --\n\nkey \nk3  v3\n");
  EXPECT_EQ(gaps.getCompleteRow(2), "key \n");
  EXPECT_EQ(gaps.getCompleteRow(1), "");
  EXPECT_EQ(gaps.getCompleteRow(9), "");
  EXPECT_EQ(gaps.getTitles(), "k   v \n");
  EXPECT_EQ(gaps.getDivider(), "--- --\n");

  // A fresh layout resets rows to an empty store.
  gaps.setDimensions(2, 4);
  EXPECT_EQ(gaps.numRows(), 0u);
}

TEST(TxtTbl, RowFilter) {
  rc::StrVec row;
  row.append("alpha");
  row.append(nullptr);
  row.append("gamma");
  struct Case {
    std::vector<std::pair<int, std::string>> filter;
    bool matches;
  } cases[] = {
      {{}, true},
      {{{0, "alpha"}}, true},
      {{{0, "alph"}}, false},
      {{{0, "alpha"}, {2, "gamma"}}, true},
      {{{0, "alpha"}, {2, "Gamma"}}, false},
      {{{1, ""}}, true},
      {{{5, "<rc::StrVec index too big>"}}, true},
      {{{-1, "alpha"}}, false},
  };
  for (const Case& c : cases) {
    rc::txtTbl_row_match match;
    for (const auto& [col, value] : c.filter) match.add_match_filter(col, value);
    EXPECT_EQ(match.empty(), c.filter.empty());
    EXPECT_EQ(match(&row), c.matches) << c.filter.size();
    match.clear();
    EXPECT_TRUE(match(&row));
  }
  rc::txtTbl_row_match any;
  any.add_match_filter(0, "alpha");
  EXPECT_FALSE(any(nullptr));
}

TEST(TxtTbl, ZeroWidthColumnStillTerminates) {
  // The layout was made while the column was empty; a later value must not stall the wrap.
  TxtTbl tbl;
  tbl.addColumn("", TxtTbl::LEFT_JUSTIFY, TxtTbl::WRAP_TEXT);
  tbl.append(1, "");
  EXPECT_EQ(render(tbl, 10), "\n\n\n");
  tbl.append(2, "abc");
  // One character per line, each cut to the width of 0.
  EXPECT_EQ(tbl.getCompleteRow(2), "\n\n\n");
}

TEST(TxtTbl, MisuseFailsAssertions) {
  TxtTbl tbl;
  tbl.addColumn("a");
  struct Case {
    std::function<void()> fn;
    const char* condition;
  } cases[] = {
      {[&] { tbl.append(0, "x"); }, "rowNum > 0"},
      {[&] { tbl.setColJustify(2u, TxtTbl::LEFT_JUSTIFY); },
       "colNum > 0 && colNum <= m_colDefs.size()"},
      {[&] { tbl.setColWidths(0u, 1, 1); }, "colNum > 0 && colNum <= m_colDefs.size()"},
      {[&] { tbl.addColumn(nullptr); }, "colName != 0"},
      {[&] { tbl.setColWrap(static_cast<const char*>(nullptr), TxtTbl::WRAP_TEXT); },
       "colName != 0"},
      {[&] { tbl.setColAttrs(0, "a", TxtTbl::LEFT_JUSTIFY, 0); }, "colNum > 0 && colName"},
      {[&] { tbl.colDef(1); }, "i < m_colDefs.size()"},
      {[&] { tbl.row(1); }, "rowNum > 0 && rowNum <= m_rows.size()"},
      {[&] { tbl.getCompleteRow(1); }, "bufSize > 0"},
      {[&] {
         tbl.setColsToPrint(std::vector<std::string>{"zz"});
         tbl.adjust(10);
       },
       "m_colsToPrint.size()"},
      {[&] {
         tbl.append(1, "x");
         tbl.append(1, "y");
       },
       "nVals < m_numCols"},
  };
  for (const Case& c : cases) EXPECT_EQ(failedAssertion(c.fn), c.condition);

  rc::VarArgs tooMany;
  tooMany << "1"
          << "2";
  EXPECT_EQ(failedAssertion([&] { tbl.setRow(2, tooMany); }), "rowVals.entries () <= m_numCols");
}

TEST(TxtTbl, RowsAndBuffersLiveOnTheTypedHeap) {
  TxtTbl tbl;
  const std::string longName(40, 'n');
  tbl.addColumn(longName.c_str());
  tbl.addColumn("v");
  tbl.append(1, "a");
  tbl.append(1, "b");
  const rc::StrVec* row = tbl.row(1);
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(mem::validateBlock(row, mt_strvec));
  EXPECT_TRUE(mem::validateBlock(tbl.colDef(0).name().c_str(), mt_rc_string));
  EXPECT_EQ(tbl.colDef(0).title(), longName.c_str());

  // A line longer than the object's own room goes to a heap block; a short one stays inside.
  rc::CharBuf small(rc::CharBuf::STACK_BUF_SIZE);
  EXPECT_FALSE(mem::validateBlock(small.str(), mt_anonymous));
  rc::CharBuf large(rc::CharBuf::STACK_BUF_SIZE + 1);
  EXPECT_TRUE(mem::validateBlock(large.str(), mt_anonymous));
  large.appendf("%0*d", 200, 7);
  EXPECT_EQ(large.length(), static_cast<size_t>(rc::CharBuf::STACK_BUF_SIZE));
  EXPECT_EQ(std::string(large.str()), std::string(128, '0'));

  // setRow copies the argument list's strings, lengths included.
  rc::VarArgs vals;
  vals << "x" << std::string("with\0nul", 8);
  tbl.setRow(3, vals);
  ASSERT_NE(tbl.row(3), nullptr);
  EXPECT_EQ(tbl.row(3)->strLen(1), 8u);
  EXPECT_TRUE(mem::validateBlock(tbl.row(3), mt_strvec));
}
