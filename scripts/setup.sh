#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quellar needs.
# Idempotent: it asks apt only for what is missing and says nothing when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libqt6webenginecore6-bin
  # libxlsxwriter-dev only for the tests' reference .xlsx writer and the benchmarks' input
  libpugixml-dev libfast-float-dev libxlsxwriter-dev zlib1g-dev libisal-dev libjemalloc-dev libxxhash-dev
  libgtest-dev
  fonts-noto-cjk fonts-crosextra-carlito fonts-crosextra-caladea qt6-translations-l10n xvfb
  desktop-file-utils man-db dpkg-dev
  python3 python3-openpyxl python3-xlrd python3-xlwt
  clang-14 libclang-rt-14-dev clang-format-14
)

# The tabular diff test runs the reference tool from npm. A Node.js from elsewhere (for
# instance NodeSource, which brings its own npm) is used as it is.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "正在安装缺少的软件包: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
