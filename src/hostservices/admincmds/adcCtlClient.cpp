#include "hostservices/admincmds/adcCtlClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "comps/recomps/rcDbg.h"

namespace adc {

namespace {

constexpr const char* kRoutine = "admincmds/CtlClient::call";

}  // namespace

CtlClient::CtlClient(const ac::CtlChannel::Entry& target, int timeoutSec, uid_t user)
    : m_target(target), m_timeoutSec(timeoutSec), m_user(user), m_peerUid(0) {
  try {
    m_client = std::make_unique<ac::IpcClient>(target.path);
  } catch (const rc::Err& err) {
    if (!ac::CtlChannel::processAlive(target.pid)) {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_PID, rc::VarArgs() << target.pid,
                            "admincmds/CtlClient::CtlClient"));
    }
    rethrow(err);
  }
  // The other end must be the user's (or root's) too: a socket planted by someone else gets
  // none of our calls.
  if (!ac::CtlChannel::peerAllowed(m_client->fd(), &m_peerUid, m_user)) {
    fail(ADC_SC_REFUSED, "it runs as user id " + std::to_string(m_peerUid));
  }
  // A program that stops reading must not hold the command for ever on a full socket.
  timeval tv = {timeoutSec, 0};
  setsockopt(m_client->fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

CtlClient::~CtlClient() = default;

ac::IpcMsgPtr CtlClient::call(const ac::IpcMsgHdr& call) {
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(DM_ADC, DF_MSG, "sending %s (id %d) to %s\n", call.msgName(),
                               call.interactId(), m_target.path.c_str());
  }
  ac::IpcMsgPtr reply;
  try {
    reply = m_client->call(call, m_timeoutSec * 1000);
  } catch (const rc::Err& err) {
    rethrow(err);
  }
  auto* sts = dynamic_cast<ac::IpcStsMsgHdr*>(reply.get());
  if (sts != nullptr && !sts->isStatusOk()) {
    fail(ADC_SC_CALL_FAILED, rc::Err::format(sts->status(), rc::Err::FF_OMIT_SEVERITY));
  }
  return reply;
}

void CtlClient::rethrow(const rc::Err& err) const {
  const int code2 = err.code2();
  if (code2 == rc::Err::errnoCode(EACCES) || code2 == rc::Err::errnoCode(EPERM)) {
    fail(ADC_SC_REFUSED, strerror(EACCES));
  }
  if (err.code() == AC_SC_CONNECTION_LIMIT_EXCEEDED || err.code() == AC_SC_CTL_BUDGET_EXCEEDED) {
    fail(ADC_SC_BUSY, rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY));
  }
  if (err.code() == AC_SC_DBOS_REPLY_TIMED_OUT || code2 == rc::Err::errnoCode(EAGAIN)) {
    fail(ADC_SC_TIMED_OUT, "");
  }
  if (err.code() == AC_SC_CONNECT_FAILED && code2 == rc::Err::errnoCode(ECONNREFUSED)) {
    // A socket nobody listens on any more: the program has ended, or its pid went to another
    // process, which must not be called "not running".
    const bool alive = ac::CtlChannel::processAlive(m_target.pid);
    rc::Err_Throw(rc::Err(RC_ERROR, alive ? ADC_SC_NO_SUCH_TARGET : ADC_SC_NO_SUCH_PID,
                          rc::VarArgs() << std::to_string(m_target.pid), kRoutine));
  }
  const bool closed = code2 == AC_SC_CONNECTION_RESET || code2 == rc::Err::errnoCode(ECONNRESET) ||
                      code2 == rc::Err::errnoCode(EPIPE);
  if (closed && geteuid() != 0 && m_peerUid != geteuid()) {
    // A program serves its own user and root only: this is what its closing means.
    fail(ADC_SC_REFUSED, "it serves user id " + std::to_string(m_peerUid) + " and root only");
  }
  if (closed || err.code() == AC_SC_SEND_FAILED) fail(ADC_SC_CONNECTION_LOST, "");
  fail(ADC_SC_BAD_REPLY, rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY));
}

void CtlClient::fail(int code, const std::string& why) const {
  rc::VarArgs args;
  args << m_target.program << m_target.pid;
  if (code == ADC_SC_TIMED_OUT) {
    args << m_timeoutSec;
  } else if (code != ADC_SC_CONNECTION_LOST) {
    args << why;
  }
  rc::Err_Throw(rc::Err(RC_ERROR, code, args, kRoutine));
}

}  // namespace adc
