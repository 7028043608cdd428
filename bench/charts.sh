#!/usr/bin/env bash
# Draws the tables that the benchmarks wrote as CSV (run with TESSARN_BENCH_CSV=FOLDER) as bar
# charts into docs/, for the README: bench-passthrough.svg, bench-workloads.svg,
# bench-hydration-waiting.svg, bench-hydration-content.svg and bench-host.svg. A chart whose
# table is not in the folder is left as it is.
#
#   bench/charts.sh [CSV folder, default build/bench-csv]
set -euo pipefail
csv=$(realpath -m "${1:-build/bench-csv}")
cd "$(dirname "$0")/.."
command -v gnuplot >/dev/null || scripts/install-deps.sh gnuplot-nox

# Columns are found by their names, so that a bench may add one without breaking its chart.
common='
set terminal svg size 960,480 dynamic noenhanced font "sans,13" background "white"
set datafile separator comma
set datafile missing "n/a"
set datafile columnheaders
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border rgb "black"
set boxwidth 0.9
set key top left
set grid ytics
set border 3
set xtics nomirror scale 0
set ytics nomirror
set logscale y
set format y "%g"
'

# chart TABLE CHART GNUPLOT-COMMANDS: file names the table's CSV in the commands.
chart() {
    local table=$csv/$1.csv output=docs/$2.svg
    if [ ! -f "$table" ]; then
        echo "no $table: $output left as it is"
        return
    fi
    gnuplot <<EOF
$common
set output "$output"
file = "$table"
$3
EOF
    echo "$output"
}

chart passthrough bench-passthrough '
set title "Pass-through: throughput against the plain folder, 1 = as fast (higher is better)"
set ylabel "share of plain"
set arrow from graph 0, first 1 to graph 1, first 1 nohead dashtype 2
targets = "bindfs passthrough_ll passthrough_hp tessarn"
plot for [t in targets] file using (column(t) / column("plain")):xtic(1) title t'

chart workloads bench-workloads '
set title "A code project (/usr/include) in the folder: seconds (lower is better)"
set ylabel "seconds"
targets = "plain bindfs passthrough_hp tessarn"
plot for [t in targets] file using (column(t)):xtic(1) title t'

chart hydration-waiting bench-hydration-waiting '
set title "Opens waiting for their hydration: ms from the answer of the client to open() returning"
set xlabel "opens at once"
set ylabel "ms"
set arrow from graph 0, first 2 to graph 1, first 2 nohead dashtype 2
set arrow from graph 0, first 20 to graph 1, first 20 nohead dashtype 2
set label "goals: median 2 ms, p99 20 ms" at graph 0.99, first 25 right
plot file using (column("median (<2 ms)")):xtic(1) title "median", \
     "" using (column("p99 (<20 ms)")) title "p99"'

chart hydration-content bench-hydration-content '
set title "Placeholders: seconds from open to the whole content, against a plain copy"
set ylabel "seconds"
set bmargin 4
label(size) = size >= 1048576 ? sprintf("%d MiB", size / 1048576) : sprintf("%d KiB", size / 1024)
plot file using (column("median")):xtic(label(column("size"))."\n".stringcolumn("mode")) \
         title "median", \
     "" using (column("p95")) title "p95", \
     "" using (column("copy median")) title "plain copy, median"'

chart host bench-host '
set title "synchost: seconds from open to the whole content, against cp into the mount"
set ylabel "seconds"
plot file using (column("cp median")):xtic(1) title "cp, median", \
     "" using (column("alone med")) title "hydration, median", \
     "" using (column("alone p95")) title "hydration, p95"'
