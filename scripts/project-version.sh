#!/usr/bin/env bash
# Prints the project's version, the one of the top CMakeLists.txt's project().
set -euo pipefail
version=$(sed -n 's/^project(Tovrik VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
if [ -z "$version" ]; then
  echo "project-version: no project version in CMakeLists.txt" >&2
  exit 1
fi
echo "$version"
