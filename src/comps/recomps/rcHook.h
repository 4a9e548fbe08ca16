// A hook is a routine that a lower unit calls and a higher unit installs when it is part of the
// program (see the README's Architecture section). installHook puts rtn in slot, or the lower
// unit's own default when rtn is null, and returns the routine that was there, so that a test can
// put it back. Not thread-safe: hooks are installed during static initialisation or by tests.
#pragma once

namespace rc {

template <class Rtn>
Rtn installHook(Rtn& slot, Rtn rtn, Rtn dflt) {
  Rtn prev = slot;
  slot = rtn != nullptr ? rtn : dflt;
  return prev;
}

}  // namespace rc
