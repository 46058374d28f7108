# Shell functions for everything that runs Windows programs under Wine from
# Linux (cmake/wine-run.sh, scripts/test.sh, scripts/msi_wine_e2e.sh); source
# it. A build is either i686 (win32: 32-bit Wine, WINEARCH=win32) or x86-64
# (win64: 64-bit Wine, WINEARCH=win64), and a prefix is made for one of the
# two: a prefix is never used by the other.
qln_wine_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine

# The Wine architecture of a PE program or library: win32 or win64 (from the
# machine field of its PE header); nothing for anything else.
qln_pe_arch() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$offset" ] || return 1
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    014c) echo win32 ;;
    8664) echo win64 ;;
    *) return 1 ;;
  esac
}

# The architecture a prefix was made for (wineboot writes it into
# system.reg); nothing while the prefix is not made.
qln_prefix_arch() {
  sed -n 's/^#arch=\(win[0-9]*\).*/\1/p' "$1/system.reg" 2>/dev/null | head -1
}

# Exports what Wine needs for ARCH (win32 or win64): WINEARCH, and the
# loader of that architecture first on PATH as "wine" and "wine-stable" (the
# name wineboot and Wine's other tools run), with quiet defaults.
qln_wine_env() {
  case "$1" in win32 | win64) ;; *) echo "wine: unknown Wine architecture '$1'" >&2; return 1 ;; esac
  export WINEARCH=$1
  # The other architecture's loader off PATH first: a shell may switch.
  local dir kept=
  local IFS=:
  for dir in $PATH; do
    case "$dir" in "$qln_wine_dir"/*) ;; *) kept=${kept:+$kept:}$dir ;; esac
  done
  export PATH="$qln_wine_dir/$1:$kept"
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

# Refuses a prefix made for the other architecture.
qln_check_prefix() {  # qln_check_prefix PREFIX ARCH
  local made; made=$(qln_prefix_arch "$1")
  if [ -n "$made" ] && [ "$made" != "$2" ]; then
    echo "wine: the prefix $1 was made for $made, not $2: give each architecture its own prefix" >&2
    return 1
  fi
}
