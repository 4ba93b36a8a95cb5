#!/usr/bin/env bash
# Installs the Octave package TARBALL with pkg install into a temporary
# prefix (which compiles the plug-ins with build_plugins under Octave), loads
# it, checks that each plug-in and its help come from the package, and runs
# the package's tests with pkg test.
#   check_octave_package.sh OCTAVE_CLI TARBALL
set -euo pipefail
octave=$1
tarball=$(realpath "$2")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# pkg test writes its log (fntests.log) into the working folder.
cd "$tmp"
HOME=$tmp "$octave" --norc --no-history --quiet --eval "
  pkg('prefix', '$tmp/packages', '$tmp/packages');
  pkg('local_list', '$tmp/octave_packages');
  pkg('install', '-local', '$tarball');
  pkg('load', 'raster-maps');
  for name = {'Varnok', 'Marnisa', 'Sulmet', 'Ombrel', 'Dravix'}
    where = which(name{1});
    if (! strncmp(where, '$tmp/packages', numel('$tmp/packages')) || ! strcmp(where(end-3:end), '.mex'))
      error('%s resolves to %s, not to the installed package', name{1}, where);
    end
    if (isempty(strfind(get_help_text(name{1}), 'raster-maps')))
      error('help %s does not show the package''s help', name{1});
    end
  end
  printf('installed raster-maps %s\n', pkg('list', 'raster-maps'){1}.version);
  pkg('test', 'raster-maps');
" | tee "$tmp/octave.log"
# pkg test reports failures only in its summary.
grep -Eq '^ *FAIL +0$' "$tmp/octave.log" || { echo "pkg test found failures"; exit 1; }
