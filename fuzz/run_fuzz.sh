#!/bin/sh
# Runs every fuzz target for a bounded time: run_fuzz.sh BUILD_DIR SECONDS [TARGET...]
# Each target starts from its hand-made seeds (and, for the scan, the samples) and
# keeps what it learns in BUILD_DIR/corpus/TARGET between runs.
set -eu
build=$(cd "$1" && pwd)
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=${*:-"scan_fuzz line_reader_fuzz wildcard_fuzz dates_fuzz ini_fuzz options_fuzz dated_names_fuzz readable_text_fuzz mailbox_split_fuzz read_ahead_fuzz json_record_fuzz"}
status=0
for target in $targets; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  cp -n "$here/seeds/$target"/* "$corpus"/ 2>/dev/null || true
  if [ "$target" = scan_fuzz ] || [ "$target" = line_reader_fuzz ]; then
    find "$here/../samples" -type f | while read -r f; do
      cp -n "$f" "$corpus/sample-$(basename "$f")"
    done
  fi
  echo "== $target: $seconds s"
  log="$build/$target.log"
  if (cd "$build" && "./$target" -max_total_time="$seconds" -close_fd_mask=3 -timeout=60 \
        -rss_limit_mb=2048 -print_final_stats=1 "$corpus" > "$log" 2>&1); then
    grep -E "(DONE|stat::number_of_executed_units)" "$log" || true
  else
    tail -40 "$log"
    echo "!! $target found a fault; the input is in $build"
    status=1
  fi
done
exit $status
