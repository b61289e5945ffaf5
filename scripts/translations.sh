#!/usr/bin/env bash
# Brings translations/talvo_en.ts up to date with the texts of src/ (Qt's
# lupdate: new texts are added unfinished, texts gone from the sources are
# dropped) and lists every entry whose English translation is unfinished or
# missing.  Ends 1 when there is one, 0 when every text is translated.
# Usage: scripts/translations.sh [--check]   (--check: list only, change nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=/usr/lib/qt6/bin
ts=translations/talvo_en.ts
if [ "${1:-}" != "--check" ]; then
  "$bin/lupdate" -silent -locations none -no-obsolete -source-language zh_CN -target-language en_US src -ts "$ts"
fi
python3 - "$ts" <<'PY'
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
left = []
for context in root.iter("context"):
    name = context.findtext("name")
    for m in context.iter("message"):
        t = m.find("translation")
        if t is None or t.get("type") in ("unfinished",) or not (t.text or "").strip():
            left.append((name, m.findtext("source")))
for name, source in left:
    print(f"unfinished: [{name}] {source!r}")
total = sum(1 for _ in root.iter("message"))
print(f"translations: {total - len(left)} of {total} finished")
sys.exit(1 if left else 0)
PY
