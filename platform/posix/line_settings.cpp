#include "line_settings.h"

namespace tarnwick {
namespace {

constexpr tcflag_t Flags(unsigned long bits) { return static_cast<tcflag_t>(bits); }

}  // namespace

void MakeLineSettings(termios& settings) {
  settings.c_iflag &= ~Flags(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IXON | IXOFF | IXANY);
#ifdef IUCLC
  settings.c_iflag &= ~Flags(IUCLC);
#endif
  settings.c_oflag &= ~Flags(OPOST);
  settings.c_lflag &= ~Flags(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // PARENB, PARODD and CMSPAR stay as the port had them: the line keeps its
  // parity scheme, and INPCK above turns off only the checking.
  settings.c_cflag &= ~Flags(CSIZE | CSTOPB);
  settings.c_cflag |= Flags(CS8 | CLOCAL | CREAD);
  // Reads never wait, even on a descriptor without O_NONBLOCK.
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B4800);
  cfsetospeed(&settings, B4800);
}

}  // namespace tarnwick
