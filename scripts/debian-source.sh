# Sourced by the scripts that build from Debian's sources (the MinGW prefix's libraries).
#   debian_source NAME VERSION DEST
# Downloads the Debian source package NAME=VERSION (.dsc, upstream and Debian tarballs) into
# DEST through apt, by package name: the deb-src entries are made at run time from this
# machine's own apt sources for its Debian release, in a throwaway apt configuration (own
# sources and lists), so the system's apt state stays as it is. apt checks every file against
# the signed index.

# Prints the deb-src entries (one-line format) for the machine's Debian release.
debian_source_entries() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { echo "debian_source: no release codename in /etc/os-release" >&2; return 1; }
    local files=()
    [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
    local f
    for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && files+=("$f")
    done
    [ ${#files[@]} -gt 0 ] || return 0
    # One-line entries: "deb [options] URI SUITE COMPONENT...". deb822 stanzas: Types, URIs,
    # Suites, Components and Signed-By, separated by blank lines. Only suites of this release
    # (bookworm, bookworm-updates, bookworm-security, ...): other repositories carry no sources.
    awk -v codename="$codename" '
        function emit(types, uris, suites, comps, opts,   n, u, s, i, j, us, ss) {
            if (types !~ /(^| )deb( |$)/ || uris == "" || suites == "" || comps == "") return
            n = split(uris, us, " "); m = split(suites, ss, " ")
            for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
                if (ss[j] == codename || index(ss[j], codename "-") == 1)
                    print "deb-src " opts us[i] " " ss[j] " " comps
        }
        function flush() {
            if (enabled != "no") emit(t, u, s, c, signed == "" ? "" : "[signed-by=" signed "] ")
            t = u = s = c = signed = ""; enabled = ""
        }
        FNR == 1 { flush(); deb822 = FILENAME ~ /\.sources$/ }
        deb822 {
            if ($0 ~ /^[ \t]*$/) { flush(); next }
            if ($0 ~ /^#/) next
            key = tolower($1); sub(/:$/, "", key)
            val = $0; sub(/^[^:]*:[ \t]*/, "", val)
            if (key == "types") t = val
            else if (key == "uris") u = val
            else if (key == "suites") s = val
            else if (key == "components") c = val
            else if (key == "signed-by") signed = val
            else if (key == "enabled") enabled = tolower(val)
            next
        }
        $1 == "deb" {
            opts = ""; i = 2
            if ($2 ~ /^\[/) { while (i <= NF) { opts = opts $i " "; if ($i ~ /\]$/) break; i++ } i++ }
            comps = ""; for (k = i + 2; k <= NF; k++) comps = comps (comps == "" ? "" : " ") $k
            emit("deb", $i, $(i + 1), comps, opts)
        }
        END { flush() }
    ' "${files[@]}" | sort -u
}

debian_source() {
    local name=$1 version=$2 dest=$3
    local apt_dir
    apt_dir=$(mktemp -d)
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$dest"
    if ! debian_source_entries >"$apt_dir/sources.list" || [ ! -s "$apt_dir/sources.list" ]; then
        echo "debian_source: no Debian apt source configured on this machine" >&2
        rm -rf "$apt_dir"
        return 1
    fi
    local opts=(
        -o "Dir::Etc::sourcelist=$apt_dir/sources.list"
        -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d"
        -o "Dir::State::lists=$apt_dir/lists"
        -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
        -o Acquire::Retries=3 -o Acquire::Languages=none
        -o APT::Get::Only-Source=true
    )
    # As root apt hands downloads to its _apt user, who cannot write into a private folder.
    [ "$(id -u)" -eq 0 ] && opts+=(-o APT::Sandbox::User=root)
    local status=0
    apt-get "${opts[@]}" -qq update >"$apt_dir/update.log" 2>&1 &&
        (cd "$dest" && apt-get "${opts[@]}" -qq source --download-only "$name=$version") \
            >"$apt_dir/source.log" 2>&1 || status=$?
    if [ $status -ne 0 ]; then
        echo "debian_source: could not fetch the source of $name $version" >&2
        cat "$apt_dir"/*.log >&2
    fi
    rm -rf "$apt_dir"
    return $status
}
