#!/bin/sh
# scripts/setup against stand-ins of the package tools on PATH: no network, and
# nothing on the machine changes. Each case names how the stand-ins behave.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
stand_in() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stand_in id 'echo 0'
stand_in dpkg 'echo i386'
stand_in sleep 'echo "sleep $*" >>"$CALLS"'
stand_in dpkg-query '[ "$INSTALLED" = all ] && echo "install ok installed"'
stand_in apt-get 'echo "apt-get $*" >>"$CALLS"
if [ "$1" = update ]; then
  [ "$UPDATE" = ok ] && exit 0
  echo "Err:6 http://mirror.invalid/debian-security bookworm-security/main i386 Packages"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
case "$INSTALL:$*" in ok:*|release-only:*" -t "*) exit 0 ;; esac
echo "E: Unable to correct problems, you have held broken packages."
exit 100'

cases=0 failures=0
# NAME INSTALLED UPDATE INSTALL EXIT-CODE PATTERN...: each pattern (grep -E) matches
# a line of the output or of the calls; a pattern after ! matches none.
run() {
  name=$1 cases=$((cases + 1))
  CALLS="$work/$name" INSTALLED=$2 UPDATE=$3 INSTALL=$4 PATH="$work/bin:$PATH" sh "$setup" >>"$work/$name" 2>&1
  code=$? expected=$5 ok=1
  shift 5
  [ "$code" -eq "$expected" ] || ok=0
  for pattern; do
    case "$pattern" in
      !*) ! grep -qE -- "${pattern#!}" "$work/$name" || ok=0 ;;
      *) grep -qE -- "$pattern" "$work/$name" || ok=0 ;;
    esac
  done
  [ $ok -eq 1 ] && echo "ok: $name" && return
  failures=$((failures + 1))
  echo "FAILED: $name (exit $code, expected $expected):" && sed 's/^/  /' "$work/$name"
}
setup=$1
run everything-present all ok ok 0 '^setup: 32-bit programs run' '!apt-get'
# Four tries with 45 s of pauses in all, then one line naming the index.
run index-served-wrong none fails ok 0 '^sleep 15$' '!^setup: install failed' '^setup: 32-bit programs run' \
  '^setup: package lists not updated: bookworm-security/main i386 Packages; going on with the rest$'
[ "$(grep -c '^apt-get update' "$work/index-served-wrong")" -eq 4 ] || {
  failures=$((failures + 1)); echo "FAILED: index-served-wrong tried the update other than 4 times"; }
run release-versions-only none fails release-only 0 '^apt-get install -y -q -t [a-z]+ .*wine32:i386' \
  '^setup: install failed \(E: Unable to correct problems, you have held broken packages.\); trying once more with the packages of [a-z]+ alone$'
run nothing-installs none ok never 1 '!^setup: 32-bit programs run' \
  '^setup: cannot install .*wine32:i386.*: E: Unable to correct problems, you have held broken packages.$'
echo "$((cases - failures)) passed, $failures failed"
[ $failures -eq 0 ]
