// The line settings the program works with, applied to a port's termios.
#pragma once

#include <termios.h>

namespace tarnwick {

// Raw binary mode at 4800 baud, 8 data bits, 1 stop bit, no parity checking
// (INPCK off, no stripping or marking of bytes), receiver on, modem status
// lines ignored. Kept as the port had them: the parity scheme (PARENB, PARODD,
// CMSPAR), hardware flow control (CRTSCTS) and DTR handling (HUPCL). Software
// flow control is switched off: XON and XOFF are ordinary bytes in block data,
// sequence numbers and checksums.
void MakeLineSettings(termios& settings);

}  // namespace tarnwick
