// The unit's temporary video files: made in the temporary folder under a
// fresh name "avi<unique>.avi", created exclusively, so nobody else's file
// or link can stand in for one.
#pragma once

#include <string>

namespace lum {

// The name of the new empty file; open descriptor in *Fd when asked for
// (the caller closes it), else closed. Raises ELumAVIError when no file
// can be made.
std::string AVICreateTempFile(int* fd = nullptr);

} // namespace lum
