// The port scan, Program and Stop, tick by tick.
#include <gtest/gtest.h>

#include "engine_fakes.h"
#include "run_machine.h"

namespace tarnwick {
namespace {

using testing::EngineHarness;
using testing::Request;

class ScanTest : public ::testing::Test, public EngineHarness {};

TEST_F(ScanTest, InitDisablesProgramAndStopAndTicksDoNothingUntilProgram) {
  EXPECT_FALSE(window.IsEnabled(IdProgram));
  EXPECT_FALSE(window.IsEnabled(IdStop));
  engine->OnTimer();
  EXPECT_EQ(engine->state().runState, RunStart);
  EXPECT_TRUE(port.opened.empty());
}

TEST_F(ScanTest, NoPortOpens) {
  SetImage(testing::Pattern(10));
  engine->OnProgram();
  EXPECT_TRUE(window.timerRunning);
  EXPECT_TRUE(window.IsEnabled(IdStop));
  EXPECT_FALSE(window.IsEnabled(IdProgram));
  window.whileBoxOpen = [&](const std::string&) {
    EXPECT_FALSE(window.timerRunning) << "the timer must be dead while the box is open";
  };
  Tick(8);
  EXPECT_EQ(window.statuses, (std::vector<std::string>{"Error Open COM1 !", "Error Open COM2 !",
                                                        "Error Open COM3 !", "Error Open COM4 !"}));
  EXPECT_EQ(window.detail, "no such device") << "the OS's reason goes with the status";
  EXPECT_TRUE(window.messages.empty());
  engine->OnTimer();  // the 9th tick
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "  Can not Connect To Device!    ");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(window.timerKills, 1);
  EXPECT_TRUE(window.destroyed);
  EXPECT_EQ(port.opened, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
}

TEST_F(ScanTest, PortWithoutDeviceIsProbed100TicksThenClosed) {
  port.openable[0] = true;
  engine->OnProgram();
  Tick(2);  // first port, open and configure COM1
  EXPECT_EQ(port.configures, 1);
  window.statuses.clear();
  // The handshake goes out on probe ticks 0, 5, 10, ... 95.
  for (int k = 0; k < 100; ++k) {
    Tick();
    EXPECT_EQ(port.HandshakesWritten(), k / 5 + 1) << "probe tick " << k;
  }
  ASSERT_EQ(window.statuses.size(), 100u);
  const char* glyphs[] = {"-", "\\", "|", "/"};
  for (std::size_t k = 0; k < 100; ++k) {
    EXPECT_EQ(window.statuses[k], std::string("Connect COM1 ") + glyphs[k % 4]) << "probe tick " << k;
  }
  EXPECT_EQ(port.closes, 0);
  Tick();  // the 101st probe tick only closes the port
  EXPECT_EQ(port.closes, 1);
  EXPECT_EQ(window.status, "Connect COM1 /");
  EXPECT_EQ(window.statuses.size(), 100u);
  Tick();  // next port
  EXPECT_EQ(engine->portIndex(), 1u);
}

TEST_F(ScanTest, PortThatFailsWhileProbedIsLeftForTheNextPort) {
  port.openable = {true, true, false, false};
  engine->OnProgram();
  Tick(3);  // open COM1, probe tick 0
  // A first request arrives as the adapter is pulled: probe tick 1's poll
  // takes it and finds the port gone.
  port.Deliver(Request(0));
  port.failed = true;
  Tick();
  EXPECT_TRUE(port.isOpen);
  Tick();
  EXPECT_FALSE(port.isOpen);
  EXPECT_EQ(window.detail, "Input/output error");
  EXPECT_EQ(engine->state().connected, 0u) << "the device heard there is gone";
  Tick(2);  // next port, open COM2: probed, not taken for connected
  EXPECT_EQ(port.openPort, "COM2");
  Tick();
  EXPECT_EQ(window.status, "Connect COM2 -");
  EXPECT_TRUE(window.messages.empty());
}

// The port opens but will not take the line settings: nothing goes out on it,
// it is closed in the same tick, and the scan goes on as for a port that did
// not open.
TEST_F(ScanTest, PortThatRefusesTheLineSettingsIsClosedAndReportedLikeOneThatDidNotOpen) {
  port.openable = {true, true, false, false};
  port.refusesSettings[0] = true;
  engine->OnProgram();
  Tick(2);  // first port, open COM1
  EXPECT_EQ(port.configures, 1);
  EXPECT_FALSE(port.isOpen);
  EXPECT_EQ(port.closes, 1);
  EXPECT_EQ(window.status, "Error Open COM1 !");
  EXPECT_EQ(window.detail, "Invalid argument");
  EXPECT_TRUE(port.writes.empty());
  Tick(2);  // next port, open COM2: configured and probed
  EXPECT_EQ(port.openPort, "COM2");
  EXPECT_TRUE(port.isOpen);
  Tick();
  EXPECT_EQ(window.status, "Connect COM2 -");
  EXPECT_EQ(port.HandshakesWritten(), 1);
}

TEST_F(ScanTest, AllFourPortsOpenWithNoDeviceGiveUpOnTick413) {
  port.openable = {true, true, true, true};
  engine->OnProgram();
  Tick(412);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(port.closes, 4);
  engine->OnTimer();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "  Can not Connect To Device!    ");
  EXPECT_TRUE(window.destroyed);
  EXPECT_FALSE(port.isOpen) << "no port is open at the end";
  EXPECT_EQ(port.HandshakesWritten(), 80);
}

TEST_F(ScanTest, StopDuringProbingIsHonouredOnTheNextTick) {
  port.openable[1] = true;
  engine->OnProgram();
  Tick(5);  // first, COM1 fails, next, open COM2, one probe tick
  ASSERT_EQ(engine->state().connectStep, StepProbe);
  engine->OnStop();
  EXPECT_EQ(window.status, "Stop");
  EXPECT_TRUE(window.IsEnabled(IdProgram));
  EXPECT_FALSE(window.IsEnabled(IdStop));
  EXPECT_TRUE(port.isOpen);
  const int readsBefore = port.reads;
  port.Deliver({0x00});
  Tick();  // probe actions run, then the port closes
  EXPECT_EQ(window.status, "Connect COM2 \\");
  EXPECT_EQ(port.reads, readsBefore + 1) << "the stop tick still polls";
  EXPECT_FALSE(port.isOpen);
  EXPECT_EQ(engine->state().runState, RunIdle);
  Tick(10);
  EXPECT_TRUE(window.timerRunning);
  EXPECT_EQ(window.status, "Connect COM2 \\");
}

TEST_F(ScanTest, StopWhileRemainingPortsFailIsNeverHonoured) {
  engine->OnProgram();
  Tick(2);
  engine->OnStop();
  Tick(7);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "  Can not Connect To Device!    ");
}

TEST_F(ScanTest, FirstRequestIsServedInTheProbeTickAndConnectedFollows) {
  SetImage(testing::Pattern(300));
  port.openable[0] = true;
  engine->OnProgram();
  Tick(2);
  port.Deliver(Request(0));
  Tick();
  ASSERT_EQ(port.Blocks().size(), 1u) << "served inside the probe tick";
  EXPECT_EQ(port.writes.front(), testing::Handshake()) << "the handshake goes out before the poll";
  EXPECT_EQ(window.readouts[IdBytesSent], 128u);
  EXPECT_EQ(engine->state().connected, 1u);
  EXPECT_EQ(engine->state().deviceSeen, 1u);
  EXPECT_EQ(engine->state().runState, RunConnecting);
  Tick();
  EXPECT_EQ(window.status, "Connected");
  EXPECT_FALSE(window.IsEnabled(IdStop));
  EXPECT_EQ(engine->state().runState, RunConnected);
  EXPECT_TRUE(port.isOpen);
  const int readsBefore = port.reads;
  port.Deliver(Request(1));
  Tick();  // the pause: no poll
  EXPECT_EQ(engine->state().runState, RunProgramming);
  EXPECT_EQ(port.Blocks().size(), 1u);
  Tick();  // first poll of the programming state
  EXPECT_EQ(port.reads, readsBefore + 1);
  EXPECT_EQ(port.Blocks().size(), 2u);
}

TEST_F(ScanTest, RequestInTheLastProbeTickOfAPortCarriesToTheNextPort) {
  port.openable = {true, true, false, false};
  engine->OnProgram();
  Tick(2 + 99);
  port.Deliver(Request(0));
  Tick();  // the 100th probe tick serves the request
  EXPECT_EQ(engine->state().connected, 1u);
  Tick();  // the limit test comes first: COM1 closes all the same
  EXPECT_FALSE(port.isOpen);
  Tick(2);  // next port, open COM2
  Tick();
  EXPECT_EQ(window.status, "Connected");
  EXPECT_EQ(port.openPort, "COM2");
}

TEST_F(ScanTest, TimerFailureShowsItsBoxThenEndsTheProgramAndArmsLast) {
  window.timerCanStart = false;
  int ticksDuringBox = 0;
  window.whileBoxOpen = [&](const std::string&) {
    engine->OnTimer();  // a stray tick must find the engine unarmed
    ++ticksDuringBox;
    EXPECT_EQ(engine->state().armed, 0u);
  };
  engine->OnProgram();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "Not enough timers available for this window");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(ticksDuringBox, 1);
  EXPECT_TRUE(window.destroyed);
  EXPECT_EQ(engine->state().armed, 1u);
  EXPECT_FALSE(window.IsEnabled(IdStop));
  EXPECT_TRUE(port.opened.empty());
}

TEST_F(ScanTest, ProgramAfterStopBeforeItWasHonouredClosesThePortFirst) {
  port.openable[0] = true;
  engine->OnProgram();
  Tick(3);  // COM1 open and probed once
  engine->OnStop();
  engine->OnProgram();  // before the next tick honours the stop
  EXPECT_FALSE(port.isOpen) << "the old scan's port must be closed";
  EXPECT_EQ(port.closes, 1);
  Tick(2);  // the new scan opens COM1 again
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(port.opened, (std::vector<std::string>{"COM1", "COM1"}));
  EXPECT_EQ(engine->state().connectStep, StepProbe);
}

TEST_F(ScanTest, ProgramAgainAfterSuccessSkipsTheScan) {
  SetImage(testing::Pattern(100));
  ConnectOnCom1();
  port.Deliver(testing::Result(0));
  Tick();
  ASSERT_EQ(window.messages.size(), 1u);
  const auto opensBefore = port.opened.size();
  const auto handshakesBefore = port.HandshakesWritten();
  window.statuses.clear();
  engine->OnProgram();
  EXPECT_EQ(port.HandshakesWritten(), handshakesBefore + 1) << "handshake at once";
  EXPECT_FALSE(window.IsEnabled(IdStop));
  EXPECT_EQ(window.timerStarts, 1);
  EXPECT_EQ(engine->state().runState, RunConnected);
  EXPECT_EQ(window.readouts[IdBytesSent], 100u) << "read-outs keep the last run's figures";
  port.Deliver(Request(0));
  Tick(2);
  EXPECT_EQ(port.opened.size(), opensBefore) << "no scan";
  EXPECT_EQ(std::count(window.statuses.begin(), window.statuses.end(), "Connected"), 0);
  EXPECT_EQ(window.status, "Done");
}

TEST_F(ScanTest, ProgramForASeenDeviceWhosePortClosedScansAgain) {
  port.openable = {true, false, false, false};
  engine->OnProgram();
  Tick(3);
  engine->OnStop();
  port.Deliver(Request(0));
  port.Deliver(testing::Result(1));
  Tick();  // a request and a failure arrive in the tick that honours the stop
  ASSERT_EQ(engine->state().deviceSeen, 1u);
  ASSERT_FALSE(port.isOpen);
  engine->OnProgram();
  EXPECT_EQ(engine->state().runState, RunConnecting) << "a closed port can only be found by a scan";
  EXPECT_TRUE(window.IsEnabled(IdStop));
  Tick(3);
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(window.status, "Connect COM1 -") << "connected only once this scan is answered";
  port.Deliver(Request(0));
  Tick();  // the whole (empty) image goes in the probe tick
  EXPECT_FALSE(window.IsEnabled(IdStop));
  Tick(3);  // "Connected", the pause, the first poll
  EXPECT_TRUE(window.messages.empty()) << "the stopped run's failure is not reported";
}

}  // namespace
}  // namespace tarnwick
