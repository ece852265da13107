#!/bin/sh
# scripts/setup against stand-ins of the package tools on PATH: no network, and
# nothing on the machine changes. Each case names how the stand-ins behave.
set -u
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
stand_in() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stand_in id 'echo 0'
stand_in dpkg 'echo i386'
stand_in sleep 'echo "sleep $*" >>"$CALLS"'
stand_in dpkg-query '[ "$INSTALLED" = all ] && echo "install ok installed"'
stand_in apt-get '
echo "apt-get $*" >>"$CALLS"
case "$1" in
  update)
    [ "$UPDATE" = ok ] && exit 0
    echo "Err:6 http://mirror.invalid/debian-security bookworm-security/main i386 Packages"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install)
    case "$INSTALL:$*" in
      ok:*|release-only:*" -t "*) exit 0 ;;
    esac
    echo "Some packages could not be installed."
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
esac'

cases=0
failures=0
# run NAME INSTALLED UPDATE INSTALL EXPECTED-CODE PATTERN...: every pattern must
# match a line of the output and calls (grep -E), one starting with ! none.
run() {
  name=$1
  cases=$((cases + 1))
  CALLS="$work/$name.calls" INSTALLED=$2 UPDATE=$3 INSTALL=$4 PATH="$work/bin:$PATH" \
    sh "$setup" >"$work/$name.out" 2>&1
  code=$?
  expected=$5
  shift 5
  cat "$work/$name.calls" >>"$work/$name.out" 2>/dev/null
  ok=1
  [ "$code" -eq "$expected" ] || ok=0
  for pattern; do
    case "$pattern" in
      !*) ! grep -qE -- "${pattern#!}" "$work/$name.out" || ok=0 ;;
      *) grep -qE -- "$pattern" "$work/$name.out" || ok=0 ;;
    esac
  done
  if [ $ok -eq 1 ]; then
    echo "ok: $name"
  else
    failures=$((failures + 1))
    echo "FAILED: $name (exit $code, expected $expected):"
    sed 's/^/  /' "$work/$name.out"
  fi
}

run everything-present all ok ok 0 '^setup: 32-bit programs run' '!apt-get'
# Four tries, 45 s of pauses in all, then one line naming the index.
run index-served-wrong none fails ok 0 \
  '^setup: package lists not updated: bookworm-security/main i386 Packages; going on with the rest$' \
  '^sleep 15$' '!^setup: install failed' '^setup: 32-bit programs run'
cases=$((cases + 1))
[ "$(grep -c '^apt-get update' "$work/index-served-wrong.calls")" -eq 4 ] &&
  [ "$(grep -c '^sleep' "$work/index-served-wrong.calls")" -eq 3 ] || {
  failures=$((failures + 1)); echo "FAILED: index-served-wrong tried the update other than 4 times"; }
run release-versions-only none fails release-only 0 \
  '^setup: install failed \(E: Unable to correct problems, you have held broken packages.\); trying once more with the packages of [a-z]+ alone$' \
  '^apt-get install -y -q -t [a-z]+ .*wine32:i386' '^setup: 32-bit programs run'
run nothing-installs none ok never 1 \
  '^setup: cannot install .*wine32:i386.*: E: Unable to correct problems, you have held broken packages.$' \
  '!^setup: 32-bit programs run'

echo "$((cases - failures)) passed, $failures failed"
[ $failures -eq 0 ]
