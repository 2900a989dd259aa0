#include "pgn/replay_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/game_record.h"
#include "board/notation.h"
#include "pgn_test_util.h"

namespace korvane {
namespace {

using testutil::Reports;
using testutil::TempFile;

const std::string TAGS = "[White \"a\"]\n[Black \"b\"]\n[Result \"*\"]\n";
// The second game starts where the first one ends.
const std::string CHAINED = TAGS + "1. e4 e5 *\n" + TAGS +
                            "[FEN \"rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2\"]\n"
                            "2. Nf3 Nc6 3. Bb5 *\n";

// Plays the moves on the game and answers the replay's move as coordinate
// text ("none" for no move).
std::string after(ReplayFile& replay, GameRecord& game, const std::vector<std::string>& moves) {
  for (const std::string& text : moves) {
    Move m;
    EXPECT_TRUE(parseMove(game.position, text, false, m)) << text;
    game.playMove(m);
  }
  const Move m = replay.replayMove(game);
  char buf[MOVE_TEXT_SIZE];
  return m ? moveToText(game.position, m, STYLE_COORDINATE, buf) : "none";
}

TEST(ReplayFile, FollowsGamesUntilTheyAreLeft) {
  TempFile file(CHAINED);
  {
    // As White through both games, then off the record.
    ReplayFile replay(file.path(), Reports().writer());
    GameRecord game;
    EXPECT_EQ(after(replay, game, {}), "e2e4");
    EXPECT_EQ(after(replay, game, {"e4", "e5"}), "g1f3");
    EXPECT_EQ(after(replay, game, {"Nf3", "Nc6"}), "f1b5");
    EXPECT_FALSE(replay.finished());
    EXPECT_EQ(after(replay, game, {"Bb5", "a6"}), "none");  // no game left
    EXPECT_TRUE(replay.finished());
  }
  {
    // As Black: the first position is not the game's, so the replay takes
    // the second side; a position off the record ends it for good.
    ReplayFile replay(file.path(), Reports().writer());
    GameRecord game;
    EXPECT_EQ(after(replay, game, {"e4"}), "e7e5");
    EXPECT_EQ(after(replay, game, {"e5", "d4"}), "none");
    EXPECT_TRUE(replay.finished());
    GameRecord fresh;
    EXPECT_EQ(after(replay, fresh, {}), "none");
  }
  {
    // The first game is used up by Black's reply; the second one goes on
    // from the current position, still for Black.
    ReplayFile replay(file.path(), Reports().writer());
    GameRecord game;
    EXPECT_EQ(after(replay, game, {"e4"}), "e7e5");
    EXPECT_EQ(after(replay, game, {"e5", "Nf3"}), "b8c6");
  }
  {
    // A game from a FEN with Black to move, followed as Black.
    TempFile fen(TAGS + "[FEN \"rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2\"]\n2... d6 3. d4 *\n");
    ReplayFile replay(fen.path(), Reports().writer());
    GameRecord game;
    EXPECT_EQ(after(replay, game, {"e4", "e5", "Nf3"}), "d7d6");
  }
}

TEST(ReplayFile, BadFilesGiveNoMoves) {
  Reports reports;
  ReplayFile missing("/nonexistent/replay.pgn", reports.writer());
  EXPECT_TRUE(missing.finished());
  EXPECT_FALSE(missing.replayMove(GameRecord()));

  TempFile broken(TAGS + "1. e4 e4 *\n");
  ReplayFile replay(broken.path(), reports.writer());
  EXPECT_FALSE(replay.replayMove(GameRecord()));
  EXPECT_TRUE(replay.finished());
  EXPECT_EQ(reports.lines.size(), 2u);  // "Cannot open file", "illegal move e4"

  TempFile empty(TAGS + "*\n");
  ReplayFile none(empty.path(), reports.writer());
  EXPECT_FALSE(none.replayMove(GameRecord()));
  EXPECT_TRUE(none.finished());
}

}  // namespace
}  // namespace korvane
