// The message layer's costs beside their baselines: saving a full header against a memcpy of its
// 296 bytes; save and restore of a TransactionCall and a SetDbgCtrlsCall against protobuf
// messages with the same fields serialised to and parsed from an array (when protobuf is
// installed); and handler dispatch of a call and of a reply among 10,000 registered interaction
// ids. A typed handler's dispatch (table lookup, the generated routine's class check, the
// member call) is measured beside its baseline: an unordered_map<int, routine> lookup and an
// indirect call of the same work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <unordered_map>

#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acIpcMsgHndlrTbl.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/appcomps/acTxMsgs.h"
#include "comps/recomps/rcByteStrm.h"

#ifdef QV_HAVE_PROTOBUF
#include "acIpcMsgBench.pb.h"
#endif

namespace {

void BM_HdrSave(benchmark::State& state) {
  ac::IpcMsgHdr hdr(1001, 1002, 7);
  hdr.setUser("someone");
  rc::ByteStrm s(512);
  for (auto _ : state) {
    s.reset();
    hdr.saveMsg(s);
    benchmark::DoNotOptimize(s.buffer());
  }
}
BENCHMARK(BM_HdrSave);

void BM_HdrMemcpy(benchmark::State& state) {
  unsigned char src[296] = {1};
  unsigned char dst[512];
  for (auto _ : state) {
    benchmark::DoNotOptimize(src);
    memcpy(dst, src, sizeof src);
    benchmark::DoNotOptimize(dst);
  }
}
BENCHMARK(BM_HdrMemcpy);

template <class Msg>
void saveRestore(benchmark::State& state, const Msg& msg) {
  rc::ByteStrm s(1024);
  Msg back;
  for (auto _ : state) {
    s.reset();
    msg.saveMsg(s);
    back.restoreMsg(s);
    benchmark::DoNotOptimize(back.interactId());
  }
}

rc::DbgCtrls sampleCtrls() {
  rc::DbgCtrls ctrls;
  ctrls.setModule(DM_AC);
  ctrls.setFlags(DF_MSG);
  return ctrls;
}

void BM_TxCall(benchmark::State& state) {
  saveRestore(state, ac::TransactionCall(5, ac::TX_COMMIT, 123456789));
}
BENCHMARK(BM_TxCall);

void BM_SetDbgCtrlsCall(benchmark::State& state) {
  saveRestore(state, ac::SetDbgCtrlsCall(5, sampleCtrls()));
}
BENCHMARK(BM_SetDbgCtrlsCall);

#ifdef QV_HAVE_PROTOBUF
void fillHdr(qvbench::Hdr* hdr) {
  hdr->set_msg_type(1017);
  hdr->set_reply_type(1018);
  hdr->set_version(23);
  hdr->set_dst_pgm_id(5);
  hdr->set_user("someone");
  hdr->set_interact_id(42);
}

template <class Proto>
void protoSaveRestore(benchmark::State& state, const Proto& msg) {
  char buf[2048];
  Proto back;
  for (auto _ : state) {
    const int n = static_cast<int>(msg.ByteSizeLong());
    msg.SerializeToArray(buf, n);
    back.ParseFromArray(buf, n);
    benchmark::DoNotOptimize(back.hdr().interact_id());
  }
}

void BM_TxCallProtobuf(benchmark::State& state) {
  qvbench::TransactionCall msg;
  fillHdr(msg.mutable_hdr());
  msg.set_tx_type(1);
  msg.set_tx_id(123456789);
  protoSaveRestore(state, msg);
}
BENCHMARK(BM_TxCallProtobuf);

void BM_SetDbgCtrlsCallProtobuf(benchmark::State& state) {
  qvbench::SetDbgCtrlsCall msg;
  fillHdr(msg.mutable_hdr());
  for (int i = 0; i < 8; ++i) msg.add_ctrls(i);
  msg.set_modules(std::string(72, '\0').replace(1, 1, "\1"));
  protoSaveRestore(state, msg);
}
BENCHMARK(BM_SetDbgCtrlsCallProtobuf);
#endif

void handler(void* obj, ac::IpcMsgHdr*, ac::IpcMsgProto*) { ++*static_cast<int*>(obj); }

void BM_DispatchCall(benchmark::State& state) {
  ac::IpcMsgHndlrTbl tbl;
  int calls = 0;
  tbl.add(1001, &calls, handler);
  ac::PingCall call;
  for (auto _ : state) tbl.invokeHandler(&call, nullptr);
  benchmark::DoNotOptimize(calls);
}
BENCHMARK(BM_DispatchCall);

// The same work for every dispatch row: count the call.
struct Counter {
  int calls = 0;
  void pingCallCb(ac::PingCall*, ac::IpcMsgProto*) { ++calls; }
};

void BM_DispatchTypedCall(benchmark::State& state) {
  ac::IpcMsgHndlrTbl tbl;
  Counter counter;
  tbl.add<&Counter::pingCallCb>(&counter);
  ac::PingCall call;
  for (auto _ : state) tbl.invokeHandler(&call, nullptr);
  benchmark::DoNotOptimize(counter.calls);
}
BENCHMARK(BM_DispatchTypedCall);

void BM_DispatchUnorderedMapBaseline(benchmark::State& state) {
  using Routine = void (*)(void*, ac::IpcMsgHdr*, ac::IpcMsgProto*);
  std::unordered_map<int, Routine> routines;
  routines[ac::PingCall::kMsgType] = [](void* obj, ac::IpcMsgHdr* msg, ac::IpcMsgProto* proto) {
    static_cast<Counter*>(obj)->pingCallCb(static_cast<ac::PingCall*>(msg), proto);
  };
  Counter counter;
  ac::PingCall call;
  ac::IpcMsgHdr* msg = &call;
  for (auto _ : state) {
    benchmark::DoNotOptimize(msg);
    const auto found = routines.find(msg->msgType());
    if (found != routines.end()) found->second(&counter, msg, nullptr);
  }
  benchmark::DoNotOptimize(counter.calls);
}
BENCHMARK(BM_DispatchUnorderedMapBaseline);

void BM_DispatchReplyAmong10000(benchmark::State& state) {
  ac::IpcMsgHndlrTbl tbl;
  int calls = 0;
  for (int id = 1; id <= 10000; ++id) tbl.add(1002, id, &calls, handler, false);
  ac::PingReply reply;
  int id = 0;
  for (auto _ : state) {
    id = (id + 7919) % 10000;  // a different interaction id each time
    reply.setInteractId(id + 1);
    tbl.invokeHandler(&reply, nullptr);
  }
  benchmark::DoNotOptimize(calls);
}
BENCHMARK(BM_DispatchReplyAmong10000);

}  // namespace
BENCHMARK_MAIN();
