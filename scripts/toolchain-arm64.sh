#!/bin/bash
# Builds the toolchain for ARM64 Windows once into build/toolchain-arm64: Debian's clang-14 and lld-14 with the
# mingw-w64 runtime, and LLVM's compiler builtins, unwinder and C++ library, all built from the pinned versions of
# Debian's own source packages. Debian has no aarch64 mingw-w64 gcc. The set-up calls this; safe to run again: a
# toolchain built from the same versions by the same script is kept.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dest="$root/build/toolchain-arm64"
mingw_version=10.0.0-3
llvm_version=1:14.0.6-12
# apt checks each file against the signed index; these pin the upstream sources themselves.
mingw_orig=mingw-w64_10.0.0.orig.tar.bz2
mingw_sha256=ba6b430aed72c63a3768531f6a3ffc2b0fde2c57a3b251450dcf489a894f0894
llvm_orig=llvm-toolchain-14_14.0.6.orig.tar.xz
llvm_sha256=d9bce5f42381d781e273c724db1ab0acd66259bf2782b79891664dbf1953d22c
llvm_bin=/usr/lib/llvm-14/bin
triple=aarch64-w64-mingw32

wanted="mingw-w64 $mingw_version, llvm-toolchain-14 $llvm_version, script $(sha256sum "$0" | cut -c1-16)"
if [ -f "$dest/built-from" ] && [ "$(cat "$dest/built-from")" = "$wanted" ]; then
    echo "toolchain-arm64: present ($wanted)"
    exit 0
fi

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt-get source needs the source indexes of the suite the machine's packages come from.
if ! apt-get indextargets --format '$(CREATED_BY) $(RELEASE)' | grep -qx 'Sources bookworm'; then
    mirror="$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' | awk '$1 == "bookworm" { print $2; exit }')"
    printf '%s\n' 'Types: deb-src' "URIs: ${mirror:-http://deb.debian.org/debian/}" 'Suites: bookworm' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        as_root tee "${PATHLIFT_APT_SOURCES_DIR:-/etc/apt/sources.list.d}/pathlift-sources.sources" >/dev/null
    # A stale index anywhere on the mirror fails the whole update, yet the source index is fetched all the same: go
    # on, and let the download below say whether it is there.
    if ! as_root apt-get update -q >/dev/null 2>&1; then
        echo "toolchain-arm64: apt-get update failed; going on with the lists apt has"
    fi
fi

started=$(date +%s)
rm -rf "$dest"
mkdir -p "$dest/src" "$dest/work" "$dest/logs"
sysroot="$dest/$triple"
resource="$dest/clang-resource"

# Each step logs to its own file and says how long it took; a failed step shows the end of its log, then one line
# with its last words.
step() {
    local name="$1" began status
    shift
    began=$(date +%s)
    echo "toolchain-arm64: $name ..."
    # In a subshell that is not a condition, so that the first failing command of the step ends it.
    set +e
    (
        set -e
        "$@"
    ) >"$dest/logs/$name.log" 2>&1
    status=$?
    set -e
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$dest/logs/$name.log" >&2
        echo "toolchain-arm64: $name failed: $(grep -v '^[[:space:]]*$' "$dest/logs/$name.log" | tail -n 1)" \
            "(its log is $dest/logs/$name.log)"
        exit 1
    fi
    echo "toolchain-arm64: $name took $(($(date +%s) - began)) s"
}

fetch() {
    cd "$dest/src"
    apt-get source --download-only -q "mingw-w64=$mingw_version" "llvm-toolchain-14=$llvm_version"
    echo "$mingw_sha256  $mingw_orig" | sha256sum -c
    echo "$llvm_sha256  $llvm_orig" | sha256sum -c
    # Debian's own patches to mingw-w64 apply; those to LLVM concern its Linux packages, and the runtimes are
    # taken from the upstream sources the package is built from.
    dpkg-source -x "mingw-w64_${mingw_version}.dsc" mingw-w64
    local top=llvm-toolchain-14_14.0.6 part parts=()
    for part in compiler-rt libunwind libcxx libcxxabi runtimes cmake llvm/cmake llvm/utils; do
        parts+=("$top/$part/*")
    done
    tar -xJf "$llvm_orig" --wildcards "${parts[@]}"
    mv "$top" llvm
    rm -f ./*.tar.* ./*.dsc
}
step fetch fetch

# The compilers: Debian's clang for the ARM64 target with this sysroot, its own resource directory (Debian's headers
# and the builtins built below) and, when linking, compiler-rt, libunwind and lld.
mkdir -p "$dest/bin" "$resource/lib/windows"
ln -s "$("$llvm_bin/clang" -print-resource-dir)/include" "$resource/include"
for tool in clang clang++; do
    stdlib=""
    [ "$tool" = clang++ ] && stdlib=" -stdlib=libc++"
    cat >"$dest/bin/$triple-$tool" <<EOF
#!/bin/sh
# $tool for ARM64 Windows with the runtimes of this directory's toolchain.
here="\$(cd "\$(dirname "\$0")/.." && pwd)"
link="-rtlib=compiler-rt -unwindlib=libunwind -fuse-ld=lld"
for argument in "\$@"; do
    case "\$argument" in -c | -S | -E | -M | -MM) link="" ;; esac
done
exec $llvm_bin/$tool --target=$triple --sysroot="\$here" -resource-dir="\$here/clang-resource"$stdlib \$link "\$@"
EOF
    chmod +x "$dest/bin/$triple-$tool"
done
# No resource compiler writes an ARM64 object from our scripts: llvm-windres 14 takes no numeric control class and
# mingw's windres writes x64 objects. mingw's windres compiles to a .res file, which llvm-cvtres turns into an ARM64
# object with the same resource data.
cat >"$dest/bin/$triple-windres" <<EOF
#!/bin/bash
# windres for ARM64: the arguments CMake gives windres, the last one the object to write.
set -euo pipefail
arguments=("\$@")
object="\${arguments[-1]}"
unset 'arguments[-1]'
filtered=()
for ((i = 0; i < \${#arguments[@]}; i++)); do
    if [ "\${arguments[i]}" = -O ]; then
        i=\$((i + 1))
    else
        filtered+=("\${arguments[i]}")
    fi
done
x86_64-w64-mingw32-windres "\${filtered[@]}" -O res "\$object.res"
$llvm_bin/llvm-cvtres /machine:arm64 /out:"\$object" "\$object.res" >/dev/null
rm -f "\$object.res"
EOF
chmod +x "$dest/bin/$triple-windres"

jobs=2
export CC="$dest/bin/$triple-clang" CXX="$dest/bin/$triple-clang++"
export AR="$llvm_bin/llvm-ar" RANLIB="$llvm_bin/llvm-ranlib" DLLTOOL="$llvm_bin/llvm-dlltool"

mingw_headers() {
    mkdir -p "$dest/work/headers" && cd "$dest/work/headers"
    "$dest/src/mingw-w64/mingw-w64-headers/configure" --host=$triple --prefix="$sysroot" \
        --with-default-msvcrt=msvcrt
    make install
}
step mingw-headers mingw_headers

# msvcrt, as the x86 and x64 builds from Debian's mingw-w64 use: the DLL imports only system DLLs.
mingw_crt() {
    mkdir -p "$dest/work/crt" && cd "$dest/work/crt"
    "$dest/src/mingw-w64/mingw-w64-crt/configure" --host=$triple --prefix="$sysroot" \
        --disable-lib32 --disable-lib64 --enable-libarm64 --with-default-msvcrt=msvcrt
    nice -n 10 make -j"$jobs"
    make install
}
step mingw-crt mingw_crt

runtime_cmake() {
    cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
        -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_AR="$AR" -DCMAKE_RANLIB="$RANLIB" \
        -DCMAKE_C_COMPILER_TARGET=$triple -DCMAKE_CXX_COMPILER_TARGET=$triple \
        -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_CXX_COMPILER_WORKS=ON \
        -DCMAKE_FIND_ROOT_PATH="$sysroot" -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
        -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY "$@"
}

builtins() {
    mkdir -p "$dest/work/builtins" && cd "$dest/work/builtins"
    runtime_cmake -DCMAKE_INSTALL_PREFIX="$resource" -DLLVM_CONFIG_PATH="" \
        -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON -DCOMPILER_RT_USE_BUILTINS_LIBRARY=ON \
        -DCOMPILER_RT_EXCLUDE_ATOMIC_BUILTIN=OFF "$dest/src/llvm/compiler-rt/lib/builtins"
    nice -n 10 ninja -j"$jobs"
    ninja install
}
step compiler-rt-builtins builtins

# Static only, so only system DLLs are imported; without assertions, which would print at every unwind.
runtimes() {
    mkdir -p "$dest/work/runtimes" && cd "$dest/work/runtimes"
    runtime_cmake -DCMAKE_INSTALL_PREFIX="$sysroot" -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" \
        -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_ENABLE_SHARED=OFF -DLIBUNWIND_ENABLE_ASSERTIONS=OFF \
        -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON -DLIBCXXABI_ENABLE_SHARED=OFF \
        -DLIBCXXABI_ENABLE_ASSERTIONS=OFF -DLIBCXXABI_LIBDIR_SUFFIX="" \
        -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON \
        -DLIBCXX_CXX_ABI=libcxxabi -DLIBCXX_HAS_WIN32_THREAD_API=ON -DLIBCXX_ENABLE_ASSERTIONS=OFF \
        -DLIBCXX_LIBDIR_SUFFIX="" -DLIBCXX_INCLUDE_TESTS=OFF -DLIBCXX_INCLUDE_BENCHMARKS=OFF \
        -DLIBCXX_ENABLE_ABI_LINKER_SCRIPT=OFF -DLLVM_INCLUDE_TESTS=OFF "$dest/src/llvm/runtimes"
    nice -n 10 ninja -j"$jobs"
    ninja install
}
step runtimes runtimes

rm -rf "$dest/src" "$dest/work"
echo "$wanted" >"$dest/built-from"
echo "toolchain-arm64: built in $(($(date +%s) - started)) s into $dest"
