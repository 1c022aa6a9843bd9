# Sourced by tests/run_windows_tests.sh and tests/check_windows_zips.sh:
# the Wine loaders that run each Windows build, and whether this machine can
# run the 32-bit build at all.
#
# Both builds are started through Debian's wine64 loader, named explicitly
# (/usr/bin/wine runs the 32-bit loader once wine32:i386 is installed), which
# hands a 32-bit program on to that 32-bit loader, a 32-bit x86 Linux program.
# Some x86-64 machines can't execute those (a kernel built without IA-32
# emulation, or with it turned off): the loader fails there with "Exec format
# error", and so would every 32-bit process Wine starts, so the 32-bit build
# can't be run at all. (qemu-i386 runs the loader itself, but not the
# processes Wine starts from it, as Windows' own shell does for the tests.)
# On such a machine the 32-bit runs are skipped, and a line says so; on any
# other, a 32-bit build that Wine can't run is a failure.

wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver

# Sets wine32_unrunnable to why this machine can't execute 32-bit x86
# programs, or to nothing when it can. Fails when the 32-bit loader is
# missing or is not a 32-bit x86 program: that is a broken installation, not
# a kind of machine.
check_32bit_x86() {
  wine32_unrunnable=
  if [ ! -x "$wine32" ]; then
    echo "FAILED: $wine32 is missing; 32-bit programs need Debian's wine32:i386"
    echo "        (dpkg --add-architecture i386, apt-get update, apt-get install wine32:i386)"
    return 1
  fi
  # ELF, 32-bit class, x86 machine (EM_386): then only the machine can
  # refuse to execute it.
  local header
  header=$(od -An -tx1 -N20 "$wine32" | tr -d ' \n')
  if [[ "$header" != 7f454c4601* ]] || [ "${header:36:4}" != 0300 ]; then
    echo "FAILED: $wine32 is not a 32-bit x86 program"
    return 1
  fi
  local answer
  if answer=$("$wine32" --version 2>&1); then
    return 0
  fi
  if [[ "$answer" == *"Exec format error"* ]]; then
    wine32_unrunnable="this machine can't execute 32-bit x86 programs ($wine32: Exec format error)"
    return 0
  fi
  echo "FAILED: $wine32 --version: $answer"
  return 1
}

# The one line that says a 32-bit run was skipped, and why.
skip_32bit() {
  echo "== SKIPPED: $1: $wine32_unrunnable"
}
