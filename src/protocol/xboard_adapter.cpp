#include "protocol/xboard_adapter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "board/move_picker.h"
#include "board/notation.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/scan.h"
#include "protocol/xboard_output.h"

namespace korvane {

namespace {

constexpr std::size_t MAX_COMMAND_WORD = 16;
// Clock values beyond this (about 30 years) are taken as this.
constexpr double MAX_TIME_MS = 1e12;
// Defaults of a new game: the whole game in 5 minutes.
constexpr double DEFAULT_BASE_MS = 300000.0;
// The engine considers a draw offer after this many of its moves.
constexpr int DRAW_OFFER_MOVES = 20;
// Lower score limit for accepting a draw the opponent offered (any score up
// to a small plus), and for offering one unasked (a dead-level score).
constexpr int ACCEPT_DRAW_LOWER = -1000000;
constexpr int OFFER_DRAW_LOWER = -1;
constexpr int DRAW_UPPER = 1;
// Room the reader waits for before it handles a line. The most one command
// posts is nine lines ("new" during analysis: a quiet stop, four lines of the
// new game, the position and "go infinite"); a search that ends meanwhile
// adds two (the position and "go" of pondering). At most one of these lines
// each may be long: a position with many moves, or a long opponent name.
constexpr int ROOM_SHORT_LINES = 12;
constexpr int ROOM_LONG_LINES = 2;

const char* const SETTINGS_FILE = "Korvane.ini";

const char* const FEATURES[] = {
    "feature done=0",
    "feature myname=\"Korvane 2.0\"",
    "feature ping=1",
    "feature setboard=1",
    "feature playother=1",
    "feature usermove=1",
    "feature sigint=0",
    "feature variants=\"normal,fischerandom\"",
    "feature colors=0",
    "feature ics=0",
    "feature name=1",
};

double clampTime(double ms) {
  if (std::isnan(ms)) return 0.0;
  return ms > MAX_TIME_MS ? MAX_TIME_MS : ms < -MAX_TIME_MS ? -MAX_TIME_MS : ms;
}

// A whole token as a decimal number ("5", "0.1", "-2").
bool readDecimal(const std::string& token, double& out) {
  if (token.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(token.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return false;
  out = value;
  return true;
}

// A whole token as a non-negative integer.
bool readCount(const std::string& token, long long& out) {
  if (token.empty() || !scan::isDigit(token[0])) return false;
  char* end = nullptr;
  out = std::strtoll(token.c_str(), &end, 10);
  return *end == '\0';
}

// A base time: minutes ("5", "0.5") or minutes and seconds ("2:30").
bool readBase(const std::string& token, double& ms) {
  const std::size_t colon = token.find(':');
  if (colon == std::string::npos) {
    double minutes = 0.0;
    if (!readDecimal(token, minutes) || minutes < 0.0) return false;
    ms = clampTime(minutes * 60000.0);
    return true;
  }
  long long minutes = 0, seconds = 0;
  if (!readCount(token.substr(0, colon), minutes) || !readCount(token.substr(colon + 1), seconds)) return false;
  ms = clampTime((double(minutes) * 60.0 + double(seconds)) * 1000.0);
  return true;
}

std::string padded(const char* text) {
  std::string token(text);
  if (token.size() < XboardAdapter::TOKEN) token.resize(XboardAdapter::TOKEN, ' ');
  return token;
}

// The first `count` blank-separated fields of the text, joined by one blank.
std::string firstFields(const char* text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i) {
    text = scan::skipWhite(text);
    if (!*text) break;
    if (!result.empty()) result += ' ';
    while (*text && !scan::isWhite(*text)) result += *text++;
  }
  return result;
}

std::string trimmed(std::string_view token) {
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  return std::string(token);
}

}  // namespace

PeriodChoice currentPeriod(const TimeControlPeriods& periods, int movesDone) {
  int m = movesDone;
  for (int k = 0; k < 3; ++k) {
    const int moves = periods[k].moves;
    if (moves <= 0) return {k, 0};
    const bool repeats = k == 2 || periods[k + 1].moves < 0;
    if (repeats) return {k, moves - m % moves};
    if (m < moves) return {k, moves - m};
    m -= moves;
  }
  return {0, 0};
}

double incrementAfterMove(const TimeControlPeriods& periods, int movesDone) {
  int m = movesDone;
  for (int k = 0; k < 3; ++k) {
    const TimePeriod& p = periods[k];
    if (p.moves <= 0) return p.incrementMs;
    const bool repeats = k == 2 || periods[k + 1].moves < 0;
    if (repeats) return p.incrementMs + (p.moves - m % p.moves == 1 ? p.baseMs : 0.0);
    if (m < p.moves) return p.incrementMs + (p.moves - m == 1 ? periods[k + 1].baseMs : 0.0);
    m -= p.moves;
  }
  return 0.0;
}

bool parseLevel(const char* text, TimeControlPeriods& periods) {
  // Fields are read in the order moves, base, increment, as often as they
  // come; reading stops at the first field that is not of its kind.
  TimePeriod read[3];
  int fields = 0;
  std::string token;
  const char* p = text;
  while (fields < 9) {
    p = scan::skipWhite(p);
    if (!*p) break;
    const char* start = p;
    while (*p && !scan::isWhite(*p)) ++p;
    token.assign(start, std::size_t(p - start));
    TimePeriod& period = read[fields / 3];
    bool ok = false;
    switch (fields % 3) {
      case 0: {
        long long moves = 0;
        ok = readCount(token, moves) && moves <= 100000;
        period.moves = int(moves);
        break;
      }
      case 1:
        ok = readBase(token, period.baseMs);
        break;
      case 2: {
        double seconds = 0.0;
        ok = readDecimal(token, seconds) && seconds >= 0.0;
        period.incrementMs = clampTime(seconds * 1000.0);
        break;
      }
    }
    if (!ok) break;
    ++fields;
  }
  // Trailing words after a complete set of fields are ignored, as a reader
  // of a fixed pattern would.
  if (fields < 3 || fields % 3 != 0) return false;
  for (int k = 0; k < 3; ++k) periods[k] = k < fields / 3 ? read[k] : TimePeriod{};
  return true;
}

XboardAdapter::XboardAdapter(XboardOutput& output, std::unique_ptr<CommandSink> sink)
    : output_(output), sink_(std::move(sink)) {
  reset();
}

XboardAdapter::~XboardAdapter() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
    awaitingMove_ = false;
  }
  // Whatever search still runs ends silently. The stop is queued behind any
  // "go" still waiting, so once the queue is idle no search thread is left
  // that could reach this adapter.
  postWaiting("setoption name NoOutput value true");
  postWaiting("stop");
  sink_->waitUntilIdle();
  output_.setAdapter(nullptr);
}

void XboardAdapter::reset() {
  game_.setPosition(nullptr);
  applyVariant();
  expectedReply_ = Move();
  baseText_ = "startpos";
  moveList_.clear();
  periods_[0] = TimePeriod{0, DEFAULT_BASE_MS, 0.0};
  periods_[1] = TimePeriod{};
  periods_[2] = TimePeriod{};
  ownClock_ = std::int64_t(DEFAULT_BASE_MS);
  fixedTime_ = -1;
  depthLimit_ = -1;
  forceMode_ = false;
  scoreCount_ = 0;
  drawOfferCounter_ = 0;
  recordedSide_ = 0;
  drawOffered_ = false;
}

void XboardAdapter::handleLine(const char* line) {
  // Back-pressure: a burst of input waits here, outside the lock, until the
  // commands before it have made room.
  sink_->waitForRoom(ROOM_SHORT_LINES, ROOM_LONG_LINES);
  Ending ending = Ending::None;
  std::vector<std::string> settings;
  {
    std::lock_guard<std::mutex> guard(lock_);
    ending = dispatch(line);
    settings.swap(settingsLines_);
  }
  // The settings file may hold more lines than the queue has slots.
  for (const std::string& option : settings) postWaiting(option);
  if (ending == Ending::None) return;
  // The run ends: the queued commands run to their end first, so that the
  // main loop finds the quit flag set when it next looks. This happens
  // outside the lock, so a search being stopped can still finish its report.
  if (ending == Ending::Quit) postWaiting("setoption name NoOutput value true");
  postWaiting("quit");
  sink_->waitUntilIdle();
}

XboardAdapter::Ending XboardAdapter::dispatch(const char* line) {
  const char* wordStart = scan::skipWhite(line);
  const char* wordEnd = wordStart;
  while (*wordEnd && !scan::isWhite(*wordEnd)) ++wordEnd;
  if (wordEnd == wordStart) return Ending::None;
  const std::string_view word(wordStart, std::min<std::size_t>(std::size_t(wordEnd - wordStart), MAX_COMMAND_WORD));
  const char* args = scan::skipWhite(wordEnd);

  if (word == "xboard") {
    output_.reply("");
    return Ending::None;
  }
  if (word == "protover") {
    protover(args);
    return protocolVersion_ < 2 ? Ending::OldProtocol : Ending::None;
  }
  if (protocolVersion_ < 2) {
    output_.replyError("protocol version 2 required", line);
    return Ending::OldProtocol;
  }

  if (word == "accepted" || word == "random" || word == "otim" || word == "rating" || word == "computer") {
    // Nothing to do.
  } else if (word == "rejected") {
    output_.replyError("not implemented", line);
  } else if (word == "new") {
    newGame();
  } else if (word == "variant") {
    chess960_ = std::strstr(args, "fischerandom") != nullptr;
    post(chess960_ ? "setoption name UCI_Chess960 value true" : "setoption name UCI_Chess960 value false");
    applyVariant();
  } else if (word == "quit") {
    awaitingMove_ = false;
    return Ending::Quit;
  } else if (word == "force") {
    quietStop();
    forceMode_ = true;
  } else if (word == "go") {
    forceMode_ = false;
    moveStart_ = platform::nowMs();
    // Without a legal move there is nothing to search: the game is over, and
    // the GUI hears its result as after a move that ended it.
    if (!printMateOrStalemate()) think(Move());
  } else if (word == "playother") {
    forceMode_ = false;
  } else if (word == "level") {
    level(line, args);
  } else if (word == "st") {
    double seconds = 0.0;
    std::string token;
    if (!scan::readWord(args, 40, token) || !readDecimal(token, seconds)) {
      output_.replyError("bad parameters", line);
    } else {
      fixedTime_ = std::int64_t(clampTime(seconds * 1000.0));
      depthLimit_ = -1;
    }
  } else if (word == "sd") {
    int depth = 0;
    if (!scan::readInt(args, depth)) {
      output_.replyError("bad parameters", line);
    } else {
      fixedTime_ = -1;
      depthLimit_ = depth;
    }
  } else if (word == "time") {
    std::int64_t centiseconds = 0;
    if (!scan::readInt64(args, centiseconds))
      output_.replyError("bad parameters", line);
    else
      ownClock_ = std::int64_t(clampTime(double(centiseconds) * 10.0));
  } else if (word == "usermove") {
    usermove(args);
  } else if (word == "?") {
    if (!(ponderPermitted_ && ponderingNow_)) post("stop");
  } else if (word == "ping") {
    // The argument comes back exactly as sent: the GUI matches it to its own
    // counter, whatever its length.
    std::string answer(wordStart);
    answer[1] = 'o';
    output_.reply(answer);
  } else if (word == "draw") {
    drawOffered_ = true;
  } else if (word == "result") {
    quietStop();
  } else if (word == "setboard") {
    setboard(args);
  } else if (word == "hint") {
    hint();
  } else if (word == "bk") {
    output_.reply("");
  } else if (word == "undo") {
    undo();
  } else if (word == "remove") {
    remove();
  } else if (word == "hard") {
    ponderPermitted_ = true;
  } else if (word == "easy") {
    if (ponderingNow_) quietStop();
    ponderPermitted_ = false;
  } else if (word == "post") {
    output_.setPost(true);
  } else if (word == "nopost") {
    output_.setPost(false);
  } else if (word == "analyze") {
    quietStop();
    startAnalysis();
  } else if (word == "name") {
    post(std::string("setoption name Opponent value ") + scan::skipOne(wordEnd));
  } else if (word == "exit") {
    leaveAnalysis();
  } else if (word == ".") {
    output_.printStatusLine();
  } else {
    output_.replyError("unknown command", line);
  }
  return Ending::None;
}

void XboardAdapter::protover(const char* args) {
  int version = 0;
  if (!scan::readInt(args, version) || version < 2) {
    output_.replyError("protocol version 2 required", args);
    return;
  }
  protocolVersion_ = version;
  post("debug on");
  for (const char* feature : FEATURES) output_.reply(feature);
  if (!readSettingsFile()) {
    output_.replyError("file 'Korvane.ini' not found", "protover");
    output_.reply("feature done=1");
    return;
  }
  game_.setPosition(nullptr);
  applyVariant();
  baseText_ = "startpos";
  moveList_.clear();
  expectedReply_ = Move();
  output_.reply("feature done=1");
}

bool XboardAdapter::readSettingsFile() {
  std::ifstream in;
  if (!platform::openForReading(in, SETTINGS_FILE)) {
    const std::string directory = platform::programDirectory();
    if (directory.empty() || !platform::openForReading(in, directory + SETTINGS_FILE)) return false;
  }
  platform::skipByteOrderMark(in);
  // Only "setoption" lines count; they set UCI options as if sent by a GUI.
  std::string text;
  while (std::getline(in, text)) {
    while (!text.empty() && scan::isWhite(text.back())) text.pop_back();
    if (text.compare(0, 10, "setoption ") == 0) settingsLines_.push_back(text);
  }
  return true;
}

void XboardAdapter::newGame() {
  quietStop();
  post("position startpos");
  post("setoption name UCI_Chess960 value false");
  post("setoption name Clear Hash value true");
  post("ucinewgame");
  chess960_ = false;
  reset();
  if (analyzing_) startAnalysis();
}

void XboardAdapter::level(const char* line, const char* args) {
  TimeControlPeriods periods;
  if (!parseLevel(args, periods)) {
    output_.replyError("bad parameters", line);
    return;
  }
  for (int k = 0; k < 3; ++k) periods_[k] = periods[k];
  ownClock_ = std::int64_t(periods_[0].baseMs);
  fixedTime_ = -1;
  depthLimit_ = -1;
}

void XboardAdapter::usermove(const char* args) {
  moveStart_ = platform::nowMs();
  std::string word;
  scan::readWord(args, TOKEN, word);
  const std::string token = padded(word.c_str());
  Move move;
  if (word.empty() || !parseMove(game_.position, word, true, move)) {
    output_.reply("Illegal move: " + token);
    return;
  }
  // The list keeps the move as this engine writes it, so that the inner
  // interpreter reads back exactly the move played here.
  const std::string played = tokenOf(move);
  moveList_ += played;
  game_.playMove(move);

  if (gameOverTest()) {
    if (analyzing_ || ponderingNow_) quietStop();
    return;
  }
  if (analyzing_) {
    quietStop();
    startAnalysis();
  } else if (forceMode_) {
    // Only recorded.
  } else if (ponderPermitted_ && ponderingNow_) {
    if (played == ponderToken_) {
      // The search already runs on this position; from now on its move counts.
      post("ponderhit");
      ponderingNow_ = false;
      output_.setPonderText("");
      awaitingMove_ = true;
    } else {
      quietStop();
      think(Move());
    }
  } else {
    think(Move());
  }
}

void XboardAdapter::setboard(const char* args) {
  quietStop();
  // A FEN has at most six fields; anything after them is not passed on, so
  // that the inner interpreter sets up exactly the position read here.
  const std::string fen = firstFields(args, 6);
  if (game_.setFromFen(fen.c_str())) {
    baseText_ = "fen " + fen;
    moveList_.clear();
    applyVariant();
  } else {
    output_.replyError("Illegal position", args);
    // The game goes back to the start, so that the base text, the move list
    // and the game keep describing the same position.
    game_.setPosition(nullptr);
    applyVariant();
    baseText_ = "startpos";
    moveList_.clear();
  }
  expectedReply_ = Move();
  if (analyzing_) startAnalysis();
}

void XboardAdapter::hint() {
  if (analyzing_) {
    const std::string text = output_.hintText();
    if (!text.empty()) {
      output_.reply("Hint: " + text);
      return;
    }
  }
  if (!expectedReply_.isNone() && isMoveLegal(game_.position, expectedReply_)) {
    char text[MOVE_TEXT_SIZE];
    output_.reply(std::string("Hint: ") + moveToText(game_.position, expectedReply_, STYLE_COORDINATE, text));
  }
}

void XboardAdapter::undo() {
  if (forceMode_ || analyzing_) {
    if (!moveList_.empty()) moveList_.resize(moveList_.size() - TOKEN);
    rebuildGame();
    expectedReply_ = Move();
    if (analyzing_) {
      quietStop();
      startAnalysis();
    }
  }
  scoreCount_ = 0;
  drawOfferCounter_ = 0;
  drawOffered_ = false;
}

void XboardAdapter::remove() {
  if (ponderingNow_) quietStop();
  ponderingNow_ = false;
  expectedReply_ = Move();
  moveList_.resize(moveList_.size() > 2 * TOKEN ? moveList_.size() - 2 * TOKEN : 0);
  rebuildGame();
  scoreCount_ = 0;
  drawOfferCounter_ = 0;
  drawOffered_ = false;
}

void XboardAdapter::rebuildGame() {
  if (baseText_ == "startpos" || !game_.setFromFen(baseText_.c_str() + 4)) game_.setPosition(nullptr);
  applyVariant();
  for (std::size_t at = 0; at + TOKEN <= moveList_.size(); at += TOKEN) {
    Move move;
    if (!parseMove(game_.position, trimmed(std::string_view(moveList_).substr(at, TOKEN)), true, move)) {
      moveList_.resize(at);  // cannot happen with tokens written here; keep list and game in step
      break;
    }
    game_.playMove(move);
  }
}

void XboardAdapter::applyVariant() {
  if (chess960_) game_.position.chess960Castling = 1;
}

void XboardAdapter::quietStop() {
  // Silence the search at once, not only when the worker gets to the stop:
  // after this command nothing of the stopped search may appear. The queued
  // lines switch output back on once the search has ended.
  output_.setNoOutput(true);
  post("setoption name NoOutput value true");
  post("stop");
  post("setoption name NoOutput value false");
  output_.setPonderText("");
  ponderingNow_ = false;
  awaitingMove_ = false;
}

void XboardAdapter::think(Move ponderMove) {
  const bool ponder = !ponderMove.isNone();
  std::string position = "position " + baseText_;
  if (!moveList_.empty() || ponder) position += " moves " + moveList_;
  ponderToken_ = ponder ? tokenOf(ponderMove) : std::string();
  position += ponderToken_;
  post(position);

  char go[160];
  if (depthLimit_ > 0) {
    std::snprintf(go, sizeof go, "go depth %ld", long(depthLimit_));
  } else if (fixedTime_ >= 0) {
    std::snprintf(go, sizeof go, "go movetime %10.0f", double(fixedTime_));
  } else {
    const PeriodChoice period = currentPeriod(periods_, (pliesPlayed() + (ponder ? 1 : 0)) / 2);
    const double increment = periods_[period.index].incrementMs;
    std::snprintf(go, sizeof go, "go wtime %16.0f btime %16.0f winc %16.0f binc %16.0f", double(ownClock_),
                  double(ownClock_), increment, increment);
    if (period.movesToGo > 0) {
      const std::size_t used = std::strlen(go);
      std::snprintf(go + used, sizeof go - used, " movestogo %d", period.movesToGo);
    }
    if (ponder) std::strncat(go, " ponder", sizeof go - std::strlen(go) - 1);
  }
  output_.setPonderText(trimmed(ponderToken_));
  post(go);
  ponderingNow_ = ponder;
  awaitingMove_ = !ponder;
}

void XboardAdapter::startAnalysis() {
  analyzing_ = true;
  std::string position = "position " + baseText_;
  if (!moveList_.empty()) position += " moves " + moveList_;
  post(position);
  output_.startAnalysis(platform::nowMs());
  post("go infinite");
}

void XboardAdapter::leaveAnalysis() {
  if (!analyzing_) return;
  quietStop();
  analyzing_ = false;
  post("setoption name Clear Hash value true");
  output_.stopAnalysis();
}

bool XboardAdapter::printMateOrStalemate() {
  int result = 0;
  if (!noLegalMove(game_.position, &result)) return false;
  if (result == 0)
    output_.reply("1/2-1/2 {Stalemate}");
  else
    output_.reply(game_.position.whiteToMove ? "0-1 {Black mates}" : "1-0 {White mates}");
  return true;
}

bool XboardAdapter::gameOverTest() {
  if (printMateOrStalemate()) return true;
  switch (game_.drawReason()) {
    case DRAW_FIFTY_MOVES:
      output_.reply("1/2-1/2 {Draw by 50 move rule}");
      return true;
    case DRAW_REPETITION:
      output_.reply("1/2-1/2 {Draw by repetition}");
      return true;
    case DRAW_INSUFFICIENT:
      output_.reply("1/2-1/2 {Insufficient material}");
      return true;
    case DRAW_DEAD:
      // Not claimed: GUIs judge claims by their own rules, which know no
      // blocked pawn endings, and score even a true claim as a false one,
      // a lost game. The game goes on; the search scores the position as a
      // draw, so it ends by repetition or the fifty-move rule, which GUIs
      // accept.
      return false;
    default:
      return false;
  }
}

bool XboardAdapter::awaitsMove(const Position& root) const {
  return awaitingMove_ && !closing_ && !analyzing_ && root.key == game_.position.key &&
         root.whiteToMove == game_.position.whiteToMove;
}

void XboardAdapter::prepareEngineMove(int rootScore, int rootMoveCount) {
  const int side = game_.position.whiteToMove;
  if (side != recordedSide_) {
    scoreCount_ = 0;
    drawOfferCounter_ = 0;
    recordedSide_ = side;
  }
  ++drawOfferCounter_;
  if (drawOffered_ && pliesPlayed() > drawOfferCounter_) drawOfferCounter_ = pliesPlayed();
  // With a single legal move the search does not score anything.
  if (rootMoveCount > 1) {
    for (int i = 3; i > 0; --i) scores_[i] = scores_[i - 1];
    scores_[0] = rootScore;
    if (scoreCount_ < 4) ++scoreCount_;
  }
  if ((drawOfferCounter_ > DRAW_OFFER_MOVES || drawOffered_) && scoreCount_ == 4) {
    const int lower = drawOffered_ ? ACCEPT_DRAW_LOWER : OFFER_DRAW_LOWER;
    drawOffered_ = false;
    bool level = true;
    for (int i = 0; i < 3; ++i) level = level && scores_[i] >= lower && scores_[i] <= DRAW_UPPER;
    if (level) {
      drawOfferCounter_ = 0;
      output_.reply("offer draw");
    }
  }
}

void XboardAdapter::afterEngineMove(Move best, Move ponder, int resignThreshold) {
  awaitingMove_ = false;
  const int movesDone = pliesPlayed() / 2;
  ownClock_ -= platform::nowMs() - moveStart_;
  ownClock_ += std::int64_t(incrementAfterMove(periods_, movesDone));
  if (ownClock_ < MIN_CLOCK_MS) ownClock_ = MIN_CLOCK_MS;

  moveList_ += tokenOf(best);
  game_.playMove(best);
  if (gameOverTest() || resignTest(resignThreshold)) return;

  expectedReply_ = ponder;
  if (!ponderPermitted_) return;
  ponderingNow_ = !expectedReply_.isNone() && isMoveLegal(game_.position, expectedReply_) && depthLimit_ <= 0 &&
                  fixedTime_ < 0 && !forceMode_;
  if (ponderingNow_) think(expectedReply_);
}

bool XboardAdapter::resignTest(int resignThreshold) {
  if (scoreCount_ < 4) return false;
  for (int score : scores_)
    if (score > resignThreshold) return false;
  if (scores_[0] > scores_[1]) return false;
  output_.reply("resign");
  return true;
}

std::string XboardAdapter::tokenOf(Move m) {
  char text[MOVE_TEXT_SIZE];
  return padded(moveToText(game_.position, m, STYLE_COORDINATE, text));
}

void XboardAdapter::post(const std::string& command) {
  if (!sink_->post(command)) output_.replyError("command not queued", command.c_str());
}

void XboardAdapter::postWaiting(const std::string& command) {
  if (!sink_->postWaiting(command)) output_.replyError("command not queued", command.c_str());
}

}  // namespace korvane
