#!/usr/bin/env bash
# Mutation run: applies each deliberate fault of tests/mutants/list.txt, one at a time, to a
# scratch copy of the committed tree, rebuilds it and runs the tests. A failing test kills
# the mutant; one that builds and passes every test survived; one that does not build is
# invalid; one whose original text is no longer found exactly once is stale.
#
# usage: scripts/mutate.sh [options]
#   --list FILE            the faults (default: tests/mutants/list.txt of this checkout)
#   --only ID,...          only these entries
#   --rev REV              the commit whose tree is copied (default: HEAD)
#   --labels REGEX         run only the tests with these labels (ctest -L; default: all)
#   --exclude-labels REGEX leave out the tests with these labels (ctest -LE; default:
#                          'vm|packaging'; '' leaves out none)
#   --timeout SECONDS      limit of one test that sets none itself (default: 300); a run of
#                          the whole suite is limited to 3 times the unmutated run + 300 s,
#                          and a mutant that exceeds it counts as killed (a hang)
#   --jobs N               build jobs and parallel tests (default: 2)
#   --out FILE             the results, one "ID STATUS" line per mutant in list order
#                          (default: $TMPDIR/ostrel-mutants-REV-TIME.txt); the logs go
#                          to FILE.logs/
#   --require-killed FILE  results of an earlier run: fail (status 1) when a mutant killed
#                          there is not killed now (of the mutants run this time)
#   --work DIR             build in DIR and keep it: a later run with the same DIR only
#                          rebuilds what differs (default: a temporary directory, removed)
#   --keep                 keep the temporary directory
#   --every-failure        run every test on each mutant (no stop at the first failure) and
#                          list the tests that killed it in FILE.logs/ID.killers: which
#                          tests are a mutant's only killers, before any is trimmed
#   --check                no build: tell which entries do not apply to this checkout's
#                          working tree, or to REV's tree with --rev (status 1 if any)
#
# Before the mutants, the unmutated copy is built and tested; if it fails, so would every
# mutant, and the run stops (status 2). Survivors alone do not fail the run.
#
# Comparing two suites: run the old one, keep its results, then run the new one against
# them:
#   scripts/mutate.sh --rev OLD --out old.txt --work /tmp/mut
#   scripts/mutate.sh --rev NEW --out new.txt --work /tmp/mut --require-killed old.txt
#   diff old.txt new.txt
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
list=$repo/tests/mutants/list.txt
only=""
rev=HEAD
rev_given=0
labels=""
exclude='vm|packaging'
test_timeout=300
jobs=2
out=""
require=""
work=""
keep=0
check=0
every=0

die() {
    echo "mutate.sh: $*" >&2
    exit 2
}

while (($#)); do
    case $1 in
        --list) list=${2:?--list needs a file}; shift 2 ;;
        --only) only=${2:?--only needs ids}; shift 2 ;;
        --rev) rev=${2:?--rev needs a revision}; rev_given=1; shift 2 ;;
        --labels) labels=${2?--labels needs a regex}; shift 2 ;;
        --exclude-labels) exclude=${2?--exclude-labels needs a regex}; shift 2 ;;
        --timeout) test_timeout=${2:?--timeout needs seconds}; shift 2 ;;
        --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
        --out) out=${2:?--out needs a file}; shift 2 ;;
        --require-killed) require=${2:?--require-killed needs a results file}; shift 2 ;;
        --work) work=${2:?--work needs a directory}; shift 2 ;;
        --keep) keep=1; shift ;;
        --every-failure) every=1; shift ;;
        --check) check=1; shift ;;
        -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown argument: $1 (see --help)" ;;
    esac
done
[[ $test_timeout =~ ^[0-9]+$ ]] || die "--timeout takes whole seconds"
[[ $jobs =~ ^[1-9][0-9]*$ ]] || die "--jobs takes a number"
[[ -f $list ]] || die "no list at $list"

# The list's reader and the edits, in Python: the texts are matched byte for byte.
tool() {
    python3 - "$@" <<'PYTHON'
import os, re, shutil, sys

KEYS = ("id", "file", "from", "to", "what")

def parse(path):
    entries, entry = [], None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            m = re.match(r"([a-z]+):(?: (.*))?$", line)
            if not m or m.group(1) not in KEYS:
                sys.exit(f"{path}:{number}: expected one of {', '.join(k + ':' for k in KEYS)}")
            key, value = m.group(1), (m.group(2) or "").rstrip(" \t")
            if key == "id":
                entry = {"id": value, "line": number}
                entries.append(entry)
            elif entry is None:
                sys.exit(f"{path}:{number}: {key}: before the first id:")
            elif key in ("from", "to") and key in entry:
                if last_key != key:
                    sys.exit(f"{path}:{number}: {key}: lines must follow one another")
                entry[key] += "\n" + value
            elif key in entry:
                sys.exit(f"{path}:{number}: a second {key}: in entry {entry['id']}")
            else:
                entry[key] = value
            last_key = key
    seen = set()
    for e in entries:
        where = f"{path}:{e['line']}"
        if not re.fullmatch(r"[A-Za-z0-9._-]+", e["id"]):
            sys.exit(f"{where}: id '{e['id']}' has characters other than letters, digits, . _ -")
        if e["id"] in seen:
            sys.exit(f"{where}: id {e['id']} appears twice")
        seen.add(e["id"])
        for key in ("file", "from", "what"):
            if not e.get(key):
                sys.exit(f"{where}: entry {e['id']} has no {key}:")
        e.setdefault("to", "")
        if e["from"] == e["to"]:
            sys.exit(f"{where}: entry {e['id']} replaces its text by the same text")
    return entries

def staleness(root, e):
    """Why the entry cannot be applied to the tree at root; None when it can."""
    path = os.path.join(root, e["file"])
    if not os.path.isfile(path):
        return f"no file {e['file']}"
    count = open(path, "rb").read().count(e["from"].encode())
    if count != 1:
        return f"original text found {count} times in {e['file']}"
    return None

def main(command, *args):
    if command == "select":  # LIST ONLY: "id<TAB>file" of each entry chosen
        entries = parse(args[0])
        wanted = [i for i in args[1].split(",") if i]
        unknown = sorted(set(wanted) - {e["id"] for e in entries})
        if unknown:
            sys.exit(f"no such mutant in {args[0]}: {', '.join(unknown)}")
        for e in entries:
            if not wanted or e["id"] in wanted:
                print(f"{e['id']}\t{e['file']}")
    elif command == "check":  # LIST ROOT
        entries = parse(args[0])
        stale = [(e, staleness(args[1], e)) for e in entries]
        stale = [(e, why) for e, why in stale if why]
        for e, why in stale:
            print(f"stale {e['id']} ({args[0]}:{e['line']}): {why}")
        print(f"{len(entries)} entries, {len(stale)} stale")
        sys.exit(1 if stale else 0)
    elif command == "apply":  # LIST ID ROOT BACKUP: status 3 and the reason when stale
        e = next(e for e in parse(args[0]) if e["id"] == args[1])
        why = staleness(args[2], e)
        if why:
            print(why)
            sys.exit(3)
        path = os.path.join(args[2], e["file"])
        text = open(path, "rb").read()
        shutil.copyfile(path, args[3])
        with open(path, "wb") as f:  # a new modification time: the next build sees it
            f.write(text.replace(e["from"].encode(), e["to"].encode(), 1))
    elif command == "sync":  # FROM TO: make TO's files those of FROM, rewriting only changes
        source, target = args
        keep = set()
        for folder, _, files in os.walk(source):
            for name in files:
                rel = os.path.relpath(os.path.join(folder, name), source)
                keep.add(rel)
                dst = os.path.join(target, rel)
                src = os.path.join(folder, name)
                if os.path.isfile(dst) and open(src, "rb").read() == open(dst, "rb").read():
                    continue
                os.makedirs(os.path.dirname(dst), exist_ok=True)
                shutil.copy2(src, dst)
                os.utime(dst)  # newer than anything built from the old one
        for folder, _, files in os.walk(target):
            for name in files:
                rel = os.path.relpath(os.path.join(folder, name), target)
                if rel not in keep:
                    os.remove(os.path.join(target, rel))
    else:
        sys.exit(f"unknown command {command}")

main(*sys.argv[1:])
PYTHON
}

if ((check)); then
    if ((rev_given == 0)); then
        tool check "$list" "$repo"
        exit
    fi
    tree=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-mutate-check.XXXXXX")
    trap 'rm -rf "$tree"' EXIT
    git -C "$repo" archive "$rev" | tar -x -C "$tree" || die "cannot read the tree of $rev"
    tool check "$list" "$tree"
    exit
fi

selection=$(tool select "$list" "$only") || exit 2
mapfile -t chosen <<<"$selection"
[[ -n ${chosen[0]:-} ]] || die "no entries in $list"
if [[ -n $require && ! -r $require ]]; then
    die "cannot read $require"
fi
commit=$(git -C "$repo" rev-parse --verify --quiet "$rev^{commit}") || die "no commit $rev"
short=${commit:0:10}
out=${out:-${TMPDIR:-/tmp}/ostrel-mutants-$short-$(date +%Y%m%d-%H%M%S).txt}
out=$(realpath -m "$out")
logs=$out.logs
mkdir -p "$(dirname "$out")" "$logs"
: >"$out"

if [[ -n $work ]]; then
    mkdir -p "$work"
    work=$(cd "$work" && pwd)
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-mutate.XXXXXX")
fi
src=$work/src
build=$work/build
mutated=""  # the file of the mutant in place, and its saved original
backup=$work/original

finish() {
    if [[ -n $mutated ]]; then
        cat "$backup" >"$src/$mutated"
    fi
    if [[ $keep == 0 && $work == "${TMPDIR:-/tmp}"/ostrel-mutate.* ]]; then
        rm -rf "$work"
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM
exec 9>"$work/.lock"
flock -n 9 || die "another run is using $work"

echo "mutate.sh: $commit into $work"
rm -rf "$work/incoming"
mkdir "$work/incoming"
git -C "$repo" archive "$commit" | tar -x -C "$work/incoming"
if [[ -d $src ]]; then
    tool sync "$work/incoming" "$src"
    rm -rf "$work/incoming"
else
    mv "$work/incoming" "$src"
fi

seconds() { date +%s; }

if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$src" -B "$build" -G Ninja -DOSTREL_WERROR=OFF -DOSTREL_BUILD_TESTS=ON >"$logs/configure.log" 2>&1 ||
        die "configure failed: $logs/configure.log"
fi
start=$(seconds)
cmake --build "$build" -j "$jobs" >"$logs/build.log" 2>&1 || die "the unmutated tree does not build: $logs/build.log"
echo "mutate.sh: built in $(($(seconds) - start)) s"

suite_cap=0  # no cap for the unmutated run
failed_test=""
run_tests() {  # LOG: sets tests_status and failed_test
    local args=(--test-dir "$build" -j "$jobs" --no-tests=error --timeout "$test_timeout"
                --output-on-failure)
    ((every)) || args+=(--stop-on-failure)
    [[ -n $labels ]] && args+=(-L "$labels")
    [[ -n $exclude ]] && args+=(-LE "$exclude")
    rm -f "$build/Testing/Temporary/LastTestsFailed.log"
    tests_status=0
    if ((suite_cap > 0)); then
        timeout --kill-after=30 "$suite_cap" ctest "${args[@]}" >"$1" 2>&1 || tests_status=$?
    else
        ctest "${args[@]}" >"$1" 2>&1 || tests_status=$?
    fi
    failed_test=$(head -n 1 "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | cut -d: -f2-) || true
    if ((every)); then
        cut -d: -f2- "$build/Testing/Temporary/LastTestsFailed.log" >"${1%.test.log}.killers" 2>/dev/null || true
    fi
}

start=$(seconds)
run_tests "$logs/baseline.log"
baseline=$(($(seconds) - start))
if ((tests_status != 0)); then
    die "the unmutated tree fails its tests (${failed_test:-see the log}): $logs/baseline.log"
fi
suite_cap=$((3 * baseline + 300))
echo "mutate.sh: unmutated tests pass in $baseline s; results to $out"

declare -A result
killed=0 survived=0 invalid=0 stale=0
total=${#chosen[@]}
index=0
run_start=$(seconds)
for row in "${chosen[@]}"; do
    id=${row%%$'\t'*}
    file=${row#*$'\t'}
    index=$((index + 1))
    tag=$(printf '[%2d/%d] %-34s' "$index" "$total" "$id")
    why=""
    if ! why=$(tool apply "$list" "$id" "$src" "$backup"); then
        result[$id]=stale
        stale=$((stale + 1))
        echo "$tag stale     ($why)"
        echo "$id stale" >>"$out"
        continue
    fi
    mutated=$file
    start=$(seconds)
    if ! cmake --build "$build" -j "$jobs" >"$logs/$id.build.log" 2>&1; then
        status=invalid
        detail="does not build: $logs/$id.build.log"
    else
        built=$(seconds)
        run_tests "$logs/$id.test.log"
        tested=$(($(seconds) - built))
        if ((tests_status == 0)); then
            status=survived
            detail="build $((built - start)) s, tests $tested s"
        elif ((tests_status == 124 || tests_status == 137)); then
            status=killed
            detail="build $((built - start)) s, tests stopped after $tested s: the suite hangs"
        else
            status=killed
            detail="build $((built - start)) s, tests $tested s: ${failed_test:-see $logs/$id.test.log}"
        fi
    fi
    cat "$backup" >"$src/$file"
    mutated=""
    result[$id]=$status
    case $status in
        killed) killed=$((killed + 1)) ;;
        survived) survived=$((survived + 1)) ;;
        invalid) invalid=$((invalid + 1)) ;;
    esac
    printf '%s %-9s (%s)\n' "$tag" "$status" "$detail"
    echo "$id $status" >>"$out"
done
ran=$((killed + survived + invalid))
echo "mutate.sh: $ran mutants built and tested in $(($(seconds) - run_start)) s (unmutated tests: $baseline s)"
echo "mutants: $killed killed, $survived survived, $invalid invalid, $stale stale"
echo "results: $out"

if [[ -n $require ]]; then
    lost=0
    while read -r id before _; do
        [[ -n ${id:-} && $before == killed && -n ${result[$id]:-} ]] || continue
        if [[ ${result[$id]} != killed ]]; then
            echo "mutate.sh: $id was killed in $require, now ${result[$id]}" >&2
            lost=$((lost + 1))
        fi
    done <"$require"
    if ((lost > 0)); then
        echo "mutate.sh: $lost mutants killed before are not killed now" >&2
        exit 1
    fi
    echo "mutate.sh: every mutant killed in $require is killed now"
fi
