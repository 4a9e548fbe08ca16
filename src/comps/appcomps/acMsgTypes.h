// The type numbers of the standard messages every program of the system understands, and the
// functions that register their classes with the process's message factory (created if
// absent). Types 1 to 1000 are one-way; above, an odd type is a call and the next even type its
// reply. Registering a type again replaces its routine. Not thread-safe.
#pragma once

namespace ac {

class MsgTypes {
 public:
  enum : short {
    PING_MSG = 1,
    LOGIN_STATUS_MSG = 2,
    END_MSG_TYPE = 3,
    PING_CALL = 1001,
    PING_REPLY = 1002,
    LOGIN_CALL = 1003,
    LOGIN_REPLY = 1004,
    GET_DBG_CTRLS_CALL = 1005,
    GET_DBG_CTRLS_REPLY = 1006,
    GET_PGM_TBL_CALL = 1007,
    GET_PGM_TBL_REPLY = 1008,
    GET_FAULT_CTRLS_CALL = 1009,
    GET_FAULT_CTRLS_REPLY = 1010,
    GET_REV_DATA_CALL = 1011,
    GET_REV_DATA_REPLY = 1012,
    SET_DBG_CTRLS_CALL = 1013,
    SET_DBG_CTRLS_REPLY = 1014,
    SET_FAULT_CTRLS_CALL = 1015,
    SET_FAULT_CTRLS_REPLY = 1016,
    TRANSACTION_CALL = 1017,
    TRANSACTION_REPLY = 1018,
    GET_PGM_INFO_CALL = 1019,
    GET_PGM_INFO_REPLY = 1020
  };

  // Ping, debug controls, revision data, program information, program table and fault controls.
  static void registerMsgs();
  // A manager receives the login call, a client the login reply.
  static void registerLoginMsgs(bool isMgr);
  // A server receives the transaction call, a client the transaction reply.
  static void registerTxMsgs(bool isServer);
  static void registerStatusMsg();
};

}  // namespace ac
