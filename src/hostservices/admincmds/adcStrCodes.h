// Message codes of the admin commands (code range 13). A command that ends with one of them
// exits with the code's low eight bits, so each failure has its own exit status (20 to 39).
#pragma once

enum AdcStrCode {
  ADC_SC_NEED_TARGET = 1300,
  ADC_SC_NO_SUCH_TARGET = 1301,
  ADC_SC_NO_SUCH_PID = 1302,
  ADC_SC_AMBIGUOUS_TARGET = 1303,
  ADC_SC_REFUSED = 1304,
  ADC_SC_TIMED_OUT = 1305,
  ADC_SC_CONNECTION_LOST = 1306,
  ADC_SC_CALL_FAILED = 1307,
  ADC_SC_BAD_REPLY = 1308,
  ADC_SC_NEED_SUBCMD = 1309,
  ADC_SC_NEED_ROOT = 1310,
  ADC_SC_BUSY = 1311,
  ADC_SC_REQUEST_TOO_LARGE = 1312,
  ADC_SC_NOT_SUPPORTED = 1313,
  ADC_SC_NO_JSON = 1314,
  ADC_SC_BAD_RULES_LINE = 1315,
  ADC_SC_HOST_UNREACHABLE = 1316,
  ADC_SC_NO_REMOTE_QVCTL = 1317,
  ADC_SC_REMOTE_INCOMPATIBLE = 1318,
  ADC_SC_BAD_HOSTS = 1319,
  ADC_SC_LAST_CODE = 1320
};
