#include "line_settings_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include "MEGENCOM32.h"

namespace megencom32 {
namespace {

struct SpeedCode {
  int32_t baud;
  speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

bool speedCode(int32_t baud, speed_t &code) {
  for (const SpeedCode &s : kSpeeds) {
    if (s.baud == baud) {
      code = s.code;
      return true;
    }
  }
  return false;
}

tcflag_t sizeFlag(int32_t dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

// The c_cflag bits this library decides; everything else is left alone.
constexpr tcflag_t kLineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

tcflag_t lineBits(const LineSettings &s) {
  tcflag_t bits = sizeFlag(s.dataBits);
  switch (s.parity) {
    case 'E': bits |= PARENB; break;
    case 'O': bits |= PARENB | PARODD; break;
    case 'M': bits |= PARENB | CMSPAR | PARODD; break;  // parity bit always 1
    case 'S': bits |= PARENB | CMSPAR; break;           // parity bit always 0
    default: break;                                      // 'N'
  }
  if (s.stopBits == 2) bits |= CSTOPB;
  if (s.flow == 1) bits |= CRTSCTS;
  return bits;
}

// cfmakeraw, spelled out so that the five-zeros path can keep c_cflag.
void clearProcessing(termios &t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // One byte satisfies a read, and with O_NONBLOCK an empty line answers
  // EAGAIN (VMIN 0 would answer 0, which reads as a hang-up). Reads never
  // wait in the kernel: this library waits with poll.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

int32_t checkLineSettings(const LineSettings &s) {
  speed_t code = B0;
  if (!speedCode(s.speed, code)) return MEGENCOM32_BAD_SETTINGS;
  return checkLineValues(s);
}

int32_t applyLineSettings(int fd, const LineSettings &s, bool pseudoTerminal) {
  if (checkLineSettings(s) != MEGENCOM32_OK) return MEGENCOM32_BAD_SETTINGS;
  speed_t code = B0;
  speedCode(s.speed, code);

  termios t{};
  if (tcgetattr(fd, &t) != 0) return MEGENCOM32_IO_ERROR;
  clearProcessing(t);
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
  if (s.flow == 2) t.c_iflag |= IXON | IXOFF;
  t.c_cflag &= ~kLineBits;
  t.c_cflag |= lineBits(s) | CREAD | CLOCAL;
  // A pty keeps neither parity nor a character size other than 8; asking for
  // them when nothing else changes makes tcsetattr fail (EINVAL), so ask a
  // pty only for what it can keep.
  if (pseudoTerminal) t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
  if (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0) return MEGENCOM32_BAD_SETTINGS;
  // tcsetattr succeeds when any one change took; read back to be sure.
  if (tcsetattr(fd, TCSANOW, &t) != 0) return MEGENCOM32_BAD_SETTINGS;

  termios now{};
  if (tcgetattr(fd, &now) != 0) return MEGENCOM32_IO_ERROR;
  const tcflag_t checked =
      pseudoTerminal ? kLineBits & ~static_cast<tcflag_t>(CSIZE | PARENB) : kLineBits;
  if ((now.c_cflag & checked) != (lineBits(s) & checked) || cfgetospeed(&now) != code ||
      (now.c_iflag & (IXON | IXOFF)) != (t.c_iflag & (IXON | IXOFF)))
    return MEGENCOM32_BAD_SETTINGS;
  return MEGENCOM32_OK;
}

bool isPseudoTerminal(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int kind = major(info.st_rdev);
  return kind >= 136 && kind <= 143;  // UNIX98_PTY_SLAVE_MAJOR and its range
}

int32_t makeRawKeepingLine(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return MEGENCOM32_IO_ERROR;
  clearProcessing(t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return MEGENCOM32_IO_ERROR;
  return MEGENCOM32_OK;
}

}  // namespace megencom32
