// qvctl on other hosts: the hosts named by -H and -hosts, and the run that reaches each of them
// through the system's ssh client. No daemon of ours listens on the network: ssh's own
// authentication and, on the far side, the per-user control channel stay the only doors.
//
// For every host one `ssh` is started without a shell (BatchMode, ConnectTimeout from -timeout,
// -p and -l from the host, then the words of QV_SSH_OPTS), running one remote command line in
// which every word is quoted for the remote POSIX shell: the remote qvctl, -stdin-ends, the
// sub-command with the user's arguments and "-o json". ssh's standard input is a pipe held open
// until the run ends, so the remote qvctl ends with us however we end. At most `parallel` hosts
// run at once; their documents are checked ("qvctl_format" 1), passed through with a "host" field
// (-o json) or shown as text labelled "<host>: ", and `list` becomes one table with a HOST column.
//
// A host's status is the remote qvctl's exit status, or ADC_SC_HOST_UNREACHABLE (ssh's 255),
// ADC_SC_NO_REMOTE_QVCTL (the remote shell's 127) or ADC_SC_REMOTE_INCOMPATIBLE (a document that
// is not one of ours); each failure is reported on standard error and the other hosts go on.
// Bad host names, hosts-file lines and QV_SSH_OPTS raise ADC_SC_BAD_HOSTS before anything runs.
// Single-threaded.
#pragma once

#include <string>
#include <vector>

namespace adc {

// One host: [user@]name[:port], the name of an IPv6 address in brackets when a port follows.
struct CtlHost {
  std::string entry;  // as given, the label of its results
  std::string user;
  std::string name;
  int port = 0;  // 0: ssh's default
  // The host an entry names; where says where the entry came from in an ADC_SC_BAD_HOSTS error.
  static CtlHost parse(const std::string& entry, const std::string& where);
};

class CtlHosts {
 public:
  enum { DEFAULT_PARALLEL = 8, MAX_PARALLEL = 64 };

  // Adds the hosts of a comma-separated list, or of a file (one a line; blank lines and "#"
  // comments skipped). A host named twice is reached once.
  void addList(const std::string& list);
  void addFile(const std::string& path);
  bool empty() const { return m_hosts.empty(); }
  const std::vector<CtlHost>& hosts() const { return m_hosts; }

  void setRemoteQvctl(const std::string& path) { m_remoteQvctl = path; }
  // 1..MAX_PARALLEL, else AC_SC_OUT_OF_RANGE.
  void setParallel(long n);

  // Runs `<remote qvctl> -stdin-ends <args> -o json` on every host and prints the results;
  // returns the worst (highest) status of the hosts, 0 when all succeeded. subCmd is the
  // sub-command's name, args the words that follow the remote qvctl's own options. A non-empty
  // input is written to each remote qvctl's standard input, which is then closed (the rules of
  // "-Frf -"); otherwise standard input stays open until the run ends.
  int run(const std::string& subCmd, const std::vector<std::string>& args, int timeoutSec,
          bool json, const std::string& input = {}) const;

  // The words of text split as a POSIX shell splits them (blanks, '...', "..." and backslash),
  // nothing expanded; an unclosed quote raises ADC_SC_BAD_HOSTS naming where.
  static std::vector<std::string> splitWords(const std::string& text, const std::string& where);
  // The word quoted for a POSIX shell: in single quotes, each ' written as '\''.
  static std::string shellQuote(const std::string& word);

 private:
  void add(const CtlHost& host);

  std::vector<CtlHost> m_hosts;
  std::string m_remoteQvctl = "qvctl";
  int m_parallel = DEFAULT_PARALLEL;
};

}  // namespace adc
