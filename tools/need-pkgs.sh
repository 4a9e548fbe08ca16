# Sourced by the tools/ scripts: need_pkgs PKG... installs the Debian packages that are missing
# (apt-get update only when the first attempt fails, so a warm machine stays offline).
need_pkgs() {
  local missing=()
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    (apt-get install -y "${missing[@]}" || (apt-get update && apt-get install -y "${missing[@]}")) >/dev/null
  fi
}
