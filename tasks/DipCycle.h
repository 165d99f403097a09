#pragma once
// The dip cycle, written once: its six output steps, the stroke that follows
// step 2 and step 4, the wait that follows step 3 and step 5, and how dips
// repeat. The run drives it, the estimate times it and the record notes it,
// each through a visitor of its own.
#include <cstdint>

#include "recipes/Definitions.h"

enum class TStroke { None, Down, Up };
enum class TDipWait { None, Bottom, Top };

struct TDipStep {
  int32_t OutputStep;  // 1..6, as the channel logic receives it
  TStroke Stroke;      // made after the output is set
  TDipWait Wait;       // waited after the output (and the stroke)
  // 0: always made; 1, 2: the down or up half, made only while the dip
  // has gone as asked when its stroke step comes; the arrival step and the
  // wait of a half follow its stroke even when the stroke failed.
  int Half;
};

constexpr TDipStep DipCycle[] = {
    {1, TStroke::None, TDipWait::None, 0},   {2, TStroke::Down, TDipWait::None, 1},
    {3, TStroke::None, TDipWait::Bottom, 1}, {4, TStroke::Up, TDipWait::None, 2},
    {5, TStroke::None, TDipWait::Top, 2},    {6, TStroke::None, TDipWait::None, 0},
};

// What walks the cycle. A stroke or wait may report that the dip no longer
// goes as asked (false: it failed, or a STOP came), which skips the halves
// still to come and ends the dips.
class IDipVisitor {
public:
  virtual ~IDipVisitor() = default;
  virtual void DipBegins(int32_t k) = 0;
  virtual void Output(int32_t step) = 0;
  virtual bool Stroke(TStroke stroke, double speed, double target) = 0;
  virtual bool Wait(TDipWait at, double seconds) = 0;
  virtual void DipEnds(int32_t k, bool ok) = 0;
};

// The step-by-step dips of `e`: at least one, at most NoTunks, until one does
// not go as asked. `ok` is how the move to the top went; false when a dip did
// not go as asked.
inline bool WalkDips(const TProcEntry &e, bool ok, IDipVisitor &v) {
  int32_t k = 0;
  do {
    ++k;
    v.DipBegins(k);
    int half = 0;
    bool halfOn = true;
    for (const TDipStep &s : DipCycle) {
      if (s.Half != half) {
        half = s.Half;
        if (half != 0) halfOn = ok;
      }
      if (half != 0 && !halfOn) continue;
      v.Output(s.OutputStep);
      if (s.Stroke == TStroke::Down) ok = v.Stroke(s.Stroke, e.InSpeed, e.LowPos) && ok;
      if (s.Stroke == TStroke::Up) ok = v.Stroke(s.Stroke, e.OutSpeed, e.UpperPos) && ok;
      if (s.Wait == TDipWait::Bottom) ok = v.Wait(s.Wait, e.InTime) && ok;
      if (s.Wait == TDipWait::Top) ok = v.Wait(s.Wait, e.OutTime) && ok;
    }
    v.DipEnds(k, ok);
  } while (k < e.NoTunks && ok);
  return ok;
}
