#!/usr/bin/env bash
# Times `verdanix-cli stack` and `register` against the stacking program most amateurs use
# (siril-cli, from Debian) on the same frames, side by side, whole process, warm page cache.
# Prints the median of REPEAT runs of each and the ratio; peak memory (max RSS) of ours.
#
#   bench/stack_vs_anchor.sh BUILD DATA [what...]
# DATA holds the sets made by ../shared/bench/make_frames.py (stk_c3000, stk_g3000, reg_g3000).
# what: any of stack-c, stack-g, stack-c16, stack-mem, register, register-stack (default: all).
set -euo pipefail
build=$(realpath "${1:?build folder}")
data=$(realpath "${2:?data folder}")
shift 2
what=("$@")
[ ${#what[@]} -eq 0 ] && what=(stack-c stack-g stack-c16 stack-mem register register-stack)
cli="$build/src/cli/verdanix-cli"
anchor_scripts=$(realpath "$(dirname "$0")/../../shared/bench/anchor")
repeat=${REPEAT:-3}
have_anchor=1
command -v siril-cli >/dev/null || have_anchor=0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Median wall time (s) and the largest max-RSS (MB) of `repeat` runs of a command.
measure() {
  local times=() rss=0 t m
  for _ in $(seq "$repeat"); do
    rm -f "$work"/out*.fits "$work"/out*.fit "$work"/table.json
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
      echo "failed: $*" >&2; tail -5 "$work/stderr" >&2; return 1; }
    read -r t m <"$work/time"
    times+=("$t")
    [ "$m" -gt "$rss" ] && rss=$m
  done
  printf '%s %d\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((repeat + 1) / 2))p")" $((rss / 1024))
}

link_sequence() {
  rm -rf "$work/seq"; mkdir -p "$work/seq"
  local i=0 f
  for f in "$1"/*.fits; do
    i=$((i + 1)); ln -s "$f" "$work/seq/$(printf light_%05d.fits $i)"
  done
}

row() { # label ours-seconds ours-MB anchor-seconds
  local ratio="-"
  [ "$4" != "-" ] && ratio=$(awk -v a="$2" -v b="$4" 'BEGIN { printf "%.2f", a / b }')
  printf '| %-34s | %7s s | %6s MB | %7s s | %5s |\n' "$1" "$2" "$3" "$4" "$ratio"
}

stack_set() { # set-folder label [extra verdanix options]
  local dir=$1 label=$2; shift 2
  link_sequence "$dir"
  local methods=("average:none:stack_mean" "median:none:stack_median" "sigma:none:stack_sigma"
                 "sigma:winsorize:stack_winsor")
  for entry in "${methods[@]}"; do
    IFS=: read -r method reject script <<<"$entry"
    read -r ours mb < <(measure "$cli" stack --method "$method" --reject "$reject" "$@" \
                          --out "$work/out.fits" "$dir"/*.fits)
    local theirs="-"
    if [ $have_anchor = 1 ]; then
      read -r theirs _ < <(cd "$work/seq" && measure siril-cli -d "$work/seq" -s "$anchor_scripts/$script.ssf")
    fi
    row "$label $method/$reject" "$ours" "$mb" "$theirs"
  done
}

echo "| what | verdanix | peak | anchor | ratio |"
echo "|---|---|---|---|---|"
for w in "${what[@]}"; do
  case $w in
    stack-c) stack_set "$data/stk_c3000/f32" "colour f32" ;;
    stack-g) stack_set "$data/stk_g3000/f32" "grey f32" ;;
    stack-c16) stack_set "$data/stk_c3000/u16" "colour u16" ;;
    stack-mem) stack_set "$data/stk_c3000/f32" "colour f32 --mem 256" --mem 256 ;;
    register)
      link_sequence "$data/reg_g3000/f32"
      read -r ours mb < <(measure "$cli" register --threshold "${THRESHOLD:-0.02}" "$data/reg_g3000/f32"/*.fits)
      theirs="-"
      if [ $have_anchor = 1 ]; then
        read -r theirs _ < <(cd "$work/seq" && measure siril-cli -d "$work/seq" -s "$anchor_scripts/register.ssf")
      fi
      row "register reg_g3000" "$ours" "$mb" "$theirs" ;;
    register-stack)
      "$cli" register --threshold "${THRESHOLD:-0.02}" --save "$work/reg.json" "$data/reg_g3000/f32"/*.fits \
        >/dev/null 2>&1
      read -r reg mb < <(measure "$cli" stack --registration "$work/reg.json" --out "$work/out.fits")
      read -r plain _ < <(measure "$cli" stack --out "$work/out.fits" "$data/reg_g3000/f32"/*.fits)
      row "registered average reg_g3000" "$reg" "$mb" "-"
      row "unregistered average reg_g3000" "$plain" "-" "-"
      echo "registered / unregistered: $(awk -v a="$reg" -v b="$plain" 'BEGIN { printf "%.2f", a / b }')" ;;
    *) echo "unknown: $w" >&2; exit 2 ;;
  esac
done
