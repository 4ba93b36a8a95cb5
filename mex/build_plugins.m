function build_plugins(outdir)
% BUILD_PLUGINS  Compile the plug-ins Varnok, Marnisa, Sulmet, Ombrel and Dravix.
%
%   build_plugins          puts them into this folder, beside their help files
%   build_plugins(outdir)  puts them into outdir
%
%   Runs under MATLAB, with the C++ compiler chosen by "mex -setup C++" (a
%   GCC or Clang that knows C++20, on Linux or macOS), and under GNU Octave
%   with its own mex. The core (the folders kernels/ and maps/ beside this
%   one) is compiled once and linked into each plug-in. Under MATLAB the
%   plug-ins watch Ctrl-C through utIsInterruptPending from MATLAB's libut,
%   under Octave through Octave's own interrupt state.
%
%   Example (MATLAB or Octave, from the top of the repository):
%     run mex/build_plugins.m      % or: cd mex; build_plugins
%     addpath mex
%     help Varnok
%
%   raster-maps 0.1.0

  here = fileparts(mfilename('fullpath'));
  root = fileparts(here);
  if nargin < 1
    outdir = here;
  end
  on_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end

  % IEEE doubles as written, with no fused multiply-adds or fast-math, so
  % that the maps give the bits of every other front end.
  flags = '-std=c++20 -ffp-contract=off -fno-fast-math';
  include = ['-I' root];
  objdir = tempname();
  mkdir(objdir);
  cleanup = onCleanup(@() remove_folder(objdir));

  if on_octave
    % Octave's mex is mkoctfile, which reads its compiler flags from the
    % environment; its default adds debugging information, which only
    % slows the build.
    old_flags = getenv('CXXFLAGS');
    setenv('CXXFLAGS', ['-O2 -DNDEBUG ' flags]);
    restore = onCleanup(@() setenv('CXXFLAGS', old_flags));
    compile = @(source, object) mex('-c', include, source, '-o', object);
    link = @(gateway, objects, name) mex(include, gateway, objects{:}, '-o', ...
                                         fullfile(outdir, [name '.' mexext()]));
  else
    cxx = ['CXXFLAGS=$CXXFLAGS ' flags];
    compile = @(source, object) mex('-silent', '-R2017b', cxx, '-c', include, source, ...
                                    '-outdir', fileparts(object));
    link = @(gateway, objects, name) mex('-silent', '-R2017b', cxx, include, gateway, ...
                                         objects{:}, '-lut', '-output', name, '-outdir', outdir);
  end

  % The core's sources are whatever .cpp files its two folders hold.
  sources = [dir(fullfile(root, 'kernels', '*.cpp')); dir(fullfile(root, 'maps', '*.cpp'))];
  if isempty(sources)
    error('build_plugins:noSources', 'No core sources in %s/kernels and %s/maps.', root, root);
  end
  if ispc()
    objext = '.obj';
  else
    objext = '.o';
  end
  objects = cell(1, numel(sources));
  for k = 1:numel(sources)
    [~, name] = fileparts(sources(k).name);
    % kernels/ and maps/ never share a file name, so one folder holds both.
    objects{k} = fullfile(objdir, [name objext]);
    fprintf('build_plugins: compiling %s\n', sources(k).name);
    compile(fullfile(sources(k).folder, sources(k).name), objects{k});
  end

  plugins = {'Varnok', 'Marnisa', 'Sulmet', 'Ombrel', 'Dravix'};
  for k = 1:numel(plugins)
    fprintf('build_plugins: linking %s\n', plugins{k});
    link(fullfile(here, [lower(plugins{k}) '_gateway.cpp']), objects, plugins{k});
  end
  fprintf('build_plugins: %d plug-ins in %s\n', numel(plugins), outdir);
end

function remove_folder(folder)
  if exist('OCTAVE_VERSION', 'builtin') ~= 0
    confirm_recursive_rmdir(false, 'local');
  end
  if exist(folder, 'dir')
    rmdir(folder, 's');
  end
end
