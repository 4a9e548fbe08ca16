#include "comps/recomps/rcRevData.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcUtils.h"
#include "nde/qv/qvrev.h"

extern char** environ;

namespace rc {

char RevData::s_qvrevBuffer[QVREV_BUF_SIZE] = "";

RevData::RevData() { set(qvBldStamp(), qvRevStamp(0), qvRevStamp(1)); }

RevData::RevData(const RevData& src) { set(src.m_buildStr, src.m_revSymbol, src.m_revLabel); }

RevData& RevData::operator=(const RevData& src) {
  if (&src != this) set(src.m_buildStr, src.m_revSymbol, src.m_revLabel);
  return *this;
}

void RevData::set(const char* buildStr, const char* revSymbol, const char* revLabel) {
  Utils::copyStr(m_buildStr, buildStr != nullptr ? buildStr : "", FIELD_SIZE);
  Utils::copyStr(m_revSymbol, revSymbol != nullptr ? revSymbol : "", FIELD_SIZE);
  Utils::copyStr(m_revLabel, revLabel != nullptr ? revLabel : "", FIELD_SIZE);
}

void RevData::saveOn(ByteStrm& s) const {
  s.writeStr(m_buildStr, strlen(m_buildStr));
  s.writeStr(m_revSymbol, strlen(m_revSymbol));
  s.writeStr(m_revLabel, strlen(m_revLabel));
}

void RevData::restoreFrom(ByteStrm& s) {
  s.readStr(m_buildStr, FIELD_SIZE);
  s.readStr(m_revSymbol, FIELD_SIZE);
  s.readStr(m_revLabel, FIELD_SIZE);
}

void RevData::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "RevData", this, ":\n");
  dumpLine(indentLvl + 1, "build str  = %s\n", m_buildStr);
  dumpLine(indentLvl + 1, "rev symbol = %s\n", m_revSymbol);
  dumpLine(indentLvl + 1, "rev label  = %s\n", m_revLabel);
}

namespace {

// Runs path (no shell: nothing in the path is interpreted) with its output on a pipe and reads
// its first line into buf. Returns 0, or the errno of the step that failed (EIO when the command
// wrote nothing).
int readFirstLine(const std::string& path, char* buf, int bufSize) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return rc;
  }
  FILE* out = fdopen(fds[0], "r");
  if (out == nullptr) {
    rc = errno;
    close(fds[0]);
  } else {
    errno = 0;  // an empty answer sets no errno: it is EIO
    if (fgets(buf, bufSize, out) == nullptr) rc = errno != 0 ? errno : EIO;
    // Closing before the wait lets a command with more to say end on a broken pipe.
    fclose(out);
  }
  // Only this child is waited for: the SIGCHLD disposition and the program's other children
  // are left to the program.
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return rc;
}

}  // namespace

bool RevData::initHdsVersion() {
  const std::string path = File::findFile("qvrev", false);
  if (s_qvrevBuffer[0] != '\0') return true;
  char line[QVREV_BUF_SIZE] = "";
  const int rc = path.empty() ? ENOENT : readFirstLine(path, line, QVREV_BUF_SIZE - 1);
  bool ok = rc == 0;
  if (ok) {
    const size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
    memcpy(s_qvrevBuffer, line, sizeof line);
  } else if (rc == EIO) {
    Out::instance()->printLog("Unable to get HDS revision: %s", strerror(rc));
  } else {
    Out::instance()->printLog("Unable to execute qvrev: %s", strerror(rc));
  }
  return ok;
}

RevData::VecHdsRevsDigits RevData::createVecOfHdsRevDigits(const char* hdsVerStr) {
  int major = 0, minor = 0, subminor = 0, patch = 0;
  if (hdsVerStr == nullptr || sscanf(hdsVerStr, "%*s %d.%d.%d %*s", &major, &minor, &subminor) < 0)
    return {};
  sscanf(hdsVerStr, "%*s %*s (P-%d)", &patch);
  return {major, minor, subminor, patch};
}

RevData::SetHdsRevs RevData::revCompare(std::string hdsRevToBeMatched, const SetHdsRevs& hdsRevStrs,
                                        int numDigitsToMatch) {
  SetHdsRevs matchedHDSRevs;
  if (hdsRevToBeMatched.empty() || numDigitsToMatch < 0) return matchedHDSRevs;
  const VecHdsRevsDigits wanted = createVecOfHdsRevDigits(hdsRevToBeMatched.c_str());
  if (wanted.empty()) return matchedHDSRevs;
  for (const std::string& candidate : hdsRevStrs) {
    const VecHdsRevsDigits digits = createVecOfHdsRevDigits(candidate.c_str());
    if (digits.empty()) continue;
    const size_t matchCounter = std::min(digits.size(), static_cast<size_t>(numDigitsToMatch));
    if (matchCounter > 0 &&
        std::equal(digits.begin(), digits.begin() + matchCounter, wanted.begin()))
      matchedHDSRevs.insert(candidate);
  }
  return matchedHDSRevs;
}

}  // namespace rc
