// Share modes between opens of one file, in this process and in others:
// advisory byte-range locks on open file descriptions, far past any data.
// Each open holds shared locks that say what it does (read, write) and what
// it denies (read, write); a new open fails when its access is denied by an
// earlier open or its denials hit an earlier open's access. The locks live
// as long as the descriptor, so closing the file ends them.
#pragma once

namespace lum::platform::vfw {

struct ShareRequest {
    bool read = false;
    bool write = false;
    bool deny_read = false;
    bool deny_write = false;
};

// Translates an AVIFileOpen mode (access | share | OF_CREATE).
ShareRequest ShareFromMode(unsigned mode);

// Checks the other opens of the file behind Fd and takes this open's locks.
// False when a share mode forbids the open, or the locks cannot be taken.
bool AcquireShare(int fd, const ShareRequest& request);

} // namespace lum::platform::vfw
