// The control channel's directory and peer checks, on real directories, sockets and processes
// (the tests run as root, so a child can become another user).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "comps/appcomps/acCtlChannel.h"
#include "comps/recomps/rcFd.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

using ac::CtlChannel;

constexpr uid_t kNobody = 65534;

TEST(CtlChannel, DirectoryMustBeOwnPrivateAndReal) {
  qvtest::TempDir tmp;
  const std::string good = tmp.mkdirs("good");
  chmod(good.c_str(), 0700);
  const std::string open = tmp.mkdirs("open");
  chmod(open.c_str(), 0755);
  const std::string other = tmp.mkdirs("other");
  chmod(other.c_str(), 0700);
  const bool asRoot = geteuid() == 0 && chown(other.c_str(), kNobody, kNobody) == 0;
  const std::string link = tmp.path() + "/link";
  ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
  struct Case {
    std::string path;
    std::string reason;  // "" when accepted
  } cases[] = {{good, ""},
               {open, "open to other users"},
               {link, "not a directory"},
               {tmp.writeFile("file", "x", 0600), "not a directory"},
               {asRoot ? other : open, asRoot ? "owned by user id 65534" : "open to other users"}};
  for (const Case& c : cases) {
    const rc::Err err = qvtest::thrownErr([&] { CtlChannel::checkDir(c.path); });
    EXPECT_EQ(err.code(), c.reason.empty() ? 0 : AC_SC_CTL_DIR_REFUSED) << c.path;
    if (!c.reason.empty()) {
      EXPECT_EQ(err.args()->asString(), c.path + ", " + c.reason);
    }
  }

  qvtest::ScopedEnv env;
  env.set("XDG_RUNTIME_DIR", tmp.path());
  EXPECT_EQ(CtlChannel::prepareDir(), tmp.path() + "/qvctl");
  struct stat st;
  ASSERT_EQ(stat((tmp.path() + "/qvctl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  env.set("QV_CTL_DIR", "qvctl.rel");
  EXPECT_EQ(qvtest::thrownErr(CtlChannel::prepareDir).args()->asString(),
            "qvctl.rel, not an absolute path");
}

// Live channels are listed, stale ones removed; a peer of another user is told apart.
TEST(CtlChannel, ListsLiveChannelsAndChecksPeers) {
  qvtest::TempDir tmp;
  chmod(tmp.path().c_str(), 0777);
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string mine = CtlChannel::socketPath(tmp.path(), "qvd", getpid());
  const std::string stale = CtlChannel::socketPath(tmp.path(), "qvd", dead);
  const int listener = CtlChannel::listenAt(mine);
  close(CtlChannel::listenAt(stale));
  tmp.writeFile("notes.txt", "");
  const auto live = CtlChannel::liveChannels(tmp.path());
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].program, "qvd");
  EXPECT_EQ(live[0].pid, getpid());
  EXPECT_NE(access(stale.c_str(), F_OK), 0);
  // The probe of mine waits in its backlog.
  close(accept(listener, nullptr, nullptr));

  chmod(mine.c_str(), 0666);
  for (uid_t uid : {geteuid(), kNobody}) {
    if (uid != geteuid() && geteuid() != 0) continue;
    const qvtest::ProcResult child = qvtest::runInChild([&] {
      if (uid != geteuid() && setuid(uid) != 0) _exit(2);
      // The credentials travel with the connection, which waits in the backlog.
      CtlChannel::connectTo(mine);
      _exit(0);
    });
    ASSERT_EQ(child.exitStatus, 0) << child.err;
    const int conn = accept(listener, nullptr, nullptr);
    uid_t peer = 1;
    EXPECT_EQ(CtlChannel::peerAllowed(conn, &peer), uid == geteuid());
    EXPECT_EQ(peer, uid);
    close(conn);
  }
  close(listener);
}

// A connect into a full backlog waits no longer than it is given.
TEST(CtlChannel, ConnectIntoAFullBacklogIsBounded) {
  qvtest::TempDir tmp;
  const rc::Fd listener(CtlChannel::listenAt(tmp.path() + "/full"));
  ASSERT_EQ(listen(listener.get(), 0), 0);
  const rc::Fd first(CtlChannel::connectTo(tmp.path() + "/full", 100));
  EXPECT_EQ(qvtest::thrownErr([&] { CtlChannel::connectTo(tmp.path() + "/full", 100); }).code2(),
            rc::Err::errnoCode(EAGAIN));
}

}  // namespace
