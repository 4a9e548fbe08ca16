// OpenSSH servers on loopback addresses, for the tests and the benchmark of qvctl -H: each
// server listens on its addresses (127.x.y.z only) on a free port and gives the sessions it
// starts an XDG_RUNTIME_DIR of its own, so that each acts as another host. Host key, client key,
// authorized keys and both configurations are generated in a temporary directory; the client
// configuration (sshOptsEnv) names its key and its known-hosts file there, so nothing reads or
// writes the user's own ~/.ssh. As root the server needs its privilege-separation directory
// (/run/sshd, created when missing) and "StrictModes no" for keys under /tmp.
//
// The destructor stops the servers and the programs started with startProgram by their pids,
// reaps them and removes the directory. Independent of GoogleTest so that a benchmark can use
// it. Not thread-safe.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qvtest {

class SshServers {
 public:
  // One server per entry, listening on the entry's addresses.
  explicit SshServers(const std::vector<std::vector<std::string>>& addresses);
  ~SshServers();
  SshServers(const SshServers&) = delete;
  SshServers& operator=(const SshServers&) = delete;

  // Whether every server answers; else why not (sshd missing, failed to start, ...).
  bool ok() const { return m_whyNot.empty(); }
  const std::string& whyNot() const { return m_whyNot; }
  int port(size_t server) const { return m_servers[server].port; }
  // The runtime directory of the server's sessions.
  std::string runtimeDir(size_t server) const;
  // "QV_SSH_OPTS=-F '<client configuration>' ...", quoted as a user would write it.
  std::string sshOptsEnv() const {
    return "QV_SSH_OPTS=-F '" + m_dir + "/ssh_config' -o \"ConnectionAttempts 1\"";
  }
  // Starts argv (argv[0] a path) with the server's runtime directory, its output discarded;
  // the pid, -1 when it could not be started.
  pid_t startProgram(size_t server, const std::vector<std::string>& argv);

 private:
  struct Server {
    pid_t pid = -1;
    int port = 0;
  };
  bool start(size_t k, const std::vector<std::string>& addresses);
  pid_t spawn(const std::vector<std::string>& argv, const std::string& env);

  std::string m_dir;
  std::string m_whyNot;
  std::vector<Server> m_servers;
  std::vector<pid_t> m_programs;
};

}  // namespace qvtest
