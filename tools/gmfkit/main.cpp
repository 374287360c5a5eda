// gmfkit: every road of the GMF library as one command-line tool. The
// subcommands are declared once, in kCommands; the table drives both the
// argument checks and the usage text. The handlers are in commands.cpp.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace {

struct Command {
  const char* name;
  const char* synopsis;  // the arguments, as the usage shows them
  const char* help;      // one line
  size_t min_args;
  size_t max_args;  // kAny: no upper limit
  int (*run)(const Args&);
};

constexpr size_t kAny = static_cast<size_t>(-1);

const Command kCommands[] = {
    {"list", "IN.gmf", "one tab-separated line per tile: name, data, size, points, box", 1, 1,
     gmfkit_list},
    {"footprints", "IN.gmf OUT.geojson", "GeoJSON polygons of the four-point tiles", 2, 2,
     gmfkit_footprints},
    {"extract", "IN.gmf DIR [INDEX...]", "tile images (all, or the given ones) into DIR", 2, kAny,
     gmfkit_extract},
    {"pack", "LIST.kal IMAGEDIR OUT.gmf", "KAL records and their images into a GMF file", 3, 3,
     gmfkit_pack},
    {"subset", "IN.gmf OUT.gmf INDEX...", "the given tiles in the given order (INDEX or A-B)", 3,
     kAny, gmfkit_subset},
    {"merge", "A.gmf B.gmf OUT.gmf", "every tile of A, then every tile of B", 3, 3, gmfkit_merge},
    {"select", "IN.gmf AREAS.ovl OUT.gmf", "the tiles that meet a polygon area of the OVL file",
     3, 3, gmfkit_select},
    {"kal", "IN.gmf DIR", "one KAL file per tile into DIR", 2, 2, gmfkit_kal},
    {"worldfile", "IN.gmf DIR", "one world file per tile with three or four points into DIR", 2,
     2, gmfkit_worldfile},
};

const Command* find_command(const char* name) {
  for (const Command& c : kCommands)
    if (std::strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

void print_usage(std::FILE* out) {
  std::fputs(
      "gmfkit, the GMF library's roads as subcommands\n"
      "\n"
      "Usage: gmfkit COMMAND ARGUMENTS...\n"
      "       gmfkit help COMMAND, gmfkit COMMAND --help\n"
      "\n"
      "Commands:\n",
      out);
  for (const Command& c : kCommands) {
    const std::string line = std::string(c.name) + " " + c.synopsis;
    std::fprintf(out, "  %-36s %s\n", line.c_str(), c.help);
  }
}

void print_command_usage(std::FILE* out, const Command& c) {
  std::fprintf(out, "Usage: gmfkit %s %s\n  %s\n", c.name, c.synopsis, c.help);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage(stderr);
    return 2;
  }
  const std::string first = argv[1];
  if (first == "--help" || (first == "help" && argc == 2)) {
    print_usage(stdout);
    return 0;
  }
  if (first == "help") {
    const Command* c = argc == 3 ? find_command(argv[2]) : nullptr;
    if (!c) {
      print_usage(stderr);
      return 2;
    }
    print_command_usage(stdout, *c);
    return 0;
  }

  const Command* command = find_command(argv[1]);
  if (!command) {
    std::fprintf(stderr, "unknown command %s\n", argv[1]);
    print_usage(stderr);
    return 2;
  }
  const Args args(argv + 2, argv + argc);
  if (args.size() == 1 && args[0] == "--help") {
    print_command_usage(stdout, *command);
    return 0;
  }
  if (args.size() < command->min_args || args.size() > command->max_args) {
    print_command_usage(stderr, *command);
    return 2;
  }

  const int status = command->run(args);
  if (status == kUsageError) print_command_usage(stderr, *command);
  return status;
}
