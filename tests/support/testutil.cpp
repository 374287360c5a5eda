#include "testutil.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testutil {

void put_u32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void put_f64(std::string& out, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void put_u16s(std::string& out, const std::u16string& s) {
  for (char16_t u : s) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
}

void put_point(std::string& out, const CalPoint& p) {
  put_u32(out, p.x);
  put_u32(out, p.y);
  put_f64(out, p.lon);
  put_f64(out, p.lat);
}

std::string gmf_bytes(const std::vector<FixtureTile>& tiles) {
  uint32_t next = 8;
  for (const FixtureTile& t : tiles)
    next += 20 + 2 * static_cast<uint32_t>(t.name.size()) + 24 * static_cast<uint32_t>(t.cal.size());
  std::string out;
  put_u32(out, 0xFF000002u);
  put_u32(out, static_cast<uint32_t>(tiles.size()));
  for (const FixtureTile& t : tiles) {
    put_u32(out, static_cast<uint32_t>(t.name.size()));
    put_u16s(out, t.name);
    put_u32(out, t.offset.value_or(next));
    put_u32(out, t.width);
    put_u32(out, t.height);
    put_u32(out, static_cast<uint32_t>(t.cal.size()));
    for (const CalPoint& p : t.cal) put_point(out, p);
    next += static_cast<uint32_t>(t.data.size());
  }
  for (const FixtureTile& t : tiles) out += t.data;
  return out;
}

std::vector<CalPoint> box_points(double west, double north, double dlon, double dlat,
                                 uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
  auto at = [&](uint32_t x, uint32_t y) {
    return CalPoint{x, y, west + x * dlon, north - y * dlat};
  };
  return {at(x0, y0), at(x1, y0), at(x0, y1), at(x1, y1)};
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "gmftest.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream s(text);
  while (std::getline(s, line)) lines.push_back(line);
  return lines;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& cwd) {
  TempDir capture;
  const std::string out_path = capture.file("out"), err_path = capture.file("err");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  RunResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}

}  // namespace testutil
