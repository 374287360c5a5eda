#include "geotools.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <vector>

// ---------------------------------------------------------------------------
// Streams

FilePtr open_file(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

bool close_file_checked(FilePtr& file) {
  std::FILE* f = file.release();
  if (!f) return false;
  bool ok = std::ferror(f) == 0;
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

bool read_block_at(std::FILE* stream, void* buffer, size_t size, int64_t offset) {
  const int fd = fileno(stream);
  if (fd < 0)
    return fseeko(stream, offset, SEEK_SET) == 0 && std::fread(buffer, size, 1, stream) == 1;
  char* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = pread(fd, at, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n, offset += n, size -= static_cast<size_t>(n);
  }
  return true;
}

void remove_partial_file(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

// ---------------------------------------------------------------------------
// PendingFile

namespace {

// Temporary files not yet committed or discarded. A fatal error ends the
// process through exit(), which runs no destructors; the handler below still
// removes them, so no stray temporary file outlives the process.
std::vector<std::string>& open_temporaries() {
  static std::vector<std::string>* paths = [] {
    std::atexit([] {
      for (const std::string& p : open_temporaries()) unlink(p.c_str());
    });
    return new std::vector<std::string>;
  }();
  return *paths;
}

void forget_temporary(const std::string& path) {
  std::vector<std::string>& paths = open_temporaries();
  paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
}

}  // namespace

PendingFile::~PendingFile() { pending_file_discard(*this); }

bool pending_file_open(PendingFile& pending, const std::string& target) {
  pending_file_discard(pending);
  pending.target = target;
  std::string name = target + ".XXXXXX";
  int fd = mkstemp(name.data());
  if (fd < 0) return false;
  // mkstemp creates the file for its owner only; give it the permissions an
  // ordinary fopen would, so the renamed file looks like any other output.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  std::FILE* f = fdopen(fd, "w");
  if (!f) {
    close(fd);
    unlink(name.c_str());
    return false;
  }
  open_temporaries().push_back(name);
  pending.temp_path = std::move(name);
  pending.file.reset(f);
  return true;
}

bool pending_file_commit(PendingFile& pending) {
  if (pending.temp_path.empty()) return false;
  bool ok = close_file_checked(pending.file);
  if (ok && std::rename(pending.temp_path.c_str(), pending.target.c_str()) != 0)
    ok = false;
  if (ok) {
    forget_temporary(pending.temp_path);
    pending.temp_path.clear();
    return true;
  }
  pending_file_discard(pending);
  return false;
}

void pending_file_discard(PendingFile& pending) {
  pending.file.reset();
  if (!pending.temp_path.empty()) {
    unlink(pending.temp_path.c_str());
    forget_temporary(pending.temp_path);
    pending.temp_path.clear();
  }
}

// ---------------------------------------------------------------------------
// Encodings

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
      c = kReplacement;
    }
    append_utf8(out, c);
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    size_t len = 0;
    char32_t c = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, c = b & 0x07, min = 0x10000;
    }
    size_t n = 1;
    while (len && n < len && i + n < text.size() &&
           (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + n]) & 0x3F);
      ++n;
    }
    if (len == 0 || n < len || c < min || c > 0x10FFFF || is_high_surrogate(c) ||
        is_low_surrogate(c)) {
      // One replacement per bad byte; the bytes after it are looked at anew.
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    append_utf16(out, c);
    i += len;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Text, path and file-size helpers

void stripcr(std::string& text) {
  size_t cut = text.find_first_of("\r\n");
  if (cut != std::string::npos) text.resize(cut);
}

int stripextension(std::string& text) {
  if (text.empty()) return -1;
  size_t slash = text.rfind('/');
  size_t component = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = text.rfind('.');
  // The dot must lie in the last component, after that component's first
  // character, so "tile" and ".hidden" keep their names.
  if (dot == std::string::npos || dot <= component) return 0;
  text.resize(dot);
  return static_cast<int>(dot);
}

std::string str_replace(std::string_view source, std::string_view pattern,
                        std::string_view replacement) {
  if (pattern.empty()) return std::string(source);
  std::string out;
  out.reserve(source.size());
  size_t pos = 0;
  for (size_t hit; (hit = source.find(pattern, pos)) != std::string_view::npos;
       pos = hit + pattern.size()) {
    out.append(source, pos, hit - pos);
    out.append(replacement);
  }
  out.append(source, pos);
  return out;
}

int64_t get_filesize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

int correct_directory_string(std::string& directory) {
  int length = static_cast<int>(directory.size());
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return length;
}

// ---------------------------------------------------------------------------
// Point-in-polygon and OVL selection areas

namespace {

// Quadrant of vertex (vx, vy) around (px, py), numbered counter-clockwise
// from the lower left; a vertex on either line through the point counts to
// the lower or left side.
int quadrant(double vx, double vy, double px, double py) {
  if (vy <= py) return vx <= px ? 0 : 1;
  return vx > px ? 2 : 3;
}

}  // namespace

int isInsideP(double px, double py, const double* x, const double* y, int32_t n) {
  if (n <= 0) return -1;
  double prev_x = x[n - 1], prev_y = y[n - 1];
  int prev_q = quadrant(prev_x, prev_y, px, py);
  int w = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int q = quadrant(x[i], y[i], px, py);
    switch ((q - prev_q + 4) % 4) {
      case 1:
        ++w;
        break;
      case 3:
        --w;
        break;
      case 2: {
        // Opposite quadrants: one end lies above the point's line and the
        // other not, so the divisor is never zero.
        const double xc = prev_x + (py - prev_y) * (x[i] - prev_x) / (y[i] - prev_y);
        if (px == xc) return 0;
        w += (px > xc) != (y[i] > prev_y) ? 2 : -2;
        break;
      }
      default:
        break;
    }
    prev_x = x[i];
    prev_y = y[i];
    prev_q = q;
  }
  if (w == 0) return -1;
  if (w == 4 || w == -4) return 1;
  return w;
}

namespace {

bool starts_with(const char* line, std::string_view prefix) {
  return std::strncmp(line, prefix.data(), prefix.size()) == 0;
}

}  // namespace

int read_ovl_selection_areas(const std::string& path, SelectionAreas& areas) {
  FilePtr file = open_file(path, "r");
  if (!file) {
    std::fprintf(stderr, "cannot open OVL file (%s)...\n", path.c_str());
    return 0;
  }

  int32_t count = 0;  // areas begun; the current one is count - 1
  bool collecting = false;
  int32_t slot = 0;
  // Carried over to lines that do not parse, and from one area to the next.
  int last_index = 0;
  double last_x = 0.0, last_y = 0.0;

  char line[1024];
  while (std::fgets(line, sizeof line, file.get())) {
    if (starts_with(line, "[Symbol ")) {
      if (count == kOvlMaxAreas) {
        std::fprintf(stderr, "too many areas in OVL file (%s) ...\n", path.c_str());
        return 0;
      }
      try {
        areas.area_x[count].assign(kOvlMaxPoints, 0.0);
        areas.area_y[count].assign(kOvlMaxPoints, 0.0);
      } catch (const std::bad_alloc&) {
        areas.area_x[count].clear();
        areas.area_y[count].clear();
        std::fputs("malloc: out of memory error\n", stderr);
        return 0;
      }
      areas.area_points[count] = 1;
      ++count;
      collecting = false;
      slot = 0;
      continue;
    }
    if (count == 0) continue;  // before the first section: belongs to no area

    const int32_t area = count - 1;
    const bool is_x = starts_with(line, "XKoord");
    if (starts_with(line, "Typ=3") || starts_with(line, "Typ=4")) {
      collecting = true;
    } else if (collecting && (is_x || starts_with(line, "YKoord"))) {
      double& last = is_x ? last_x : last_y;
      std::sscanf(line, is_x ? "XKoord%d=%lf" : "YKoord%d=%lf", &last_index, &last);
      if (last_index > slot) {
        ++slot;
        if (slot == kOvlMaxPoints) {
          std::fputs("area limit: out of memory error\n", stderr);
          return 0;
        }
      }
      (is_x ? areas.area_x : areas.area_y)[area][slot] = last;
    }
    areas.area_points[area] = slot + 1;
  }

  if (count == 0) {
    std::fprintf(stderr, "no polygonal areas in OVL file (%s) ...\n", path.c_str());
    return 0;
  }
  areas.area_count = count;
  return 1;
}

// ---------------------------------------------------------------------------
// Degree ranges and metric lengths

static_assert(kDegreeToRadian == kPiTenDigits / 180.0,
              "the factor is the ten-digit pi over 180");

int is_degree_long(double longitude) { return longitude >= -180.0 && longitude <= 180.0; }

int is_degree_lat(double latitude) { return latitude >= -90.0 && latitude <= 90.0; }

double len_x(double dlon, double latitude) {
  const double angle = latitude * kDegreeToRadian;
  return std::cos(angle) * kMetresPerDegree * dlon;
}

double len_y(double dlat) { return dlat * kMetresPerDegree; }
