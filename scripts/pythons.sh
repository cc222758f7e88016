#!/usr/bin/env bash
# Runs the Python tests on every CPython 3.10+ that pyenv has on this machine,
# each in its own virtual environment under build/pythons/<version>/venv
# (the module is built for each, into build/dev/<wheel tag>). Goes on after a
# failure and reports every interpreter at the end.
#
# Environment:
#   PYENV_ROOT        where pyenv keeps its versions (default: `pyenv root`,
#                     else ~/.pyenv)
#   STOWVEX_PYTHONS   space-separated interpreters to use instead
set -uo pipefail
cd "$(dirname "$0")/.."
make=${MAKE:-make}

if [ -n "${STOWVEX_PYTHONS:-}" ]; then
    read -r -a candidates <<< "$STOWVEX_PYTHONS"
else
    pyenv_root=${PYENV_ROOT:-}
    if [ -z "$pyenv_root" ] && command -v pyenv >/dev/null; then
        pyenv_root=$(pyenv root 2>/dev/null || true)
    fi
    pyenv_root=${pyenv_root:-$HOME/.pyenv}
    candidates=("$pyenv_root"/versions/*/bin/python3)
fi

pythons=()
for p in "${candidates[@]}"; do
    [ -x "$p" ] || continue
    if "$p" -I -c 'import sys; sys.exit(not (sys.implementation.name == "cpython" and sys.version_info >= (3, 10)))' 2>/dev/null; then
        pythons+=("$p")
    fi
done
if [ "${#pythons[@]}" -eq 0 ]; then
    echo "test-pythons: no CPython 3.10+ found (looked at: ${candidates[*]})"
    exit 0
fi

"$make" --no-print-directory deps || exit 1

results=()
failed=0
for p in "${pythons[@]}"; do
    version=$("$p" -I -c 'import platform; print(platform.python_version())')
    echo "=== test-pythons: CPython $version ($p)"
    if "$make" --no-print-directory test-python PYTHON="$p" VENV="build/pythons/$version/venv"; then
        results+=("CPython $version: passed")
    else
        results+=("CPython $version: FAILED")
        failed=1
    fi
done

echo "=== test-pythons summary"
printf '  %s\n' "${results[@]}"
exit "$failed"
