#!/usr/bin/env bash
# MIDI files in git, end to end in a scratch repository set up with the
# README's own lines: diffs, log -p and show through smfcat; a clean merge
# of edits to different tracks and bars through smfmerge, keeping a
# system-exclusive message split over packets as it stood; a conflict that
# leaves our file alone and writes the listing with markers beside it.
# Usage: run.sh BUILD_DIR README
set -euo pipefail
build=$(cd "$1" && pwd)
readme=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

source "$(dirname "$0")/../support/missing.sh"
command -v git >/dev/null || missing SMFASM_REQUIRE_CROSSCHECK "git is not installed (Debian package git)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$build:$PATH" HOME="$work/home" GIT_CONFIG_NOSYSTEM=1 GIT_PAGER=cat LC_ALL=C
mkdir "$HOME"
git config --global user.name tester
git config --global user.email tester@localhost
git config --global init.defaultBranch main

failures=0
check() {
  if eval "$2"; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    failures=$((failures + 1))
  fi
}

# The first sh block of the README's section, exactly as a user copies it.
setup=$(awk '/^## MIDI files in git/ {s = 1} s && /^```sh/ {b = 1; next} b && /^```/ {exit} b' "$readme")
[ -n "$setup" ] || { echo "FAIL: no setup block under \"## MIDI files in git\" in the README"; exit 1; }

cd "$work" && git init -q repo && cd repo
bash -euo pipefail -c "$setup"

# Two tracks of four bars (division 96, 4/4); track 1 opens with a
# system-exclusive message in two packets.
cat > song.mtx <<'MTX'
MFile 1 2 96
MTrk
0 Meta SeqName "Song"
0 Tempo 500000
0 TimeSig 4/4 24 8
0 SysEx f0 43 12 00
10 Arb 01 02 f7
384 Meta TrkEnd
TrkEnd
MTrk
0 On ch=1 n=60 v=64
96 On ch=1 n=60 v=0
384 On ch=1 n=62 v=64
480 On ch=1 n=62 v=0
768 On ch=1 n=64 v=64
864 On ch=1 n=64 v=0
1152 On ch=1 n=65 v=64
1248 On ch=1 n=65 v=0
1536 Meta TrkEnd
TrkEnd
MTX
smfasm -m song.mtx song.mid
rm song.mtx
git add .gitattributes song.mid
git commit -qm base

# Replaces one line of the song's listing and commits it as MESSAGE.
change() {
  smfcat -m song.mid | sed "s/^$2\$/$3/" > edited.mtx
  smfasm -m edited.mtx edited.mid && mv edited.mid song.mid && rm edited.mtx
  git commit -qam "$1"
}
# The same on a new branch from main.
edit() {
  git checkout -q -b "$1" main
  change "$@"
}
edit bar1 '384 On ch=1 n=62 v=64' '384 On ch=1 n=63 v=64'
edit bar4 '1152 On ch=1 n=65 v=64' '1152 On ch=1 n=67 v=64'
edit tempo '0 Tempo 500000' '0 Tempo 400000'
edit other_bar1 '384 On ch=1 n=62 v=64' '384 On ch=1 n=61 v=64'

# Diffs show the changed event lines.
check "git diff shows the changed event" \
  '[ "$(git diff main bar1 -- song.mid | grep "^[-+][^-+]")" = "$(printf -- "-384 On ch=1 n=62 v=64\n+384 On ch=1 n=63 v=64")" ]'
check "git log -p shows it" 'git log -p -1 bar1 | grep -qx "+384 On ch=1 n=63 v=64"'
check "git show shows it" 'git show tempo | grep -qx "+0 Tempo 400000"'

# Different bars of one track, then a different track: clean merges.
git checkout -q bar1
check "edits of different bars merge cleanly" 'git merge -q --no-edit bar4'
check "edits of different tracks merge cleanly" 'git merge -q --no-edit tempo'
check "the merge leaves no other file behind" '[ -z "$(git status --porcelain --ignored)" ]'
git show main:song.mid > base.mid
expected=$(smfcat -m base.mid | sed -e 's/^384 On ch=1 n=62 v=64$/384 On ch=1 n=63 v=64/' \
  -e 's/^1152 On ch=1 n=65 v=64$/1152 On ch=1 n=67 v=64/' -e 's/^0 Tempo 500000$/0 Tempo 400000/')
rm base.mid
check "the merged song lists as all edits applied, the split message kept" '[ "$(smfcat -m song.mid)" = "$expected" ]'

# The same note changed two ways: a conflict.
git checkout -q other_bar1
cp song.mid ours.mid
merge_status=0
git merge --no-edit bar1 > merge.out 2>&1 || merge_status=$?
cat merge.out
check "a conflict fails the merge" '[ "$merge_status" -ne 0 ] && grep -q "CONFLICT.*song.mid" merge.out'
check "our file is untouched" 'cmp -s song.mid ours.mid'
check "the conflicted listing is named" 'grep -q "song.conflict.mtx" merge.out'
check "the listing has the conflict markers around both edits, in bars and notes" \
  'grep -qx "<<<<<<< song.mid (ours)" song.conflict.mtx && grep -Eq "^2:1:0 (On|Note) ch=1 n=c#5 v=64" song.conflict.mtx &&
   grep -Eq "^2:1:0 (On|Note) ch=1 n=d#5 v=64" song.conflict.mtx && grep -q "^>>>>>>> " song.conflict.mtx'
check "git reports the path as unmerged" '[ "$(git diff --name-only --diff-filter=U)" = song.mid ]'

# Resolved as the message says: theirs taken, assembled and committed.
sed -i -e '/^<<<<<<< /,/^=======/d' -e '/^>>>>>>> /d' song.conflict.mtx
check "the resolved listing assembles" 'smfasm -m song.conflict.mtx song.mid 2>/dev/null'
git add song.mid && git commit -qm merged
check "the resolution is committed" '[ "$(smfcat -m song.mid | grep "^384 On")" = "384 On ch=1 n=63 v=64" ]'

# A name with blanks and a quote, in a directory: the command the message
# gives must work as copied.
name="my song's take.mid"
mkdir parts && cp song.mid "parts/$name"
git add "parts/$name" && git commit -qm "a second song"
git checkout -q -b raised
smfcat -m "parts/$name" | sed 's/^96 On ch=1 n=60 v=0$/96 On ch=1 n=60 v=1/' | smfasm -m - edited.mid
mv edited.mid "parts/$name" && git commit -qam raised
git checkout -q -
smfcat -m "parts/$name" | sed 's/^96 On ch=1 n=60 v=0$/96 On ch=1 n=60 v=2/' | smfasm -m - edited.mid
mv edited.mid "parts/$name" && git commit -qam lowered
git merge --no-edit raised > merge.out 2>&1 || true
finish=$(sed -n 's/^ *resolve it, then: //p' merge.out)
sed -i -e '/^<<<<<<< /,/^=======/d' -e '/^>>>>>>> /d' "parts/my song's take.conflict.mtx"
check "the command given for a name with blanks and a quote works as copied" \
  'bash -c "$finish" 2>/dev/null && [ "$(smfcat -m "parts/$name" | grep "^96 On")" = "96 On ch=1 n=60 v=1" ]'

git commit -qm "merged the second song"
git clean -qfd

# A criss-cross: each branch merged the other's edit of one note keeping its
# own (-s ours), then one edits another note. Both decisions still stand, so
# merging them must conflict, as it does for a binary file.
edit cross59 '768 On ch=1 n=64 v=64' '768 On ch=1 n=59 v=64'
edit cross61 '768 On ch=1 n=64 v=64' '768 On ch=1 n=61 v=64'
edit59=$(git rev-parse cross59) edit61=$(git rev-parse cross61)
git checkout -q cross59 && git merge -q -s ours --no-edit "$edit61"
git checkout -q cross61 && git merge -q -s ours --no-edit "$edit59"
git checkout -q cross59
change "another note" '1152 On ch=1 n=65 v=64' '1152 On ch=1 n=66 v=64'
cp song.mid ours.mid
merge_status=0
git merge --no-edit cross61 > merge.out 2>&1 || merge_status=$?
check "a criss-cross merge keeps both decisions as a conflict" \
  '[ "$merge_status" -ne 0 ] && grep -q "CONFLICT.*song.mid" merge.out && cmp -s song.mid ours.mid'
check "the listing of the criss-cross conflict has both notes" \
  'grep -Eq "^3:1:0 (On|Note) ch=1 n=b4 v=64" song.conflict.mtx && grep -Eq "^3:1:0 (On|Note) ch=1 n=c#5 v=64" song.conflict.mtx'
git merge --abort 2>/dev/null || git reset -q --hard
rm -f song.conflict*.mtx ours.mid merge.out

# A version that does not list completely, or whose listing does not come
# back as its bytes, is not merged as text: the merge would drop what it
# does not list or rewrite bytes nobody edited.
git checkout -q -b cut main
size=$(od -An -tu1 -j18 -N4 song.mid | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
head -c $((22 + size)) song.mid > cut.mid && mv cut.mid song.mid
git commit -qam "only the first track"
git checkout -q bar1
cp song.mid ours.mid
merge_status=0
git merge --no-edit cut > merge.out 2>&1 || merge_status=$?
check "a version cut after its first track is a conflict, not a deleted track" \
  '[ "$merge_status" -ne 0 ] && grep -q "CONFLICT.*song.mid" merge.out && cmp -s song.mid ours.mid &&
   grep -q "smfmerge: song.mid: the theirs version does not list completely" merge.out'
git merge --abort 2>/dev/null || git reset -q --hard
rm -f ours.mid merge.out

# One track of three notes behind a Tempo of two bytes; NOTE and VELOCITY
# set the velocity of one note.
odd_tempo() {
  local v=(40 40 40)
  v[$1]=$2
  printf '\x4d\x54\x68\x64\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60\x4d\x54\x72\x6b\x00\x00\x00\x22'
  printf '\x00\xff\x51\x02\x07\xa1'
  printf "\\x00\\x90\\x3c\\x${v[0]}\\x60\\x80\\x3c\\x40\\x00\\x90\\x3e\\x${v[1]}\\x60\\x80\\x3e\\x40"
  printf "\\x00\\x90\\x40\\x${v[2]}\\x60\\x80\\x40\\x40"
  printf '\x00\xff\x2f\x00'
}
git checkout -q -b odd main
odd_tempo 0 40 > song.mid && git commit -qam "a tempo of two bytes"
git checkout -q -b odd_first && odd_tempo 0 50 > song.mid && git commit -qam "first note louder"
git checkout -q -b odd_last odd && odd_tempo 2 50 > song.mid && git commit -qam "last note louder"
cp song.mid ours.mid
merge_status=0
git merge --no-edit odd_first > merge.out 2>&1 || merge_status=$?
check "a Tempo of two bytes merges in the score form, kept as it stood" \
  '[ "$merge_status" -eq 0 ] && [ "$(od -An -tx1 -j22 -N6 song.mid | tr -d " \n")" = 00ff510207a1 ] &&
   [ "$(smfcat song.mid | grep -c "On ch=1 n=6[04] v=80")" = 2 ]'
git merge --abort 2>/dev/null || git reset -q --hard
rm -f ours.mid merge.out

# A delta time written in two bytes where one would do: no listing gives
# that back, so the version is not merged as text.
git checkout -q -b long_step main
printf '\x4d\x54\x68\x64\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60\x4d\x54\x72\x6b\x00\x00\x00\x0d' > song.mid
printf '\x80\x60\x90\x3c\x40\x60\x80\x3c\x40\x00\xff\x2f\x00' >> song.mid
git commit -qam "a delta time of two bytes"
git checkout -q -b long_step_edit && sed -n p song.mid > /dev/null && printf '\x41' | dd of=song.mid bs=1 seek=26 conv=notrunc 2>/dev/null
git commit -qam "louder"
git checkout -q long_step && printf '\x3e' | dd of=song.mid bs=1 seek=25 conv=notrunc 2>/dev/null && git commit -qam "higher"
cp song.mid ours.mid
merge_status=0
git merge --no-edit long_step_edit > merge.out 2>&1 || merge_status=$?
check "a version whose listing does not give its bytes back is a conflict" \
  '[ "$merge_status" -ne 0 ] && grep -q "CONFLICT.*song.mid" merge.out && cmp -s song.mid ours.mid &&
   grep -q "smfmerge: song.mid: the .* version does not come back byte for byte from its listing" merge.out'
git merge --abort 2>/dev/null || git reset -q --hard
rm -f ours.mid merge.out

# git merge-tree merges without a work tree: nothing may appear in ours, nor
# in a bare repository's directory, however often it runs.
edit bar1_lower '384 On ch=1 n=62 v=64' '384 On ch=1 n=60 v=64'
check "merge-tree reports the conflict" '! git merge-tree --write-tree bar1_lower bar1 > /dev/null 2>&1'
check "merge-tree writes nothing into the work tree" '[ -z "$(git status --porcelain --ignored)" ]'
git clone -q --bare . ../bare.git
(cd ../bare.git && bash -euo pipefail -c "$setup" && mv .gitattributes info/attributes)
before=$(cd ../bare.git && find . | sort)
git --git-dir=../bare.git merge-tree --write-tree bar1_lower bar1 > /dev/null 2>&1 || true
(cd ../bare.git && git merge-tree --write-tree bar1_lower bar1 > /dev/null 2>&1) || true
check "merge-tree in a bare repository writes nothing into it" '[ "$(cd ../bare.git && find . | sort)" = "$before" ]'

# Text merges need an unchanged line between two edits, as the README says.
edit bar1_release '480 On ch=1 n=62 v=0' '480 On ch=1 n=62 v=1'
check "edits of neighbouring events conflict" '! git merge-tree --write-tree bar1_release bar1 > /dev/null 2>&1'

# The driver on files of its own, outside git.
mkdir ../alone && cd ../alone
(cd ../repo && git show main:song.mid) > -base.mid
(cd ../repo && git show bar1:song.mid) > -ours.mid
(cd ../repo && git show bar4:song.mid) > -theirs.mid
cp -- -ours.mid ours.mid
chmod 640 ours.mid
check "names that start with - merge" 'smfmerge -base.mid -ours.mid -theirs.mid </dev/null &&
  smfcat -m -- -ours.mid | grep -qx "1152 On ch=1 n=67 v=64"'
check "the merged file keeps the mode of ours" \
  'smfmerge -- -base.mid ours.mid -theirs.mid </dev/null && [ "$(stat -c %a ours.mid)" = 640 ]'
# A run stopped just before the merged file replaces ours leaves nothing.
mkdir stop && printf '#!/bin/sh\nkill -TERM $PPID\nexit 1\n' > stop/mv && chmod +x stop/mv
cp -- -base.mid again.mid
before=$(ls -A)
check "a stopped merge leaves ours as it was and no file beside it" \
  '! PATH="$PWD/stop:$PATH" smfmerge -base.mid again.mid -theirs.mid </dev/null 2>/dev/null &&
   cmp -s -- again.mid -base.mid && [ "$(ls -A)" = "$before" ]'
cd ../repo

echo "$failures failed"
[ "$failures" -eq 0 ]
