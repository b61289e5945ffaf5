#!/usr/bin/env bash
# Writes src/protocol/Stm32PartTable.cpp, the STM32 chip table built into the
# program, from the chip facts' stm32-parts.csv: every row, in the file's
# order, every column (product ID, name, family, host RAM, flash start and
# end, erase layout, flash-size register, option bytes, system memory, write
# unit, flags).
#
# Usage: bash scripts/stm32-parts.sh [CSV]
#   CSV  default: $TALVO_SHARED_DIR/stm32-parts.csv, where TALVO_SHARED_DIR
#        defaults to the folder "shared" beside the repository.
# The test Stm32Parts.TableEqualsTheChipFactsFile checks that the checked-in
# table equals the CSV whenever the CSV is there.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
csv=${1:-${TALVO_SHARED_DIR:-$src/../shared}/stm32-parts.csv}
out=$src/src/protocol/Stm32PartTable.cpp
if [ ! -r "$csv" ]; then
  echo "stm32-parts.sh: cannot read $csv" >&2
  exit 1
fi

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
LC_ALL=C awk '
  # Splits one CSV line into f[1..n]; a field in double quotes may hold commas.
  function splitcsv(line, f,    n, i, c, q, cur) {
    n = 0; cur = ""; q = 0
    for (i = 1; i <= length(line); i++) {
      c = substr(line, i, 1)
      if (q) {
        if (c == "\"") {
          if (substr(line, i + 1, 1) == "\"") { cur = cur "\""; i++ } else q = 0
        } else cur = cur c
      } else if (c == "\"") q = 1
      else if (c == ",") { f[++n] = cur; cur = "" }
      else cur = cur c
    }
    f[++n] = cur
    return n
  }
  function fail(why) { print "stm32-parts.sh: line " NR ": " why ": " $0 > "/dev/stderr"; bad = 1; exit 1 }
  # A hexadecimal column, or 0 when empty.
  function hexcol(v, what) {
    if (v == "") return "0"
    if (v !~ /^0x[0-9A-F]+$/) fail(what " is not a hexadecimal number")
    return v
  }
  # "no-mass-erase" -> "Stm32Flag::NoMassErase"
  function flagname(s,    parts, n, i, r) {
    if (s !~ /^[a-z0-9]+(-[a-z0-9]+)*$/) fail("flag \"" s "\" is not a flag name")
    n = split(s, parts, "-")
    r = ""
    for (i = 1; i <= n; i++) r = r toupper(substr(parts[i], 1, 1)) substr(parts[i], 2)
    return "Stm32Flag::" r
  }
  # The erase layout as an array of runs (one array per distinct layout); sets layoutName.
  function layout(v,    items, n, i, m, kb, count, body) {
    if (v == "") { layoutName = "{}"; return }
    if (v in seen) { layoutName = seen[v]; return }
    body = ""
    if (v ~ /^pages:[0-9]+$/) {
      body = "{" substr(v, 7) ", 0}"
    } else if (v ~ /^sectors:[0-9]+(x[0-9]+)?(,[0-9]+(x[0-9]+)?)*$/) {
      n = split(substr(v, 9), items, ",")
      for (i = 1; i <= n; i++) {
        m = index(items[i], "x")
        kb = m ? substr(items[i], 1, m - 1) : items[i]
        count = m ? substr(items[i], m + 1) : 1
        if (kb + 0 == 0 || count + 0 == 0) fail("a sector run of nothing")
        body = body (i > 1 ? ", " : "") "{" kb * 1024 ", " count "}"
      }
    } else fail("erase layout \"" v "\" is neither pages:SIZE nor sectors:LIST")
    layoutName = "kLayout" distinct++
    seen[v] = layoutName
    layouts = layouts "constexpr Stm32EraseRun " layoutName "[] = {" body "};\n"
  }
  BEGIN { header = 0; rows = 0; bad = 0; distinct = 0; layouts = ""; table = "" }
  /^#/ || /^[[:space:]]*$/ { next }
  !header {
    if ($0 != "pid,name,family,ram_start,ram_end,flash_start,flash_end,erase_layout,flash_size_reg,option_start,option_end,system_start,system_end,write_unit,flags") {
      print "stm32-parts.sh: unexpected header: " $0 > "/dev/stderr"; bad = 1; exit 1
    }
    header = 1
    next
  }
  {
    n = splitcsv($0, f)
    if (n != 15) fail("expected 15 columns, found " n)
    if (f[1] !~ /^0x[0-9A-F]+$/) fail("the product ID is not hexadecimal")
    if (f[2] == "" || f[2] ~ /["\\]/ || f[3] !~ /^[A-Z][A-Z0-9]*$/) fail("name or family")
    if (f[14] !~ /^[0-9]+$/) fail("the write unit is not a number")
    layout(f[8])
    flags = ""
    if (f[15] != "") {
      m = split(f[15], fl, ";")
      for (i = 1; i <= m; i++) flags = flags (i > 1 ? ", " : "") flagname(fl[i])
    }
    table = table sprintf("    {%s, \"%s\", \"%s\", %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, Stm32Flags({%s})},\n",
                          f[1], f[2], f[3], hexcol(f[4], "ram_start"), hexcol(f[5], "ram_end"),
                          hexcol(f[6], "flash_start"), hexcol(f[7], "flash_end"), layoutName,
                          hexcol(f[9], "flash_size_reg"), hexcol(f[10], "option_start"), hexcol(f[11], "option_end"),
                          hexcol(f[12], "system_start"), hexcol(f[13], "system_end"), f[14], flags)
    ++rows
  }
  END {
    if (bad) exit 1
    if (!header || rows == 0) { print "stm32-parts.sh: no part rows" > "/dev/stderr"; exit 1 }
    print "// The STM32 parts whose system bootloader speaks the USART protocol, by the"
    print "// product ID of Get ID: every row and column of the chip facts file"
    print "// shared/stm32-parts.csv (beside the repository), in its order.  That file"
    print "// names its sources in its header (stm32flash'"'"'s device table; ST AN2606, the"
    print "// system memory boot mode, and AN3155, the USART protocol; the reference"
    print "// manuals for flash organisation and the flash-size register) and explains"
    print "// single rows in its row notes: product IDs that several lines share, the"
    print "// numbering of dual-bank flash, rows whose sources disagree (flag conflict),"
    print "// and columns it leaves empty because no source gives them (0 here)."
    print "// Generated by scripts/stm32-parts.sh; do not edit by hand, run the script"
    print "// again when the file changes."
    print "#include \"protocol/Stm32Parts.h\""
    print ""
    print "namespace talvo::protocol {"
    print ""
    print "namespace {"
    print "// clang-format off"
    printf "%s", layouts
    print ""
    print "// pid, name, family, RAM start and end, flash start and end, erase layout, flash-size register,"
    print "// option bytes start and end, system memory start and end, write unit, flags"
    print "const Stm32Part kRows[] = {"
    printf "%s", table
    print "};"
    print "// clang-format on"
    print "} // namespace"
    print ""
    print "std::span<const Stm32Part> Stm32PartTable() { return kRows; }"
    print ""
    print "} // namespace talvo::protocol"
  }
' "$csv" >"$tmp"
mv "$tmp" "$out"
trap - EXIT
echo "stm32-parts.sh: wrote $out from $csv" >&2
