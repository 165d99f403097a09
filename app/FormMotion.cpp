// Jog pad, speed buttons, motor-current double-click and the position and
// speed displays. The 5 ms timer touches a widget only when what it shows
// changes, so the idle program costs next to nothing.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/FormMain.h"
#include "base/Machine.h"
#include "machine/Manual.h"
#include "machine/Motion.h"

namespace {

void SetText(QLabel *label, const std::string &text) {
  const QString q = QString::fromStdString(text);
  if (label->text() != q) label->setText(q);
}

void SetBackground(QLabel *label, const QColor &colour) {
  if (label->palette().color(QPalette::Window) == colour) return;
  QPalette p = label->palette();
  p.setColor(QPalette::Window, colour);
  label->setPalette(p);
}

const QColor Teal(0, 128, 128);
const QColor Maroon(128, 0, 0);

}  // namespace

void TTFormMain::XPlusClick() {
  Jog(1, true);
}
void TTFormMain::XMinusClick() {
  Jog(1, false);
}
void TTFormMain::YPlusClick() {
  Jog(2, true);
}
void TTFormMain::YMinusClick() {
  Jog(2, false);
}
void TTFormMain::ZPlusClick() {
  Jog(3, true);
}
void TTFormMain::ZMinusClick() {
  Jog(3, false);
}

void TTFormMain::ManualStopClick() { ManualStopPress(); }

void TTFormMain::HomePosClick() {
  ::Home();
}
void TTFormMain::ReferencePosClick() {
  ::ReferencePos();
}

void TTFormMain::VStandardClick() { SpeedStandard(); }
void TTFormMain::VPlusClick() { SpeedUp(); }
void TTFormMain::VMinusClick() { SpeedDown(); }

void TTFormMain::XYZLabelClick(QObject *sender) {
  uint8_t axis = 0;
  if (sender == XLabel) axis = 1;
  else if (sender == YLabel) axis = 2;
  else if (sender == ZLabel) axis = 3;
  if (axis) ToggleMotorCurrent(axis);
}

void TTFormMain::ShowPosTimer() {
  const TDisplayTick tick = DisplayTick();
  struct TDisplay {
    QGroupBox *Box;
    QLabel *Label, *Value, *Unit;
  };
  const TDisplay displays[4] = {{nullptr, nullptr, nullptr, nullptr},
                                {GroupBoxX, XLabel, ShowXPos, XUnit},
                                {GroupBoxY, YLabel, ShowYPos, YUnit},
                                {GroupBoxZ, ZLabel, ShowZPos, ZUnit}};
  for (int n = 1; n <= 3; ++n) {
    if (!tick.Refresh[n]) continue;
    const TAxisShow &s = tick.Axis[n];
    const TDisplay &d = displays[n];
    if (d.Box->isEnabled() != s.Enabled) d.Box->setEnabled(s.Enabled);
    if (s.SetUnit) SetText(d.Unit, s.Unit);
    SetText(d.Value, s.Value);
    if (s.Label == TLabelColour::Maroon) SetBackground(d.Label, Maroon);
    else if (s.Label == TLabelColour::Teal) SetBackground(d.Label, Teal);
  }
  SetText(ShowV, tick.Speed);
}
