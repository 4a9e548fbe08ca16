// The control channel's rendezvous: the per-user directory where every framework program that
// opens a control channel listens on a Unix-domain socket named "<program>.<pid>", and the
// checks that keep other users out.
//
// The directory is "$QV_CTL_DIR" when that variable is set (for services whose /tmp is private),
// else "$XDG_RUNTIME_DIR/qvctl" when that variable holds an absolute path, else
// "/tmp/qvctl-<uid>". It is created with mode 0700 and refused (AC_SC_CTL_DIR_REFUSED with the
// path and the reason) when it is not an absolute path or a real directory, is owned by another
// user or is open to group or others, so nobody else can plant or replace sockets in it. Sockets
// get mode 0600, and every accepted connection's peer credentials must be the same user or root
// (peerAllowed).
//
// A socket is stale when its process no longer exists, or exists but nothing listens on the
// socket (its pid was reused after the program died without removing it). A socket is bound
// under a temporary name and renamed into place once it listens, so a starting program is never
// taken for a stale one.
//
// Descriptors returned are close-on-exec; the caller owns them. System-call failures raise
// rc::Err with errno (AC_SC_SOCKET_FAILED, AC_SC_BIND_FAILED, AC_SC_LISTEN_FAILED,
// AC_SC_CONNECT_FAILED). Process-wide state: none. Not for signal handlers.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "comps/appcomps/acIpcMsgProto.h"

namespace ac {

class CtlChannel {
 public:
  struct Entry {
    std::string program;
    pid_t pid;
    std::string path;
  };

  // The directory this user's channels live in (not checked).
  static std::string dirPath();
  // Where the programs of user uid put their channels, as another user (root) finds them:
  // "$QV_CTL_DIR", else "/run/user/<uid>/qvctl" when it exists, else "/tmp/qvctl-<uid>".
  static std::string dirPathOf(uid_t uid);
  // Creates the directory when missing, then checks it; returns its path.
  static std::string prepareDir();
  // Raises AC_SC_CTL_DIR_REFUSED unless path is a directory of owner closed to others.
  static void checkDir(const std::string& path, uid_t owner = geteuid());
  static std::string socketPath(const std::string& dir, const char* program, pid_t pid);

  // A non-blocking listening socket at path; a leftover file there is replaced.
  static int listenAt(const std::string& path);
  // A blocking connection to the socket at path. A listener whose backlog is full makes the
  // connect wait for room, at most timeoutMs when that is not negative (then AC_SC_CONNECT_FAILED
  // with EAGAIN).
  static int connectTo(const std::string& path, int timeoutMs = -1);
  // Whether the peer of a connected socket is user (this one by default) or root; its uid in
  // *peerUid.
  static bool peerAllowed(int fd, uid_t* peerUid, uid_t user = geteuid());
  // The same, with the peer's pid and uid (as they were when it connected) in *peer.
  static bool peerAllowed(int fd, IpcPeer* peer, uid_t user = geteuid());
  // False when nothing listens on the socket at path (or it is gone); never waits. It connects
  // and closes at once: a listening program sees a connection that ends before any frame.
  static bool listening(const std::string& path);

  // Whether pid names a process that exists and has not exited (a zombie has); a process of
  // another user counts.
  static bool processAlive(pid_t pid);
  // The channels in dir that are not stale, in name order; stale ones are removed when
  // removeStale (only a user's own directory is cleaned).
  static std::vector<Entry> liveChannels(const std::string& dir, bool removeStale = true);
  // Splits "<program>.<pid>"; false for any other name.
  static bool parseName(const std::string& name, std::string* program, pid_t* pid);
};

}  // namespace ac
