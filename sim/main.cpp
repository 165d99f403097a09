// veri-sim: simulated VERI controllers on a pseudo-terminal (installed as
// kavetra-sim; its texts name it as it was called).
#include <cstdio>
#include <string>

#include "sim/Bus.h"
#include "sim/Server.h"

static const char *Usage =
    "usage: veri-sim [--axes 1,2,3] [--link PATH] [--log FILE] [--control PATH] [--speedup F]\n"
    "                [--baud N] [--echo-live] [--latency [KEY=]MS[:JITTER]] [--accel MM_S2]\n"
    "                [--seed N] [--fault CONTROL]...\n"
    "Simulated VERI stepper controllers on one pseudo-terminal. The first line of\n"
    "output is \"veri-sim: <slave path>\", the second \"veri-sim: seed <n>\"; serves\n"
    "until SIGTERM or SIGINT.\n"
    "  --axes LIST     addresses that answer (default 1,2,3)\n"
    "  --link PATH     make PATH a symbolic link to the slave side\n"
    "  --log FILE      one line per event, time in ms since start:\n"
    "                    \"<ms> #1 VER\"        a frame received (without its CR)\n"
    "                    \"<ms> ?? text\"       bytes ending in CR that are no frame\n"
    "                    \"<ms> -> text\"       a reply (or piece of one) begins to go\n"
    "                                         out (\\r \\n escaped)\n"
    "                    \"<ms> == #3 moves to 25\", \"<ms> == #3 stands at 25\"\n"
    "                                         an axis starts / ends a stroke (mm)\n"
    "                    \"<ms> !! text\"       control commands, faults, refused moves\n"
    "  --control PATH  control endpoint: a unix socket created at PATH (each line\n"
    "                  is answered \"ok\" or \"error: ...\"), or, when PATH is an\n"
    "                  existing FIFO, that FIFO\n"
    "  --speedup F     simulated motion F times faster than real time (default 1)\n"
    "  --baud N        line rate, 8N1 (10 bit times a byte): commands come in and\n"
    "                  replies go out byte by byte at it (default 19200; 0 sends\n"
    "                  each reply in one write)\n"
    "  --echo-live     echo each received character as it arrives; the answer\n"
    "                  follows after the processing time\n"
    "  --latency [KEY=]MS[:JITTER]\n"
    "                  processing time from a frame's CR to its reply, MS plus\n"
    "                  0..JITTER ms, of every command (default 3:4) or of the\n"
    "                  commands with that KEY (see \"latency\" below; defaults\n"
    "                  line=25:10, NEW=25:10, QUIT=80:40); may be given again\n"
    "  --accel MM_S2   acceleration and deceleration of every axis (default 100;\n"
    "                  0: full speed at once)\n"
    "  --seed N        seed of the jitter (default from the clock, printed)\n"
    "  --fault CONTROL a control command applied at the start, as \"twolines 1\",\n"
    "                  \"lineafter 2\", \"foreign 3\" or \"noeol 1\" (see the control\n"
    "                  commands below); may be given again\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "Replies: echo of the frame's words, a blank and the answer words, CR LF.\n"
    "Answers: VER -> VERISIM_1.0; P<n>? -> P<n>=<value>, but\n"
    "P134? -> ON|OFF and P0? -> RUN|IDLE; empty command -> OK<d> (0 moving,\n"
    "1 stands, 2/3 the same with a warning in P12, 4 an error in P11); LIST+ ->\n"
    "the next stored line, END after the last; unknown -> ?; all else echo only.\n"
    "Axes move in trapezoid ramps; an error in P11 stops them.\n";

// The usage line with the program's own name (its output lines keep
// "veri-sim:", which tools read).
static std::string Named(const std::string &name) {
  std::string text = Usage;
  return text.replace(text.find("veri-sim"), 8, name);
}

int main(int argc, char **argv) {
  std::string name = argc > 0 ? argv[0] : "veri-sim";
  name = name.substr(name.find_last_of('/') + 1);
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string &a : args)
    if (a == "--version") {
      std::printf("%s %s\n", name.c_str(), KV_VERSION);
      return 0;
    }
  TSimOptions options;
  bool help = false;
  std::string error;
  if (!ParseSimOptions(args, options, help, error)) {
    std::fprintf(stderr, "%s: %s\n%s", name.c_str(), error.c_str(), Named(name).c_str());
    return 2;
  }
  if (help) {
    std::printf("%s\n%s", Named(name).c_str(), ControlHelp());
    return 0;
  }
  return RunSimServer(options);
}
