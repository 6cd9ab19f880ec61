# Sourced by scripts/fetch-*.sh. debian_source PACKAGE WORK fetches the
# original source tarball of a Debian source package into WORK/src and
# prints its path. apt is pointed at a private source list and lists folder
# in WORK, built from the machine's own Debian sources; the machine's apt
# configuration is not touched. The lists are updated only when the package
# cannot be fetched with the lists already there.
debian_source() {
  local package=$1 work=$2
  mkdir -p "$work/lists/partial" "$work/src"

  # deb-src entries for every Debian archive the machine already uses.
  local list=$work/sources.list f
  : >"$list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    grep -E '^deb ' "$f" | grep -v -i -E 'nodesource|google|security' | sed 's/^deb /deb-src /' >>"$list" || true
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[^\n]*deb/ && $0 ~ /debian/ && $0 !~ /security/ {sub(/Types:[^\n]*/, "Types: deb-src"); print}' "$f" >"$work/$(basename "$f")"
  done
  local opts=(-o Dir::Etc::SourceList="$list" -o Dir::Etc::SourceParts="$work"
              -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
  if ! (cd "$work/src" && apt-get "${opts[@]}" -qq source --download-only "$package" >/dev/null 2>&1); then
    apt-get "${opts[@]}" -qq update >/dev/null
    (cd "$work/src" && apt-get "${opts[@]}" -qq source --download-only "$package" >/dev/null)
  fi
  local orig
  orig=$(ls "$work/src/${package}"_*.orig.tar.* 2>/dev/null | head -n 1)
  [ -n "$orig" ] || { echo "no source tarball of $package in $work/src" >&2; return 1; }
  echo "$orig"
}
