#!/usr/bin/env bash
# Builds the sdist and the wheel, installs the wheel with its test extra into a fresh virtual
# environment, and runs the pytest suite against that installation from a scratch directory that
# holds only copies of tests/ and examples/: the source tree is not importable there. Needs the
# .venv of scripts/setup.sh (it provides the build backend, so nothing is downloaded to build).
# Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
PY=$root/.venv/bin/python

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrelo-wheel.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Both are built from the tree, so the wheel reuses the compiled objects that setup.sh left in
# build/. TAVRELO_WHEEL_FROM_SDIST=1 builds the wheel from the unpacked sdist instead, as pip does
# for users without a wheel: a full compile, slower.
echo "== building the sdist and the wheel"
targets=(--sdist --wheel)
[ "${TAVRELO_WHEEL_FROM_SDIST:-0}" = 1 ] && targets=()
CMAKE_BUILD_PARALLEL_LEVEL=2 "$PY" -m build --no-isolation "${targets[@]}" --outdir "$work/dist" \
    -Ccmake.define.TAVRELO_WERROR="${TAVRELO_WERROR:-OFF}" . >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; exit 1; }
sdist=$(echo "$work"/dist/tavrelo-*.tar.gz)
wheel=$(echo "$work"/dist/tavrelo-*.whl)

# The sdist must carry every tracked file that the build and the package need.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    needed=(CMakeLists.txt pyproject.toml README.md tavrelo.hpp cmake core simplify expand compare serial
        diff parse subs evaluate python)
    missing=$(comm -23 \
        <(git -C "$root" ls-files -- "${needed[@]}" | sort) \
        <(tar -tzf "$sdist" | sed 's|^[^/]*/||' | sort))
    if [ -n "$missing" ]; then
        echo "error: the sdist lacks: $missing" >&2
        exit 1
    fi
fi

echo "== installing $(basename "$wheel") into a fresh venv (${SECONDS}s)"
# The venv gets no pip of its own: the setup venv's pip installs into it. pip's cache, kept between
# runs, serves the dependencies; skipping byte-compilation halves the install time.
"$PY" -m venv --without-pip "$work/venv"
"$PY" -m pip --python "$work/venv/bin/python" install -q --no-compile --disable-pip-version-check \
    "$wheel[test,sympy]"

mkdir "$work/run"
cp -r tests "$work/run/tests"
[ -d examples ] && cp -r examples "$work/run/examples"
cp pyproject.toml "$work/run/"  # the pytest and mypy settings
cd "$work/run"
installed=$("$work/venv/bin/python" -c 'import tavrelo; print(tavrelo.__file__)')
case "$installed" in
"$work/venv/"*) ;;
*)
    echo "error: tavrelo imported from $installed, not from the wheel" >&2
    exit 1
    ;;
esac

echo "== pytest against the installed wheel (${SECONDS}s)"
"$work/venv/bin/python" -m pytest -p no:cacheprovider "$@"
