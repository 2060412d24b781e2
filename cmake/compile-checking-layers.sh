#!/bin/sh
# compile-checking-layers.sh <cmake> <CheckLayering.cmake> <source dir> <build dir> <layering map> <library folder>
#                            <compile command...>
#
# The compiler launcher of every library's objects: runs the compile command (with whatever
# launcher comes after, ccache) and then judges the files the compiler opened, from the
# dependency file it wrote (-MF), by the include rules of cmake/CheckLayering.cmake. A compile
# that breaks them fails, and its object is removed.
set -u
cmake=$1 check=$2 source=$3 build=$4 map=$5 layer=$6
shift 6
"$@" || exit $?
depfile="" object="" previous=""
for argument in "$@"; do
  case "$previous" in
    -MF) depfile=$argument ;;
    -o) object=$argument ;;
  esac
  previous=$argument
done
if [ -z "$depfile" ]; then
  echo "compile-checking-layers.sh: the compile command writes no dependency file (-MF): $*" >&2
  [ -n "$object" ] && rm -f "$object"
  exit 1
fi
exec "$cmake" -DTAVROLIN_SOURCE_DIR="$source" -DTAVROLIN_BINARY_DIR="$build" -DTAVROLIN_LAYERING_MAP="$map" \
  -DTAVROLIN_LAYER="$layer" -DDEPFILE="$depfile" -DOBJECT="$object" -P "$check"
