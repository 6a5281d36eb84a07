# Cross-compiles the Windows launcher and the Windows platform layers with mingw-w64, since the
# Linux build skips every file named after Windows. Any warning fails the test run. Sourced by
# scripts/test with $build_dir set; the launcher lands in $build_dir/windows-cross, where
# tst_launcher runs it under Wine when Wine is installed.
# shellcheck shell=bash

windows_cross_compile() {
    local root="$QUILLORA_ROOT"
    local out="$build_dir/windows-cross"
    local cxx=x86_64-w64-mingw32-g++
    local flags=(-std=c++17 -Wall -Wextra -Werror -O2)
    if ! command -v "$cxx" >/dev/null 2>&1; then
        log "windows-cross: $cxx is missing (package g++-mingw-w64-x86-64)"
        return 1
    fi
    mkdir -p "$out" || return 1

    # Static, so that the launcher needs no MinGW runtime DLL beside it.
    "$cxx" "${flags[@]}" -static -I"$root/launcher" \
        "$root/launcher/LauncherWindows.cpp" "$root/launcher/SearchPath.cpp" \
        -o "$out/QuilloraRecorderLauncher.exe" || return 1

    # The Qt-free Win32 cores, linked into a DLL so that every Win32 function they call must
    # resolve.
    "$cxx" "${flags[@]}" -I"$root/recording" -c "$root/recording/MouseHookWindows.cpp" \
        -o "$out/MouseHookWindows.o" || return 1
    "$cxx" "${flags[@]}" -I"$root/sources" -c "$root/sources/VideoInputEnumerationWindows.cpp" \
        -o "$out/VideoInputEnumerationWindows.o" || return 1
    "$cxx" -shared -Wl,--no-undefined -static-libgcc -static-libstdc++ \
        "$out/MouseHookWindows.o" "$out/VideoInputEnumerationWindows.o" \
        -lole32 -loleaut32 -lstrmiids -luuid -o "$out/quillora-windows-cores.dll" || return 1

    # There is no Qt for Windows here: the thin Qt adapters (and their moc output) are checked
    # for errors and warnings against the host's Qt headers, which is as far as a compiler can
    # get without it.
    local qt_include qt_libexec
    qt_include="$(pkg-config --variable=includedir Qt6Core)" || return 1
    qt_libexec="$(pkg-config --variable=libexecdir Qt6Core)" || return 1
    local includes=(-I"$root/app" -I"$root/sources" -I"$root/recording"
        -isystem "$qt_include" -isystem "$qt_include/QtCore")
    "$cxx" "${flags[@]}" -fsyntax-only "${includes[@]}" \
        "$root/sources/SlidesSourceInfoWindows.cpp" || return 1
    "$cxx" "${flags[@]}" -fsyntax-only "${includes[@]}" \
        "$root/sources/NdiRuntime.cpp" "$root/sources/NdiRuntimeWindows.cpp" || return 1
    if [ -f "$root/recording/MouseListenerPrivate.h" ]; then
        "$qt_libexec/moc" -I"$root/recording" "$root/recording/MouseListenerPrivateWindows.h" \
            -o "$out/moc_MouseListenerPrivateWindows.cpp" || return 1
        "$cxx" "${flags[@]}" -fsyntax-only "${includes[@]}" \
            "$root/recording/MouseListenerPrivateWindows.cpp" \
            "$out/moc_MouseListenerPrivateWindows.cpp" || return 1
    else
        log "windows-cross: recording/MouseListenerPrivate.h is missing, MouseListenerPrivateWindows not checked"
    fi
}

if windows_cross_compile; then
    log "windows-cross: Windows launcher and platform layers compiled in $build_dir/windows-cross"
else
    log "windows-cross: the Windows sources do not compile cleanly"
    exit 1
fi
