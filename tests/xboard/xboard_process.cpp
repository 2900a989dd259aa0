#include "xboard_process.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "board/move_picker.h"
#include "board/notation.h"

namespace korvane::xtest {

namespace {

void removeTree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = path + "/" + name;
      struct stat info;
      if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        removeTree(child);
      else
        unlink(child.c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

}  // namespace

ScratchDir::ScratchDir() {
  char name[] = "/tmp/korvane-xboard-XXXXXX";
  if (mkdtemp(name)) path_ = name;
}

ScratchDir::~ScratchDir() {
  if (!path_.empty()) removeTree(path_);
}

std::string ScratchDir::write(const std::string& name, const std::string& contents) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out << contents;
  return file;
}

bool XboardProcess::handshake(int timeoutMs) {
  send("xboard");
  send("protover 2");
  return readLine("feature done=1", timeoutMs);
}

bool engineMove(const std::string& line, Position& pos, Move& out) {
  if (!startsWith(line, "move ")) return false;
  return parseMove(pos, line.substr(5), true, out) && isMoveLegal(pos, out);
}

}  // namespace korvane::xtest
