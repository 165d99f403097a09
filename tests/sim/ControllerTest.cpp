// The command interpreter of one simulated controller, on simulated time.
#include <gtest/gtest.h>

#include "sim/Controller.h"

namespace {

struct TCtl {
  TSimController C{3};
  double Now = 0;
  TCtl() { C.SetSoftLimits(0, 250); }
  std::string Do(const std::string &cmd) { return C.Execute(cmd, Now); }
  void Wait(double ms) { Now += ms; C.Advance(Now); }
};

}  // namespace

TEST(SimController, AnswersParametersAndPlainCommands) {
  TCtl t;
  EXPECT_EQ(t.Do("VER"), "VERISIM_1.0");
  EXPECT_EQ(t.Do("P134?"), "OFF");
  EXPECT_EQ(t.Do("P134=7"), "");
  EXPECT_EQ(t.Do("P134?"), "ON");
  EXPECT_EQ(t.Do("P403?"), "P403=5");
  EXPECT_EQ(t.Do("P51?"), "P51=10");
  EXPECT_EQ(t.Do("P777?"), "P777=0");
  EXPECT_EQ(t.Do("P51=-12.25"), "");
  EXPECT_EQ(t.Do("P51?"), "P51=-12.25");
  EXPECT_EQ(t.Do(""), "OK1");
  EXPECT_EQ(t.Do("XYZ"), "?");
  EXPECT_EQ(t.Do("P12=abc"), "?");
  // Registers are cleared by writing 0.
  t.C.AddWarnings(5);
  t.C.AddErrors(8194);
  EXPECT_EQ(t.Do("P12?"), "P12=5");
  EXPECT_EQ(t.Do("P11?"), "P11=8194");
  EXPECT_EQ(t.Do(""), "OK4");
  t.Do("P11=0");
  EXPECT_EQ(t.Do(""), "OK3");
  t.Do("P12=0");
  EXPECT_EQ(t.Do(""), "OK1");
}

TEST(SimController, MovesInSimulatedTimeOnlyWithCurrent) {
  TCtl t;
  // No motor current: the move is refused and noted.
  t.Do("V=600.0000 WA=20.0000 E");
  EXPECT_FALSE(t.C.Moving());
  EXPECT_EQ(t.C.TakeNotes().size(), 1u);
  t.Do("P134=7");
  t.Do("V=600.0000 WA=20.0000 E");  // 10 mm/s, 10 mm to go
  EXPECT_EQ(t.Do(""), "OK0");
  t.Wait(500);
  EXPECT_EQ(t.Do("P51?"), "P51=15");
  EXPECT_EQ(t.Do(""), "OK0");
  t.Wait(600);
  EXPECT_EQ(t.Do("P51?"), "P51=20");
  EXPECT_EQ(t.Do(""), "OK1");
  // Beyond the soft limit: stops there and raises warning bit 0.
  t.Do("V=60000 WA=-5 E");
  t.Wait(1000);
  EXPECT_EQ(t.Do("P51?"), "P51=0");
  EXPECT_EQ(t.Do("P12?"), "P12=1");
  EXPECT_EQ(t.Do(""), "OK3");
  t.Do("P12=0");
  // "S" stops a move where it is.
  t.Do("V=600 WA=100 E");
  t.Wait(1000);
  t.Do("S");
  t.Wait(1000);
  EXPECT_EQ(t.Do("P51?"), "P51=10");
  EXPECT_EQ(t.Do(""), "OK1");
  // A speed of 0 is out of range.
  t.Do("V=0.0000 WA=50.0000 E");
  EXPECT_FALSE(t.C.Moving());
  EXPECT_EQ(t.Do("P12?"), "P12=16");
}

TEST(SimController, ReferenceRunAndManualMove) {
  TCtl t;
  t.C.Position = 20;  // 1200 mm/min: one second to 0
  t.Do("H");
  t.Wait(500);
  EXPECT_EQ(t.Do("P403?"), "P403=3");
  EXPECT_EQ(t.Do("P51?"), "P51=10");
  t.Wait(600);
  EXPECT_EQ(t.Do("P403?"), "P403=1");
  EXPECT_EQ(t.Do("P51?"), "P51=0");
  // Half-second manual move forward at P1019 mm/min, until "S".
  t.Do("P134=7");
  t.Do("P1019=600");
  t.Do("P1031=2");
  t.Wait(500);
  t.Do("S");
  t.Wait(500);
  EXPECT_EQ(t.Do("P51?"), "P51=5");
  t.Do("P1031=1");
  t.Wait(10000);  // runs into the lower soft limit
  EXPECT_EQ(t.Do("P51?"), "P51=0");
  EXPECT_EQ(t.Do(""), "OK3");
  // A reference run stopped half way is not referenced.
  t.C.Position = 20;
  t.Do("H");
  t.Wait(100);
  t.Do("S");
  EXPECT_EQ(t.Do("P403?"), "P403=5");
}


TEST(SimController, FastDipProgramCountsDown) {
  TCtl t;
  t.C.Position = 50;
  t.Do("P134=7");
  // Top 50 mm, bottom 110 mm, both ways 3600 mm/min (60 mm/s): a dip is 2 s.
  for (auto cmd : {"R0 = 50.0000", "R1 = 110.0000", "R2 = 3600.0000", "R3 = 3600.0000", "C1 = 3",
                   "M1 = 1"})
    EXPECT_EQ(t.Do(cmd), "") << cmd;
  EXPECT_EQ(t.Do("RUN"), "");
  EXPECT_EQ(t.Do("P0?"), "RUN");
  EXPECT_EQ(t.Do("P100?"), "P100=3");
  t.Wait(1000);
  EXPECT_EQ(t.Do("P51?"), "P51=110");
  t.Wait(1000);
  EXPECT_EQ(t.Do("P100?"), "P100=2");
  t.Wait(1500);
  EXPECT_EQ(t.Do("P51?"), "P51=80");
  EXPECT_EQ(t.Do("P0?"), "RUN");
  EXPECT_EQ(t.Do(""), "OK0");
  // The emergency stop halts it; released, RUN goes on with the same count.
  t.C.SetEmergencyStop(true, t.Now);
  EXPECT_EQ(t.Do("P0?"), "IDLE");
  EXPECT_EQ(t.Do(""), "OK1");
  EXPECT_EQ(t.Do("P1013?"), "P1013=0");
  t.Do("RUN");
  EXPECT_EQ(t.Do("P0?"), "IDLE");  // refused while pressed
  t.C.SetEmergencyStop(false, t.Now);
  EXPECT_EQ(t.Do("P1013?"), "P1013=4");
  t.Do("RUN");
  EXPECT_EQ(t.Do("P0?"), "RUN");
  t.Wait(60000);  // one jump over several phases
  EXPECT_EQ(t.Do("P100?"), "P100=0");
  EXPECT_EQ(t.Do("P0?"), "IDLE");
  EXPECT_EQ(t.Do("P51?"), "P51=50");
  EXPECT_EQ(t.Do(""), "OK1");
}

TEST(SimController, LimitSwitchAndEmergencyStopHaltMotion) {
  TCtl t;
  t.Do("P134=7");
  t.Do("V=600 WA=100 E");
  t.Wait(1000);
  t.C.SetLimitSwitch(true, t.Now);
  t.Wait(1000);
  EXPECT_EQ(t.Do("P51?"), "P51=20");
  EXPECT_EQ(t.Do("P11?"), "P11=8192");
  EXPECT_EQ(t.Do(""), "OK4");
  t.Do("P11=0");
  t.C.SetEmergencyStop(true, t.Now);
  t.Do("V=600 WA=100 E");
  t.Do("H");
  t.Do("P1031=2");
  EXPECT_FALSE(t.C.Moving());
  EXPECT_EQ(t.C.TakeNotes().size(), 3u);
}

TEST(SimController, NumberForms) {
  EXPECT_EQ(SimNumber(-0.0), "0");
  EXPECT_EQ(SimNumber(12.5), "12.5");
  EXPECT_EQ(SimNumber(-1.2345), "-1.234");
  double v = 0;
  EXPECT_TRUE(SimParseNumber("-12.5", v));
  EXPECT_DOUBLE_EQ(v, -12.5);
  EXPECT_FALSE(SimParseNumber("1,5", v));
  EXPECT_FALSE(SimParseNumber("", v));
  EXPECT_FALSE(SimParseNumber("1e3", v));
}

TEST(SimController, RampsErrorsInputsAndPowerUp) {
  TCtl t;
  t.C.Acceleration = 100;  // mm/s^2: 0.2 s and 2 mm up to 20 mm/s
  t.Do("P134=7");
  t.Do("V=1200 WA=20 E");  // 0.2 s up, 0.3 s at speed, 0.2 s down
  t.Wait(100);
  EXPECT_EQ(t.Do("P51?"), "P51=10.5");
  t.Wait(500);
  EXPECT_EQ(t.Do("P51?"), "P51=19.5");
  EXPECT_EQ(t.Do(""), "OK0");  // 10 mm / 20 mm/s would be over
  t.Wait(101);
  EXPECT_EQ(t.Do(""), "OK1");
  // An error stops the axis where it is.
  t.Do("V=1200 WA=40 E");
  t.Wait(300);
  t.Do("P11=2");
  t.Wait(300);
  EXPECT_EQ(t.Do("P51?"), "P51=24");
  EXPECT_EQ(t.Do(""), "OK4");
  // Inputs set from outside: bit 2 clear is the stop pressed.
  t.Do("P11=0");
  t.C.SetParameter(1013, 3, t.Now);
  EXPECT_EQ(t.Do("P1013?"), "P1013=3");
  t.Do("V=1200 WA=40 E");
  EXPECT_FALSE(t.C.Moving());
  t.C.SetParameter(1013, 4, t.Now);
  t.Do("P403=1");
  t.C.PowerUp(t.Now);
  EXPECT_EQ(t.Do("P134?"), "OFF");
  EXPECT_EQ(t.Do("P403?"), "P403=5");
  EXPECT_EQ(t.Do("P51?"), "P51=24");
}
