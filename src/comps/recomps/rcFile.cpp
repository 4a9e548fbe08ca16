#include "comps/recomps/rcFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcOs.h"

namespace rc {

namespace {

// The kernel's own limit on links followed while resolving one path.
constexpr int kMaxLinkHops = 40;
// The longest link target followed.
constexpr size_t kMaxLinkTarget = 2047;

bool isSep(char c) { return c == '/' || c == '\\'; }

const char* lastSep(const char* path) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (isSep(*p)) last = p;
  }
  return last;
}

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

bool statOf(const char* name, struct stat64* st) {
  return name != nullptr && name[0] != '\0' && stat64(name, st) == 0;
}

bool ownerHas(const char* name, mode_t bits) {
  struct stat64 st;
  return statOf(name, &st) && (st.st_mode & bits) == bits;
}

// One left-to-right pass over the path: each component is appended and, when the path so far
// is a link, replaced by its target. hopsLeft bounds the links followed.
std::string expandPathOnce(const std::string& path, int* hopsLeft, bool* followed) {
  std::string result;
  size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    result.push_back('/');
    i = 1;
  }
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) {
      if (!result.empty() && result.back() != '/') result += '/';
      result.append(path, i, j - i);
      if (*hopsLeft > 0 && File::expandLink(&result)) {
        --*hopsLeft;
        *followed = true;
      }
    }
    i = j + 1;
  }
  return result;
}

// For a "..": takes the last component away from out (which ends in a separator) when out
// is longer than two characters with a separator before its end and that component is not
// itself a ".." that was kept. Returns whether it did.
bool dropLastComponent(std::string* out) {
  if (out->size() <= 2) return false;
  size_t pos = out->size() - 1;
  while (pos > 0 && !isSep((*out)[pos - 1])) --pos;
  if (pos == 0) return false;
  if (std::string_view(*out).substr(pos, out->size() - 1 - pos) == "..") return false;
  out->erase(pos);
  return true;
}

std::string normalisePath(const std::string& path) {
  std::string out;
  const size_t n = path.size();
  size_t i = 0;
  if (n >= 2 && path[0] == '\\' && path[1] == '\\') {
    out = "\\\\";
    i = 2;
  } else if (n >= 1 && isSep(path[0])) {
    out += path[0];
    i = 1;
  }
  while (i < n && isSep(path[i])) ++i;
  const size_t rootLen = out.size();
  while (i < n) {
    size_t j = i;
    while (j < n && !isSep(path[j])) ++j;
    const std::string_view comp = std::string_view(path).substr(i, j - i);
    if (comp == "." || (comp == ".." && dropLastComponent(&out))) {
      // Dropped.
    } else {
      out += comp;
      if (j < n) out += path[j];
    }
    i = j;
    while (i < n && isSep(path[i])) ++i;
  }
  if (out.size() > rootLen && isSep(out.back())) out.pop_back();
  return out;
}

// Copies characters of one line from fp into buf, at most room of them, up to and including the
// newline (*newLine tells whether it was reached); returns the count. Stops early at the end of
// the stream or on an error. The stream is a handle's own: no other thread uses it.
size_t takeLine(FILE* fp, char* buf, size_t room, bool* newLine) {
  size_t len = 0;
  while (len < room) {
#ifdef __GLIBC__
    // Whole runs straight out of the stream's buffer, as the C library's own getline does.
    if (fp->_IO_read_ptr < fp->_IO_read_end) {
      const size_t avail =
          std::min(static_cast<size_t>(fp->_IO_read_end - fp->_IO_read_ptr), room - len);
      const char* nl = static_cast<const char*>(memchr(fp->_IO_read_ptr, '\n', avail));
      const size_t take = nl != nullptr ? static_cast<size_t>(nl - fp->_IO_read_ptr) + 1 : avail;
      memcpy(buf + len, fp->_IO_read_ptr, take);
      fp->_IO_read_ptr += take;
      len += take;
      if (nl != nullptr) {
        *newLine = true;
        return len;
      }
      continue;
    }
#endif
    // One character, which also refills an empty buffer.
    const int c = getc_unlocked(fp);
    if (c == EOF) break;
    buf[len++] = static_cast<char>(c);
    if (c == '\n') {
      *newLine = true;
      break;
    }
  }
  return len;
}

std::string currentDir() { return orEmpty(Os::currentDir()); }

}  // namespace

File::File(int references)
    : OutDevice(nullptr, references), m_fileType(FT_NONE), m_readBuf(nullptr), m_bufCtx(this) {}

File::~File() {
  closeAny();
  mem::freeBlock(m_readBuf);
}

void File::forget() {
  setFd(nullptr);
  m_fileType = FT_NONE;
}

bool File::fail(Err* err, const Err& failure) {
  if (err == nullptr) Err_Throw(failure);
  *err = failure;
  return false;
}

bool File::failOp(Err* err, int code, int code2, const char* routine) const {
  return fail(err,
              Err(RC_ERROR, code, VarArgs() << m_fileName, code2, VarArgs::NO_VARARGS, routine));
}

bool File::failErrno(Err* err, int code, int savedErrno, const char* routine) const {
  return fail(err, Err::fromErrno(code, VarArgs() << m_fileName, savedErrno, routine));
}

bool File::notOpen(Err* err, int code, const char* routine) const {
  return failOp(err, code, RC_SC_FILE_NOT_OPEN, routine);
}

// --- Opening ---

void File::closeAny() {
  if (m_fileType == FT_PIPE) {
    pclose();
  } else if (m_fileType == FT_FILE) {
    close();
  }
}

bool File::open(const char* fileName, const char* mode, bool createParentDir, Err* err) {
  closeAny();
  m_fileName = orEmpty(fileName);
  if (mode == nullptr) return failErrno(err, RC_SC_OPEN_FAILED, EINVAL, nullptr);
  FILE* fp = nullptr;
  if (m_fileName.empty()) {
    fp = (strcmp(mode, "r") == 0 || strcmp(mode, "rb") == 0) ? stdin : stdout;
  } else {
    fp = fopen64(m_fileName.c_str(), mode);
    if (fp == nullptr && errno == ENOENT && createParentDir && !isReadOnlyMode(mode)) {
      const std::string parent = dirName(m_fileName.c_str());
      Err dirErr;
      if (!parent.empty() && !createDir(parent.c_str(), true, 0777, &dirErr)) {
        // The directory's failure says why the file could not be made.
        return failOp(err, RC_SC_OPEN_FAILED, dirErr.code2(), nullptr);
      }
      fp = fopen64(m_fileName.c_str(), mode);
    }
    if (fp == nullptr) return failErrno(err, RC_SC_OPEN_FAILED, errno, nullptr);
  }
  if (fp != stdin && fp != stdout && mode[0] == 'r' && strchr(mode, '+') == nullptr) {
    // Files are mostly read whole, line by line: a larger buffer than stdio's default saves
    // most of the system calls. The buffer outlives the stream (it is kept for the next open).
    if (m_readBuf == nullptr) {
      m_readBuf = static_cast<char*>(mem::allocBlock(READ_BUF_SIZE, m_bufCtx));
    }
    setvbuf(fp, m_readBuf, _IOFBF, READ_BUF_SIZE);
  }
  setFd(fp);
  m_fileType = FT_FILE;
  return true;
}

bool File::open(const char* fileName, const char* mode, Err* err) {
  return open(fileName, mode, false, err);
}

void File::openRegular(const char* fileName, long long maxBytes, const char* routine) {
  if (fileName == nullptr || *fileName == '\0') {
    // An empty name would read standard input.
    Err_ThrowErrno(RC_SC_OPEN_FAILED, VarArgs() << "", ENOENT, routine);
  }
  // A FIFO without a writer would block the program in open for ever, and a device such as
  // /dev/urandom never ends: only a regular file of a sensible size is read as a whole.
  struct stat st;
  if (stat(fileName, &st) == 0) {
    char tooLarge[64];
    snprintf(tooLarge, sizeof tooLarge, "larger than the %lld MB limit", maxBytes >> 20);
    const char* refusal = !S_ISREG(st.st_mode)    ? "not a regular file"
                          : st.st_size > maxBytes ? tooLarge
                                                  : nullptr;
    if (refusal != nullptr) {
      Err_Throw(Err(RC_ERROR, RC_SC_OPEN_FAILED, VarArgs() << fileName, RC_SC_CERROR,
                    VarArgs() << refusal, routine));
    }
  }
  open(fileName, "r");
}

bool File::fdopen(int fd, const char* mode, Err* err) {
  closeAny();
  FILE* fp = mode != nullptr ? ::fdopen(fd, mode) : nullptr;
  if (fp == nullptr) {
    return failErrno(err, RC_SC_OPEN_FAILED, (mode != nullptr ? errno : EINVAL), nullptr);
  }
  setFd(fp);
  m_fileType = FT_FILE;
  return true;
}

bool File::popen(const char* command, const char* mode, Err* err) {
  closeAny();
  m_fileName = orEmpty(command);
  // Output still buffered here would reach the command's output after its own.
  fflush(nullptr);
  FILE* fp = (command != nullptr && mode != nullptr) ? ::popen(command, mode) : nullptr;
  if (fp == nullptr) {
    const int savedErrno = (command != nullptr && mode != nullptr) ? errno : EINVAL;
    return fail(err,
                Err::fromErrno(RC_SC_POPEN_FAILED, VarArgs() << m_fileName, savedErrno, nullptr));
  }
  setFd(fp);
  m_fileType = FT_PIPE;
  return true;
}

// --- Reading and writing ---

char* File::readLine2(char* buf, int bufSize, Err* err) {
  const char* routine = "recomps/File::readLine2";
  if (!isOpen()) {
    notOpen(err, RC_SC_READ_FAILED, routine);
    return nullptr;
  }
  auto tooSmall = [&] {
    fail(err, Err(RC_ERROR, RC_SC_READ_FAILED, VarArgs() << m_fileName, RC_SC_BUF_TOO_SMALL,
                  VarArgs() << bufSize, routine));
    return nullptr;
  };
  auto readFailed = [&] {
    failErrno(err, RC_SC_READ_FAILED, errno, routine);
    return nullptr;
  };
  if (buf == nullptr || bufSize < 2) return tooSmall();
  FILE* fp = stream();
  const size_t room = static_cast<size_t>(bufSize) - 1;
  bool newLine = false;
  size_t len = takeLine(fp, buf, room, &newLine);
  buf[len] = '\0';
  if (newLine) {
    buf[--len] = '\0';
  } else if (len == room) {
    // A full buffer: the line fitted only if its newline or the end of the file comes next.
    const int next = getc_unlocked(fp);
    if (next == EOF && ferror(fp)) return readFailed();
    if (next != EOF && next != '\n') {
      ungetc(next, fp);
      return tooSmall();
    }
  } else if (ferror(fp)) {
    return readFailed();
  } else if (len == 0) {
    if (err != nullptr) err->clear();
    return nullptr;
  }
  // Otherwise the line ended the file without a newline.
  if (len > 0 && buf[len - 1] == '\r') buf[--len] = '\0';
  return buf;
}

bool File::skipLine() {
  if (!isOpen()) return false;
  FILE* fp = stream();
  int c = 0;
  while ((c = getc_unlocked(fp)) != EOF && c != '\n') {
  }
  return !ferror(fp);
}

char* File::readLine(char* buf, int bufSize) {
  Err ignored;
  return readLine2(buf, bufSize, &ignored);
}

size_t File::read2(void* buf, size_t n, Err* err) {
  const char* routine = "recomps/File::read2";
  if (!isOpen()) {
    notOpen(err, RC_SC_READ_FAILED, routine);
    return 0;
  }
  if (n == 0) return 0;
  FILE* fp = stream();
  size_t got = 0;
  do {
    got = fread(buf, 1, n, fp);
  } while (got == 0 && !feof(fp) && !ferror(fp));
  if (got < n && ferror(fp)) failErrno(err, RC_SC_READ_FAILED, errno, routine);
  return got;
}

size_t File::read(void* buf, size_t n) {
  Err ignored;
  return read2(buf, n, &ignored);
}

size_t File::write2(const void* buf, size_t n, Err* err) {
  const char* routine = "recomps/File::write2";
  if (!isOpen()) {
    notOpen(err, RC_SC_WRITE_FAILED, routine);
    return 0;
  }
  if (n == 0) return 0;
  const size_t put = fwrite(buf, 1, n, stream());
  if (put < n) failErrno(err, RC_SC_WRITE_FAILED, errno, routine);
  return put;
}

size_t File::write(const void* buf, size_t n) {
  Err ignored;
  return write2(buf, n, &ignored);
}

bool File::print2(const char* str, Err* err) {
  const char* routine = "recomps/File::print2";
  if (!isOpen()) return notOpen(err, RC_SC_PRINT_FAILED, routine);
  if (str == nullptr || str[0] == '\0') return true;
  if (fputs(str, stream()) == EOF) return failErrno(err, RC_SC_PRINT_FAILED, errno, routine);
  return true;
}

void File::print(const char* str) {
  Err ignored;
  print2(str, &ignored);
}

void File::print(RcSeverity /*severity*/, const char* str) { print(str); }

bool File::flush2(Err* err) {
  const char* routine = "recomps/File::flush2";
  if (!isOpen()) return notOpen(err, RC_SC_FLUSH_FAILED, routine);
  if (fflush(stream()) != 0) return failErrno(err, RC_SC_FLUSH_FAILED, errno, routine);
  return true;
}

void File::flush() {
  Err ignored;
  flush2(&ignored);
}

// --- Closing ---

bool File::close2(Err* err) {
  if (!isOpen()) return true;
  RC_ASSERT(m_fileType == FT_FILE);
  FILE* fp = stream();
  forget();
  if (fclose(fp) != 0) return failErrno(err, RC_SC_CLOSE_FAILED, errno, nullptr);
  return true;
}

void File::close() {
  Err ignored;
  close2(&ignored);
}

bool File::pclose2(Err* err) {
  if (!isOpen()) return true;
  RC_ASSERT(m_fileType == FT_PIPE);
  FILE* fp = stream();
  forget();
  const int status = ::pclose(fp);
  if (status == -1) return failErrno(err, RC_SC_PCLOSE_FAILED, errno, nullptr);
  // A command that failed has no operating-system error to add.
  if (status != 0) return failOp(err, RC_SC_PCLOSE_FAILED, 0, nullptr);
  return true;
}

void File::pclose() {
  Err ignored;
  pclose2(&ignored);
}

bool File::isEof() const { return isOpen() && feof(stream()) != 0; }

// --- Path queries ---

bool File::exists(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  struct stat64 st;
  // ENOTDIR: a component on the way is not a directory, so nothing of that name can exist.
  return stat64(name, &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool File::isReadable(const char* name) {
  return name != nullptr && name[0] != '\0' && access(name, R_OK) == 0;
}

bool File::isExecutable(const char* name) { return ownerHas(name, S_IRUSR | S_IXUSR); }

bool File::isDirWriteExecutable(const char* name) { return ownerHas(name, S_IWUSR | S_IXUSR); }

bool File::isDirectory(const char* name) {
  struct stat64 st;
  return statOf(name, &st) && S_ISDIR(st.st_mode);
}

bool File::IsEmptyDirectory(const char* name) {
  DIR* dir = name != nullptr ? opendir(name) : nullptr;
  if (dir == nullptr) {
    const int savedErrno = name != nullptr ? errno : ENOENT;
    Err_Throw(Err::fromErrno(RC_SC_OPEN_FAILED, VarArgs() << orEmpty(name), savedErrno, nullptr));
  }
  bool empty = true;
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      const int savedErrno = errno;
      closedir(dir);
      if (savedErrno != 0) {
        Err_Throw(Err::fromErrno(RC_SC_READ_FAILED, VarArgs() << name, savedErrno, nullptr));
      }
      return empty;
    }
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      empty = false;
      closedir(dir);
      return empty;
    }
  }
}

int64_t File::fileSize(const char* name) {
  struct stat64 st;
  return statOf(name, &st) ? static_cast<int64_t>(st.st_size) : 0;
}

time_t File::fileModTime(const char* name) {
  struct stat64 st;
  return statOf(name, &st) ? st.st_mtime : 0;
}

bool File::isFullPathName(const char* name, bool includeInitialDot) {
  return name != nullptr && (name[0] == '/' || (includeInitialDot && name[0] == '.'));
}

bool File::isRelativePathName(const char* name, bool /*includeInitialDot*/) {
  return name != nullptr && name[0] != '\0' && name[0] != '/' && name[0] != '\\';
}

bool File::isPathName(const char* name) { return name != nullptr && strchr(name, '/') != nullptr; }

bool File::isReadOnlyMode(const char* mode) { return mode != nullptr && strcmp(mode, "r") == 0; }

// --- Path builders ---

std::string File::concatenatePath(const char* dir, const char* name) {
  std::string path = orEmpty(dir);
  if (!path.empty() && !isSep(path.back())) path += '/';
  return path += orEmpty(name);
}

std::string File::dirName(const char* path) {
  if (path == nullptr) return "";
  const char* last = lastSep(path);
  if (last == nullptr) return "";
  return last == path ? std::string("/") : std::string(path, last);
}

const char* File::leafName(const char* path) {
  if (path == nullptr) return "";
  const char* last = lastSep(path);
  return last != nullptr ? last + 1 : path;
}

const char* File::splitPath(const char* path, std::string* dir) {
  RC_ASSERT(dir);
  *dir = dirName(path);
  return leafName(path);
}

const char* File::suffix(const char* name) {
  const char* leaf = leafName(name);
  const char* dot = strrchr(leaf, '.');
  return dot != nullptr ? dot + 1 : leaf + strlen(leaf);
}

std::string File::rootName(const char* name) {
  if (name == nullptr) return "";
  const char* dot = strrchr(leafName(name), '.');
  return dot != nullptr ? std::string(name, dot) : std::string(name);
}

char* File::stripSlash(const char* name) {
  if (name == nullptr) return nullptr;
  char* copy = static_cast<char*>(malloc(strlen(name) + 1));
  if (copy == nullptr) return nullptr;
  char* out = copy;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p != '/') *out++ = *p;
  }
  *out = '\0';
  return copy;
}

bool File::expandLink(std::string* path) {
  if (path == nullptr || path->empty()) return false;
  struct stat64 st;
  if (lstat64(path->c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char target[kMaxLinkTarget + 1];
  const ssize_t n = readlink(path->c_str(), target, sizeof target);
  // A target that fills the buffer may have been cut: better not followed than followed wrongly.
  if (n <= 0 || static_cast<size_t>(n) > kMaxLinkTarget) return false;
  std::string resolved(target, static_cast<size_t>(n));
  while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
  if (resolved[0] != '/')
    resolved = concatenatePath(dirName(path->c_str()).c_str(), resolved.c_str());
  *path = std::move(resolved);
  return true;
}

std::string File::expandPathLinks(const char* path) {
  std::string current = orEmpty(path);
  while (current.size() > 1 && current.back() == '/') current.pop_back();
  int hopsLeft = kMaxLinkHops;
  for (;;) {
    bool followed = false;
    std::string expanded = expandPathOnce(current, &hopsLeft, &followed);
    if (!followed || hopsLeft == 0) return expanded;
    current = std::move(expanded);
  }
}

std::string File::absolutePath(const char* path) { return normalisePath(expandPathLinks(path)); }

std::string File::resolveRelativePath(const char* path) {
  if (!isRelativePathName(path)) return absolutePath(path);
  return absolutePath((currentDir() + "/" + path).c_str());
}

std::string File::findFile(const char* name, bool exeFlag) {
  if (!isRelativePathName(name)) return "";
  auto fits = [&](const std::string& candidate) {
    struct stat64 st;
    if (!statOf(candidate.c_str(), &st) || S_ISDIR(st.st_mode)) return false;
    return !exeFlag || (st.st_mode & (S_IRUSR | S_IXUSR)) == (S_IRUSR | S_IXUSR);
  };
  std::string candidate = concatenatePath(currentDir().c_str(), name);
  if (fits(candidate)) return candidate;
  const char* pathVar = getenv("PATH");
  const std::string_view searchPath = pathVar != nullptr ? pathVar : "";
  size_t start = 0;
  while (start < searchPath.size()) {
    size_t end = searchPath.find(':', start);
    if (end == std::string_view::npos) end = searchPath.size();
    const std::string dir(searchPath.substr(start, end - start));
    candidate = concatenatePath(dir.c_str(), name);
    if (fits(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

// --- Changes ---

bool File::createDir(const char* dir, bool allParts, mode_t mode, Err* err) {
  const char* routine = "recomps/File::createDir";
  std::string path = orEmpty(dir);
  if (isDirectory(path.c_str())) return true;
  if (exists(path.c_str())) {
    // Something other than a directory holds the name: mkdir would only say EEXIST, which
    // must not pass for success.
    return fail(err, Err::fromErrno(RC_SC_MKDIR_FAILED, VarArgs() << path, EEXIST, routine));
  }
  if (allParts) {
    if (path.size() > 1 && isSep(path.back())) path.pop_back();
    const std::string parent = dirName(path.c_str());
    if (!parent.empty() && !exists(parent.c_str()) && !createDir(parent.c_str(), true, mode, err)) {
      return false;
    }
  }
  if (mkdir(path.c_str(), mode) != 0) {
    const int savedErrno = errno;
    // Another process may have made it in the meantime.
    if (!isDirectory(path.c_str())) {
      return fail(err, Err::fromErrno(RC_SC_MKDIR_FAILED, VarArgs() << path, savedErrno, routine));
    }
  }
  return true;
}

bool File::deleteFile(const char* name, Err* err) {
  if (unlink(orEmpty(name)) != 0) {
    const int savedErrno = errno;
    return fail(
        err, Err::fromErrno(RC_SC_UNLINK_FAILED, VarArgs() << orEmpty(name), savedErrno, nullptr));
  }
  return true;
}

bool File::rename(const char* from, const char* to, Err* err) {
  const char* source = orEmpty(from);
  const std::string target = (to != nullptr && strchr(to, '/') == nullptr)
                                 ? concatenatePath(dirName(source).c_str(), to)
                                 : std::string(orEmpty(to));
  if (::rename(source, target.c_str()) != 0) {
    const int savedErrno = errno;
    return fail(err, Err::fromErrno(RC_SC_RENAME_FAILED, VarArgs() << source << target, savedErrno,
                                    nullptr));
  }
  return true;
}

// --- byte streams -----------------------------------------------------------------------------

// The byte stream's file operations live here, with the file layer they use. They report every
// failure through their result; the errors the file layer raises are kept from the caller.

namespace {

constexpr mem::AllocContext kStrmBufContext{mt_rc_byte_strm_buf};
constexpr size_t kTextLineBufSize = 2048;

}  // namespace

bool ByteStrm::writeToFile(const char* fileName) const {
  Err err;
  File file(1);
  if (!file.open(fileName, "wb", &err)) return false;
  const size_t nBytes = size();
  const bool written = nBytes == 0 || file.write2(buffer(), nBytes, &err) == nBytes;
  return file.close2(&err) && written;
}

bool ByteStrm::readFromFile(const char* fileName) {
  // A missing file is a failure, an empty one reads nothing.
  const int64_t fileBytes = File::exists(fileName) ? File::fileSize(fileName) : -1;
  if (fileBytes < 0 || static_cast<uint64_t>(fileBytes) > SIZE_MAX) return false;
  if (fileBytes == 0) return true;
  Err err;
  File file(1);
  if (!file.open(fileName, "rb", &err)) return false;
  const size_t nBytes = static_cast<size_t>(fileBytes);
  void* tmp = mem::allocBlock(nBytes, kStrmBufContext);
  err.clear();
  const size_t nRead = file.read2(tmp, nBytes, &err);
  const bool ok = err.code() == 0;
  try {
    if (nRead != 0) writeBytes(tmp, nRead, false);
  } catch (...) {
    mem::freeBlock(tmp);
    throw;
  }
  mem::freeBlock(tmp);
  return ok;
}

bool ByteStrm::restoreFromTextFile(const char* fileName) {
  // A missing file is a failure, an empty one reads nothing.
  const int64_t fileBytes = File::exists(fileName) ? File::fileSize(fileName) : -1;
  if (fileBytes < 0) return false;
  if (fileBytes == 0) return true;
  Err err;
  File file(1);
  if (!file.open(fileName, "r", &err)) return false;
  char line[kTextLineBufSize];
  // The reader drops the newline and a carriage return before it. A line longer than the buffer
  // fails the operation, but only that line is lost.
  bool allRead = true;
  for (;;) {
    if (file.readLine2(line, sizeof line, &err) != nullptr) {
      writeStr(line, strlen(line));
    } else if (File::isLineTooLong(err) && file.skipLine()) {
      allRead = false;
    } else {
      return allRead && err.code() == 0;
    }
  }
}

bool Os::makeDirPath(const char* path, Err* err) { return File::createDir(path, true, 0700, err); }

}  // namespace rc
