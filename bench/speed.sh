#!/usr/bin/env bash
# Speed figures of Korvane, with the reference engines beside it when they are
# installed, measured one after the other in the same run:
#   - nodes per second, one thread, "go movetime" on four positions (start,
#     two middlegames, an endgame), Glaurung 2.2 beside Korvane;
#   - the speed-up of two threads: time to a fixed depth, one against two;
#   - perft depth 6 from the start: leaves per second, Stockfish's
#     "go perft 6" beside it;
#   - "uci" -> "uciok" from process start, median of several starts;
#   - peak memory (resident set) at the default Hash after the searches;
#   - evaluations per second and the search bench (node signature).
# Wall-clock figures depend on the machine and its load; compare engines only
# within one run.
#
# Usage: bench/speed.sh [build dir]      (default: build)
# Environment: MOVETIME (ms per position, default 10000), DEPTH (depth of the
# two-thread comparison, default 12), STARTS (number of
# start-ups timed, default 21), GLAURUNG and STOCKFISH (paths of the
# reference engines, default /usr/games/glaurung and /usr/games/stockfish).
set -u

BUILD_DIR=${1:-build}
KORVANE=$BUILD_DIR/korvane
MOVETIME=${MOVETIME:-10000}
DEPTH=${DEPTH:-12}
STARTS=${STARTS:-21}
GLAURUNG=${GLAURUNG:-/usr/games/glaurung}
STOCKFISH=${STOCKFISH:-/usr/games/stockfish}

POSITIONS=(
  "start|startpos"
  "middlegame 1|fen r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 0 8"
  "middlegame 2|fen r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10"
  "endgame|fen 8/5pk1/6p1/3R4/7P/6P1/r4PK1/8 b - - 0 40"
)

if [[ ! -x $KORVANE ]]; then
  echo "speed.sh: $KORVANE not found; build first" >&2
  exit 1
fi

now_ns() { date +%s%N; }

# Starts an engine as a coprocess ENGINE; ENGINE_PID holds its process id.
start_engine() {
  coproc ENGINE { exec "$@" 2>/dev/null; }
}

send() { printf '%s\n' "$1" >&"${ENGINE[1]}"; }

# Reads engine lines until one starts with $1; the line is left in LINE.
# Every line that contains " nps " is remembered in LAST_NPS_LINE.
wait_for() {
  LINE=
  while IFS= read -r -t 600 LINE <&"${ENGINE[0]}"; do
    LINE=${LINE%$'\r'}
    [[ $LINE == *" nps "* ]] && LAST_NPS_LINE=$LINE
    [[ $LINE == "$1"* ]] && return 0
  done
  return 1
}

stop_engine() {
  send quit
  wait "$ENGINE_PID" 2>/dev/null
}

# Value of the word following $2 in line $1.
field() {
  local -a words
  read -r -a words <<<"$1"
  local i
  for ((i = 0; i + 1 < ${#words[@]}; ++i)); do
    if [[ ${words[i]} == "$2" ]]; then
      echo "${words[i + 1]}"
      return
    fi
  done
}

PEAK_KB=
NPS=0

# Starts an engine, sets its thread count and runs one search to its
# bestmove; the engine is left running. Arguments: threads option name,
# thread count, position, go arguments, engine command.
run_search() {
  local threadOption=$1 threads=$2 position=$3 limits=$4
  shift 4
  LAST_NPS_LINE=
  start_engine "$@"
  send uci
  wait_for uciok || return 1
  send "setoption name $threadOption value $threads"
  send isready
  wait_for readyok || return 1
  send "position $position"
  send "go $limits"
  wait_for bestmove
}

# Nodes per second of one "go movetime" search, left in NPS: threads option
# name, thread count, position, engine command. Korvane's figure is that of
# its last completed iteration, Glaurung's that of its last report. Korvane's
# largest resident set so far is kept in PEAK_KB.
search_nps() {
  NPS=0
  run_search "$1" "$2" "$3" "movetime $MOVETIME" "${@:4}" || return 1
  if [[ $4 == "$KORVANE" && -r /proc/$ENGINE_PID/status ]]; then
    local kb
    kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$ENGINE_PID/status")
    [[ -n $kb && (-z $PEAK_KB || $kb -gt $PEAK_KB) ]] && PEAK_KB=$kb
  fi
  stop_engine
  NPS=$(field "$LAST_NPS_LINE" nps)
  NPS=${NPS:-0}
}

have_glaurung=0
[[ -x $GLAURUNG ]] && have_glaurung=1
have_stockfish=0
[[ -x $STOCKFISH ]] && have_stockfish=1

echo "Korvane speed figures ($(date '+%Y-%m-%d %H:%M'), load average $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null))"
echo
echo "Nodes per second, one thread, go movetime $MOVETIME:"
if ((have_glaurung)); then
  printf '  %-14s %12s %12s %7s\n' position Korvane Glaurung ratio
else
  printf '  %-14s %12s   (Glaurung not installed at %s)\n' position Korvane "$GLAURUNG"
fi
korvane_sum=0
glaurung_sum=0
for entry in "${POSITIONS[@]}"; do
  name=${entry%%|*}
  position=${entry#*|}
  search_nps NumberOfProcessors 1 "$position" "$KORVANE"
  k=$NPS
  korvane_sum=$((korvane_sum + k))
  if ((have_glaurung)); then
    search_nps Threads 1 "$position" "$GLAURUNG"
    g=$NPS
    glaurung_sum=$((glaurung_sum + g))
    printf '  %-14s %12d %12d %7s\n' "$name" "$k" "$g" "$(awk -v k="$k" -v g="$g" 'BEGIN { if (g > 0) printf "%.2f", k / g; else print "-" }')"
  else
    printf '  %-14s %12d\n' "$name" "$k"
  fi
done
if ((have_glaurung)); then
  printf '  %-14s %12d %12d %7s\n' "mean" $((korvane_sum / 4)) $((glaurung_sum / 4)) \
    "$(awk -v k="$korvane_sum" -v g="$glaurung_sum" 'BEGIN { if (g > 0) printf "%.2f", k / g; else print "-" }')"
else
  printf '  %-14s %12d\n' "mean" $((korvane_sum / 4))
fi

# Speed-up of two threads: the time one and two threads need to finish the
# same depth on the first three positions (the reported node count is the
# main thread's alone, so nodes per second cannot show it).
search_time() {
  run_search NumberOfProcessors "$1" "$2" "depth $DEPTH" "$KORVANE" || return 1
  stop_engine
  field "$LAST_NPS_LINE" time
}
one=0
two=0
for entry in "${POSITIONS[@]:0:3}"; do
  position=${entry#*|}
  t=$(search_time 1 "$position")
  one=$((one + ${t:-0}))
  t=$(search_time 2 "$position")
  two=$((two + ${t:-0}))
done
echo
printf 'Two threads, go depth %s on three positions: %s ms against %s ms with one thread, speed-up %s\n' \
  "$DEPTH" "$two" "$one" "$(awk -v a="$one" -v b="$two" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"

echo
echo "Perft depth 6 from the start position:"
line=$(printf 'uci\nposition startpos\nperft depth 6\nquit\n' | "$KORVANE" | grep '^info depth 6 ')
ms=$(field "$line" time)
nodes=$(field "$line" nodes)
korvane_lps=$(awk -v n="${nodes:-0}" -v t="${ms:-0}" 'BEGIN { printf "%.0f", n * 1000 / (t > 0 ? t : 1) }')
printf '  Korvane   %10s leaves in %6s ms, %12s leaves/s\n' "$nodes" "$ms" "$korvane_lps"
if ((have_stockfish)); then
  start_engine "$STOCKFISH"
  send uci
  wait_for uciok
  send isready
  wait_for readyok
  send "position startpos"
  t0=$(now_ns)
  send "go perft 6"
  wait_for "Nodes searched"
  t1=$(now_ns)
  stop_engine
  sf_nodes=$(awk '{ print $3 }' <<<"$LINE")
  sf_ms=$(((t1 - t0) / 1000000))
  sf_lps=$(awk -v n="$sf_nodes" -v t="$sf_ms" 'BEGIN { printf "%.0f", n * 1000 / (t > 0 ? t : 1) }')
  printf '  Stockfish %10s leaves in %6s ms, %12s leaves/s (go perft 6)\n' "$sf_nodes" "$sf_ms" "$sf_lps"
  printf '  Korvane / Stockfish: %s\n' "$(awk -v k="$korvane_lps" -v s="$sf_lps" 'BEGIN { if (s > 0) printf "%.3f", k / s; else print "-" }')"
else
  echo "  (Stockfish not installed at $STOCKFISH)"
fi

echo
times=()
for ((i = 0; i < STARTS; ++i)); do
  t0=$(now_ns)
  start_engine "$KORVANE"
  send uci
  wait_for uciok
  t1=$(now_ns)
  stop_engine
  times+=($(((t1 - t0) / 1000)))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1000 }')
fastest=$(printf '%s\n' "${times[@]}" | sort -n | awk 'NR == 1 { printf "%.1f", $1 / 1000 }')
echo "Start-up, uci -> uciok from process start: median $median ms, fastest $fastest ms ($STARTS starts)"

echo
if [[ -n $PEAK_KB ]]; then
  echo "Peak memory at the default Hash (largest resident set after a search): $(awk -v k="$PEAK_KB" 'BEGIN { printf "%.1f", k / 1024 }') MiB"
else
  echo "Peak memory: not available (no /proc)"
fi

if [[ -x $BUILD_DIR/korvane_evalbench ]]; then
  echo
  "$BUILD_DIR/korvane_evalbench"
fi
echo
printf 'uci\nbench\nquit\n' | "$KORVANE" | sed -n 's/^info string bench/Search bench:/p'
