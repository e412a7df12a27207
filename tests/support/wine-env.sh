# Wine settings for one private prefix under the build folder. Sourced.
# KV_BUILD must be set; KV_PREFIX_NAME picks the prefix (default "wineprefix").
export WINEPREFIX="$KV_BUILD/${KV_PREFIX_NAME:-wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
KV_WINE=/usr/lib/wine/wine64
KV_WINESERVER=/usr/lib/wine/wineserver
