// Following a program's output: FollowCall turns the connection it comes on into a follower,
// switching on the debug modules and flags it carries first (an empty record switches nothing);
// the reply carries the controls then in force. From then on the program sends the lines it writes
// on that connection as one-way TraceLinesMsg frames, several lines a frame, each with the count
// of lines lost for that follower since the frame before (it fell behind); a frame without lines
// tells a quiet follower that the program is still there.
//
// TraceLines holds the lines of one frame already in their wire form (per line: its kind, int
// 0 trace or 1 log, then the text as a string), so that appending a line is one copy; a restored
// batch also has them as values. Its wire form is the line count (int) and the lines; a count
// that more bytes than are left could not hold, a kind outside the two, and a cut raise
// RC_SC_READ_FAILED. Not thread-safe.
#pragma once

#include <string>
#include <vector>

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcLineTap.h"

namespace ac {

class TraceLines : public mem::newDelete<mt_anonymous> {
 public:
  struct Line {
    rc::LineKind kind;
    std::string text;
  };
  // The bytes of a line besides its text, and the longest text sent (longer ones are cut).
  enum : size_t { LINE_OVERHEAD = 12, MAX_TEXT = 64 * 1024 };

  // Appends a line (with a newline after text when addNewline); len bytes of text.
  void append(rc::LineKind kind, const char* text, size_t len, bool addNewline = false);
  // The wire bytes held, and the number of lines.
  size_t bytes() const { return m_wire.size(); }
  int count() const { return m_count; }
  bool empty() const { return m_count == 0; }
  void clear();
  void swap(TraceLines& other) noexcept;
  // The lines of a restored batch.
  const std::vector<Line>& lines() const { return m_lines; }

  void saveOn(rc::ByteStrm& s) const;
  void restoreFrom(rc::ByteStrm& s);
  size_t binarySize() const { return 4 + m_wire.size(); }
  // "lines = <n>" and each line quoted, at indentLvl + 1.
  void dumpObj(int indentLvl, const char* label) const;

 private:
  std::string m_wire;
  int m_count = 0;
  std::vector<Line> m_lines;
};

class TraceLinesMsg : public IpcMsgOf<TraceLinesMsg, 3, IpcMsgHdr> {
 public:
  static constexpr const char* kMsgName = "TraceLinesMsg";
  explicit TraceLinesMsg(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  TraceLinesMsg(const TraceLinesMsg& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_dropped(src.m_dropped), m_lines(src.m_lines) {}

  // The dropped count (int), then the lines.
  auto fields() { return msgFields(msgField(m_dropped, "dropped"), msgField(m_lines)); }

  int dropped() const { return m_dropped; }
  void setDropped(int dropped) { m_dropped = dropped; }
  TraceLines& lines() { return m_lines; }
  const TraceLines& lines() const { return m_lines; }

 private:
  int m_dropped = 0;
  TraceLines m_lines;
};

class FollowReply : public IpcMsgOf<FollowReply, 1026, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "FollowReply";
  FollowReply() = default;
  explicit FollowReply(const rc::DbgCtrls& dbgCtrls) : m_dbgCtrls(dbgCtrls) {}
  FollowReply(const FollowReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_dbgCtrls(src.m_dbgCtrls) {}

  auto fields() { return msgFields(msgField(m_dbgCtrls)); }
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const rc::DbgCtrls& dbgCtrls() const { return m_dbgCtrls; }

 private:
  rc::DbgCtrls m_dbgCtrls;
};

// Only the modules and flags of the record are used.
class FollowCall : public IpcMsgOf<FollowCall, 1025, IpcMsgHdr, FollowReply> {
 public:
  static constexpr const char* kMsgName = "FollowCall";
  explicit FollowCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId), m_dbgCtrls(RC_B_AS_IS) {}
  FollowCall(short dstPgmId, const rc::DbgCtrls& dbgCtrls)
      : IpcMsgOf(dstPgmId), m_dbgCtrls(dbgCtrls) {}
  FollowCall(const FollowCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_dbgCtrls(src.m_dbgCtrls) {}

  auto fields() { return msgFields(msgField(m_dbgCtrls)); }

  const rc::DbgCtrls& dbgCtrls() const { return m_dbgCtrls; }

 private:
  rc::DbgCtrls m_dbgCtrls;
};

}  // namespace ac
