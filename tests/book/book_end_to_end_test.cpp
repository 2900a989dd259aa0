// A book built from PGN by the engine's own "book" command, loaded back by
// "BookFile" (or found under its default name) and played.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../protocol/engine_process.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> bestmoves(const Transcript& t) {
  std::vector<std::string> result;
  for (const std::string& l : t.out)
    if (l.rfind("bestmove", 0) == 0 || l.rfind("info depth", 0) == 0) result.push_back(l);
  return result;
}

const std::string PLAY =
    "setoption name blocking value true\n"
    "ucinewgame\nposition startpos\ngo depth 6\n"
    "position startpos moves e2e4 e7e5\ngo depth 6\n"
    "position startpos moves e2e4 e7e5 g1f3 g7g6\ngo depth 3\nquit\n";

void expectBookPlayed(const Transcript& t) {
  const auto replies = bestmoves(t);
  ASSERT_GE(replies.size(), 4u);
  // In the book: the answer comes without a single iteration.
  EXPECT_EQ(replies[0], "bestmove e2e4");
  EXPECT_EQ(replies[1], "bestmove g1f3");
  // Out of the book: a search.
  EXPECT_EQ(replies[2].rfind("info depth", 0), 0u);
  EXPECT_EQ(replies.back().rfind("bestmove", 0), 0u);
}

TEST(BookEndToEnd, BuiltFromPgnLoadedAndPlayed) {
  const fs::path dir = fs::path(::testing::TempDir()) / "book_e2e";
  fs::create_directories(dir);
  const std::string book = (dir / "built.opn").string();
  fs::remove(book);
  Transcript build = runEngine("uci\nbook add " KORVANE_DATA_DIR "/pgn/games.pgn all\nbook write " + book +
                               " threshold 0\nbook write " + (dir / "second.opn").string() + "\nquit\n");
  ASSERT_TRUE(fs::exists(book));
  EXPECT_FALSE(fs::exists(dir / "second.opn")) << "a second write without add does nothing";
  expectBookPlayed(runEngine("uci\nsetoption name BookFile value " + book + "\n" + PLAY));
}

TEST(BookEndToEnd, DefaultNameFromWorkingAndProgramDirectory) {
  const fs::path dir = fs::path(::testing::TempDir()) / "book_default";
  fs::remove_all(dir);
  fs::create_directories(dir / "cwd");
  fs::create_directories(dir / "bin");
  std::ofstream(dir / "cwd" / "Korvane.opn") << "e2e4 1 e7e5 1 g1f3 1 * * * *\n";
  const fs::path saved = fs::current_path();

  // The working directory.
  fs::current_path(dir / "cwd");
  expectBookPlayed(runEngine("uci\n" + PLAY));
  // Loaded at start-up: a "go" before any "position" plays from it.
  const auto first = bestmoves(runEngine("uci\nsetoption name blocking value true\ngo depth 6\nquit\n"));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0], "bestmove e2e4");

  // Beside the program, started from a directory without a book.
  fs::copy_file(KORVANE_BINARY, dir / "bin" / "korvane");
  fs::rename(dir / "cwd" / "Korvane.opn", dir / "bin" / "Korvane.opn");
  expectBookPlayed(runProgram((dir / "bin" / "korvane").string(), "uci\n" + PLAY));

  // Neither: the engine searches from the first move on.
  fs::remove(dir / "bin" / "Korvane.opn");
  const auto replies = bestmoves(runEngine("uci\n" + PLAY));
  ASSERT_FALSE(replies.empty());
  EXPECT_EQ(replies[0].rfind("info depth", 0), 0u);
  fs::current_path(saved);
}

}  // namespace
}  // namespace korvane::testing
