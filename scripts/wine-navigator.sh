# Sourced after wine-env.sh (and wine_up): plugs a navigator into the Wine prefix the way its
# driver would. SetupAPI lists a device interface of the driver's class once three registry keys
# name it (the device instance, the interface under the class, its Control key with "Linked"=1),
# and CreateFile of the listed path \\?\usb#...#{class} opens whatever
# $WINEPREFIX/dosdevices/<that path's name, lower case> links to: here the virtual navigator's
# pty. No stand-in device list is needed, so the programs run their real enumeration.
#   navigator_register NAME TARGET...  registers interface NAME (pairs: NAME TARGET NAME TARGET...)
#   navigator_unregister NAME...       unplugs them: keys and links gone
#   navigator_path NAME                the path SetupAPI lists for NAME
#   navigator_unregister_all           unplugs every interface of the class
navigator_class='{36d22a7b-61f2-4341-8a4b-bd92758bf0f3}'
navigator_usb_id='VID_1234&PID_5678'

navigator_path() {
    local id="${navigator_usb_id,,}"
    printf '\\\\?\\usb#%s#%s#%s\n' "$id" "${1,,}" "$navigator_class"
}

# The three keys of interface $1 (instance id), or their removal with $2 = "-".
_navigator_keys() {
    local name=$1 del=${2:-} base='HKEY_LOCAL_MACHINE\System\CurrentControlSet'
    local instance="USB\\$navigator_usb_id\\$name"
    local iface="$base\\Control\\DeviceClasses\\$navigator_class\\##?#USB#$navigator_usb_id#$name#$navigator_class"
    if [ -n "$del" ]; then
        printf '[-%s]\n[-%s\\Enum\\%s]\n' "$iface" "$base" "$instance"
        return
    fi
    printf '[%s\\Enum\\%s]\n"ClassGUID"="%s"\n' "$base" "$instance" "$navigator_class"
    printf '[%s]\n"DeviceInstance"="%s"\n' "$iface" "${instance//\\/\\\\}"
    printf '[%s\\#\\Control]\n"Linked"=dword:00000001\n' "$iface"
}

# One regedit run for all the keys: each Wine program start costs time.
_navigator_import() {
    local reg
    reg="$(mktemp --suffix=.reg)"
    { echo 'Windows Registry Editor Version 5.00'; cat; } >"$reg"
    wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" </dev/null >/dev/null 2>&1
    local status=$?
    rm -f "$reg"
    return $status
}

_navigator_link() { echo "$WINEPREFIX/dosdevices/$(navigator_path "$1" | cut -c5-)"; }

navigator_register() {
    local pairs=("$@") i
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do
        ln -sfn "${pairs[i + 1]}" "$(_navigator_link "${pairs[i]}")"
    done
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do _navigator_keys "${pairs[i]}"; done |
        _navigator_import
}

navigator_unregister() {
    local name
    for name in "$@"; do rm -f "$(_navigator_link "$name")"; done
    for name in "$@"; do _navigator_keys "$name" -; done | _navigator_import
}

# Unplugs every interface of the class, whatever an earlier run left.
navigator_unregister_all() {
    local base='HKEY_LOCAL_MACHINE\System\CurrentControlSet'
    rm -f "$WINEPREFIX/dosdevices/usb#${navigator_usb_id,,}#"*
    printf '[-%s\\Control\\DeviceClasses\\%s]\n[-%s\\Enum\\USB\\%s]\n' "$base" \
        "$navigator_class" "$base" "$navigator_usb_id" | _navigator_import
}
