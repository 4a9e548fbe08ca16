#include "qvSshServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace qvtest {

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

int removeEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

void sleepMs(long ms) {
  const timespec ts = {ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&ts, nullptr);
}

bool toAddr(const std::string& address, int port, sockaddr_in* addr) {
  *addr = {};
  addr->sin_family = AF_INET;
  addr->sin_port = htons(static_cast<uint16_t>(port));
  // Nothing but the loopback network is ever contacted.
  return inet_pton(AF_INET, address.c_str(), &addr->sin_addr) == 1 &&
         (ntohl(addr->sin_addr.s_addr) >> 24) == 127;
}

// A port free on the address now (the kernel's choice), 0 when none could be had.
int freePort(const std::string& address) {
  sockaddr_in addr;
  if (!toAddr(address, 0, &addr)) return 0;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  socklen_t len = sizeof addr;
  const bool got = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                   getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  if (fd >= 0) close(fd);
  return got ? ntohs(addr.sin_port) : 0;
}

bool accepts(const std::string& address, int port) {
  sockaddr_in addr;
  if (!toAddr(address, port, &addr)) return false;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  return static_cast<bool>(file.flush());
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  for (int ms = 0; waitpid(pid, &status, WNOHANG) == 0; ms += 10) {
    if (ms == 5000) kill(pid, SIGKILL);
    sleepMs(10);
  }
}

}  // namespace

SshServers::SshServers(const std::vector<std::vector<std::string>>& addresses) {
  char dir[] = "/tmp/qvssh.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    m_whyNot = "no temporary directory";
    return;
  }
  m_dir = dir;
  if (access(kSshd, X_OK) != 0) {
    m_whyNot = std::string(kSshd) + " is not installed (Debian package openssh-server)";
    return;
  }
  if (geteuid() == 0) mkdir("/run/sshd", 0755);
  for (const char* key : {"host_key", "id"}) {
    const pid_t pid = spawn(
        {"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", m_dir + "/" + key}, "");
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
      m_whyNot = "ssh-keygen failed";
      return;
    }
  }
  std::ifstream pub(m_dir + "/id.pub");
  const std::string key((std::istreambuf_iterator<char>(pub)), std::istreambuf_iterator<char>());
  if (!writeFile(m_dir + "/authorized_keys", key) ||
      !writeFile(m_dir + "/ssh_config",
                 "Host *\n  IdentityFile " + m_dir + "/id\n  IdentitiesOnly yes\n" +
                     "  UserKnownHostsFile " + m_dir + "/known_hosts\n" +
                     "  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking no\n" +
                     "  LogLevel ERROR\n" +
                     // The post-quantum exchange, the default, costs most of a loopback login's
                     // CPU time; the classic one leaves the time to what is measured.
                     "  KexAlgorithms curve25519-sha256\n")) {
    m_whyNot = "cannot write the client configuration";
    return;
  }
  m_servers.resize(addresses.size());
  for (size_t k = 0; k < addresses.size() && ok(); ++k) {
    if (!start(k, addresses[k])) m_whyNot = "sshd did not start: see " + m_dir;
  }
}

SshServers::~SshServers() {
  for (const pid_t pid : m_programs) stop(pid);
  for (const Server& server : m_servers) stop(server.pid);
  if (!m_dir.empty()) nftw(m_dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string SshServers::runtimeDir(size_t server) const {
  return m_dir + "/run" + std::to_string(server);
}

bool SshServers::start(size_t k, const std::vector<std::string>& addresses) {
  const std::string conf = m_dir + "/sshd" + std::to_string(k) + ".conf";
  Server& server = m_servers[k];
  server.port = freePort(addresses.at(0));
  std::string text = "Port " + std::to_string(server.port) + "\n";
  for (const std::string& address : addresses) text += "ListenAddress " + address + "\n";
  text +=
      "HostKey " + m_dir + "/host_key\nAuthorizedKeysFile " + m_dir +
      "/authorized_keys\nPidFile none\nStrictModes no\nPermitRootLogin yes\n" +
      "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n" +
      "PermitUserRC no\nMaxStartups 64\nMaxSessions 64\nSetEnv XDG_RUNTIME_DIR=" + runtimeDir(k) +
      "\n";
  if (server.port == 0 || mkdir(runtimeDir(k).c_str(), 0700) != 0 || !writeFile(conf, text)) {
    return false;
  }
  server.pid =
      spawn({kSshd, "-D", "-f", conf, "-E", m_dir + "/sshd" + std::to_string(k) + ".log"}, "");
  for (int ms = 0; server.pid > 0 && ms < 10000; ms += 10) {
    int status;
    if (waitpid(server.pid, &status, WNOHANG) == server.pid) {
      server.pid = -1;
      break;
    }
    bool all = true;
    for (const std::string& address : addresses) all = all && accepts(address, server.port);
    if (all) return true;
    sleepMs(10);
  }
  return false;
}

pid_t SshServers::startProgram(size_t server, const std::vector<std::string>& argv) {
  const pid_t pid = spawn(argv, "XDG_RUNTIME_DIR=" + runtimeDir(server));
  if (pid > 0) m_programs.push_back(pid);
  return pid;
}

pid_t SshServers::spawn(const std::vector<std::string>& argv, const std::string& env) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::string envCopy = env;
  const pid_t pid = fork();
  if (pid != 0) return pid;
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  if (!envCopy.empty()) putenv(envCopy.data());
  const int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace qvtest
