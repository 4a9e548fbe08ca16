#include "hostservices/admincmds/adcCtlHosts.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFd.h"
#include "comps/recomps/rcFdSet.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcStrCodes.h"
#include "comps/recomps/rcTxtTbl.h"
#include "comps/recomps/rcUtils.h"
#include "hostservices/admincmds/adcCtlJson.h"
#include "hostservices/admincmds/adcCtlStatusText.h"
#include "hostservices/admincmds/adcStrCodes.h"

namespace adc {

namespace {

[[noreturn]] void badHosts(const std::string& where, const std::string& problem,
                           const char* routine) {
  rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_BAD_HOSTS,
                        rc::VarArgs() << where.c_str() << problem.c_str(), routine));
}

// What may appear in a user or host name handed to ssh: nothing a shell or ssh's option parser
// would read as more than a name.
bool plainName(const std::string& text) {
  return !text.empty() && text[0] != '-' &&
         text.find_first_of(" \t\n\r'\"\\`$;&|<>()*?[]{}#~!,@") == std::string::npos;
}

}  // namespace

CtlHost CtlHost::parse(const std::string& entry, const std::string& where) {
  const char* routine = "admincmds/CtlHost::parse";
  CtlHost host;
  host.entry = entry;
  std::string rest = entry;
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    host.user = rest.substr(0, at);
    rest.erase(0, at + 1);
    if (!plainName(host.user)) badHosts(where, "bad user name in '" + entry + "'", routine);
  }
  std::string port;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) badHosts(where, "no ']' in '" + entry + "'", routine);
    host.name = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') badHosts(where, "bad host '" + entry + "'", routine);
      port = rest.substr(close + 2);
      if (port.empty()) badHosts(where, "no port after ':' in '" + entry + "'", routine);
    }
    if (host.name.empty()) badHosts(where, "no host name in '" + entry + "'", routine);
    if (host.name.find_first_not_of("0123456789abcdefABCDEF:.%") != std::string::npos) {
      badHosts(where, "bad address in '" + entry + "'", routine);
    }
  } else {
    const size_t colon = rest.find(':');
    host.name = rest.substr(0, colon);
    if (colon != std::string::npos) {
      port = rest.substr(colon + 1);
      if (port.empty()) badHosts(where, "no port after ':' in '" + entry + "'", routine);
    }
    if (host.name.empty()) badHosts(where, "no host name in '" + entry + "'", routine);
    if (!plainName(host.name)) {
      badHosts(where, "bad host name in '" + entry + "'", routine);
    }
  }
  if (!port.empty()) {
    const long value = port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos
                           ? strtol(port.c_str(), nullptr, 10)
                           : 0;
    if (value < 1 || value > 65535) badHosts(where, "bad port in '" + entry + "'", routine);
    host.port = static_cast<int>(value);
  }
  return host;
}

void CtlHosts::add(const CtlHost& host) {
  for (const CtlHost& known : m_hosts) {
    if (known.user == host.user && known.name == host.name && known.port == host.port) return;
  }
  m_hosts.push_back(host);
}

void CtlHosts::addList(const std::string& list) {
  size_t from = 0;
  for (;;) {
    const size_t comma = list.find(',', from);
    add(CtlHost::parse(list.substr(from, comma - from), "-H '" + list + "'"));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
}

void CtlHosts::addFile(const std::string& path) {
  const char* routine = "admincmds/CtlHosts::addFile";
  rc::File file(1);
  file.openRegular(path.c_str(), 1 << 20, routine);
  rc::Err err;
  char line[1024];
  for (int lineNo = 1;; ++lineNo) {
    err.clear();
    const std::string where = "hosts file '" + path + "', line " + std::to_string(lineNo);
    if (file.readLine2(line, sizeof line, &err) == nullptr) {
      if (!rc::File::isLineTooLong(err)) break;
      badHosts(where, "longer than " + std::to_string(sizeof line - 1) + " bytes", routine);
    }
    std::string text = line;
    text.erase(std::min(text.find('#'), text.size()));
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) continue;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    if (text.find_first_of(" \t,") != std::string::npos) {
      badHosts(where, "one host a line, not '" + text + "'", routine);
    }
    add(CtlHost::parse(text, where));
  }
  if (err.code() != 0) rc::Err_Throw(err);
}

void CtlHosts::setParallel(long n) {
  if (n < 1 || n > MAX_PARALLEL) {
    rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_OUT_OF_RANGE, rc::VarArgs() << std::to_string(n),
                          "admincmds/CtlHosts::setParallel"));
  }
  m_parallel = static_cast<int>(n);
}

std::vector<std::string> CtlHosts::splitWords(const std::string& text, const std::string& where) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      // A backslash before a newline joins the lines.
      if (++k < text.size() && text[k] != '\n') word += text[k];
    } else if (c == '\'') {
      const size_t close = text.find('\'', k + 1);
      if (close == std::string::npos) {
        badHosts(where, "unclosed ' in '" + text + "'", "admincmds/CtlHosts::splitWords");
      }
      word += text.substr(k + 1, close - k - 1);
      k = close;
    } else if (c == '"') {
      // Inside double quotes a backslash escapes only what the shell lets it escape.
      for (++k; k < text.size() && text[k] != '"'; ++k) {
        if (text[k] == '\\' && k + 1 < text.size() && strchr("\"\\$`\n", text[k + 1]) != nullptr) {
          if (text[++k] == '\n') continue;
        }
        word += text[k];
      }
      if (k == text.size()) {
        badHosts(where, "unclosed \" in '" + text + "'", "admincmds/CtlHosts::splitWords");
      }
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string CtlHosts::shellQuote(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

#if QV_HAVE_NLOHMANN_JSON

namespace {

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string textOf(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// A status document back in the pieces the status screen is printed from; a field that is absent
// shows as empty or 0, one of another type is a json exception (the document is not ours).
StatusView statusViewOf(const Json& doc, const std::string& who) {
  StatusView view;
  view.who = who;
  view.cls = doc.value("class", "?");
  view.startTime = doc.value("start_time", 0LL);
  view.uptimeSecs = doc.value("uptime_s", 0LL);
  view.revision = doc.value("revision", "");
  view.build = doc.value("build", "");
  view.logFile = doc.value("log_file", "");
  view.dbgOutput = doc.value("dbg_output", "");
  view.debug = doc.contains("dbg") ? doc["dbg"].value("options", "") : "";
  const Json none = Json::array();
  const Json& fault = doc.contains("fault") ? doc["fault"] : Json::object();
  view.faultOn = fault.value("global_on", false);
  for (const Json& r : fault.contains("rules") ? fault["rules"] : none) {
    view.rules.push_back({r.value("name", ""), r.value("settings", ""), r.value("evaluated", 0ULL),
                          r.value("fired", 0ULL)});
  }
  const auto list = [&](const char* key) -> const Json& {
    return doc.contains(key) ? doc[key] : none;
  };
  for (const Json& c : list("children")) {
    view.children.push_back({c.value("pid", 0LL), c.value("command", "")});
  }
  for (const Json& t : list("timers")) {
    view.timers.push_back({t.value("name", ""), t.value("kind", ""), t.value("ms_left", 0LL)});
  }
  for (const Json& c : list("connections")) {
    view.conns.push_back({c.value("pid", 0LL), c.value("uid", 0LL)});
  }
  for (const Json& h : list("heap")) {
    view.heap.push_back({h.value("type", ""), h.value("blocks", 0ULL), h.value("bytes", 0ULL)});
  }
  return view;
}

// One document as the local text form shows it, each line labelled with the host and, when the
// document is about a program, "<program>.<pid>: ". Sub-commands this qvctl does not know are
// shown field by field.
void printText(const std::string& host, const Json& doc) {
  std::string label = host + ": ", who;
  if (doc.contains("program") && doc.contains("pid")) {
    label += textOf(doc["program"]) + "." + textOf(doc["pid"]) + ": ";
    who = textOf(doc["program"]) + " (pid " + textOf(doc["pid"]) + ")";
  }
  const auto say = [&](const std::string& text) { printf("%s%s\n", label.c_str(), text.c_str()); };
  const std::string command = doc.value("command", "");
  if (command == "ping" && doc.contains("seq")) {
    say(formatted("reply from %s: seq=%d time=%.3f ms", who.c_str(), doc["seq"].get<int>(),
                  doc["time_ms"].get<double>()));
  } else if (command == "ping" && doc.contains("calls")) {
    say(formatted("%d calls, round trip min/avg/max = %.3f/%.3f/%.3f ms", doc["calls"].get<int>(),
                  doc["min_ms"].get<double>(), doc["avg_ms"].get<double>(),
                  doc["max_ms"].get<double>()));
  } else if (command == "rev") {
    say("program:  " + who);
    say("label:    " + textOf(doc["label"]));
    say("revision: " + textOf(doc["revision"]));
    say("build:    " + textOf(doc["build"]));
  } else if (command == "dbg") {
    say("debug controls of " + who + ": " + textOf(doc["options"]));
  } else if (command == "fault" && doc.contains("rules")) {
    say("fault controls of " + who + ":");
    if (doc.contains("global_on")) {
      say(std::string("global on/off = ") + (doc["global_on"].get<bool>() ? "yes" : "no"));
    }
    for (const auto& [name, value] : doc["rules"].items()) say(name + " = " + textOf(value));
  } else if (command == "fault" && doc.contains("points")) {
    say("fault points of " + who + ": " + std::to_string(doc["points"].size()));
    for (const Json& p : doc["points"]) {
      say(formatted("%-24s evaluated %llu, fired %llu", p.value("name", "").c_str(),
                    p.value("evaluated", 0ULL), p.value("fired", 0ULL)));
    }
  } else if (command == "status") {
    statusViewOf(doc, who).print(say);
  } else if (command == "trace" && doc.contains("line")) {
    say(textOf(doc["line"]));
  } else if (command == "trace" && doc.contains("dropped")) {
    say(textOf(doc["dropped"]) + " lines dropped");
  } else {
    for (const auto& [key, value] : doc.items()) {
      if (key != "qvctl_format" && key != "command" && key != "program" && key != "pid") {
        say(key + ": " + textOf(value));
      }
    }
  }
  fflush(stdout);
}

// One host's ssh while it runs: the pipes we read and the one we hold open, what has arrived.
struct Session {
  const CtlHost* host = nullptr;
  pid_t pid = -1;
  rc::Fd in, out, err;
  // How much of the run's input this host's ssh has taken.
  size_t inSent = 0;
  std::string outBuf, errBuf;
  std::deque<std::string> errLines;
  // A document was ours; the first line that was not.
  bool sawDoc = false;
  std::string badLine;
  // A failure of our own (ssh could not start, host unreachable, ...), else the remote status.
  rc::Err failure;
  int status = 0;
};

struct Pipe2 {
  rc::Fd rd, wr;
};

Pipe2 makePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    rc::Err_ThrowErrno(RC_SC_PIPE_FAILED, rc::VarArgs() << "ssh", errno, "admincmds/CtlHosts::run");
  }
  return Pipe2{rc::Fd(fds[0]), rc::Fd(fds[1])};
}

class Runner {
 public:
  static constexpr size_t kMaxErrLines = 1000;

  Runner(const std::string& subCmd, bool json) : m_subCmd(subCmd), m_json(json) {}

  void start(Session& s, const std::vector<std::string>& argv) {
    std::vector<const char*> args;
    for (const std::string& arg : argv) args.push_back(arg.c_str());
    args.push_back(nullptr);
    try {
      Pipe2 in = makePipe(), out = makePipe(), err = makePipe();
      s.pid =
          rc::Os::invokePgm(args.data(), -1, nullptr, out.wr.get(), err.wr.get(), 0, in.rd.get());
      s.in = std::move(in.wr);
      s.out = std::move(out.rd);
      s.err = std::move(err.rd);
    } catch (const rc::Err& err) {
      s.failure = err;
    }
  }

  // Writes what the pipe takes of input; closes it once all is written, or when the ssh has
  // gone (its failure is told by its status). SIGPIPE is held off meanwhile, so that a host that
  // went away cannot end the whole command.
  static void feed(Session& s, const std::string& input) {
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    ssize_t n;
    do {
      n = write(s.in.get(), input.data() + s.inSent, input.size() - s.inSent);
    } while (n < 0 && errno == EINTR);
    sigaction(SIGPIPE, &saved, nullptr);
    if (n > 0) s.inSent += static_cast<size_t>(n);
    if ((n < 0 && errno != EAGAIN) || s.inSent == input.size()) s.in.reset();
  }

  // Reads what is there; false at end of file.
  bool readFrom(Session& s, bool fromOut) {
    char buf[16384];
    rc::Fd& fd = fromOut ? s.out : s.err;
    ssize_t n;
    do {
      n = read(fd.get(), buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      fd.reset();
      return false;
    }
    std::string& pending = fromOut ? s.outBuf : s.errBuf;
    pending.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      // ssh ends its own lines with "\r\n".
      const std::string line = pending.substr(0, nl > 0 && pending[nl - 1] == '\r' ? nl - 1 : nl);
      pending.erase(0, nl + 1);
      fromOut ? takeDoc(s, line) : keepErrLine(s, line);
    }
    return true;
  }

  // A host's standard error waits for its end, the last kMaxErrLines lines of it.
  static void keepErrLine(Session& s, const std::string& line) {
    if (s.errLines.size() == kMaxErrLines) s.errLines.pop_front();
    s.errLines.push_back(line);
  }

  void finish(Session& s, const std::string& remoteQvctl) {
    const char* routine = "admincmds/CtlHosts::run";
    s.in.reset();
    if (!s.outBuf.empty()) takeDoc(s, s.outBuf);
    if (!s.errBuf.empty()) keepErrLine(s, s.errBuf);
    int code = -1, signal = 0;
    if (s.pid > 0) {
      const int raw = rc::Os::waitChild(s.pid, &code, &signal);
      const std::string last =
          s.errLines.empty() ? rc::Os::decodeExitStatus(raw) : s.errLines.back();
      const char* entry = s.host->entry.c_str();
      if (code == 255 || signal != 0) {
        s.failure = rc::Err(RC_ERROR, ADC_SC_HOST_UNREACHABLE,
                            rc::VarArgs() << entry << last.c_str(), routine);
      } else if (code == 127 && !s.sawDoc) {
        s.failure = rc::Err(RC_ERROR, ADC_SC_NO_REMOTE_QVCTL,
                            rc::VarArgs() << entry << remoteQvctl.c_str() << last.c_str(), routine);
      } else if (!s.badLine.empty() || (!s.sawDoc && code == (RC_SC_BAD_CMD_LINE_ARG & 0xff))) {
        // A qvctl that knows no -o json or -stdin-ends refuses them as bad arguments.
        const std::string what = !s.badLine.empty() ? "it printed '" + s.badLine + "'" : last;
        s.failure = rc::Err(RC_ERROR, ADC_SC_REMOTE_INCOMPATIBLE,
                            rc::VarArgs() << entry << remoteQvctl.c_str() << what.c_str(), routine);
      } else {
        s.status = code;
      }
    }
    fflush(stdout);
    if (s.failure.code() == 0) {
      for (const std::string& line : s.errLines) {
        fprintf(stderr, "%s: %s\n", s.host->entry.c_str(), line.c_str());
      }
      return;
    }
    s.status = exitStatusOf(s.failure);
    rc::Out::instance()->print(s.failure, true);
    if (!m_json) return;
    Json doc;
    doc["qvctl_format"] = 1;
    doc["host"] = s.host->entry;
    doc["command"] = m_subCmd;
    doc["error"] = errorJson(s.failure);
    printJson(doc);
    fflush(stdout);
  }

  // The hosts' programs as one table, in the order the hosts were given.
  void printList(const std::vector<Session>& sessions) const {
    rc::TxtTbl tbl;
    tbl.addColumn("HOST", rc::TxtTbl::LEFT_JUSTIFY);
    tbl.addColumn("PID", rc::TxtTbl::RIGHT_JUSTIFY);
    for (const char* name : {"PROGRAM", "CLASS", "STARTED", "REVISION"}) {
      tbl.addColumn(name, rc::TxtTbl::LEFT_JUSTIFY);
    }
    unsigned int row = 0;
    for (const Session& s : sessions) {
      const auto found = m_programs.find(&s);
      if (found == m_programs.end()) continue;
      for (const Json& program : found->second) {
        const std::string started =
            program.contains("start_time") && program["start_time"].is_number()
                ? rc::Utils::timeToString(program["start_time"].get<time_t>(), "%Y-%m-%d %H:%M:%S")
                : "?";
        tbl.append(++row, s.host->entry.c_str());
        tbl.appendInt(row, program.value("pid", 0));
        for (const std::string& cell : {program.value("program", "?"), program.value("class", "?"),
                                        started, program.value("revision", "?")}) {
          tbl.append(row, cell.c_str());
        }
      }
    }
    tbl.printTable();
  }

 private:
  void takeDoc(Session& s, const std::string& line) {
    if (line.empty() || !s.badLine.empty()) return;
    const Json doc = Json::parse(line, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("qvctl_format") ||
        doc["qvctl_format"] != 1) {
      s.badLine = line.substr(0, 200);
      return;
    }
    s.sawDoc = true;
    try {
      if (m_json) {
        Json labelled;
        labelled["qvctl_format"] = 1;
        labelled["host"] = s.host->entry;
        for (const auto& [key, value] : doc.items()) {
          if (key != "qvctl_format" && key != "host") labelled[key] = value;
        }
        printJson(labelled);
        fflush(stdout);
      } else if (doc.contains("error")) {
        // The remote qvctl says it on its standard error, which is passed on.
      } else if (m_subCmd == "list") {
        for (const Json& program : doc.at("programs")) m_programs[&s].push_back(program);
      } else {
        printText(s.host->entry, doc);
      }
    } catch (const nlohmann::json::exception&) {
      s.badLine = line.substr(0, 200);
    }
  }

  std::string m_subCmd;
  bool m_json;
  std::map<const Session*, std::vector<Json>> m_programs;
};

}  // namespace

int CtlHosts::run(const std::string& subCmd, const std::vector<std::string>& args, int timeoutSec,
                  bool json, const std::string& input) const {
  const char* envOpts = getenv("QV_SSH_OPTS");
  const std::vector<std::string> sshOpts =
      splitWords(envOpts != nullptr ? envOpts : "", "QV_SSH_OPTS");
  std::string remote = shellQuote(m_remoteQvctl) + " -stdin-ends";
  for (const std::string& arg : args) remote.append(" ").append(shellQuote(arg));
  remote += " -o json";

  std::vector<Session> sessions(m_hosts.size());
  Runner runner(subCmd, json);
  size_t next = 0, running = 0;
  while (next < sessions.size() || running > 0) {
    for (; next < sessions.size() && running < static_cast<size_t>(m_parallel); ++next) {
      Session& s = sessions[next];
      s.host = &m_hosts[next];
      std::vector<std::string> argv = {"ssh", "-o", "BatchMode=yes", "-o",
                                       "ConnectTimeout=" + std::to_string(timeoutSec)};
      if (s.host->port != 0) argv.insert(argv.end(), {"-p", std::to_string(s.host->port)});
      if (!s.host->user.empty()) argv.insert(argv.end(), {"-l", s.host->user});
      argv.insert(argv.end(), sshOpts.begin(), sshOpts.end());
      argv.insert(argv.end(), {"--", s.host->name, remote});
      runner.start(s, argv);
      if (s.pid > 0 && !input.empty()) fcntl(s.in.get(), F_SETFL, O_NONBLOCK);
      if (s.pid > 0) {
        ++running;
      } else {
        runner.finish(s, m_remoteQvctl);
      }
    }
    std::vector<pollfd> fds;
    std::vector<std::pair<Session*, bool>> owners;
    // Input to write: after the output pipes, as the entries owners does not cover.
    std::vector<Session*> feeding;
    for (Session& s : sessions) {
      for (const bool fromOut : {true, false}) {
        const rc::Fd& fd = fromOut ? s.out : s.err;
        if (!fd.isOpen()) continue;
        fds.push_back({fd.get(), POLLIN, 0});
        owners.emplace_back(&s, fromOut);
      }
    }
    if (fds.empty()) break;
    if (!input.empty()) {
      for (Session& s : sessions) {
        if (!s.in.isOpen()) continue;
        fds.push_back({s.in.get(), POLLOUT, 0});
        feeding.push_back(&s);
      }
    }
    // A termination signal ends the command at once, as it ends a wait for a local program; the
    // pipes close with us and take the remote commands with them.
    const int signalFd = ac::App::instance() != nullptr ? ac::App::signalPipeFd() : -1;
    if (signalFd >= 0) fds.push_back({signalFd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      rc::Err_ThrowErrno(AC_SC_SELECT_FAILED, rc::VarArgs(), errno, "admincmds/CtlHosts::run");
    }
    for (size_t k = 0; k < feeding.size(); ++k) {
      if (fds[owners.size() + k].revents != 0) Runner::feed(*feeding[k], input);
    }
    if (signalFd >= 0 && fds.back().revents != 0) {
      ac::App::signalPipeFdCCb(ac::App::instance(), rc::FdSet::CBT_FD_READY, signalFd, nullptr);
    }
    for (size_t k = 0; k < owners.size(); ++k) {
      if (fds[k].revents == 0) continue;
      Session& s = *owners[k].first;
      if (runner.readFrom(s, owners[k].second) || s.out.isOpen() || s.err.isOpen()) continue;
      runner.finish(s, m_remoteQvctl);
      --running;
    }
  }
  if (subCmd == "list" && !json) runner.printList(sessions);
  int worst = 0;
  for (const Session& s : sessions) worst = std::max(worst, s.status);
  return worst;
}

#else

int CtlHosts::run(const std::string&, const std::vector<std::string>&, int, bool,
                  const std::string&) const {
  // The remote documents cannot be read without the JSON library.
  rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_JSON, rc::VarArgs(), "admincmds/CtlHosts::run"));
}

#endif

}  // namespace adc
