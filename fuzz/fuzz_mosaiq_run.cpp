// Fuzz target: a whole mosaiq conversion of the input as a GMF file, into a
// scratch folder. Whatever the tile names say, nothing may be written
// outside the output folder and the root document's place.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "run.h"

namespace {

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string n = e->d_name; n != "." && n != "..") names.push_back(n);
    closedir(d);
  }
  return names;
}

// parent/ holds only scratch/; scratch/ holds the GMF file, the output
// folder and the root document.
struct Scratch {
  std::string parent, dir, gmf, out, root;
  Scratch() {
    char tmpl[] = "/tmp/mosaiq_fuzz.XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    parent = tmpl;
    dir = parent + "/scratch";
    gmf = dir + "/in.gmf";
    out = dir + "/out";
    root = dir + "/root.kml";
    mkdir(dir.c_str(), 0777);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzz::gmf_read_would_exit(data, size)) return 0;
  static Scratch s;
  for (const std::string& n : entries(s.out)) unlink((s.out + "/" + n).c_str());
  rmdir(s.out.c_str());
  unlink(s.root.c_str());
  mkdir(s.out.c_str(), 0777);
  {
    FilePtr f = open_file(s.gmf, "wb");
    if (!f || std::fwrite(data, 1, size, f.get()) != size) std::abort();
  }

  std::string args[] = {"mosaiq", s.gmf, "128", "384", "-1", "pk/", "pi&", s.out, s.root};
  char* argv[9];
  for (int i = 0; i < 9; ++i) argv[i] = args[i].data();
  mosaiq_run(9, argv);

  // Nothing beside the scratch folder, nothing unexpected in it, and only
  // plain files in the output folder.
  if (entries(s.parent) != std::vector<std::string>{"scratch"}) __builtin_trap();
  for (const std::string& n : entries(s.dir))
    if (n != "in.gmf" && n != "out" && n != "root.kml") __builtin_trap();
  for (const std::string& n : entries(s.out)) {
    struct stat st;
    if (lstat((s.out + "/" + n).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) __builtin_trap();
  }
  return 0;
}
