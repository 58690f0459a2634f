# Debian packages the build, the tests, the fuzzers and the demo need.
# Sourced by scripts/test and scripts/demo.
PIXTRAWL_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libxkbcommon-dev
  libjpeg-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  qtkeychain-qt6-dev libsecret-1-0 openssl
  sharutils uudeview python3 libjpeg-turbo-progs python3-sabyenc python3-yenc
  desktop-file-utils appstream qt6-qpa-plugins
  mate-backgrounds qt6-image-formats-plugins
)
# Only to make the look-alike benchmark's corpus (bench/similar_corpus.py):
# the tests read the photographs kept in tests/data/similar.
PIXTRAWL_BENCH_PACKAGES=(gnome-backgrounds python3-skimage python3-pil)

# Installs what is missing when root; otherwise names it and goes on.
ensure_packages() {
  local missing=() p
  for p in "${PIXTRAWL_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Not root, so not installing these missing packages: ${missing[*]}" >&2
  fi
}
