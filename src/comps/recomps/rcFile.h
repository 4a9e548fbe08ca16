// The framework's file handle and its path utilities.
//
// As an object, rc::File wraps one stdio stream opened on a named file (open), an inherited
// descriptor (fdopen) or a command run through the shell (popen). It is an output device, so
// whatever prints through a device can print into a file. The handle owns its stream and closes
// it when destroyed. Each operation comes twice: a reporting form ending in 2, which returns
// failure and stores the rc::Err into `err` when one is given and throws it otherwise, and a
// plain form that ignores failures. Errors name the file (for a pipe, the command) as their
// argument and carry errno | UNIX_ERRNO as the second code when a system call failed.
//
// The static functions answer questions about paths and build them. Both "/" and "\" count as
// separators when names are split; symbolic links are followed by expandLink/expandPathLinks.
// A null or empty name is never found, never a directory and has size 0.
//
// No locking: a handle belongs to one thread. Not for use in signal handlers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "comps/memcomps/base/memHeader.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOutDevice.h"

namespace rc {

class File : public OutDevice {
 public:
  enum FileType { FT_NONE = 0, FT_FILE = 1, FT_PIPE = 2 };

  explicit File(int references = 1);
  ~File() override;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // --- Opening. A stream still open is closed first (failures ignored).
  // An empty name opens standard input for mode "r" or "rb", standard output otherwise. With
  // createParentDir and a mode that writes, missing parent directories are created (mode 0777)
  // and the open is tried once more. Failure: RC_SC_OPEN_FAILED.
  bool open(const char* fileName, const char* mode, bool createParentDir, Err* err = nullptr);
  bool open(const char* fileName, const char* mode, Err* err = nullptr);
  bool fdopen(int fd, const char* mode, Err* err = nullptr);
  // Opens a file that is read as a whole, for reading: RC_SC_OPEN_FAILED, thrown as from routine,
  // also when the name is empty, or names no regular file or one larger than maxBytes (then with
  // a second code RC_SC_CERROR saying which).
  void openRegular(const char* fileName, long long maxBytes, const char* routine);
  // Runs command through the shell; the command stands for the file name in errors.
  // Failure: RC_SC_POPEN_FAILED.
  bool popen(const char* command, const char* mode, Err* err = nullptr);

  // --- Reading and writing. On a handle that is not open each fails with its own code and the
  // second code RC_SC_FILE_NOT_OPEN.
  // One line without its newline and one carriage return before it; the last line may lack the
  // newline. Null at the end of the file (err is then cleared) or on failure. A line that does
  // not fit bufSize fails with RC_SC_READ_FAILED and the second code RC_SC_BUF_TOO_SMALL; the
  // rest of that line is what the next call reads.
  char* readLine2(char* buf, int bufSize, Err* err = nullptr);
  // Whether err is readLine2's report of a line that did not fit its buffer.
  static bool isLineTooLong(const Err& err) {
    return err.code() == RC_SC_READ_FAILED && err.code2() == RC_SC_BUF_TOO_SMALL;
  }
  // Passes over the rest of the current line and its newline, so that a reader can skip a line
  // readLine2 found too long and go on with the next. False when the stream failed.
  bool skipLine();
  char* readLine(char* buf, int bufSize);
  // Up to n bytes; fewer only at the end of the file or on failure (RC_SC_READ_FAILED).
  size_t read2(void* buf, size_t n, Err* err = nullptr);
  size_t read(void* buf, size_t n);
  size_t write2(const void* buf, size_t n, Err* err = nullptr);
  size_t write(const void* buf, size_t n);
  bool print2(const char* str, Err* err = nullptr);
  void print(const char* str) override;
  // The severity is ignored: a file takes every message.
  void print(RcSeverity severity, const char* str) override;
  bool flush2(Err* err = nullptr);
  void flush() override;

  // --- Closing. The handle is closed even when closing fails. A handle that is not open closes
  // successfully. close2 on a pipe, or pclose2 on a file, fails an internal assertion.
  bool close2(Err* err = nullptr);
  void close();
  // Fails also when the command did not end with status 0 (RC_SC_PCLOSE_FAILED).
  bool pclose2(Err* err = nullptr);
  void pclose();

  bool isOpen() const override { return m_fd != nullptr; }
  bool isEof() const;
  // The size of the named file (0 for a pipe or descriptor).
  int64_t fileSize() const { return fileSize(m_fileName.c_str()); }
  FileType fileType() const { return m_fileType; }
  const std::string& fileName() const { return m_fileName; }

  // --- Path queries.
  // True also when the name cannot be examined for a reason other than its absence.
  static bool exists(const char* name);
  static bool isReadable(const char* name);
  // The owner may read and execute it.
  static bool isExecutable(const char* name);
  // The owner may write and search it.
  static bool isDirWriteExecutable(const char* name);
  static bool isDirectory(const char* name);
  // No entry besides "." and "..". Throws RC_SC_OPEN_FAILED or RC_SC_READ_FAILED.
  static bool IsEmptyDirectory(const char* name);
  static int64_t fileSize(const char* name);
  static time_t fileModTime(const char* name);
  // Starts with "/" or, with includeInitialDot, ".".
  static bool isFullPathName(const char* name, bool includeInitialDot = false);
  // Non-empty and starts with neither "/" nor "\" (includeInitialDot does not change this).
  static bool isRelativePathName(const char* name, bool includeInitialDot = false);
  static bool isPathName(const char* name);
  // Exactly "r".
  static bool isReadOnlyMode(const char* mode);

  // --- Path builders.
  // dir + "/" + name; no "/" is added after an empty dir or one ending in a separator.
  static std::string concatenatePath(const char* dir, const char* name);
  // Before the last separator; "/" when that is empty; "" without a separator.
  static std::string dirName(const char* path);
  // After the last separator (a pointer into path); the whole path without one.
  static const char* leafName(const char* path);
  // leafName, with dirName stored into dir.
  static const char* splitPath(const char* path, std::string* dir);
  // After the last "." of the leaf (a pointer into name); "" when the leaf has none.
  static const char* suffix(const char* name);
  // The name without the suffix and its ".".
  static std::string rootName(const char* name);
  // A malloc'ed copy without any "/"; the caller frees it.
  static char* stripSlash(const char* name);
  // When path names a symbolic link, replaces it with the link's target (relative targets are
  // taken from the link's directory) and returns true.
  static bool expandLink(std::string* path);
  // The path with every symbolic link on the way followed (at most 40 in a row: a loop of
  // links stops there and leaves a link in the result).
  static std::string expandPathLinks(const char* path);
  // expandPathLinks, then "." and ".." components and repeated separators removed.
  static std::string absolutePath(const char* path);
  // absolutePath of path taken from the current directory when it is relative.
  static std::string resolveRelativePath(const char* path);
  // A relative name found in the current directory or else along PATH: an existing
  // non-directory, executable when exeFlag. "" when none is found.
  static std::string findFile(const char* name, bool exeFlag);

  // --- Changes. Each reports like the reporting forms above.
  // An existing directory is success; with allParts missing parents are created first.
  // Failure, also for a non-directory in the way: RC_SC_MKDIR_FAILED.
  static bool createDir(const char* dir, bool allParts, mode_t mode, Err* err = nullptr);
  static bool deleteFile(const char* name, Err* err = nullptr);
  // A `to` without "/" is a new leaf name in the directory of `from`.
  static bool rename(const char* from, const char* to, Err* err = nullptr);

 private:
  FILE* stream() const { return m_fd; }
  // Stores or throws; returns false for the callers' convenience.
  static bool fail(Err* err, const Err& failure);
  // The failure of an operation on this handle: its code with the file name, and errno or the
  // not-open code as the second code.
  bool failOp(Err* err, int code, int code2, const char* routine) const;
  // failOp with the saved errno as the second code.
  bool failErrno(Err* err, int code, int savedErrno, const char* routine) const;
  bool notOpen(Err* err, int code, const char* routine) const;
  void forget();
  // Closes the stream of either kind, ignoring failures.
  void closeAny();

  enum { READ_BUF_SIZE = 65536 };

  FileType m_fileType;
  std::string m_fileName;
  // The stdio buffer of a file opened for reading only, a heap block with the handle's
  // attributes (taken when the handle is made); null until one is.
  char* m_readBuf;
  mem::AllocContext m_bufCtx;
};

}  // namespace rc
