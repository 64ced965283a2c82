#!/usr/bin/env bash
# Builds Quillmere (scripts/build.sh, into build/) and packs it as the Debian
# package build/quillmere_<version>_<arch>.deb, installing under /usr; prints
# the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
rm -f build/quillmere_*.deb
(cd build && cpack -G DEB >/dev/null)
ls "$PWD"/build/quillmere_*.deb
