#include "platform/files.h"

#include <sys/stat.h>

#include <cerrno>

namespace korvane::platform {

namespace {

bool isDirectory(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

constexpr unsigned char BOM[3] = {0xEF, 0xBB, 0xBF};

}  // namespace

std::FILE* openForReading(const std::string& name) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return nullptr;
  // Asked of the open file, so that it is the file that will be read.
  struct stat info {};
  if (::fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

bool openForReading(std::ifstream& in, const std::string& name) {
  if (in.is_open()) in.close();
  in.clear();
  if (isDirectory(name)) {
    in.setstate(std::ios::failbit);
    return false;
  }
  in.open(name, std::ios::in | std::ios::binary);
  return in.is_open() && in.good();
}

std::size_t byteOrderMarkLength(const char* data, std::size_t size) {
  if (size < 3) return 0;
  for (int i = 0; i < 3; ++i)
    if (static_cast<unsigned char>(data[i]) != BOM[i]) return 0;
  return 3;
}

void skipByteOrderMark(std::istream& in) {
  std::streambuf* buffer = in.rdbuf();
  if (!buffer) return;
  // Peek, take and, when the mark breaks off, give the bytes back: a file
  // buffer keeps what it has just handed out.
  int taken = 0;
  while (taken < 3 && buffer->sgetc() == BOM[taken]) {
    buffer->sbumpc();
    ++taken;
  }
  if (taken == 3) return;
  while (taken-- > 0) buffer->sungetc();
}

bool closeWritten(std::FILE* file) {
  if (!file) return false;
  const bool flushed = std::fflush(file) == 0;
  const bool clean = std::ferror(file) == 0;
  return std::fclose(file) == 0 && flushed && clean;
}

}  // namespace korvane::platform
