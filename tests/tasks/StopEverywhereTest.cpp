// STOP pressed at every event pump of a reference task (on a three- and a
// two-axis machine) and of each manual move, also inside every question box
// followed by each answer, again during the move home, with a second button
// in the same pump, and the program told to end at every pump: the frames
// the controllers receive after the press hold no motion and no output
// switched on, but the move home and what an answer given after the press
// asks for; a moving axis gets "S" before the next pump; a STOP is pressable
// whenever anything moves; the run ends and the controls come back. Buttons
// pressed at every pump without STOP change no frame of the run; menu items
// opened at every pump of a run in the window hold up nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/FormMain.h"
#include "base/Machine.h"
#include "base/OpState.h"
#include "machine/Manual.h"
#include "recipes/Definitions.h"
#include "recipes/Editors.h"
#include "support/Fakes.h"
#include "support/SimLinePort.h"
#include "support/TempDir.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

const char *const StopDialog = "        *** STOP ***";

bool Has(const std::string &f, const char *part) { return f.find(part) != std::string::npos; }
bool IsMotion(const std::string &f) { return Has(f, " WA=") || Has(f, " RUN\r") || Has(f, " H\r"); }
bool IsOutputOn(const std::string &f) { return Has(f, " P12") && Has(f, "=1\r"); }
template <class T> size_t Count(const std::vector<T> &v, const T &x) { return std::count(v.begin(), v.end(), x); }

// What a run does: a task on three or two axes, or one manual move.
struct TScenario {
  const char *Name;
  bool TwoAxes, Task;
  int EStop;             // controller whose emergency stop is pressed at the start (0: none)
  unsigned EStopAnswer;  // the script's answer at the emergency-stop box
  std::function<void()> Start;
};

// Every button but STOP that could start something, in one pump.
void SecondButtons() {
  for (auto button : {+[] { Jog(1, true); }, +[] { Home(); }, +[] { ReferencePos(); }, +[] { GotoXY("6", "4"); },
                      +[] { ToggleMotorCurrent(1); }, +[] { TaskStart(); }})
    button();
}

// STOP; the program told to end; Z lost; Z's emergency stop pressed, which
// counts as a press once the operator answers Yes ("completely abort").
enum class TPress { Stop, End, Lose, EStop };

class TStopRun : public IOperator {
public:
  const TScenario &S;
  explicit TStopRun(const TScenario &s) : S(s) {}
  std::vector<uint64_t> PressAt;  // pumps at which to press (1-based)
  TPress Kind = TPress::Stop;
  size_t InBox = 0;               // press (remote STOP) inside this question (1-based) ...
  unsigned FirstAnswer = 0;       // ... or at the first after a press: this answer (0: the script's)
  bool Buttons = false, ButtonsOnly = false;  // the second buttons with each press, or at every pump alone
  // More for every pump, and how the STOP is pressed (the window test).
  std::function<void()> OnPump, StopButton;

  uint64_t Pumps = 0, HomeFrom = 0, HomeTo = 0;  // pumps of the move home: (HomeFrom, HomeTo]
  std::vector<std::string> Faults, Log, Sent;
  size_t Questions = 0, QuestionsAfterPress = 0;
  unsigned FirstButtons = 0;  // buttons of the first question after the first press (or InBox),
  bool FirstStop = false;     // and whether it was the STOP dialog

  void Go() {
    THostFixture h;
    TSimLinePort port;
    Port = &port, H = &h;
    ResetMachineDefaults();
    ResetDefinitions();
    StopLatch() = TStopLatch();
    if (S.TwoAxes) NMotors = 2;
    for (int a = 1; a <= 3; ++a) {
      port.Ctl(a).MotorOn = Axes[a].Connected = Axes[a].MotorOn = Axes[a].Referenced = true;
      Axes[a].Position = port.Ctl(a).Position / 10.0;
    }
    DigOutCount = 4;
    DigOutTable[2].Address = 3, DigOutTable[2].Pin = 4;
    MachineSettings.HomeX = 1, MachineSettings.HomeY = 2, MachineSettings.HomeZ = 3;
    MachineSettings.StandardZ = 3;  // above the processes' top: the move to the top is made
    TravelMax[1] = 4;               // a short jog
    AppendPosition({"Rinse", 4, 3}), AppendPosition({"Coat", 8, 6});
    // Fields: name, position, down and up speed, top and bottom, times, channel and its mode, dips.
    // Output 2 on for the whole dip (three axes) or on the down stroke (two).
    AppendProcess({"Dip", 2, 2, 2, 5, 6, 0.2, 0.2, 2, S.TwoAxes ? 1 : 3, 2});
    AppendProcess({"Fast", 1, 2, 2, 5, 6, 0, 0.2, 0, 3, 2});
    AppendTask({"T", "Dip + Fast"}), CurTask = TaskCount;
    if (S.EStop) port.Control("estop " + std::to_string(S.EStop) + " press");
    Host().Operator = this;
    h.Events.OnPump = [this] { Pump(); };
    S.Start();
    Pumps = h.Events.Pumps, Log = h.Report.Lines, Sent = port.Sent;
    Check(true);
    if (OpState() != Idle || !ControlsFor(OpState(), true, true).TaskStart) Faults.push_back("not idle after");
    if (S.Task && (Log.empty() || Log.back() != "-- End Task ---.")) Faults.push_back("no end line last");
    if (S.TwoAxes)
      for (auto &f : Sent)
        if (f.rfind("#2 ", 0) == 0) Faults.push_back("a frame to the missing Y axis: " + f);
    SetProgramEnding(false);
  }

private:
  TSimLinePort *Port = nullptr;
  THostFixture *H = nullptr;
  size_t Pressed = 0, Checked = 0, Scanned = 0;
  size_t FreeMoves = 0;   // motion commands an answer after the press allows
  bool Answered = false;  // Retry after the press: the run may go on
  std::set<int> OweS;     // addresses that must get "S" before the next pump, in frames from OweFrom,
  size_t OweFrom = 0;     // or before the end when OweLate (a lost controller times out first)
  bool OweLate = false, Home = false, HomeAfterPress = false, ZEStop = false;

  void Mark() {
    ++Pressed, FreeMoves = 0, OweFrom = Port->Sent.size();
    Answered = HomeAfterPress = false;
  }
  void Press() {
    Mark();
    for (int a = 1; a <= 3; ++a)
      if (Port->Ctl(a).Moving() && (Kind != TPress::Lose || a == 3)) OweS.insert(a);
    const TControls c = ControlsFor(OpState(), true, true);
    if (Kind == TPress::Lose) OweLate = true, Port->Control("mute 3");
    else if (Kind == TPress::End) SetProgramEnding(), StopAll();  // as the window's close does
    else if (StopButton) StopButton();
    else if (c.TaskStop) TaskStop();
    else if (c.ManualStop) ManualStopPress();
    else StopAll();  // the remote STOP: nothing on the screen is pressable now
    if (Buttons) SecondButtons();
  }

  unsigned Ask(TMsgKind, const std::string &text, unsigned buttons, unsigned, unsigned) override {
    Check(false);
    const bool stopDialog = text.rfind(StopDialog, 0) == 0;
    const bool emergency = text.find("EMERGENCY") != std::string::npos;
    const bool inside = ++Questions == InBox;
    if (inside) Kind = TPress::Stop, Press();
    if (stopDialog || emergency) Port->Control("estop 1,3 release");
    unsigned answer = stopDialog ? mbRetry : S.EStopAnswer;
    if (Pressed > 0) {
      if (QuestionsAfterPress++ == 0) FirstButtons = buttons, FirstStop = stopDialog;
      if (QuestionsAfterPress > 1) answer = stopDialog ? mbAbort : mbYes;  // later questions end the run
      else if (FirstAnswer) answer = FirstAnswer;
      // An answer covers the presses made before its question, not one inside it.
      if (answer == mbRetry && !inside) Answered = true;
      if (answer == mbAbort && !stopDialog && !inside) ++FreeMoves;  // the move is made again
    }
    if (emergency && ZEStop && Pressed == 0 && answer != mbAbort) Mark();
    return answer;  // also once the program is ending: the logic asks nothing then
  }

  void Pump() {
    const uint64_t n = H->Events.Pumps;
    Check(false);
    for (int a : OweLate ? std::set<int>() : OweS) Faults.push_back("pump " + std::to_string(n) + ": no S to #" + std::to_string(a));
    if (!OweLate) OweS.clear();
    Scan(n);
    Port->NextClusterLength();  // the controllers' motion up to now
    const bool moving = Port->Ctl(1).Moving() || Port->Ctl(2).Moving() || Port->Ctl(3).Moving();
    const TControls c = ControlsFor(OpState(), true, true);
    if (moving && !c.TaskStop && !c.ManualStop && !ProgramEnding())
      Faults.push_back("pump " + std::to_string(n) + ": no STOP");
    if (ButtonsOnly) SecondButtons();
    if (OnPump) OnPump();
    if (Pressed < PressAt.size() && n == PressAt[Pressed]) {
      // A controller lost while Z stands tells nothing of this rule.
      if (Kind == TPress::EStop) ZEStop = true, Port->Control("estop 3 press");
      else if (Kind != TPress::Lose || Port->Ctl(3).Moving()) Press();
    }
  }

  void Scan(uint64_t n) {
    const std::vector<std::string> &lines = H->Report.Lines;
    for (; Scanned < lines.size(); ++Scanned) {
      if (lines[Scanned] == "Moving to home position ..") Home = HomeAfterPress = true, HomeFrom = n - 1;
      if (Home && HomeTo == 0 && lines[Scanned] == "  ... done.") HomeTo = n - 1;
    }
  }

  // Frames sent since the last check against the rules of the presses.
  void Check(bool end) {
    Scan(H->Events.Pumps + 1);
    const std::vector<std::string> &sent = Port->Sent;
    for (; Checked < sent.size(); ++Checked) {
      const std::string &f = sent[Checked];
      if (Checked >= OweFrom)
        for (auto it = OweS.begin(); it != OweS.end();)
          it = f == "#" + std::to_string(*it) + " S\r" ? OweS.erase(it) : std::next(it);
      if (Pressed == 0 || Answered || Checked < OweFrom) continue;
      if (IsOutputOn(f)) Faults.push_back("output on after STOP " + std::to_string(Pressed) + ": " + f);
      if (!IsMotion(f)) continue;
      // After the first press (not a program told to end) home may move,
      // when the move home begins after it; a press during it ends it too.
      if (Pressed == 1 && HomeAfterPress && Kind != TPress::End) continue;
      if (FreeMoves > 0 && FreeMoves--) continue;
      Faults.push_back("motion after press " + std::to_string(Pressed) + ": " + f);
    }
    if (end && !OweS.empty()) Faults.push_back("no S before the end");
  }
};

std::string Dump(const TStopRun &r) {
  std::string s;
  for (auto &f : r.Faults) s += "  " + f + "\n";
  for (size_t i = r.Log.size() > 12 ? r.Log.size() - 12 : 0; i < r.Log.size(); ++i) s += "  " + r.Log[i] + "\n";
  return s;
}

const TScenario Scenarios[] = {
    // The positioning meets the emergency stop at X (Yes), the STOP dialog
    // (the button released, Retry), step-by-step dips, fast dips, home.
    {"task", false, true, 1, mbYes, [] { TaskStart(); }},
    {"task, two axes", true, true, 1, mbYes, [] { TaskStart(); }},
    {"jog", false, false, 0, mbYes, [] { Jog(1, true); }},
    {"Home", false, false, 0, mbYes, [] { Home(); }},
    {"Goto XY", false, false, 0, mbYes, [] { GotoXY("6", "4"); }},
    {"Ref", false, false, 0, mbYes, [] { ReferencePos(); }},
    {"repeat after Abort", false, false, 1, mbAbort, [] { Jog(1, true); }},
};

// Every run writes its record in the test's own folder.
class StopEverywhere : public TTempDirTest, public ::testing::WithParamInterface<int> {
protected:
  void TearDown() override { TTempDirTest::TearDown(), SetOpState(Idle); }
};

TEST_P(StopEverywhere, EveryPumpEveryBoxEveryAnswerAndAgainDuringTheMoveHome) {
  const TScenario &s = Scenarios[GetParam()];
  TStopRun clean(s);
  clean.Go();
  ASSERT_TRUE(clean.Faults.empty()) << Dump(clean);
  ASSERT_GT(clean.Pumps, 10u);
  for (std::string line : {"  Fast Dip 2 of 2", "FastDips to do: 0", "  ... done."})
    ASSERT_TRUE(!s.Task || Count(clean.Log, line)) << line;
  ASSERT_TRUE(GetParam() != 2 || clean.Sent[0] == "#1 V=1200.0000 WA=40.0000 E\r");  // the jog's way
  TStopRun buttons(s);  // nothing but STOP acts: the run's frames stay as they were
  buttons.ButtonsOnly = true;
  buttons.Go();
  EXPECT_TRUE(buttons.Faults.empty() && buttons.Sent == clean.Sent) << Dump(buttons);

  size_t runs = 2, homePoints = 0, boxRuns = 0;
  std::set<uint64_t> homeOffsets;  // pumps of a move home met, counted from its start
  auto go = [&](TStopRun &r, const std::string &what) {
    r.Go();
    ++runs;
    EXPECT_TRUE(r.Faults.empty()) << s.Name << ": " << what << "\n" << Dump(r);
    return r.Faults.empty();
  };
  // `r`, then each answer to the first question after its press. At the
  // STOP dialog, Retry goes on with the task (not after a STOP inside the
  // box) and Abort ends it with no second box.
  auto answers = [&](TStopRun &first, const std::string &what) {
    const TStopRun r = first;
    if (!go(first, what)) return false;
    for (unsigned b = mbYes; b <= mbIgnore; b <<= 1) {
      if (!(first.FirstButtons & b)) continue;
      TStopRun other = r;
      other.FirstAnswer = b, other.Buttons = false;
      boxRuns += r.InBox > 0;
      if (!go(other, what + ", answer " + std::to_string(b))) return false;
      const bool goesOn = Count(other.Log, std::string("... done with FastDips")) > 0;
      EXPECT_TRUE(!other.FirstStop || (b == mbRetry ? goesOn != (r.InBox > 0) : other.QuestionsAfterPress == 1));
    }
    return true;
  };
  for (size_t q = 1; q <= clean.Questions; ++q) {  // a remote STOP inside each question
    TStopRun inside(s);
    inside.InBox = q;
    if (!answers(inside, "inside question " + std::to_string(q))) return;
  }
  for (uint64_t k = 1; k <= clean.Pumps; ++k) {
    const std::string at = "pump " + std::to_string(k);
    TStopRun first(s), end(s), zOnly(s);
    first.PressAt = end.PressAt = zOnly.PressAt = {k};
    first.Buttons = true;
    end.Kind = TPress::End;
    // Z lost in the reference run; Z's emergency stop during the task.
    zOnly.Kind = s.Task ? TPress::EStop : TPress::Lose;
    if (!answers(first, "STOP and every button at " + at) || !go(end, "end at " + at)) return;
    if ((GetParam() == 0 || std::string(s.Name) == "Ref") && !go(zOnly, "Z at " + at)) return;
    // Again during its move home, at the next pump of it round and round.
    if (s.Task && first.HomeTo > first.HomeFrom) {
      const uint64_t j = first.HomeFrom + 1 + homePoints % (first.HomeTo - first.HomeFrom);
      homeOffsets.insert(j - first.HomeFrom);
      TStopRun again(s);
      again.PressAt = {k, j};
      ++homePoints;
      if (!go(again, "pumps " + std::to_string(k) + " and " + std::to_string(j))) return;
      EXPECT_LE(again.Pumps, first.Pumps) << "the stopped move home went on";
    }
  }
  EXPECT_TRUE(!s.Task || homePoints > clean.Pumps / 2);  // a move home follows a STOP
  std::printf("%s: %zu pumps, %zu questions (%zu runs inside them); again during the move home in %zu runs, "
              "at %zu of its pumps; %zu runs\n",
              s.Name, size_t(clean.Pumps), clean.Questions, boxRuns, homePoints, homeOffsets.size(), runs);
}

INSTANTIATE_TEST_SUITE_P(Runs, StopEverywhere, ::testing::Range(0, int(std::size(Scenarios))));

// The window: every menu item opened at every pump of a run opens no box of
// its own and holds up no frame of the run; the task STOP still acts.
TEST_F(StopEverywhere, MenusDuringARunHoldUpNothingAndConnectIsBusy) {
  TTFormMain form(false);
  CreateDialogs();
  form.SetConnected(true);
  // Stands in for the remote access dialog, wired by the program entry.
  QObject::connect(form.RemoteAccess1, &QAction::triggered, [] { QDialog().exec(); });
  std::vector<QAction *> items;
  for (QAction *m : form.menuBar()->actions())
    for (QAction *a : m->menu()->actions())
      if (a != form.Exit1 && !a->isSeparator()) items.push_back(a);
  ASSERT_GE(items.size(), 12u);
  int modal = 0;  // a box's own event loop runs this timer
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (QWidget *w = QApplication::activeModalWidget()) ++modal, w->close();
  });
  watch.start(0);
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});  // "no raise()"
  TStopRun clean(Scenarios[0]);
  clean.Go();
  for (uint64_t stopAt : {uint64_t(0), clean.Pumps / 2}) {
    TStopRun r(Scenarios[0]);
    r.OnPump = [&] { std::for_each(items.begin(), items.end(), [](QAction *a) { a->trigger(); }); };
    if (stopAt) r.PressAt = {stopAt};
    r.StopButton = [&] {
      EXPECT_TRUE(form.TaskStop->isEnabled());
      form.TaskStop->click();
    };
    r.Go();
    EXPECT_EQ(modal, 0);
    EXPECT_TRUE(r.Faults.empty() && (stopAt ? r.Sent.size() < clean.Sent.size() : r.Sent == clean.Sent))
        << Dump(r);
  }
  qInstallMessageHandler(nullptr);
  EXPECT_TRUE(AboutBox->isVisible());  // a window of its own
  DestroyDialogs();

  // The connection check is busy: Start and the menus are off at its first
  // pump, a close waits for its end, and no reference run starts after it.
  THostFixture h;
  TSimLinePort port;
  ResetMachineDefaults();
  form.show();
  h.Events.OnPump = [&] {
    EXPECT_FALSE(h.Events.Pumps == 1 && (form.TaskStart->isEnabled() || form.Save1->isEnabled() || form.close()));
  };
  form.ConnectButton->click();
  EXPECT_GE(h.Events.Pumps, 1u);
  for (int a = 1; a <= 3; ++a) EXPECT_EQ(Count(port.Commands(a), std::string("H")), 0u) << a;
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
