#include "hostservices/admincmds/adcCtlClient.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"

namespace adc {

namespace {

constexpr const char* kRoutine = "admincmds/CtlClient::call";

void signalPipeCCb(void* app) {
  ac::App::signalPipeFdCCb(app, rc::FdSet::CBT_FD_READY, ac::App::signalPipeFd(), nullptr);
}

}  // namespace

CtlClient::CtlClient(const ac::CtlChannel::Entry& target, int timeoutSec, uid_t user)
    : m_target(target), m_timeoutSec(timeoutSec), m_user(user), m_peerUid(0) {
  try {
    m_client = std::make_unique<ac::IpcClient>(target.path, timeoutSec * 1000);
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
  // A termination signal ends the command while it waits for the program, as between calls.
  if (ac::App::instance() != nullptr && ac::App::signalPipeFd() >= 0) {
    m_client->watchWhileWaiting(ac::App::signalPipeFd(), ac::App::instance(), signalPipeCCb);
  }
}

CtlClient::~CtlClient() = default;

ac::IpcMsgPtr CtlClient::call(const ac::IpcMsgHdr& call) {
  RC_TRACE(DM_ADC, DF_MSG, "sending %s (id %d) to %s\n", call.msgName(), call.interactId(),
           m_target.path.c_str());
  ac::IpcMsgPtr reply;
  bool sent = false;
  try {
    m_client->send(call, m_timeoutSec * 1000);
    sent = true;
    reply = m_client->awaitReply(call, m_timeoutSec * 1000);
  } catch (const rc::Err& err) {
    // The frame refused before anything went out: its size is the frame error's value.
    if (!sent && err.code() == AC_SC_BAD_PKT_HDR_FIELD && err.args() != nullptr &&
        err.args()->size() > 1) {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_REQUEST_TOO_LARGE,
                            rc::VarArgs() << m_target.program << m_target.pid << (*err.args())[1]
                                          << int{ac::IpcFrameHdr::MAX_FRAME_DATA},
                            kRoutine));
    }
    rethrow(err);
  }
  auto* sts = dynamic_cast<ac::IpcStsMsgHdr*>(reply.get());
  // A program older than the call knows no handler for it.
  if (sts != nullptr && sts->status().code() == AC_SC_NO_MSG_HANDLER) {
    fail(ADC_SC_NOT_SUPPORTED, call.msgName());
  }
  if (sts != nullptr && !sts->isStatusOk()) {
    fail(ADC_SC_CALL_FAILED, rc::Err::format(sts->status(), rc::Err::FF_OMIT_SEVERITY));
  }
  return reply;
}

void CtlClient::receive() {
  try {
    m_client->receive();
  } catch (const rc::Err& err) {
    rethrow(err);
  }
}

ac::IpcMsgPtr CtlClient::nextMsg() {
  try {
    return m_client->nextMsg();
  } catch (const rc::Err& err) {
    rethrow(err);
  }
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
