#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent: packages already present are left alone. Run as root.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # database client and server
  firebird-dev libfbclient2 firebird3.0-server firebird3.0-utils
  # HTTP, TLS, processes
  libpoco-dev libssl-dev
  # windows and report rendering
  qt6-base-dev qt6-base-dev-tools libqt6svg6 fonts-dejavu-core fontconfig
  libgl-dev
  # scripts and JSON
  liblua5.4-dev nlohmann-json3-dev
  # output checks and tooling used by tests
  poppler-utils unrtf python3 xvfb xauth procps psmisc curl hyperfine
  # fuzz targets (libFuzzer)
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The Firebird server package asks for a SYSDBA password through debconf;
# preseed it so the install never waits for a person.
echo "firebird3.0-server shared/firebird/enabled boolean true" | debconf-set-selections
echo "firebird3.0-server shared/firebird/sysdba_password/first_install password quillfern" | debconf-set-selections
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
