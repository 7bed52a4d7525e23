#!/bin/sh
# Runs the page's browser test, or says why it cannot and exits 77 (skipped).
#   run_page_test.sh PAGE_FOLDER DATA_FOLDER EXAMPLES_FOLDER [--browser chromium|firefox] [--from file|http]
here=$(cd "$(dirname "$0")" && pwd)
page=$1
skip() {
  echo "skipped: $1"
  exit 77
}
[ -f "$page/index.html" ] && [ -f "$page/score2wav-core.js" ] ||
  skip "the page is not built in $page (emcmake cmake -S . -B build-web && cmake --build build-web; apt-get install emscripten)"
command -v node >/dev/null || skip "Node.js is not installed (apt-get install nodejs)"
command -v chromium >/dev/null || skip "Chromium is not installed (apt-get install chromium)"
[ -d "$here/node_modules/puppeteer-core" ] || skip "puppeteer-core is not installed (npm ci --prefix tests/web)"
data=$2
examples=$3
shift 3
exec node "$here/page_test.mjs" --page "$page" --data "$data" --examples "$examples" "$@"
