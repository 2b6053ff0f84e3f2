# Sourced by the benchmarks that run on the `demodata scale` portfolio:
#   scaled_portfolio FACTOR BUILD   sets dir to the portfolio's folder (made
#                                   once: 1,000 communities, 40,000 owners,
#                                   2,000,000 payments and 400,000 collections
#                                   per factor) and sources its environment.
# The portfolio lives in build/bench-report-FACTOR, or inside BUILD when the
# BUILD variable names another build.
scaled_portfolio() {
  local factor="$1" build="$2"
  if [ -n "${BUILD:-}" ]; then
    dir="$build/bench-report-$factor"
  else
    dir="$(realpath -m build/bench-report-$factor)"
  fi
  if [ ! -f "$dir/scaled" ]; then
    scripts/demo-prepare "$dir" "$build" >/dev/null
    # Community codes have four digits: at most 9,999 communities.
    local communities=$((1000 * factor > 9999 ? 9999 : 1000 * factor))
    "$build/tools/demodata/demodata" scale "$dir/root" --communities $communities \
      --owners $((40000 * factor)) --payments $((2000000 * factor)) \
      --collections $((400000 * factor)) --seed 7
    touch "$dir/scaled"
  fi
  source "$dir/env"
}
