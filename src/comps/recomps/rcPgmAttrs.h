// Program attributes: the facts a program knows about itself. This holds the part the output
// facility needs today — the display label, the identity number and the hardware id from which
// the source prefix at the head of daemon lines is built. One process-wide instance reached
// through instance(); the hardware id is class-wide. Single-threaded; not for signal handlers.
#pragma once

namespace rc {

class PgmAttrs {
 public:
  enum { PATH_BUF_SIZE = 256, NAME_BUF_SIZE = 48, STD_SRC_PREFIX_LEN = 13 };

  static PgmAttrs* instance();

  // Copies the label (at most NAME_BUF_SIZE - 1 characters), stores the identity and rebuilds
  // the source prefix.
  void setPgmLabel(const char* pgmLabel, int identity);
  void setIdentity(int identity);
  // A new non-zero hardware id shows in the prefix from the next srcPrefix() call on.
  static void setHwId(int hwId) { s_hwId = hwId; }
  static int hwId() { return s_hwId; }

  // The label; null while it is empty.
  const char* pgmLabel() const { return m_pgmLabel[0] != '\0' ? m_pgmLabel : nullptr; }
  int identity() const { return m_identity; }
  // "(label.hwId.identity) ", leaving out the parts that are 0; always ends in one blank. A label
  // too long for the buffer is cut so that the numbers stay whole.
  const char* srcPrefix() const;

  PgmAttrs();
  PgmAttrs(const PgmAttrs&) = delete;
  PgmAttrs& operator=(const PgmAttrs&) = delete;

 private:
  void buildSrcPrefix() const;

  static int s_hwId;

  char m_pgmLabel[NAME_BUF_SIZE];
  // The prefix is a cache: srcPrefix() fills it lazily.
  mutable char m_srcPrefix[64];
  int m_identity;
  mutable int m_hwIdInSrcPrefix;
};

}  // namespace rc
