#!/usr/bin/env python3
"""Mutation check: how many realistic faults does the test suite catch?

Applies one fault at a time to a scratch copy of the tree, rebuilds it, runs
the fast tests and, when they all pass, the end-to-end ones, and prints which
faults were caught. Not a test and not run by ./test.sh.

    tools/mutate.py                  # every fault, on the repo this script is in
    tools/mutate.py --only id1,id2   # just these
    tools/mutate.py --list           # the table, with where each snippet is found

A fault names the code it changes by content, not by file: its snippet is
looked for in every program source (tests/, sim/ and bench/ excluded) and must
occur exactly once, or the fault is "n/a". The tree itself is never written;
the scratch copy gets every mutated file back even on Ctrl-C.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from collections import namedtuple

Fault = namedtuple("Fault", "id subsystem description find replace")

F = Fault
FAULTS = [
    # --- serial port, worker thread and receive clusters ---------------------
    F("ser-com-map", "serial port",
      "COM1 opens /dev/ttyS1 (port number off by one)",
      'char(name[3] - 1))', 'char(name[3]))'),
    F("ser-cluster-kept", "serial clusters",
      "taking a cluster leaves it at the head of the queue",
      "ClusterList.pop_front();\n  return text;", "return text;"),
    F("ser-ccerror-lost", "serial clusters",
      "a cluster's line error (parity, framing) reads as none",
      "return ClusterList.empty() ? -1 : int32_t(ClusterList.front()->CCError);",
      "return ClusterList.empty() ? -1 : 0;"),
    F("ser-dlg-cancel", "serial settings dialog",
      "Cancel or Esc in the line settings dialog still applies and saves them",
      "connect(SerialNGBasicDLG, &QDialog::accepted,", "connect(SerialNGBasicDLG, &QDialog::finished,"),
    F("svc-while-busy", "service dialogs",
      "a service dialog's button sends to the controllers while a run or move is under way",
      "  if (busy.Entered()) work();", "  work();"),
    F("ser-fast-any-address", "fast replies",
      "a reply closes at its line end whoever sent it (the address check left out)",
      "return first == address && (words > echoWords", "return first[0] == address[0] && (words > echoWords"),
    F("ser-fast-crlf-inside", "fast replies",
      "a reply closes at its line end with a CR LF inside (two lines, two replies)",
      'if (bytes.find("\\r\\n") != n - 2) return false;', ""),
    # --- controller transport ------------------------------------------------
    F("vt-glued-split-off", "controller transport",
      "an echo without its line end glued to the next reply is not split from it",
      "        end = k;\n        break;", "        break;"),
    F("vt-stale-kept", "controller transport",
      "a stale cluster is not drained before a command, so it is taken for the reply",
      "  IClusterPort *port = VeriPort();\n  DrainStale(port);\n  // A closed or vanished line",
      "  IClusterPort *port = VeriPort();\n  // A closed or vanished line"),
    F("vt-timeout-short", "controller transport",
      "reply time-out 200 ms instead of 1 s, shorter than the line's cut rule",
      "int counter = down ? 0 : 100;", "int counter = down ? 0 : 20;"),
    # --- parameters and motor commands ---------------------------------------
    F("vp-pos-no-div10", "controller parameters",
      "position read back (P51, mm) not divided by 10",
      "Axes[axis].Position = v / 10.0;", "Axes[axis].Position = v;"),
    F("vp-all-axes-y", "controller parameters",
      "'all axes' skips Y on a three-motor machine and addresses it on a two-motor one",
      "if (a != 2 || NMotors == 3) f(a);", "if (a != 2 || NMotors == 2) f(a);"),
    F("vp-ref-order", "controller parameters",
      "reference run of all axes starts with X instead of lifting Z first",
      "ForAxes({3, 2, 1}, [&stopped]", "ForAxes({1, 2, 3}, [&stopped]"),
    # --- connection check and status decoding --------------------------------
    F("vc-warn-shift", "connection/status bits",
      "warning bit table shifted by one (bit 2 reported as warning 1, ...)",
      "if (warnings & (1 << bit)) ReportLine(WarningLines[bit]);",
      "if (warnings & (2 << bit)) ReportLine(WarningLines[bit]);"),
    F("vc-err-8192", "connection/status bits",
      "hardware limit switch error looked for at bit 4096 instead of 8192",
      "if (errors & 8192) {", "if (errors & 4096) {"),
    F("vc-retry-answer", "connection check",
      "'No connection' question: Ignore retries and Retry goes on",
      "mbRetry | mbIgnore, mbIgnore) == mbRetry) {", "mbRetry | mbIgnore, mbIgnore) == mbIgnore) {"),
    # --- digital outputs -----------------------------------------------------
    F("vo-pin-offset", "digital outputs",
      "output written to parameter 1201+pin instead of 1200+pin",
      "VERIPutParamI(e->Address, 1200 + e->Pin, state).empty();",
      "VERIPutParamI(e->Address, 1201 + e->Pin, state).empty();"),
    F("vo-unwired", "digital outputs",
      "a channel with no controller assigned (address 0) is still written",
      "return e.Address == 0 ? nullptr : &e;", "return &e;"),
    # --- controller utilities and shared helpers -----------------------------
    F("vu-list-short", "controller utilities",
      "program read-back lists one line fewer than was uploaded",
      'for (int i = 0; i < n; ++i) {\n    const std::string answer = VERIDialog(address, "LIST+");',
      'for (int i = 0; i < n - 1; ++i) {\n    const std::string answer = VERIDialog(address, "LIST+");'),
    F("cv-locale-decimal", "utilities (number text)",
      "numbers are written with the locale's decimal separator (printf)",
      "  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);\n"
      "  if (r.ec != std::errc()) return \"0\";\n"
      "  std::string s(buf, r.ptr);",
      "  int len = std::snprintf(buf, sizeof buf, \"%.*f\", decimals, value);\n"
      "  if (len < 0 || len >= int(sizeof buf)) return \"0\";\n"
      "  std::string s(buf, size_t(len));"),
    # --- machine configuration, INI files, start-up --------------------------
    F("mc-write-direct", "INI files",
      "atomic file replace made direct: the file is truncated and written in place",
      "  const int fd = mkstemp(name.data());",
      "  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);\n"
      "  std::copy(path.c_str(), path.c_str() + path.size() + 1, name.begin());"),
    F("lf-append-cut", "day log/run record",
      "a write the disk cuts short is left in the file: a cut last line",
      "const int rc = n > 0 ? ::ftruncate(fd, before) : 0;",
      "const int rc = 0;"),
    F("lf-create-empty", "day log/run record",
      "a new file is made empty and written after: a kill leaves it empty",
      "  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;",
      "  bool ok = fchmod(fd, mode) == 0 && ::link(name.data(), path.c_str()) == 0 && WriteAll(fd, text);"),
    F("rec-cut-last-refused", "run record reading",
      "a record whose last line a crash cut short cannot be opened at all",
      "} else if (!lines.Last() || (!lines.CutShort() && sep == ',')) {",
      "} else if (!lines.Last() || sep == ',') {"),
    F("rec-long-line-cut", "run record reading",
      "a line longer than a read block is taken for the file's end",
      "    if (End == Buf.size()) Buf.resize(Buf.size() * 2);", ""),
    F("rec-read-next-row", "run record reading",
      "a Z read taken in the ms its row was written goes to the next row",
      "rows[k].WrittenAt < t) give(), ++k;", "rows[k].WrittenAt <= t) give(), ++k;"),
    F("rec-ms-nan", "run record reading",
      "a time field of \"nan\" or 1e300 is cast to a count of ms (undefined)",
      "!(d >= 0 && d < 9e18)", "d < 0"),
    F("mc-hw-rewritten", "machine config/shut-down",
      "hardware file rewritten at every exit, over the operator's hand edits",
      'ProfileReadInt(hw, "General", "FileStatus", 0) == 0) {',
      'ProfileReadInt(hw, "General", "FileStatus", 0) >= 0) {'),
    F("mc-hwaddr-key", "machine config/start-up",
      "controller address key misspelt on reading: HW_Address from the file is ignored",
      'ProfileReadInt(hw, s, "HW_Address"', 'ProfileReadInt(hw, s, "HW_Adress"'),
    # --- axis motion ---------------------------------------------------------
    F("am-speed-x600", "axis motion",
      "move speed sent in cm/s instead of mm/min (x600 dropped)",
      '"V=" + FloatToStrF(speed * 600, 4)', '"V=" + FloatToStrF(speed, 4)'),
    F("am-target-x10", "axis motion",
      "move target sent in cm instead of mm (x10 dropped)",
      '" WA=" + FloatToStrF(target * 10, 4)', '" WA=" + FloatToStrF(target, 4)'),
    F("am-speed-clamp", "axis motion",
      "speed above the axis's maximum no longer clamped",
      "return speed > Axes[axis].MaxSpeed ? Axes[axis].MaxSpeed : speed;", "return speed;"),
    F("am-end-polls", "axis motion",
      "the end of a move is watched by whole cycles, so the stand is seen half a cycle late",
      "if (cycleMs > 0 && due < cycleMs) {",
      "if (false) {"),
    F("am-stop-ignored", "axis motion",
      "STOP not honoured while waiting for a move to finish",
      "if (StopRequest) {\n      end = TMoveEnd::Stopped;",
      "if (false) {\n      end = TMoveEnd::Stopped;"),
    F("rt-lost-reached", "axis motion/run record",
      "a move whose controller stopped answering is taken as reached",
      "      r.Outcome = TMoveOutcome::Lost;\n      return r;", "      return r;"),
    F("rt-stale-position", "axis motion/run record",
      "the last position kept is taken for a read after an abandoned move: 'no move needed'",
      "if (!a.PositionUnknown && std::fabs(target - a.Position) <= MoveDeadBand) {",
      "if (std::fabs(target - a.Position) <= MoveDeadBand) {"),
    F("rt-row-done", "run record",
      "every dip row is written 'done', whatever its moves did",
      "Row.End = End = ok ? EndDone : RecordEndOf(Last);", "Row.End = End = EndDone;"),
    F("am-stop-last-pump", "axis motion",
      "a STOP handled in a move's last pump, after the poll saw the axis stand, no longer ends what follows",
      "  if (StopRequest) end = TMoveEnd::Stopped;\n  return end;", "  return end;"),
    F("am-legs-no-stop", "axis motion",
      "a STOP between the legs of a travel (after Abort repeated a stopped leg) no longer ends the travel",
      "if (StopLatch().Presses() != stops) {", "if (StopLatch().Presses() != stops && false) {"),
    # --- manual control, jog, STOP -------------------------------------------
    F("jg-direction", "jog/STOP",
      "jog buttons swapped: + drives to the travel minimum",
      "plus ? TravelMax[axis] : TravelMin[axis]", "plus ? TravelMin[axis] : TravelMax[axis]"),
    F("jg-stop-dead", "jog/STOP",
      "the jog pad's STOP button no longer requests a stop",
      "void ManualStopPress() {\n  StopLatch().Press(false, \"on the screen\");", "void ManualStopPress() {"),
    # --- recipes: tables, editors, .dip file ---------------------------------
    F("rc-delete-short", "recipe tables",
      "deleting an entry shifts one entry too few (the last one is lost, a copy remains)",
      "for (int i = cur; i < count; ++i) table[i] = table[i + 1];",
      "for (int i = cur; i < count - 1; ++i) table[i] = table[i + 1];"),
    F("re-name-cut", "recipe editors",
      "editor cuts names to 10 characters instead of 16",
      "  return CutText(name, NameLength);", "  return CutText(name, 10);"),
    F("df-notunks-lost", "definitions file",
      "number of dips (13th field) never read from a .dip file",
      "return count < 13 || r.Int(13, e.NoTunks, error);",
      "return count < 14 || r.Int(13, e.NoTunks, error);"),
    F("df-add-replaces", "definitions file",
      "'Add File' replaces the recipe instead of appending to it",
      "if (!append) ResetDefinitions();", "ResetDefinitions();"),
    # --- task language -------------------------------------------------------
    F("tl-count-once", "task language",
      "a repetition count (P*3) is applied once",
      "if (Error != 0 || k >= count) break;", "if (Error != 0 || k >= 1) break;"),
    F("tl-noclose-silent", "task language",
      "a missing ')' is not flagged as an error",
      "SetFlag(Error, TaskErrNoClose, true);", "SetFlag(Error, TaskErrNoClose, false);"),
    # --- task run ------------------------------------------------------------
    F("tr-stop-no-flag", "task run",
      "task STOP no longer stops the move under way (StopRequest not set, the press not counted)",
      "void TaskStop(const char *from) {\n  StopLatch().Press(true, from);", "void TaskStop(const char *from) {"),
    F("tr-check-runs", "task run",
      "Check Syntax runs the task instead of checking it",
      "ParseTask(line, TaskModeCheck, RunProcess);", "ParseTask(line, TaskModeRun, RunProcess);"),
    # --- process execution, dip cycle, fast dips -----------------------------
    F("pe-z-address", "process execution/fast dips",
      "fast dips address controller 3 instead of Z's configured address",
      "const uint8_t a = Axes[3].HWAddress;", "const uint8_t a = 3;"),
    F("pe-fast-x10", "process execution/fast dips",
      "fast-dip bottom position (R1) sent in cm instead of mm",
      '"R1 = " + FloatToStrF(e.LowPos * 10, 4)', '"R1 = " + FloatToStrF(e.LowPos, 4)'),
    F("pe-wait-steps", "process execution/dip cycle",
      "a wait of N tenths runs N steps instead of N+1",
      "} while (n >= 0);", "} while (n > 0);"),
    F("pe-wait-stop", "process execution/dip cycle",
      "STOP not honoured during a timed wait",
      "    if (AbortRequest) break;\n  } while", "  } while"),
    F("pe-channel-step", "process execution/dip cycle",
      "channel mode 2 switches the output on one step early (at the bottom instead of before the up stroke)",
      "case 2: on = 4, off = 5; break;", "case 2: on = 3, off = 5; break;"),
    F("pe-fast-start-stop", "process execution/fast dips",
      "the fast dips start after a STOP or an abort at the emergency stop during the move to the top",
      "if (topStopped || RunStopped()) {", "if ((topStopped || RunStopped()) && false) {"),
    F("pe-fast-threshold", "process execution/fast dips",
      "a bottom wait of exactly 0 runs step by step instead of as fast dips",
      "if (e.InTime > 0.0) {", "if (e.InTime >= 0.0) {"),
    # --- main window, report log ---------------------------------------------
    F("mw-esc-yes", "main window",
      "a question closed with Esc / the close box answers Abort (the emergency-stop box repeats the move)",
      "    if (m.Ours == closed) box.setEscapeButton(box.button(m.Qt));",
      "    if (m.Ours == (buttons & mbAbort ? mbAbort : closed)) box.setEscapeButton(box.button(m.Qt));"),
    F("mw-close-midrun", "main window",
      "closing the window during a run or move closes at once instead of stopping first",
      "if (OpState() == Idle) {\n    // Dialogs and windows",
      "if (true) {\n    // Dialogs and windows"),
    F("plot-grown-open", "run record window",
      "a range the run outgrew is thinned without the points of the column left open",
      "again_from.insert(again_from.end(), All.begin() + long(Open), All.end());",
      "again_from.insert(again_from.end(), All.begin() + long(Drawn), All.end());"),
    F("plot-readout-far", "run record window",
      "the read-out takes the reading after the cursor, not the nearest",
      "for (auto c : {it, it == all.begin() ? it : std::prev(it)})", "for (auto c : {it})"),
    F("plot-zoom-unround", "run record window",
      "a zoom leaves the time range where it fell: ticks at odd times",
      "start = std::round(a / step) * step;", "start = a;"),
    F("plot-data-all", "run record window",
      "Export data writes every row, not those of the visible range",
      "if (to < t0 || from > t1) continue;", "(void)from, (void)to;"),
    F("plot-compare-own-rows", "run record window",
      "the comparison's holds are taken from this run's rows",
      "return Compared ? &Compared->Rows : nullptr;", "return Compared ? &Rows() : nullptr;"),
    F("sim-link-any-mode", "simulated robot",
      "the simulator's link folder is taken whatever its mode",
      "(st.st_mode & 07777) != 0700) {", "false) {"),
    F("mw-report-level", "report log",
      "report level 2 by default: every '$' trace line is shown",
      "uint8_t ReportLevel = 1;", "uint8_t ReportLevel = 2;"),
    # --- remote server --------------------------------------------------------
    F("rem-upgrade-half", "remote server",
      "an upgrade without 'Connection: upgrade' is handed to the WebSocket server",
      "return upgrade && key.size() == 24", "return key.size() == 24"),
    F("rem-host-any", "remote server",
      "local mode serves any Host (DNS rebinding reads it)",
      "if (!access.Lab && !LocalHost(host, access.Port))",
      "if (!access.Lab && !LocalHost(host, access.Port) && host.empty())"),
    F("rem-ws-one-more", "remote server",
      "a burst of upgrades gets one WebSocket more than the limit",
      "int(Upgrades.size()) >= Limits.MaxWebSockets", "int(Upgrades.size()) > Limits.MaxWebSockets"),
    F("rem-address-cap", "remote server",
      "waiting connections are capped in all only, not per address",
      "if (same < Limits.WaitingPerAddress)", "if (same < Limits.MaxWaiting)"),
    F("rem-notice-url-whole", "remote server",
      "a failing notice URL is logged whole (user, password, path)",
      "const std::string what = std::string(test ? \"Test notice\" : \"Notice\") + \" to \" + Shown(url);",
      "const std::string what = std::string(test ? \"Test notice\" : \"Notice\") + \" to \" + url;"),
    # --- lab automation (SiLA 2) ----------------------------------------------
    F("sila-stop-any-token", "SiLA server",
      "STOP from a scheduler is taken with any token (the read token too)",
      'if (TokenMatches(Config.Remote.Token, Token(ctx))) return Status::OK;',
      'if (!Token(ctx).empty()) return Status::OK;'),
    F("sila-runs-unasked", "SiLA server",
      "a scheduler's RunTask starts although the operator did not allow task runs",
      "if (!config.Remote.AllowRuns)", "if (false && !config.Remote.AllowRuns)"),
    F("sila-busy-ignored", "SiLA server",
      "RunTask starts a run while the robot is busy",
      "if (OpState() != Idle || !why.empty())", "if (!why.empty())"),
    F("sila-progress-back", "SiLA server",
      "ExecutionInfo's remaining time is never refreshed during the run",
      "    e->Remaining = remaining;\n", ""),

]

# Folders that are not the program; everything else with these endings is.
NOT_PROGRAM = ("tests", "sim", "bench", "build")
SOURCE_ENDINGS = (".cpp", ".h", ".hpp", ".cc")
FAST_EXCLUDE = "e2e|soak|soak-long|smoke"

SCRATCH = "/tmp/kv-mutate"


def log(msg=""):
    print(msg, flush=True)


def tracked_files(tree):
    out = subprocess.run(["git", "-C", tree, "ls-files", "-z"], check=True,
                         stdout=subprocess.PIPE).stdout.decode()
    return [f for f in out.split("\0") if f and os.path.isfile(os.path.join(tree, f))]


def is_program_source(rel):
    top = rel.split("/", 1)[0]
    return "/" in rel and top not in NOT_PROGRAM and rel.endswith(SOURCE_ENDINGS)


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def sync_tree(tree, src):
    """Makes src hold exactly the tracked files of tree; unchanged files keep
    their time stamps so the build stays incremental."""
    files = tracked_files(tree)
    wanted = set(files)
    for rel in files:
        a, b = os.path.join(tree, rel), os.path.join(src, rel)
        with open(a, "rb") as f:
            data = f.read()
        if os.path.isfile(b):
            with open(b, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        with open(b, "wb") as f:
            f.write(data)
        shutil.copymode(a, b)
    for root, dirs, names in os.walk(src):
        for n in names:
            rel = os.path.relpath(os.path.join(root, n), src)
            if rel not in wanted:
                os.remove(os.path.join(root, n))
    return files


def locate(src, files, fault):
    """(file, count): the one program source holding the snippet, or None and
    how many times it was found in all."""
    hits, count = [], 0
    for rel in files:
        if not is_program_source(rel):
            continue
        n = read(os.path.join(src, rel)).count(fault.find)
        if n:
            hits.append(rel)
            count += n
    return (hits[0] if count == 1 else None), count


def run(cmd, env, timeout):
    try:
        p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout)
        return p.returncode, p.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired as e:
        return -1, (e.stdout or b"").decode(errors="replace") + "\n[timed out]"


def configure(src, build, env):
    if os.path.isfile(os.path.join(build, "build.ninja")):
        return True
    rc, out = run(["cmake", "-S", src, "-B", build, "-G", "Ninja"], env, 900)
    if rc != 0:
        log(out[-3000:])
    return rc == 0


def build_tree(build, env, jobs):
    return run(["cmake", "--build", build, "-j%d" % jobs], env, 3600)


FAILED_RE = re.compile(r"^\s*\d+ - (\S+) \(")
PASSED_RE = re.compile(r"(\d+)% tests passed, (\d+) tests failed out of (\d+)")


def ctest(build, env, label_args, timeout, stop_first, jobs):
    cmd = ["ctest", "--test-dir", build, "--timeout", str(timeout), "-j%d" % jobs] + label_args
    if stop_first:
        cmd.append("--stop-on-failure")
    rc, out = run(cmd, env, 7200)
    failed, in_list = [], False
    for line in out.splitlines():
        if line.startswith("The following tests FAILED"):
            in_list = True
            continue
        if in_list:
            m = FAILED_RE.match(line)
            if m:
                failed.append(m.group(1))
    m = PASSED_RE.search(out)
    total = int(m.group(3)) if m else 0
    if rc != 0 and not failed:
        failed = ["(ctest failed: %s)" % (out.strip().splitlines() or ["no output"])[-1]]
    return rc == 0 and total > 0, failed, total, out


def run_suites(build, env, args, stop_first):
    """('fast' | 'e2e' | None, failing test names)."""
    ok, failed, total, out = ctest(build, env, ["-LE", FAST_EXCLUDE], args.timeout, stop_first,
                                   args.test_jobs)
    if total == 0:
        return "fast", ["(no fast tests found)"]
    if not ok:
        return "fast", failed
    ok, failed, total, out = ctest(build, env, ["-L", "e2e"], args.timeout, stop_first,
                                   args.test_jobs)
    if not ok and total > 0:
        return "e2e", failed
    return None, []


class Restorer:
    """Puts mutated files of the scratch copy back, however the run ends."""

    def __init__(self):
        self.saved = {}

    def mutate(self, path, new_text):
        if path not in self.saved:
            self.saved[path] = read(path)
        write(path, new_text)

    def restore(self):
        for path, text in list(self.saved.items()):
            write(path, text)
            del self.saved[path]


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tree", default=here, help="git tree to mutate (default: %(default)s)")
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--list", action="store_true", help="print the fault table and exit")
    ap.add_argument("--scratch", default=SCRATCH, help="scratch folder (default: %(default)s)")
    ap.add_argument("--timeout", type=int, default=300, help="per-test time-out in s")
    ap.add_argument("--jobs", type=int, default=2, help="build jobs")
    ap.add_argument("--test-jobs", type=int, default=2, help="tests run at once")
    ap.add_argument("--all-failures", action="store_true",
                    help="run every test of a failing suite (default: stop at the first failure)")
    ap.add_argument("--skip-baseline", action="store_true",
                    help="do not check the unmutated tree first")
    args = ap.parse_args()

    tree = os.path.abspath(args.tree)
    src, build = os.path.join(args.scratch, "src"), os.path.join(args.scratch, "build")
    faults = FAULTS
    ids = [f.id for f in FAULTS]
    assert len(set(ids)) == len(ids), "duplicate fault ids"
    if args.only:
        want = [w.strip() for w in args.only.split(",") if w.strip()]
        unknown = [w for w in want if w not in ids]
        if unknown:
            sys.exit("unknown fault ids: " + ", ".join(unknown))
        faults = [f for f in FAULTS if f.id in want]

    os.makedirs(src, exist_ok=True)
    files = sync_tree(tree, src)

    if args.list:
        for f in faults:
            where, n = locate(src, files, f)
            state = where if where else ("n/a: not found" if n == 0 else "n/a: found %d times" % n)
            log("%-18s %-28s %s\n%18s %s" % (f.id, f.subsystem, f.description, "", state))
        return 0

    env = dict(os.environ)
    env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CCACHE_BASEDIR", args.scratch)
    env["QT_QPA_PLATFORM"] = "offscreen"

    restorer = Restorer()

    def on_term(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_term)
    started = time.time()
    results = []
    try:
        if not configure(src, build, env):
            sys.exit("cmake configure failed in " + build)
        if not args.skip_baseline:
            t0 = time.time()
            log("Baseline: building and testing the unmutated tree ...")
            rc, out = build_tree(build, env, args.jobs)
            if rc != 0:
                log(out[-4000:])
                sys.exit("ABORT: the unmutated tree does not build")
            suite, failed = run_suites(build, env, args, stop_first=False)
            if suite:
                sys.exit("ABORT: the unmutated tree fails its %s tests: %s" % (suite, ", ".join(failed)))
            log("Baseline passes (fast + e2e) in %.0f s\n" % (time.time() - t0))

        log("%-18s %-28s %-16s %6s  %s" % ("fault", "subsystem", "result", "time", "first failing tests"))
        for f in faults:
            t0 = time.time()
            where, n = locate(src, files, f)
            if not where:
                why = "not found" if n == 0 else "found %d times" % n
                results.append((f, "n/a", [why]))
                log("%-18s %-28s %-16s %5.0fs  %s" % (f.id, f.subsystem, "n/a", 0, why))
                continue
            path = os.path.join(src, where)
            restorer.mutate(path, read(path).replace(f.find, f.replace, 1))
            try:
                rc, out = build_tree(build, env, args.jobs)
                if rc != 0:
                    errs = [l for l in out.splitlines() if "error" in l][:2]
                    results.append((f, "broken", errs))
                    status, names = "broken", errs
                else:
                    suite, names = run_suites(build, env, args, stop_first=not args.all_failures)
                    status = "CAUGHT by " + suite if suite else "SURVIVED"
                    results.append((f, status, names))
            finally:
                restorer.restore()
            log("%-18s %-28s %-16s %5.0fs  %s" % (f.id, f.subsystem, status, time.time() - t0,
                                                 ", ".join(names[:3])))
    except KeyboardInterrupt:
        restorer.restore()
        log("\nInterrupted; every mutated file is restored.")
        return 130
    finally:
        restorer.restore()

    applicable = [r for r in results if r[1] not in ("n/a", "broken")]
    caught = [r for r in applicable if r[1].startswith("CAUGHT")]
    log("")
    for label, pick in (("SURVIVED", "SURVIVED"), ("n/a", "n/a"), ("broken", "broken")):
        names = [r[0].id for r in results if r[1] == pick]
        if names:
            log("%s: %s" % (label, ", ".join(names)))
    log("caught %d of %d applicable (%d faults, %d n/a, %d broken; fast %d, e2e %d) in %.0f min" % (
        len(caught), len(applicable), len(results),
        sum(r[1] == "n/a" for r in results), sum(r[1] == "broken" for r in results),
        sum(r[1] == "CAUGHT by fast" for r in results), sum(r[1] == "CAUGHT by e2e" for r in results),
        (time.time() - started) / 60))
    return 0


if __name__ == "__main__":
    sys.exit(main())
