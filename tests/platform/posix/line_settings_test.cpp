// Which termios bits the program sets, clears and leaves as the port had them.
#include "line_settings.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

bool Has(tcflag_t flags, unsigned long bits) { return (flags & bits) == bits; }
bool HasNone(tcflag_t flags, unsigned long bits) { return (flags & bits) == 0; }

TEST(LineSettings, FromEveryBitSet) {
  termios settings{};
  settings.c_iflag = ~tcflag_t{0};
  settings.c_oflag = ~tcflag_t{0};
  settings.c_cflag = ~tcflag_t{0};
  settings.c_lflag = ~tcflag_t{0};
  settings.c_cc[VMIN] = 5;
  MakeLineSettings(settings);

  EXPECT_EQ(cfgetispeed(&settings), B4800);
  EXPECT_EQ(cfgetospeed(&settings), B4800);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(HasNone(settings.c_cflag, CSTOPB));
  EXPECT_TRUE(Has(settings.c_cflag, CLOCAL | CREAD));
  // The port's own parity scheme, hardware flow control and DTR handling.
  EXPECT_TRUE(Has(settings.c_cflag, PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL));

  EXPECT_TRUE(HasNone(settings.c_iflag, INPCK | ISTRIP | PARMRK | IGNBRK | BRKINT));
  EXPECT_TRUE(HasNone(settings.c_iflag, ICRNL | INLCR | IGNCR | IUCLC));
  EXPECT_TRUE(HasNone(settings.c_iflag, IXON | IXOFF | IXANY));
  EXPECT_TRUE(HasNone(settings.c_oflag, OPOST));
  EXPECT_TRUE(HasNone(settings.c_lflag, ICANON | ECHO | ECHONL | ISIG | IEXTEN));
  EXPECT_EQ(settings.c_cc[VMIN], 0);
  EXPECT_EQ(settings.c_cc[VTIME], 0);
}

TEST(LineSettings, SevenOddOneKeepsOddParityWithoutChecking) {
  termios settings{};
  settings.c_cflag = CS7 | PARENB | PARODD | CSTOPB;
  settings.c_iflag = INPCK | ISTRIP | PARMRK;
  MakeLineSettings(settings);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(Has(settings.c_cflag, PARENB | PARODD));
  EXPECT_TRUE(HasNone(settings.c_cflag, CSTOPB | CMSPAR));
  EXPECT_EQ(settings.c_iflag, 0u);
}

TEST(LineSettings, FromNothingSetAddsOnlyWhatTheLineNeeds) {
  termios settings{};
  MakeLineSettings(settings);
  EXPECT_EQ(settings.c_cflag & ~static_cast<tcflag_t>(CBAUD | CIBAUD), static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
  EXPECT_EQ(settings.c_iflag, 0u);
  EXPECT_EQ(settings.c_oflag, 0u);
  EXPECT_EQ(settings.c_lflag, 0u);
  EXPECT_EQ(cfgetospeed(&settings), B4800);
}

}  // namespace
}  // namespace tarnwick
