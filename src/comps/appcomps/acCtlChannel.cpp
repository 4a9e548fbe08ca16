#include "comps/appcomps/acCtlChannel.h"

#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFd.h"

namespace ac {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_CTL_DIR_REFUSED, rc::VarArgs() << path << why,
                        "appcomps/CtlChannel::checkDir"));
}

// The address of path; a path that does not fit is refused rather than cut.
sockaddr_un unixAddr(const std::string& path) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) refuse(path, "the path is too long for a socket");
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

rc::Fd unixSocket(int flags, const std::string& path, const char* routine) {
  rc::Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
  if (!fd.isOpen()) rc::Err_ThrowErrno(AC_SC_SOCKET_FAILED, rc::VarArgs() << path, errno, routine);
  return fd;
}

int connectRetrying(int fd, const sockaddr_un& addr) {
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// An empty value counts as unset, as for the other variables a shell may leave empty.
const char* ctlDirVar() {
  const char* dir = getenv("QV_CTL_DIR");
  return dir != nullptr && dir[0] != '\0' ? dir : nullptr;
}

std::string tmpDirOf(uid_t uid) { return "/tmp/qvctl-" + std::to_string(uid); }

}  // namespace

bool CtlChannel::processAlive(pid_t pid) {
  if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM)) return false;
  // A zombie still answers kill but will never serve its channel again. Its state follows the
  // command name, which may itself hold blanks and parentheses.
  char path[32];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* f = fopen(path, "re");
  if (f == nullptr) return true;
  char buf[512];
  const size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = '\0';
  const char* end = strrchr(buf, ')');
  return end == nullptr || end[1] != ' ' || (end[2] != 'Z' && end[2] != 'X');
}

std::string CtlChannel::dirPath() {
  if (const char* dir = ctlDirVar()) return dir;
  const char* runtimeDir = getenv("XDG_RUNTIME_DIR");
  if (runtimeDir != nullptr && runtimeDir[0] == '/') return std::string(runtimeDir) + "/qvctl";
  return tmpDirOf(geteuid());
}

std::string CtlChannel::dirPathOf(uid_t uid) {
  if (const char* dir = ctlDirVar()) return dir;
  // The other user's XDG_RUNTIME_DIR is not ours to read; this is where a login session puts it.
  const std::string runDir = "/run/user/" + std::to_string(uid) + "/qvctl";
  struct stat st;
  if (lstat(runDir.c_str(), &st) == 0) return runDir;
  return tmpDirOf(uid);
}

std::string CtlChannel::prepareDir() {
  const std::string path = dirPath();
  // checkDir refuses a relative path; it is not created first.
  const bool absolute = path[0] == '/';
  if (absolute && mkdir(path.c_str(), 0700) == 0) {
    // The creation mode went through the umask; the owner needs all three bits.
    chmod(path.c_str(), 0700);
  } else if (absolute && errno != EEXIST) {
    rc::Err_ThrowErrno(AC_SC_CTL_DIR_REFUSED, rc::VarArgs() << path << "cannot be created", errno,
                       "appcomps/CtlChannel::prepareDir");
  }
  checkDir(path);
  return path;
}

void CtlChannel::checkDir(const std::string& path, uid_t owner) {
  // A relative path would name another directory for a program started elsewhere.
  if (path[0] != '/') refuse(path, "not an absolute path");
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) refuse(path, strerror(errno));
  if (!S_ISDIR(st.st_mode)) refuse(path, "not a directory");
  if (st.st_uid != owner) refuse(path, "owned by user id " + std::to_string(st.st_uid));
  if ((st.st_mode & 077) != 0) refuse(path, "open to other users");
}

std::string CtlChannel::socketPath(const std::string& dir, const char* program, pid_t pid) {
  return dir + "/" + program + "." + std::to_string(pid);
}

int CtlChannel::listenAt(const std::string& path) {
  const char* routine = "appcomps/CtlChannel::listenAt";
  unixAddr(path);
  // Bound under a name no client lists and renamed into place once it listens: between bind and
  // listen a client would find it refusing connections and remove it as stale.
  const std::string boundPath = path + "~";
  const sockaddr_un addr = unixAddr(boundPath);
  unlink(boundPath.c_str());
  rc::Fd fd = unixSocket(SOCK_NONBLOCK, path, routine);
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    rc::Err_ThrowErrno(AC_SC_BIND_FAILED, rc::VarArgs() << path, errno, routine);
  chmod(boundPath.c_str(), 0600);
  // The rename replaces a socket left by an earlier process with this pid.
  if (listen(fd.get(), SOMAXCONN) != 0 || rename(boundPath.c_str(), path.c_str()) != 0) {
    const int savedErrno = errno;
    unlink(boundPath.c_str());
    rc::Err_ThrowErrno(AC_SC_LISTEN_FAILED, rc::VarArgs() << path, savedErrno, routine);
  }
  RC_TRACE(DM_IPC, DF_INIT, "control channel listening at %s\n", path.c_str());
  return fd.release();
}

int CtlChannel::connectTo(const std::string& path, int timeoutMs) {
  const char* routine = "appcomps/CtlChannel::connectTo";
  const sockaddr_un addr = unixAddr(path);
  rc::Fd fd = unixSocket(0, path, routine);
  if (timeoutMs >= 0) {
    // A local connect waits for the listener's backlog under the send time-out; 0 would be none.
    const timeval tv = {timeoutMs / 1000, timeoutMs > 0 ? (timeoutMs % 1000) * 1000 : 1};
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  if (connectRetrying(fd.get(), addr) != 0)
    rc::Err_ThrowErrno(AC_SC_CONNECT_FAILED, rc::VarArgs() << path << 0, errno, routine);
  return fd.release();
}

bool CtlChannel::peerAllowed(int fd, IpcPeer* peer, uid_t user) {
  struct ucred cred = {};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  if (peer != nullptr) *peer = {cred.pid, cred.uid};
  return cred.uid == user || cred.uid == 0;
}

bool CtlChannel::peerAllowed(int fd, uid_t* peerUid, uid_t user) {
  IpcPeer peer;
  const bool allowed = peerAllowed(fd, &peer, user);
  if (peerUid != nullptr && peer.uid != static_cast<uid_t>(-1)) *peerUid = peer.uid;
  return allowed;
}

bool CtlChannel::listening(const std::string& path) {
  // Nobody can connect to a path too long for an address.
  if (path.size() >= sizeof(sockaddr_un::sun_path)) return false;
  const sockaddr_un addr = unixAddr(path);
  // Non-blocking: a full backlog (EAGAIN) is a busy listener, not a reason to wait.
  const rc::Fd fd = unixSocket(SOCK_NONBLOCK, path, "appcomps/CtlChannel::listening");
  const bool refused =
      connectRetrying(fd.get(), addr) != 0 && (errno == ECONNREFUSED || errno == ENOENT);
  return !refused;
}

bool CtlChannel::parseName(const std::string& name, std::string* program, pid_t* pid) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size() || dot + 11 < name.size())
    return false;
  // At most ten digits: a 64-bit sum cannot overflow.
  int64_t value = 0;
  for (size_t i = dot + 1; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    value = value * 10 + (name[i] - '0');
  }
  if (value <= 0 || value > INT32_MAX) return false;
  *program = name.substr(0, dot);
  *pid = static_cast<pid_t>(value);
  return true;
}

std::vector<CtlChannel::Entry> CtlChannel::liveChannels(const std::string& dir, bool removeStale) {
  std::vector<Entry> live;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return live;
  while (const dirent* ent = readdir(d)) {
    Entry entry;
    if (!parseName(ent->d_name, &entry.program, &entry.pid)) continue;
    entry.path = dir + "/" + ent->d_name;
    struct stat st;
    if (lstat(entry.path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    if (processAlive(entry.pid) && listening(entry.path)) {
      live.push_back(entry);
    } else if (removeStale) {
      unlink(entry.path.c_str());
    }
  }
  closedir(d);
  std::sort(live.begin(), live.end(),
            [](const Entry& a, const Entry& b) { return a.path < b.path; });
  return live;
}

}  // namespace ac
