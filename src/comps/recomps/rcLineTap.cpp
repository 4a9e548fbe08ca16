#include "comps/recomps/rcLineTap.h"

#include "comps/recomps/rcHook.h"

namespace rc {

namespace linetap {
LineTapRtn s_tap = nullptr;
}  // namespace linetap

LineTapRtn setLineTap(LineTapRtn rtn) {
  return installHook(linetap::s_tap, rtn, static_cast<LineTapRtn>(nullptr));
}

}  // namespace rc
