#!/usr/bin/env bash
# qnfax encode / decode / info on real PBM files: a two-page text document from
# ImageMagick comes back bit for bit, netpbm reads what decode writes, and damaged
# input fails with the error code and its text.
set -euo pipefail
qnfax=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

timeout 60 convert -size 1728x300 xc:white -fill black -font $font -pointsize 30 \
  -annotate +50+80 'Page one of a Quillon test fax' -monochrome "$dir/p1.pbm"
timeout 60 convert -size 1728x200 xc:white -fill black -font $font -pointsize 30 \
  -annotate +50+80 'Page two' -monochrome "$dir/p2.pbm"
cat "$dir/p1.pbm" "$dir/p2.pbm" > "$dir/doc.pbm"

"$qnfax" encode "$dir/doc.pbm" -o "$dir/DOC.APF" --fine --station-id "QN TEST"
"$qnfax" info "$dir/DOC.APF" --json > "$dir/info.json"
grep -q '"page_count": 2' "$dir/info.json"
grep -q '"station_id": "QN TEST             "' "$dir/info.json"
grep -q '"page": 2, "resolution": "fine", "width": 1728, "form": "line records", "image_length": [0-9]*, "lines": 200' "$dir/info.json"

"$qnfax" decode "$dir/DOC.APF" -o "$dir/back.pbm"
cmp "$dir/back.pbm" "$dir/doc.pbm"
"$qnfax" decode "$dir/DOC.APF" -o "$dir/two.pbm" --page 2
cmp "$dir/two.pbm" "$dir/p2.pbm"
timeout 30 pnmfile "$dir/two.pbm" | grep -q '1728 by 200'

# Wide pages: rows are padded with white to 2048.
"$qnfax" encode "$dir/p2.pbm" -o "$dir/WIDE.APF" --wide
"$qnfax" info "$dir/WIDE.APF" | grep -q 'Page 1:     standard, 2048 pixels, line records'

# Errors: code and text on stderr, non-zero exit.
head -c 100 "$dir/DOC.APF" > "$dir/CUT.APF"
printf 'APF11\032' | dd of="$dir/CUT.APF" conv=notrunc status=none
if "$qnfax" info "$dir/CUT.APF" 2> "$dir/err.txt"; then exit 1; fi
grep -q 'error -8001: File is not an APF file' "$dir/err.txt"
if "$qnfax" decode "$dir/DOC.APF" -o "$dir/x.pbm" --page 3 2> "$dir/err.txt"; then exit 1; fi
grep -q 'error -8001' "$dir/err.txt"
if "$qnfax" decode "$dir/none.APF" -o "$dir/x.pbm" 2> "$dir/err.txt"; then exit 1; fi
grep -q 'error -2: File not found' "$dir/err.txt"
echo "qnfax apf commands: ok"
