# Sourced by the scripts that need Debian packages.
#   install_missing [apt-get option...] package...
# Installs with apt-get (through sudo when not root) only the packages that
# are not installed. Everything it prints goes to stderr: a script's stdout
# may be an environment to eval.
install_missing() {
  local options=() missing=() package
  while [ $# -gt 0 ] && [[ $1 == -* ]]; do
    options+=("$1")
    shift
  done
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq >&2
  "${sudo[@]}" apt-get install -y -qq "${options[@]}" "${missing[@]}" >&2
}
