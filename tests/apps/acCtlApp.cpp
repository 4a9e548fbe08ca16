// A program that serves its control channel from the framework's event loop, or calls one.
//   acCtlApp serve [budget]  the channel is opened through QV_CTL_CHANNEL, its buffers limited
//                         to budget bytes when given; prints "ready" once the
//                         loop is about to run. A ping call with the comment "heap" comes back
//                         with the bytes the process has allocated instead, which leak tests
//                         compare
//   acCtlApp rpc <path>   connects to the channel at path, sends a one-way ping and a ping call
//                         through the application's sending operations and prints
//                         "reply <status code> <comment>" from the reply handler, then exits 0
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlServer.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcPgmClass.h"

namespace {

class CtlApp : public ac::App {
 public:
  CtlApp(const char* target, const char* budget)
      : ac::App(nullptr, 0, AF_MAIN2_CATCH_ALL), m_target(target), m_budget(budget) {}
  void printUsage() const override { puts("usage: acCtlApp serve|rpc <path>"); }
  void processArgs(int, char**) override {}

  void run() override {
    if (m_target == nullptr) {
      addIpcMsgHandler(ac::MsgTypes::PING_CALL, this, heapPingCCb);
      if (m_budget != nullptr) ctlServer()->setBudget(std::stoul(m_budget));
      printf("ready\n");
      fflush(stdout);
    } else {
      connectIpc(m_target);
      sendIpcMsg(new ac::PingMsg(), true);
      m_call = new ac::PingCall(0, new ac::PingData("over the wire", 0));
      ipcMsgRpc(m_call, this, replyCCb);
    }
    ac::App::run();
  }

 private:
  static void heapPingCCb(void* obj, ac::IpcMsgHdr* msg, ac::IpcMsgProto* proto) {
    auto* call = dynamic_cast<ac::PingCall*>(msg);
    if (call != nullptr && call->pingData() != nullptr &&
        strcmp(call->pingData()->comment(), "heap") == 0) {
      call->pingData()->setComment(std::to_string(mallinfo2().uordblks).c_str());
    }
    callCCb(obj, msg, proto);
  }

  static void replyCCb(void* obj, ac::IpcMsgHdr* msg, ac::IpcMsgProto*) {
    auto* reply = dynamic_cast<ac::PingReply*>(msg);
    const bool matches = msg->interactId() == static_cast<CtlApp*>(obj)->m_call->interactId();
    printf("reply %d %s\n", matches && reply != nullptr ? reply->status().code() : -1,
           reply != nullptr && reply->pingData() != nullptr ? reply->pingData()->comment() : "-");
    fflush(stdout);
    ac::_do_exit(0);
  }

  const char* m_target;
  const char* m_budget;
  ac::PingCall* m_call = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  const bool helpRequested =
      ac::App::main1(&argc, argv, rc::PgmClass::CLI_APP, nullptr, nullptr, nullptr);
  const bool rpc = argc > 2 && strcmp(argv[1], "rpc") == 0;
  CtlApp app(rpc ? argv[2] : nullptr, !rpc && argc > 2 ? argv[2] : nullptr);
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
