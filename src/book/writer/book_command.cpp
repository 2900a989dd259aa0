#include "book/writer/book_command.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace korvane {

namespace {

constexpr std::size_t MAX_FILE_NAME = 1023;

bool isWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* skipWhite(const char* p) {
  while (isWhite(*p)) ++p;
  return p;
}

// "%d" after the keyword, saturating; the default when there is no number.
int intAfter(const char* text, const char* keyword, int fallback) {
  const char* at = std::strstr(text, keyword);
  if (!at) return fallback;
  const char* p = at + std::strlen(keyword);
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(p, &end, 10);
  if (end == p) return fallback;
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
}

// "%u" after the keyword: a negative number wraps round, a huge one stays at
// the largest value.
std::uint32_t unsignedAfter(const char* text, const char* keyword, std::uint32_t fallback) {
  const char* at = std::strstr(text, keyword);
  if (!at) return fallback;
  const char* p = at + std::strlen(keyword);
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  if (end == p) return fallback;
  if (errno == ERANGE || v > 0xFFFFFFFFLL) return 0xFFFFFFFFu;
  if (v < -0xFFFFFFFFLL) return 0xFFFFFFFFu;
  return std::uint32_t(v);
}

bool endsWith(const char* text, const char* tail) {
  const std::size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && std::strcmp(text + n - m, tail) == 0;
}

std::string trimmedName(const char* begin, const char* end) {
  while (end > begin && isWhite(end[-1])) --end;
  std::size_t length = std::size_t(end - begin);
  if (length > MAX_FILE_NAME) length = MAX_FILE_NAME;
  return std::string(begin, length);
}

}  // namespace

BookCommandArguments parseBookArguments(const char* arguments, bool treeExists) {
  using Action = BookCommandArguments::Action;
  BookCommandArguments a;
  const char* text = skipWhite(arguments ? arguments : "");

  if (std::strstr(text, "delete") && treeExists) {
    a.action = Action::Delete;
    return a;
  }

  if (const char* add = std::strstr(text, "add ")) {
    a.action = Action::Add;
    const char* p = skipWhite(add + 4);
    const char* end = p;
    while (*end && !isWhite(*end)) ++end;
    a.fileName = trimmedName(p, end);
    a.value = unsignedAfter(text, "value ", 1000);
    a.minimumElo = intAfter(text, "ELO ", -1);
    a.all = std::strstr(text, " all ") || std::strstr(text, " all\r") || std::strstr(text, " all\n") ||
            endsWith(text, " all");
    return a;
  }

  const char* write = std::strstr(text, "write");
  if (write && treeExists) {
    const char* p = write + 5;
    a.action = Action::Write;
    if (std::strncmp(write, "write960", 8) == 0) {
      a.action = Action::Write960;
      p = write + 8;
    } else if (std::strncmp(write, "writeEPD", 8) == 0) {
      a.action = Action::WriteEpd;
      p = write + 8;
    }
    p = skipWhite(p);
    // The name runs up to the first keyword, or to the end of the line.
    const char* end = p + std::strlen(p);
    for (const char* keyword : {"threshold", "width"}) {
      const char* at = std::strstr(p, keyword);
      if (at && at < end) end = at;
    }
    a.fileName = trimmedName(p, end);
    a.threshold = intAfter(text, "threshold ", 3000);
    a.width = intAfter(text, "width ", 25) * 0.01;
  }
  return a;
}

namespace {

void runAction(const BookCommandArguments& a, BookBuilderState& state, const LineWriter& print) {
  using Action = BookCommandArguments::Action;
  switch (a.action) {
    case Action::None:
      return;
    case Action::Delete:
      state.tree.reset();
      return;
    case Action::Add:
      if (!state.tree) state.tree = std::make_unique<BookTree>();
      addPgnFile(*state.tree, a.fileName, a.value, a.all, a.minimumElo, print);
      return;
    case Action::Write:
    case Action::Write960:
    case Action::WriteEpd: {
      BookTree& tree = *state.tree;
      bool written = false;
      if (a.action == Action::Write) written = writeBook(tree, a.fileName, a.threshold, a.width, print);
      if (a.action == Action::Write960) written = write960(tree, a.fileName, a.threshold, a.width, print);
      if (a.action == Action::WriteEpd) written = writeEPD(tree, a.fileName, a.threshold, a.width, print);
      // A file that could not be created or written leaves the tree for
      // another try.
      if (written) state.tree.reset();
      return;
    }
  }
}

}  // namespace

void runBookCommand(const char* arguments, BookBuilderState& state, const LineWriter& print) {
  const BookCommandArguments a = parseBookArguments(arguments, state.tree != nullptr);
  try {
    runAction(a, state, print);
  } catch (const std::bad_alloc&) {
    // A game collection too large for the memory: the tree is given up,
    // the engine goes on.
    state.tree.reset();
    if (print) print("info string book: nicht genug Speicher");
  }
}

}  // namespace korvane
