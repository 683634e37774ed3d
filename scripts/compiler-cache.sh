# Sourced by the build scripts: compile through ccache when it is there, so a
# fresh clone rebuilds from scratch without compiling again what an earlier
# build of the same sources, in any folder, already compiled. Paths are
# hashed relative to the clone, so clones in other folders share the cache.
cache_flags=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$PWD"
  export CCACHE_NOHASHDIR=1
  cache_flags=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
