#include "platform/vfw/sharelock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {

namespace {

// One lock byte per meaning, beyond any real file size.
constexpr off_t kLockBase = 0x7FFFFFFF00000000LL;
enum LockByte { kHasRead, kHasWrite, kDeniesRead, kDeniesWrite };

struct flock LockAt(LockByte which, short type) {
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = kLockBase + which;
    l.l_len = 1;
    return l;
}

// True when another open file description holds a lock on the byte.
bool HeldByOthers(int fd, LockByte which) {
    struct flock l = LockAt(which, F_WRLCK);
    if (::fcntl(fd, F_OFD_GETLK, &l) != 0) return true; // cannot tell: be safe
    return l.l_type != F_UNLCK;
}

bool Hold(int fd, LockByte which) {
    struct flock l = LockAt(which, F_RDLCK);
    while (::fcntl(fd, F_OFD_SETLK, &l) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// Serialises check-and-take between concurrent opens of the same file.
class Gate {
public:
    explicit Gate(int fd) : fd_(fd) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Gate() { ::flock(fd_, LOCK_UN); }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

private:
    int fd_;
};

} // namespace

ShareRequest ShareFromMode(unsigned mode) {
    ShareRequest r;
    unsigned access = mode & 0x3;
    r.read = access == OF_READ || access == OF_READWRITE || (mode & OF_CREATE);
    r.write = access == OF_WRITE || access == OF_READWRITE || (mode & OF_CREATE);
    switch (mode & 0x70) {
    case OF_SHARE_EXCLUSIVE:
        r.deny_read = r.deny_write = true;
        break;
    case OF_SHARE_DENY_WRITE:
        r.deny_write = true;
        break;
    case OF_SHARE_DENY_READ:
        r.deny_read = true;
        break;
    default:
        break; // deny none, and the compatibility mode
    }
    return r;
}

bool AcquireShare(int fd, const ShareRequest& r) {
    Gate gate(fd);
    if (r.read && HeldByOthers(fd, kDeniesRead)) return false;
    if (r.write && HeldByOthers(fd, kDeniesWrite)) return false;
    if (r.deny_read && HeldByOthers(fd, kHasRead)) return false;
    if (r.deny_write && HeldByOthers(fd, kHasWrite)) return false;
    if (r.read && !Hold(fd, kHasRead)) return false;
    if (r.write && !Hold(fd, kHasWrite)) return false;
    if (r.deny_read && !Hold(fd, kDeniesRead)) return false;
    if (r.deny_write && !Hold(fd, kDeniesWrite)) return false;
    return true;
}

} // namespace lum::platform::vfw
