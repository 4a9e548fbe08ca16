// Feeds arbitrary bytes to the frame reader of the message transport, as a connected client
// could. The first byte picks the size of the pieces the bytes arrive in. The reader either hands
// out frames that lie within what it was fed and within the frame limit, or raises the header
// error; after an error the connection is dropped, as the server does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comps/appcomps/acIpcFrame.h"
#include "comps/recomps/rcErr.h"

namespace {

void require(bool cond) {
  if (!cond) abort();
}

// Where the touched bytes go, so that the reads are not optimised away.
volatile uint8_t g_sink;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = 1 + data[0] % 64;
  ++data;
  --size;
  ac::IpcFrameReader reader;
  size_t fed = 0, taken = 0;
  try {
    for (size_t off = 0; off < size; off += step) {
      // An exactly sized copy, so that a read past a piece is an address-sanitizer fault.
      const size_t n = size - off < step ? size - off : step;
      const std::vector<uint8_t> piece(data + off, data + off + n);
      reader.feed(piece.data(), piece.size());
      fed += n;
      ac::IpcFrame frame;
      while (reader.nextFrame(&frame)) {
        require(frame.msgLen > 0);
        require(frame.msgLen + frame.payloadLen <= ac::IpcFrameHdr::MAX_FRAME_DATA);
        require(frame.payload == frame.msg + frame.msgLen);
        taken += ac::IpcFrameHdr::SIZE + frame.msgLen + frame.payloadLen;
        // Touch every byte handed out.
        uint8_t sum = 0;
        for (size_t i = 0; i < frame.msgLen + frame.payloadLen; ++i) {
          sum = static_cast<uint8_t>(sum + frame.msg[i]);
        }
        g_sink = sum;
      }
      require(taken + reader.bufferedBytes() == fed);
    }
  } catch (const rc::Err& err) {
    require(err.code() == AC_SC_BAD_PKT_HDR_FIELD);
  }
  return 0;
}
