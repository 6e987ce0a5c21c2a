// Result codes of the waveform writers. The archive catalogue passes them on
// unchanged, so they share the converter's table of result codes.
#pragma once

namespace tremcvt {

inline constexpr int kWriterSuccess = 0;
// An output file cannot be opened, created or completely written.
inline constexpr int kFileOpenError = -107;
// A path cannot be stored, or memory runs out while a file is written.
inline constexpr int kOutOfMemory = -108;

}  // namespace tremcvt
