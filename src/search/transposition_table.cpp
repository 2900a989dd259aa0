#include "search/transposition_table.h"

#include <cstdlib>

namespace korvane {

namespace {

constexpr auto RELAXED = std::memory_order_relaxed;

std::size_t slotsFor(std::size_t bytes) {
  std::size_t n = bytes / sizeof(TableSlot);
  return n < TranspositionTable::MIN_SLOTS ? TranspositionTable::MIN_SLOTS : n;
}

// Highest power of two not above n / 5 + 256, and below n.
std::size_t primaryFor(std::size_t n) {
  std::size_t limit = n / 5 + 256;
  while (limit >= n) limit /= 2;
  std::size_t m = 1;
  while (m * 2 <= limit) m *= 2;
  return m;
}

// Mate scores are kept relative to the node that stored them, so that the
// same position reached at another ply reads the right distance to mate.
int scoreToTable(int score, int ply) {
  if (score <= -MATE_WINDOW) return score - ply;
  if (score >= MATE_WINDOW) return score + ply;
  return score;
}

int scoreFromTable(int score, int ply) {
  if (score <= -MATE_WINDOW) return score + ply;
  if (score >= MATE_WINDOW) return score - ply;
  return score;
}

bool holds(const TableSlot& slot, std::uint32_t keyLow, std::uint32_t keyHigh) {
  return slot.keyLow.load(RELAXED) == keyLow && slot.keyHigh.load(RELAXED) == keyHigh;
}

// a is more valuable than b: a higher flags word, or at equal flags a smaller
// priority.
bool moreValuable(const TableSlot& a, const TableSlot& b) {
  std::int16_t fa = a.flags.load(RELAXED), fb = b.flags.load(RELAXED);
  if (fa != fb) return fa > fb;
  return a.priority.load(RELAXED) < b.priority.load(RELAXED);
}

void copySlot(TableSlot& to, const TableSlot& from) {
  to.keyLow.store(from.keyLow.load(RELAXED), RELAXED);
  to.keyHigh.store(from.keyHigh.load(RELAXED), RELAXED);
  to.move.store(from.move.load(RELAXED), RELAXED);
  to.score.store(from.score.load(RELAXED), RELAXED);
  to.priority.store(from.priority.load(RELAXED), RELAXED);
  to.flags.store(from.flags.load(RELAXED), RELAXED);
  to.generation.store(from.generation.load(RELAXED), RELAXED);
}

void writeEntry(TableSlot& slot, std::uint32_t move, int score, std::uint16_t priority, std::int16_t flags) {
  slot.move.store(move, RELAXED);
  slot.score.store(score, RELAXED);
  slot.priority.store(priority, RELAXED);
  slot.flags.store(flags, RELAXED);
}

}  // namespace

bool TranspositionTable::allocate(std::size_t bytes) {
  slots_.reset();
  slotCount_ = primaryCount_ = 0;
  for (;;) {
    std::size_t n = slotsFor(bytes);
    slots_.reset(static_cast<TableSlot*>(std::calloc(n, sizeof(TableSlot))));
    if (slots_) {
      slotCount_ = n;
      primaryCount_ = primaryFor(n);
      overflowModulus_ = std::uint32_t(overflowCount() - 1);
      overflowMagic_ = UINT64_MAX / overflowModulus_ + 1;
      break;
    }
    bytes -= bytes / 16;
    if (bytes <= 120000) {
      clear();
      return false;
    }
  }
  // The slots are already zero, which is what clear() would write into each;
  // only the counters are reset here.
  generation_.store(1, RELAXED);
  used_.store(0, RELAXED);
  bookCount_.store(0, RELAXED);
  return true;
}

void TranspositionTable::clear() {
  for (std::size_t i = 0; i < slotCount_; ++i) {
    TableSlot& slot = slots_[i];
    slot.keyLow.store(0, RELAXED);
    slot.keyHigh.store(0, RELAXED);
    writeEntry(slot, 0, 0, 0, 0);
    slot.generation.store(0, RELAXED);
    slot.unused = 0;
  }
  generation_.store(1, RELAXED);
  used_.store(0, RELAXED);
  bookCount_.store(0, RELAXED);
}

void TranspositionTable::newSearch() {
  std::uint16_t next = std::uint16_t(generation_.load(RELAXED) + 1);
  // Generation 0 is what empty slots carry; skip it when the counter wraps so
  // that empty slots never look like entries of the current search.
  if (next == 0) next = 1;
  generation_.store(next, RELAXED);
  used_.store(0, RELAXED);
  priorityBase_.store(PRIORITY_BASE_START, RELAXED);
  bookCount_.store(0, RELAXED);
}

int TranspositionTable::hashfull() const {
  if (slotCount_ == 0) return 0;
  std::int64_t used = used_.load(RELAXED);
  if (used <= 0) return 0;
  // Racing threads may count a slot twice; per mille never exceeds 1000.
  std::int64_t perMille = used * 1000 / std::int64_t(slotCount_);
  return perMille > 1000 ? 1000 : int(perMille);
}

void TranspositionTable::touch(TableSlot& slot, std::uint16_t current) {
  if (slot.generation.load(RELAXED) != current) {
    slot.generation.store(current, RELAXED);
    used_.fetch_add(1, RELAXED);
  }
}

bool TranspositionTable::probe(std::uint64_t key, int ply, TableEntry& out) {
  if (slotCount_ == 0) return false;
  const std::uint32_t keyLow = std::uint32_t(key), keyHigh = std::uint32_t(key >> 32);
  TableSlot* slot = primarySlot(keyLow);
  if (!holds(*slot, keyLow, keyHigh)) {
    // Storing this node's result later will most likely move the primary
    // slot's entry into that entry's own overflow pair: start loading it.
    prefetchForRead(overflowPair(slot->keyLow.load(RELAXED)));
    slot = overflowPair(keyLow);
    if (!holds(*slot, keyLow, keyHigh)) {
      ++slot;
      if (!holds(*slot, keyLow, keyHigh)) return false;
    }
  }
  touch(*slot, generation_.load(RELAXED));
  out.move = Move(slot->move.load(RELAXED));
  out.score = scoreFromTable(slot->score.load(RELAXED), ply);
  out.priority = slot->priority.load(RELAXED);
  out.flags = slot->flags.load(RELAXED);
  return true;
}

bool TranspositionTable::usable(const TableEntry& e, int alpha, int beta, int depth) {
  if (e.depth() < depth) return false;
  switch (e.bound()) {
    case BOUND_EXACT: return true;
    case BOUND_LOWER: return e.score >= beta;
    case BOUND_UPPER: return e.score <= alpha;
    default: return false;  // bits 1-2 both set: not a bound this table writes
  }
}

void TranspositionTable::store(std::uint64_t key, Move move, int score, int flags, int nullWindowCount, int ply) {
  if (slotCount_ == 0) return;
  const std::uint32_t keyLow = std::uint32_t(key), keyHigh = std::uint32_t(key >> 32);
  const std::uint16_t current = generation_.load(RELAXED);
  const int tableScore = scoreToTable(score, ply);
  const std::uint16_t priority = std::uint16_t(priorityBase_.load(RELAXED) + nullWindowCount);
  const std::int16_t newFlags = std::int16_t(flags);

  // The position already has an overflow entry: refresh it, and replace its
  // contents unless they are more valuable than the new result.
  TableSlot* pair = overflowPair(keyLow);
  for (TableSlot* slot = pair; slot <= pair + 1; ++slot) {
    if (!holds(*slot, keyLow, keyHigh)) continue;
    touch(*slot, current);
    std::int16_t oldFlags = slot->flags.load(RELAXED);
    if (oldFlags > newFlags || (oldFlags == newFlags && slot->priority.load(RELAXED) < priority)) return;
    writeEntry(*slot, move.raw(), tableScore, priority, newFlags);
    return;
  }

  TableSlot& primary = *primarySlot(keyLow);
  if (!holds(primary, keyLow, keyHigh) && primary.generation.load(RELAXED) == current) {
    // The primary slot holds a current entry of another position: move it
    // into its own overflow pair instead of losing it, unless that pair
    // already keeps something better from this search.
    const std::uint32_t victimKeyLow = primary.keyLow.load(RELAXED);
    const std::uint32_t victimKeyHigh = primary.keyHigh.load(RELAXED);
    TableSlot* b = overflowPair(victimKeyLow);
    TableSlot* victim;
    if (holds(b[0], victimKeyLow, victimKeyHigh))
      victim = &b[0];
    else if (holds(b[1], victimKeyLow, victimKeyHigh))
      victim = &b[1];
    else if (b[0].generation.load(RELAXED) == b[1].generation.load(RELAXED))
      victim = moreValuable(b[0], b[1]) ? &b[1] : &b[0];
    else
      victim = b[0].generation.load(RELAXED) != current ? &b[0] : &b[1];

    const bool victimCurrent = victim->generation.load(RELAXED) == current;
    if (!(victimCurrent && moreValuable(*victim, primary))) {
      copySlot(*victim, primary);
      if (!victimCurrent) used_.fetch_add(1, RELAXED);
    }
  }

  primary.keyLow.store(keyLow, RELAXED);
  primary.keyHigh.store(keyHigh, RELAXED);
  writeEntry(primary, move.raw(), tableScore, priority, newFlags);
  touch(primary, current);
}

SlotContents TranspositionTable::readSlot(std::size_t index) const {
  SlotContents c;
  if (index >= slotCount_) return c;
  const TableSlot& slot = slots_[index];
  c.key = std::uint64_t(slot.keyHigh.load(RELAXED)) << 32 | slot.keyLow.load(RELAXED);
  c.move = Move(slot.move.load(RELAXED));
  c.score = slot.score.load(RELAXED);
  c.priority = slot.priority.load(RELAXED);
  c.flags = slot.flags.load(RELAXED);
  c.generation = slot.generation.load(RELAXED);
  return c;
}

void TranspositionTable::writeSlot(std::size_t index, const SlotContents& c) {
  if (index >= slotCount_) return;
  TableSlot& slot = slots_[index];
  slot.keyLow.store(std::uint32_t(c.key), RELAXED);
  slot.keyHigh.store(std::uint32_t(c.key >> 32), RELAXED);
  writeEntry(slot, c.move.raw(), c.score, c.priority, c.flags);
  slot.generation.store(c.generation, RELAXED);
}

}  // namespace korvane
