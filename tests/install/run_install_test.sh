#!/usr/bin/env bash
# Install checks: everything after "install" uses the installed files only.
#
#   run_install_test.sh install BUILD PREFIX      install BUILD into PREFIX, check the layout
#   run_install_test.sh cpp SRC PREFIX WORK       C++ host through find_package(mox)
#   run_install_test.sh c SRC PREFIX WORK         C host through pkg-config
#   run_install_test.sh plugin SRC PREFIX         script importing mx2class with the installed mx2
#
# MOX_HOST_FLAGS: extra compiler and linker flags for the hosts (the
# sanitizer flags when the library was built with them).
set -euo pipefail
what=$1
fail() { echo "FAILED: $*"; exit 1; }

case $what in
  install)
    build=$2 prefix=$3
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" > /dev/null
    for f in bin/mx2 lib/libmoxlib.so lib/libmoxlib.so.2 include/mox/MoxVersion.h \
             include/mox/vm/MoxVirtualMachine.h include/mox/vm/MoxPrinter.h include/mox/core/MoxValue.h \
             lib/cmake/mox/moxConfig.cmake lib/cmake/mox/moxConfigVersion.cmake lib/pkgconfig/mox.pc; do
      [ -e "$prefix/$f" ] || fail "$f not installed"
    done
    if [ "${MOX_DOCS_INSTALLED:-OFF}" = ON ]; then
      for f in share/man/man1/mx2.1 share/doc/mox/language.md; do
        [ -e "$prefix/$f" ] || fail "$f not installed"
      done
    fi
    [ -L "$prefix/lib/libmoxlib.so" ] && [ -L "$prefix/lib/libmoxlib.so.2" ] || fail "library symlinks missing"
    if ls "$prefix"/include/mox/*/*Internal.h "$prefix"/include/mox/*/*Impl.h 2>/dev/null | grep -q .; then
      fail "private headers installed"
    fi
    soname=$(objdump -p "$prefix/lib/libmoxlib.so.2" | awk '$1 == "SONAME" { print $2 }')
    [ "$soname" = "libmoxlib.so.2" ] || fail "SONAME is '$soname'"
    version=$(grep -o '"[0-9.]*"' "$prefix/include/mox/MoxVersion.h" | head -n 1 | tr -d '"')
    [ "$("$prefix/bin/mx2" --version)" = "mx2 $version" ] || fail "mx2 --version differs from the header's $version"
    [ "$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --modversion mox 2>/dev/null || echo "$version")" = "$version" ] ||
      fail "mox.pc version differs"
    echo "installed $version into $prefix"
    ;;
  cpp)
    src=$2 prefix=$3 work=$4
    rm -rf "$work"
    cmake -S "$src/cpp_host" -B "$work" -DCMAKE_PREFIX_PATH="$prefix" \
          -DCMAKE_CXX_FLAGS="${MOX_HOST_FLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${MOX_HOST_FLAGS:-}" > /dev/null
    cmake --build "$work" > /dev/null
    out=$("$work/cpp_host")
    version=$(grep -o '"[0-9.]*"' "$prefix/include/mox/MoxVersion.h" | head -n 1 | tr -d '"')
    [ "$out" = $'host runs mox\nresult 42, version '"$version" ] || fail "cpp host printed: $out"
    echo "$out"
    ;;
  c)
    src=$2 prefix=$3 work=$4
    rm -rf "$work" && mkdir -p "$work"
    export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
    # shellcheck disable=SC2046,SC2086
    cc -std=c99 -Wall -Wextra ${MOX_HOST_FLAGS:-} "$src/c_host.c" -o "$work/c_host" \
       $(pkg-config --cflags --libs mox) -Wl,-rpath,"$prefix/lib"
    out=$("$work/c_host")
    [ "$out" = $'[from C]\nok 1 result 5' ] || fail "c host printed: $out"
    echo "$out"
    ;;
  plugin)
    src=$2 prefix=$3
    out=$(cd "$src" && env -u MOXLIB PATH=/usr/bin:/bin "$prefix/bin/mx2" plugin_script.mox)
    [ "$out" = "9" ] || fail "plug-in script printed: $out"
    echo "$out"
    ;;
  *) fail "unknown check $what" ;;
esac
