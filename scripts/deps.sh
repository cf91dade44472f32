#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need: Debian packages for the system
# libraries, pip for the Python ones. Quick when everything is present.
set -euo pipefail

apt_packages=(g++ libtbb-dev libboost-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
              libsuitesparse-dev libopenblas0-serial liblapack-dev libfftw3-dev libeigen3-dev
              chromium   # chromium: the viewer tests drive it headless through playwright
              util-linux mount)  # unshare, mount: spill tests on a small private tmpfs
missing=()
for pkg in "${apt_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing Debian packages: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python3 - <<'PY' || python3 -m pip install -q "scikit-build-core>=0.10" "cmake>=3.25" ninja "pytest>=7" "hypothesis>=6" numpy
import importlib.util, shutil, sys
needed = ["scikit_build_core", "pytest", "hypothesis", "numpy"]
missing = [m for m in needed if importlib.util.find_spec(m) is None]
missing += [t for t in ("cmake", "ninja") if shutil.which(t) is None]
sys.exit(1 if missing else 0)
PY

# The Python packages the tests use as real oracles and the optional extras they exercise (the
# package's "test" extra), only those missing. playwright drives the system chromium in the tests
# (never `playwright install`: it would download a browser of its own).
missing_py=$(python3 - <<'PY'
import importlib.util
wanted = {
    "numpy": "numpy", "pandas": "pandas", "lasio": "lasio", "xtgeo": "xtgeo", "gstools": "gstools",
    "plotly": "plotly", "matplotlib": "matplotlib", "PIL": "pillow", "playwright": "playwright",
    "roffio": "roffio", "resfo": "resfo", "pyvista": "pyvista", "tqdm": "tqdm",
    "dask": "dask", "distributed": "distributed", "pyarrow": "pyarrow",
}
print(" ".join(pkg for module, pkg in wanted.items() if importlib.util.find_spec(module) is None))
PY
)
if [ -n "$missing_py" ]; then
  echo "installing Python packages: $missing_py"
  # shellcheck disable=SC2086
  python3 -m pip install -q $missing_py
fi
