#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy over the project's sources.
#   scripts/lint.sh BUILD_DIR [PATH...]     (paths default to: src tools)
# A path is a folder or a source file; headers are checked through the
# sources that include them, and only those under the paths given are
# reported. Needs BUILD_DIR/compile_commands.json (CMake writes it). Exits
# non-zero on any warning.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=${1:-build}
shift || true
paths=("$@")
[ ${#paths[@]} -gt 0 ] || paths=(src tools)
jobs=${JOBS:-2}

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
    # Only this target needs it: installed from the distribution's packages.
    SUDO=""
    [ "$(id -u)" != "0" ] && SUDO="sudo"
    $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-tidy >/dev/null || true
    tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
fi
[ -n "$tidy" ] || { echo "clang-tidy is not installed (apt-get install clang-tidy)." >&2; exit 2; }
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "No $db: configure the build first (make configure)." >&2; exit 2; }

escape() { printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g'; }

files=()
filter=""
for path in "${paths[@]}"; do
    path=${path%/}
    [ -e "$path" ] || { echo "No such path: $path" >&2; exit 2; }
    if [ -d "$path" ]; then
        part="$(escape "$root/$path")/"
    else
        part="$(escape "$root/${path%.*}")\\.[^/]*$"
    fi
    filter="${filter:+$filter|}$part"
    while IFS= read -r file; do
        # Only what the build compiles has flags to be checked with.
        if grep -qF "\"file\": \"$root/$file\"" "$db"; then
            files+=("$file")
        fi
    done < <(find "$path" -name '*.cpp' | sort)
done
[ ${#files[@]} -gt 0 ] || { echo "No compiled sources under: ${paths[*]}" >&2; exit 2; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%s\n' "${files[@]}" |
    xargs -P "$jobs" -n 1 "$tidy" -p "$build" --quiet "--header-filter=^($filter)" 2>/dev/null >"$out" || true

# A header included by several sources reports the same warning each time.
warnings=$(grep -E '^[^ ].*: warning: ' "$out" | sed "s|^$root/||" | sort -u || true)
if [ -n "$warnings" ]; then
    cat "$out"
    echo
    echo "$warnings"
    echo
    echo "$(printf '%s\n' "$warnings" | wc -l) warnings in ${#files[@]} sources; per file:"
    printf '%s\n' "$warnings" | cut -d: -f1 | sort | uniq -c
    exit 1
fi
echo "clang-tidy: no warnings in ${#files[@]} sources (${paths[*]})."
