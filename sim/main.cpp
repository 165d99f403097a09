// veri-sim: simulated VERI controllers on a pseudo-terminal.
#include <cstdio>

#include "sim/Bus.h"
#include "sim/Server.h"

static const char *Usage =
    "usage: veri-sim [--axes 1,2,3] [--link PATH] [--log FILE] [--control PATH] [--speedup F]\n"
    "Simulated VERI stepper controllers on one pseudo-terminal. The first line of\n"
    "output is \"veri-sim: <slave path>\"; serves until SIGTERM or SIGINT.\n"
    "  --axes LIST     addresses that answer (default 1,2,3)\n"
    "  --link PATH     make PATH a symbolic link to the slave side\n"
    "  --log FILE      one line per event, time in ms since start:\n"
    "                    \"<ms> #1 VER\"        a frame received (without its CR)\n"
    "                    \"<ms> ?? text\"       bytes ending in CR that are no frame\n"
    "                    \"<ms> -> text\"       one write of reply bytes (\\r \\n escaped)\n"
    "                    \"<ms> !! text\"       control commands, faults, refused moves\n"
    "  --control PATH  control endpoint: a unix socket created at PATH (each line\n"
    "                  is answered \"ok\" or \"error: ...\"), or, when PATH is an\n"
    "                  existing FIFO, that FIFO\n"
    "  --speedup F     simulated motion F times faster than real time (default 1)\n"
    "  --help          this text\n"
    "Replies: echo of the frame's words, a blank and the answer words, CR LF, 5 ms\n"
    "after the frame. Answers: VER -> VERISIM_1.0; P<n>? -> P<n>=<value>, but\n"
    "P134? -> ON|OFF and P0? -> RUN|IDLE; empty command -> OK<d> (0 moving,\n"
    "1 stands, 2/3 the same with a warning in P12, 4 an error in P11); LIST+ ->\n"
    "the next stored line, END after the last; unknown -> ?; all else echo only.\n";

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TSimOptions options;
  bool help = false;
  std::string error;
  if (!ParseSimOptions(args, options, help, error)) {
    std::fprintf(stderr, "veri-sim: %s\n%s", error.c_str(), Usage);
    return 2;
  }
  if (help) {
    std::printf("%s\n%s", Usage, ControlHelp());
    return 0;
  }
  return RunSimServer(options);
}
